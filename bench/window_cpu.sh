#!/usr/bin/env bash
# CPU time and memory of the window against the same set-up headless: three mappings (a voice
# fader on 300-3000 Hz, a kick trigger below 150 Hz, a hi-hat trigger above 6 kHz) on a private
# PulseAudio server playing a 48 kHz stereo tone, for SECONDS (default 30) each:
#  1. kestrano --headless, and beside it over the same seconds
#  2. kestrano with its window shown on a private X server (Xvfb, 1366x768), the live spectrum
#     drawn as new spectra come; the X server's own CPU time is given beside.
# Wanted: the window at most 4 times the headless CPU, and its resident memory at most 80 MB.
# Usage: bench/window_cpu.sh [BUILD_DIR] [SECONDS]   (default build/main)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
cpu_seconds=${2:-30}
kestrano=$build/app/kestrano
[[ -x $kestrano ]] || { echo "missing $kestrano: build $build first" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "missing Xvfb (Debian: xvfb)" >&2; exit 1; }
# shellcheck source=bench/cpu_time.sh
source bench/cpu_time.sh
# shellcheck source=bench/private_server.sh
source bench/private_server.sh

sox -q -n -c 2 -r 48000 -t pulseaudio feed synth 3600 sine 1000 sine 80 vol -6dB &
pids+=("$!")
sleep 2

config=$work/setup
for setting in "zandorexListenPort=$(free_port)" "zandorexSendPort=$(free_port)" \
    address=voice bandLowCut=300 bandHighCut=3000 mappings=kick,hat \
    kick/type=trigger kick/address=kick kick/bandHighCut=150 \
    hat/type=trigger hat/address=hat hat/bandLowCut=6000; do
    XDG_CONFIG_HOME=$config "$kestrano" --set "$setting"
done

# Resident memory of process $1 in MB.
resident_mb() {
    awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' /proc/"$1"/status
}

XDG_CONFIG_HOME=$config "$kestrano" --headless >/dev/null 2>"$work/headless.log" &
headless=$!
pids+=("$headless")

display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X${display#:} ]] && break
    sleep 0.1
done
DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$config "$kestrano" \
    >/dev/null 2>"$work/window.log" &
window=$!
pids+=("$window")
sleep 3
# Both at once over the same seconds, so that whatever else the machine does weighs on each alike.
xvfb_before=$(cut -d' ' -f1 /proc/"$xvfb"/schedstat 2>/dev/null || echo 0)
cpu_over_run "$headless" >"$work/headless.cpu" &
measuring=$!
window_cpu=$(cpu_over_run "$window")
wait "$measuring"
headless_cpu=$(cat "$work/headless.cpu")
xvfb_after=$(cut -d' ' -f1 /proc/"$xvfb"/schedstat 2>/dev/null || echo 0)
headless_rss=$(resident_mb "$headless")
window_rss=$(resident_mb "$window")
kill "$headless" "$window"

echo "== three mappings over $cpu_seconds s, 48 kHz stereo =="
printf '%-34s %s s, RSS %s MB\n' "kestrano --headless" "$headless_cpu" "$headless_rss" \
    "kestrano, window with spectrum" "$window_cpu" "$window_rss"
printf '%-34s %.3f s\n' "Xvfb drawing it" "$(awk -v a="$xvfb_before" -v b="$xvfb_after" 'BEGIN { print (b - a) / 1e9 }')"
awk -v headless="${headless_cpu%% *}" -v window="${window_cpu%% *}" -v rss="$window_rss" 'BEGIN {
    printf "window / headless: %s (wanted at most 4x); window RSS %s MB (wanted at most 80)\n",
        (headless > 0 ? sprintf("%.2fx", window / headless) : "n/a"), rss
}'
