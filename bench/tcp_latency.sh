#!/usr/bin/env bash
# Tone-to-message latency of kestrano over UDP and over TCP in both framings (zandorexProtocol udp,
# tcp, tcp-length), side by side in one run, on loopback with a private PulseAudio server: from a
# -6 dBFS peak tone's onset at the sink to the first OSC message crossing halfway between the
# silent and the steady value (continuous mode 0..10), and to the trigger's 'on' message (trigger
# mode, tick path); median and max over BURSTS bursts (default 40) each.
# Usage: bench/tcp_latency.sh [BUILD_DIR]   (default build/main, built with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bursts=${BURSTS:-40}
# shellcheck source=bench/latency_run.sh
source bench/latency_run.sh

status=0
summary=()
for protocol in udp tcp tcp-length; do
    transport=()
    [[ $protocol == udp ]] || transport=(--tcp)
    for mode in continuous trigger; do
        options=("${transport[@]}")
        [[ $mode == continuous ]] || options+=(--trigger)
        echo "== $protocol, $mode mode ($bursts bursts) =="
        run_latency "${options[*]}" -6 "type=$mode" "zandorexProtocol=$protocol" || status=$?
        stop_kestrano
        summary+=("$(printf '%-11s %-11s %s' "$protocol" "$mode" \
            "$(grep -o 'median.*' "$work/latency.txt" || echo 'no figures')")")
    done
done

echo "== tone onset to the message: -6 dBFS peak, $bursts bursts each, loopback =="
printf '%-11s %-11s %s\n' protocol mode latency
printf '%s\n' "${summary[@]}"
exit "$status"
