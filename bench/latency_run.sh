# shellcheck shell=bash disable=SC2154
# Sourced by the latency benches from the checkout's root, with $build (the build folder) and
# $bursts set: checks the programs, starts a private PulseAudio server (bench/private_server.sh)
# and defines run_latency and stop_kestrano.
kestrano=$build/app/kestrano
probe=$build/bench/kestrano_audio_latency_probe
for program in "$kestrano" "$probe"; do
    [[ -x $program ]] || { echo "missing $program: build $build first" >&2; exit 1; }
done

# shellcheck source=bench/private_server.sh
source bench/private_server.sh

# Runs the probe ($1: probe options, none or --trigger and --tcp; $2: tone levels) against a kestrano
# --headless with the settings that follow, prints the probe's figures and leaves kestrano
# running as $kestrano_pid for the caller to use or stop; fails with the probe.
run_latency() {
    local probe_options=$1 probe_levels=$2 setting
    shift 2
    rm -f "$work/port"
    # The probe plays silence into "feed" from the start: a busy sink delivers its data at once.
    # shellcheck disable=SC2086
    "$probe" $probe_options "$work/port" feed "$bursts" $probe_levels >"$work/latency.txt" &
    probe_pid=$!
    pids+=("$probe_pid")
    for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
    read -r send_port listen_port <"$work/port"
    for setting in "zandorexSendPort=$send_port" "zandorexListenPort=$listen_port" \
        active=true minValue=0 maxValue=10 address=level "$@"; do
        "$kestrano" --set "$setting"
    done
    "$kestrano" --headless >/dev/null 2>"$work/kestrano.log" &
    kestrano_pid=$!
    pids+=("$kestrano_pid")
    local status=0
    wait "$probe_pid" || status=$?
    cat "$work/latency.txt"
    return "$status"
}

stop_kestrano() {
    kill "$kestrano_pid"
    wait "$kestrano_pid" || true
}

