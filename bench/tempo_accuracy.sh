#!/usr/bin/env bash
# Tempo and beat accuracy of kestrano --headless with tempo=detect, and its CPU time:
#  1. generated drum loops of SECONDS (default 20): kick on beats 1 and 3, snare on 2 and 4, hats
#     on eighths, at 96, 120, 128, 140 and 174 BPM (174 with tempoMinimum=100), one with swung
#     hats and one with a fill (a bar in four without kick and snare);
#  2. `aubio tempo` on each file, offline, as the reference;
#  3. each loop played through a private PulseAudio server to kestrano (tempo and beat messages
#     over UDP to an observer) and to parec at 2 ms, from which the observer times the hits: the
#     true beats. The row: the last tempo sent, when it was first within 1 BPM, whether it was so
#     within 8 s and in every message after, and from 10 s on the median distance of the beat
#     messages to the true beats, their median offset (late is +) and count;
#  4. CPU time of the whole program with tempo=detect against parec at 10 ms (and the program with
#     tempo off), all three side by side over the same CPU_SECONDS (default 30) of a loop.
# Wanted: tempo within 1 BPM by 8 s and after; median beat distance at most 20 ms, count within
# 5 %; CPU at most twice parec's.
# Usage: bench/tempo_accuracy.sh [BUILD_DIR]   (default build/main)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
seconds=${SECONDS_PER_LOOP:-20}
cpu_seconds=${CPU_SECONDS:-30}
kestrano=$PWD/$build/app/kestrano
[[ -x $kestrano ]] || { echo "missing $kestrano: build $build first" >&2; exit 1; }
command -v aubio >/dev/null || { echo "missing aubio (Debian: aubio-tools)" >&2; exit 1; }
# shellcheck source=bench/cpu_time.sh
source bench/cpu_time.sh
# shellcheck source=bench/private_server.sh
source bench/private_server.sh

# name, BPM, options of the generator, then settings of the run.
loops=(
    "96 96 -"
    "120 120 -"
    "128 128 -"
    "140 140 -"
    "174 174 - tempoMinimum=100"
    "swing-120 120 --swing"
    "fill-128 128 --fill"
)
mkdir -p "$work/loops"
for loop in "${loops[@]}"; do
    read -r name bpm option _ <<<"$loop"
    [[ $option == - ]] && option=
    # shellcheck disable=SC2086
    python3 bench/tempo_loops.py "$bpm" "$seconds" "$work/loops/$name.wav" $option
done

echo "== aubio tempo, offline (the reference) =="
printf '%-10s %6s %10s\n' loop true "aubio BPM"
for loop in "${loops[@]}"; do
    read -r name bpm _ <<<"$loop"
    printf '%-10s %6s %10s\n' "$name" "$bpm" "$(aubio tempo -i "$work/loops/$name.wav" 2>/dev/null | tail -n 1 | cut -d' ' -f1)"
done

# Silence into the feed keeps the null sink rendering in short blocks between the loops.
sox -q -n -c 2 -r 48000 -t pulseaudio feed synth 36000 sine 1000 vol 0 &
pids+=("$!")
sleep 2

echo "== kestrano --headless, tempo=detect, through the sound server =="
printf '%-10s %6s %8s %7s %5s %8s %8s %8s %9s %7s %6s\n' loop true "sent" "lock s" msgs \
    "tempo ok" "beat ms" "offset" "beats" count "ok"
for loop in "${loops[@]}"; do
    read -r name bpm _ settings <<<"$loop"
    config=$(mktemp -d -p "$work")
    port=$(free_port)
    # shellcheck disable=SC2086
    for setting in "zandorexListenPort=$(free_port)" "zandorexSendPort=$port" tempo=detect $settings; do
        XDG_CONFIG_HOME=$config "$kestrano" --set "$setting"
    done
    rm -f "$work/sound"
    mkfifo "$work/sound"
    python3 bench/tempo_observer.py "$port" 48000 "$bpm" "$seconds" "$name" <"$work/sound" &
    observer=$!
    parec -d mic --format=float32le --rate=48000 --channels=1 --latency-msec=2 >"$work/sound" &
    observer_parec=$!
    pids+=("$observer" "$observer_parec")
    XDG_CONFIG_HOME=$config "$kestrano" --headless >/dev/null 2>"$work/$name.log" &
    pid=$!
    pids+=("$pid")
    sleep 2
    sox -q "$work/loops/$name.wav" -t pulseaudio feed
    sleep 0.5
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    kill "$observer_parec"
    wait "$observer_parec" 2>/dev/null || true
    wait "$observer" || true
done

echo "== CPU over $cpu_seconds s, a 120 BPM loop playing =="
sox -q "$work/loops/120.wav" -t pulseaudio feed repeat 1000 &
pids+=("$!")
# All three at once over the same seconds, so that whatever else the machine does weighs on each
# alike.
tempo_pid=$(start_kestrano "$kestrano" tempo=detect)
off_pid=$(start_kestrano "$kestrano")
parec -d mic --format=float32le --rate=48000 --channels=2 --latency-msec=10 >/dev/null &
parec_pid=$!
pids+=("$tempo_pid" "$off_pid" "$parec_pid")
sleep 2
cpu_over_run "$tempo_pid" >"$work/tempo.cpu" &
measuring=("$!")
cpu_over_run "$off_pid" >"$work/off.cpu" &
measuring+=("$!")
parec_cpu=$(cpu_over_run "$parec_pid")
wait "${measuring[@]}"
kestrano_cpu=$(cat "$work/tempo.cpu")
off_cpu=$(cat "$work/off.cpu")
printf '%-36s %s s\n' "kestrano --headless, tempo=detect" "$kestrano_cpu" \
    "kestrano --headless, tempo off" "$off_cpu" \
    "parec --latency-msec=10" "$parec_cpu"
awk -v tempo="${kestrano_cpu%% *}" -v off="${off_cpu%% *}" -v parec="${parec_cpu%% *}" '
    function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "n/a" }
    BEGIN {
        printf "tempo=detect / parec at 10 ms: %s (wanted at most 2x)\n", ratio(tempo, parec)
        printf "tempo=detect / tempo off: %s\n", ratio(tempo, off)
    }'
