#!/usr/bin/env bash
# CPU time of metering 48 kHz stereo for one band-filtered mapping against eight:
#  1. the meters of the capture (MeterBank) alone, fed SECONDS (default 30) of generated audio in
#     10 ms chunks and read every 50 ms, as the capture's thread and the tick do;
#  2. the whole program, kestrano --headless, on a private PulseAudio server playing a 48 kHz
#     stereo tone, for SECONDS with the default settings, with one band-filtered mapping and with
#     eight (each on a band of its own, the dearest case), beside parec --latency-msec=10 on the
#     same source.
# Wanted: eight mappings cost at most 1.5 times one, and the default continuous mapping at most
# twice parec.
# Usage: bench/mapping_cpu.sh [BUILD_DIR] [SECONDS]   (default build/main, built with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
cpu_seconds=${2:-30}
bench=$build/bench/meter_bank_cpu_bench
kestrano=$build/app/kestrano
for program in "$bench" "$kestrano"; do
    [[ -x $program ]] || { echo "missing $program: build $build first" >&2; exit 1; }
done
# shellcheck source=bench/cpu_time.sh
source bench/cpu_time.sh

echo "== the meters alone =="
"$bench" "$cpu_seconds"

# shellcheck source=bench/private_server.sh
source bench/private_server.sh

# A tone of 1 kHz on the left and 220 Hz on the right at -6 dBFS, for longer than the runs.
sox -q -n -c 2 -r 48000 -t pulseaudio feed synth 3600 sine 1000 sine 220 vol -6dB &
pids+=("$!")
sleep 2

# Starts kestrano --headless in a configuration of its own, with the settings given; prints its pid.
start_kestrano() {
    local config setting
    config=$(mktemp -d -p "$work")
    for setting in "zandorexListenPort=$(free_port)" "zandorexSendPort=$(free_port)" \
        type=continuous "$@"; do
        XDG_CONFIG_HOME=$config "$kestrano" --set "$setting"
    done
    XDG_CONFIG_HOME=$config "$kestrano" --headless >/dev/null 2>>"$work/kestrano.log" &
    echo $!
}

# Seven further mappings with addresses of their own, on the bands given ("LOW HIGH" each).
further_mappings() {
    local index=1 cut low high
    echo "mappings=m1,m2,m3,m4,m5,m6,m7"
    for cut in "$@"; do
        read -r low high <<<"$cut"
        echo "m$index/address=m$index" "m$index/bandLowCut=$low" "m$index/bandHighCut=$high"
        index=$((index + 1))
    done
}
# Each on a band of its own, the dearest case; then a kit's set-up, sharing three bands.
mapfile -t own < <(further_mappings "250 500" "500 1000" "1000 2000" "2000 4000" "4000 8000" \
    "8000 16000" "30 60" | tr ' ' '\n')
mapfile -t shared < <(further_mappings "60 250" "6000 16000" "300 3000" "60 250" "6000 16000" \
    "300 3000" "300 3000" | tr ' ' '\n')

echo "== the whole program over $cpu_seconds s, 48 kHz stereo (source mic), all side by side =="
# All run at once over the same seconds, so that whatever else the machine does weighs on each
# alike and the ratios hold on a busy machine too.
band=(bandLowCut=60 bandHighCut=250)
declare -A started
started[default]=$(start_kestrano)
started[one]=$(start_kestrano "${band[@]}")
started[eight]=$(start_kestrano "${band[@]}" "${own[@]}")
started[shared]=$(start_kestrano "${band[@]}" "${shared[@]}")
parec -d mic --format=float32le --rate=48000 --channels=2 --latency-msec=10 >/dev/null &
started[parec]=$!
pids+=("${started[@]}")
sleep 2
measuring=()
for run in "${!started[@]}"; do
    cpu_over_run "${started[$run]}" >"$work/$run.cpu" &
    measuring+=("$!")
done
wait "${measuring[@]}"
default_cpu=$(cat "$work/default.cpu")
one_cpu=$(cat "$work/one.cpu")
eight_cpu=$(cat "$work/eight.cpu")
shared_cpu=$(cat "$work/shared.cpu")
parec_cpu=$(cat "$work/parec.cpu")

printf '%-42s %s s\n' "kestrano --headless, default settings" "$default_cpu" \
    "kestrano --headless, one mapping" "$one_cpu" \
    "kestrano --headless, eight on eight bands" "$eight_cpu" \
    "kestrano --headless, eight on three bands" "$shared_cpu" \
    "parec --latency-msec=10" "$parec_cpu"
awk -v plain="${default_cpu%% *}" -v one="${one_cpu%% *}" -v eight="${eight_cpu%% *}" -v shared="${shared_cpu%% *}" -v parec="${parec_cpu%% *}" '
    function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "n/a" }
    BEGIN {
        printf "eight / one: %s on eight bands, %s on three (wanted at most 1.5x)\n", ratio(eight, one), ratio(shared, one)
        printf "default continuous / parec at 10 ms: %s (wanted at most 2x)\n", ratio(plain, parec)
        printf "one band-filtered / parec at 10 ms: %s\n", ratio(one, parec)
    }'
