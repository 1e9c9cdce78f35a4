#!/usr/bin/env bash
# Audio figures of kestrano on a private PulseAudio server (no sound hardware needed):
#  1. latency from a tone's onset at the sink to the first OSC level message whose value crosses
#     halfway between the silent and the steady value (continuous mode 0..10; median and max over
#     BURSTS bursts, default 40, for each tone level in LEVELS, default "-6 0" dBFS peak);
#  2. trigger latency at -6 dBFS peak (trigger mode 0..10, default thresholds; median and max over
#     BURSTS bursts) of the tick path, then of the fast path (--set triggerResponse=fast); a build
#     that does not know triggerResponse yet says so and skips the fast path;
#  3. CPU time of kestrano --headless capturing 48 kHz stereo for CPU_SECONDS (default 30), in
#     continuous mode and on the fast trigger path, side by side with parec capturing the same
#     source to /dev/null at its default buffering and at each fragment size kestrano asks for.
# Usage: bench/audio_latency.sh [BUILD_DIR]   (default build/main, built with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bursts=${BURSTS:-40}
read -ra levels <<<"${LEVELS:--6 0}"
cpu_seconds=${CPU_SECONDS:-30}
# shellcheck source=bench/latency_run.sh
source bench/latency_run.sh

# shellcheck source=bench/cpu_time.sh
source bench/cpu_time.sh

latency_status=0
echo "== latency: tone onset to the OSC message crossing the midpoint ($bursts bursts per level) =="
run_latency "" "${levels[*]}" type=continuous || latency_status=$?
stop_kestrano

echo "== trigger latency, tick path: tone onset to the trigger's 'on' message ($bursts bursts) =="
run_latency --trigger -6 type=trigger || latency_status=$?
stop_kestrano

echo "== trigger latency, fast path (triggerResponse=fast) =="
if "$kestrano" --set triggerResponse=fast 2>"$work/fast.txt"; then
    run_latency --trigger -6 type=trigger || latency_status=$?
    stop_kestrano
    "$kestrano" --set triggerResponse=tick
else
    echo "not measured: this kestrano does not take triggerResponse ($(head -n 1 "$work/fast.txt"))"
fi

# CPU seconds of kestrano --headless over a run with the settings given, after 2 s of start-up.
kestrano_cpu() {
    local setting
    for setting in "$@"; do "$kestrano" --set "$setting"; done
    "$kestrano" --headless >/dev/null 2>"$work/kestrano.log" &
    kestrano_pid=$!
    pids+=("$kestrano_pid")
    sleep 2
    cpu_over_run "$kestrano_pid"
    stop_kestrano
}

parec_cpu() {
    parec -d mic --format=float32le --rate=48000 --channels=2 "$@" >/dev/null &
    local pid=$!
    pids+=("$pid")
    sleep 1
    cpu_over_run "$pid"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

echo "== CPU time over $cpu_seconds s of capturing 48 kHz stereo float (source mic) =="
# The default: continuous mode on the tick path (10 ms fragments); then the fast path (trigger
# mode, 5 ms fragments, each one's level through the trigger gate on the capture's thread), each
# beside a parec asking for the same fragment size.
default_cpu=$(kestrano_cpu type=continuous triggerResponse=tick)
fast_cpu=""
if "$kestrano" --set triggerResponse=fast 2>/dev/null; then
    fast_cpu=$(kestrano_cpu type=trigger triggerResponse=fast)
    "$kestrano" --set triggerResponse=tick
fi
parec_default_cpu=$(parec_cpu)
parec_10ms_cpu=$(parec_cpu --latency-msec=10)
parec_5ms_cpu=$(parec_cpu --latency-msec=5)

printf '%-36s %s s\n' "kestrano --headless (continuous)" "$default_cpu" \
    "kestrano --headless (fast trigger)" "${fast_cpu:-not measured}" \
    "parec (default buffering)" "$parec_default_cpu" \
    "parec --latency-msec=10" "$parec_10ms_cpu" \
    "parec --latency-msec=5" "$parec_5ms_cpu"
awk -v k="${default_cpu%% *}" -v f="${fast_cpu%% *}" -v p="${parec_default_cpu%% *}" \
    -v q="${parec_10ms_cpu%% *}" -v r="${parec_5ms_cpu%% *}" '
    function ratio(a, b) { return a != "" && b > 0 ? sprintf("%.1fx", a / b) : "n/a" }
    BEGIN {
        printf "kestrano / parec: %s (default buffering), %s (10 ms, the latency kestrano asks for)\n", ratio(k, p), ratio(k, q)
        printf "fast trigger / parec at 5 ms (its fragment size): %s\n", ratio(f, r)
    }'
exit "$latency_status"
