#!/usr/bin/env bash
# Audio figures of kestrano on a private PulseAudio server (no sound hardware needed):
#  1. latency from a tone's onset at the sink to the first OSC level message whose value crosses
#     halfway between the silent and the steady value (continuous mode 0..10; median and max over
#     BURSTS bursts, default 40);
#  2. CPU time of kestrano --headless capturing 48 kHz stereo for CPU_SECONDS (default 30), side
#     by side with parec capturing the same source to /dev/null.
# Usage: bench/audio_latency.sh [BUILD_DIR]   (default build/main, built with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bursts=${BURSTS:-40}
cpu_seconds=${CPU_SECONDS:-30}
kestrano=$build/app/kestrano
probe=$build/bench/kestrano_audio_latency_probe
for program in "$kestrano" "$probe"; do
    [[ -x $program ]] || { echo "missing $program: build $build first" >&2; exit 1; }
done

work=$(mktemp -d)
server=$work/pulse
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    tests/audio/private_pulse_server.sh stop "$server"
    rm -rf "$work"
}
trap cleanup EXIT

tests/audio/private_pulse_server.sh start "$server"
export PULSE_SERVER=unix:$server/native PULSE_RUNTIME_PATH=$server XDG_CONFIG_HOME=$work/config

free_udp_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# CPU seconds (user + system) a process has used so far.
cpu_time() {
    local ticks
    ticks=$(awk '{print $14 + $15}' "/proc/$1/stat")
    awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.3f", t / hz}'
}

# CPU seconds process $1 uses over the next $cpu_seconds seconds.
cpu_over_run() {
    local before after
    before=$(cpu_time "$1")
    sleep "$cpu_seconds"
    after=$(cpu_time "$1")
    awk -v a="$after" -v b="$before" 'BEGIN {printf "%.3f", a - b}'
}

echo "== latency: tone onset to the OSC message crossing the midpoint ($bursts bursts) =="
# The probe plays silence into "feed" from the start: a busy sink delivers its data at once.
"$probe" "$work/port" feed "$bursts" >"$work/latency.txt" &
probe_pid=$!
pids+=("$probe_pid")
for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
for setting in "zandorexSendPort=$(cat "$work/port")" "zandorexListenPort=$(free_udp_port)" \
    active=true type=continuous minValue=0 maxValue=10 address=level; do
    "$kestrano" --set "$setting"
done
"$kestrano" --headless >/dev/null 2>"$work/kestrano.log" &
kestrano_pid=$!
pids+=("$kestrano_pid")
latency_status=0
wait "$probe_pid" || latency_status=$?
cat "$work/latency.txt"

echo "== CPU time over $cpu_seconds s of capturing 48 kHz stereo float (source mic) =="
kestrano_cpu=$(cpu_over_run "$kestrano_pid")
kill "$kestrano_pid"
wait "$kestrano_pid" || true

parec_cpu() {
    parec -d mic --format=float32le --rate=48000 --channels=2 "$@" >/dev/null &
    local pid=$!
    pids+=("$pid")
    sleep 1
    cpu_over_run "$pid"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}
parec_default_cpu=$(parec_cpu)
parec_10ms_cpu=$(parec_cpu --latency-msec=10)

printf '%-40s %8s s\n' "kestrano --headless" "$kestrano_cpu" \
    "parec (default buffering)" "$parec_default_cpu" \
    "parec --latency-msec=10" "$parec_10ms_cpu"
awk -v k="$kestrano_cpu" -v p="$parec_default_cpu" -v q="$parec_10ms_cpu" 'BEGIN {
    printf "kestrano / parec: %.2fx (default buffering), %.2fx (10 ms)\n", k / (p > 0 ? p : 0.001), k / (q > 0 ? q : 0.001)
}'
exit "$latency_status"
