#!/usr/bin/env bash
# Audio figures of kestrano on a private PulseAudio server (no sound hardware needed):
#  1. latency from a tone's onset at the sink to the first OSC level message whose value crosses
#     halfway between the silent and the steady value (continuous mode 0..10; median and max over
#     BURSTS bursts, default 40, for each tone level in LEVELS, default "-6 0" dBFS peak);
#  2. trigger latency at -6 dBFS peak (trigger mode 0..10, default thresholds; median and max over
#     BURSTS bursts) of the tick path, then of the fast path (--set triggerResponse=fast); a build
#     that does not know triggerResponse yet says so and skips the fast path. Each beside an
#     observer reading the same source at 2 ms and judging the last 5 ms against the trigger's on
#     threshold: per burst the trigger's time minus the observer's, their median (wanted within
#     1 ms on the fast path) and max; then the turns of one steady tone (wanted one on, one off);
#     the fast path once more beside `parec --latency-msec=2` as the observer;
#  3. CPU time of kestrano --headless capturing 48 kHz stereo for CPU_SECONDS (default 30) while a
#     steady tone plays, in continuous mode and on the fast trigger path, each beside parec
#     capturing the same source to /dev/null at the fragment size kestrano asks for, all measured
#     over the same seconds; with BEFORE=path/to/another/kestrano, that build runs beside them too.
# Usage: [BEFORE=KESTRANO] bench/audio_latency.sh [BUILD_DIR]   (default build/main, with benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bursts=${BURSTS:-40}
read -ra levels <<<"${LEVELS:--6 0}"
cpu_seconds=${CPU_SECONDS:-30}
before=${BEFORE:-}
[[ -z $before || -x $before ]] || { echo "missing $before" >&2; exit 1; }
# shellcheck source=bench/latency_run.sh
source bench/latency_run.sh

# shellcheck source=bench/cpu_time.sh
source bench/cpu_time.sh

latency_status=0
echo "== latency: tone onset to the OSC message crossing the midpoint ($bursts bursts per level) =="
run_latency "" "${levels[*]}" type=continuous || latency_status=$?
stop_kestrano

echo "== trigger latency, tick path: tone onset to the trigger's 'on' message ($bursts bursts) =="
run_latency "--trigger --observe=mic" -6 type=trigger || latency_status=$?
stop_kestrano

echo "== trigger latency, fast path (triggerResponse=fast) =="
if "$kestrano" --set triggerResponse=fast 2>"$work/fast.txt"; then
    run_latency "--trigger --observe=mic" -6 type=trigger || latency_status=$?
    stop_kestrano
    echo "== the same, beside parec --latency-msec=2 as the observer =="
    run_latency "--trigger --observe=mic --parec" -6 type=trigger || latency_status=$?
    stop_kestrano
    "$kestrano" --set triggerResponse=tick
else
    echo "not measured: this kestrano does not take triggerResponse ($(head -n 1 "$work/fast.txt"))"
fi


# CPU seconds of each process given, all measured over the same run, one line each in order.
cpu_side_by_side() {
    local pid index=0
    local measuring=()
    sleep 2
    for pid in "$@"; do
        cpu_over_run "$pid" >"$work/cpu.$index" &
        measuring+=("$!")
        index=$((index + 1))
    done
    wait "${measuring[@]}"
    for index in $(seq 0 $(($# - 1))); do
        cat "$work/cpu.$index"
        echo
    done
    # Started by another shell, so not waited for: watched until gone.
    for pid in "$@"; do
        kill "$pid"
        while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    done
}

parec_pid() {
    parec -d mic --format=float32le --rate=48000 --channels=2 "$@" >/dev/null &
    echo $!
}

# One side-by-side run: kestrano with the settings given (and the other build, when given) beside
# parec at the fragment size the settings ask for; prints one line per process.
cpu_run() {
    local latency=$1 label=$2
    shift 2
    local names=("kestrano ($label)") processes
    processes=("$(start_kestrano "$kestrano" "$@")")
    if [[ -n $before ]]; then
        names+=("before ($label)")
        processes+=("$(start_kestrano "$before" "$@")")
    fi
    names+=("parec --latency-msec=$latency")
    processes+=("$(parec_pid --latency-msec="$latency")")
    pids+=("${processes[@]}")
    local index=0 line
    while read -r line; do
        printf '%-40s %s s\n' "${names[$index]}" "$line"
        index=$((index + 1))
    done < <(cpu_side_by_side "${processes[@]}")
}

echo "== CPU time over $cpu_seconds s of capturing 48 kHz stereo float (source mic), a steady tone =="
echo "load: $(uptime)"
# The same tone throughout, for each process at once: whatever else the machine does weighs on
# every process of a run alike. The default, continuous mode on the tick path (10 ms fragments),
# then the fast path (trigger mode, 5 ms fragments, each fast meter's window judged on the
# capture's thread), each beside a parec asking for the same fragment size.
sox -q -n -c 2 -r 48000 -t pulseaudio feed synth 36000 sine 1000 vol 0.5 &
pids+=("$!")
cpu_run 10 continuous type=continuous triggerResponse=tick >"$work/cpu-continuous.txt"
cat "$work/cpu-continuous.txt"
if "$kestrano" --set triggerResponse=fast 2>/dev/null; then
    cpu_run 5 "fast trigger" type=trigger triggerResponse=fast >"$work/cpu-fast.txt"
    cat "$work/cpu-fast.txt"
fi
echo "load: $(uptime)"
# The ratios of each run's totals: this build's, the other build's (when given) and parec's.
for run in continuous fast; do
    [[ -s $work/cpu-$run.txt ]] || continue
    awk -v run="$run" '
        { split(substr($0, 42), fields, " "); total[NR] = fields[1] }
        function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "n/a" }
        END {
            printf "%s: kestrano / parec %s", run, ratio(total[1], total[NR])
            if (NR == 3) printf ", before / parec %s, kestrano / before %s", ratio(total[2], total[3]), ratio(total[1], total[2])
            printf "\n"
        }' "$work/cpu-$run.txt"
done
exit "$latency_status"
