#!/usr/bin/env bash
# Preset switch latency of kestrano --headless on a private PulseAudio server: two presets of 16
# mappings each (a trigger "kick" defined the same in both, and 15 continuous mappings of their
# own, the first mapping's maximum differing too), switched SWITCHES times (default 40) by
# /kestrano/preset under a steady tone; prints the time from the command to the first message
# of the new set-up, on loopback, the messages of the shared trigger across the switches, and the
# longest gap between two level messages. Preset a detects the tempo, so that its first switch
# also starts the beat tracker (its libraries load then).
# Usage: bench/preset_switch.sh [BUILD_DIR]   (default build/main)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
switches=${SWITCHES:-40}
kestrano=$build/app/kestrano
[[ -x $kestrano ]] || { echo "missing $kestrano: build $build first" >&2; exit 1; }
# shellcheck source=bench/private_server.sh
source bench/private_server.sh

send_port=$(free_port)
listen_port=$(free_port)
for setting in "zandorexSendPort=$send_port" "zandorexListenPort=$listen_port" \
    remoteControl=true; do
    "$kestrano" --set "$setting"
done

# One preset in the settings file's own form: PRESET (a or b), the first mapping's maximum.
write_preset() {
    local preset=$1 maximum=$2 names="kick" index
    for index in $(seq 15); do names+=",$preset$index"; done
    {
        printf '[General]\nmappings=%s\ntype=0\naddress=level\nmaxValue=%s\n' "$names" "$maximum"
        [[ $preset == b ]] || printf 'tempo=detect\ntempoAddress=tempo\n'
        printf '\n[kick]\ntype=1\naddress=kick\n'
        for index in $(seq 15); do
            printf '\n[%s%d]\ntype=0\naddress=%s%d\n' "$preset" "$index" "$preset" "$index"
        done
    } >"$XDG_CONFIG_HOME/Kestrano/Kestrano.presets/$preset.conf"
}
mkdir -p "$XDG_CONFIG_HOME/Kestrano/Kestrano.presets"
write_preset a 10
write_preset b 5
"$kestrano" --preset b

sox -q -n -t pulseaudio feed synth 3600 sine 1000 vol -6dB &
pids+=("$!")
"$kestrano" --headless >/dev/null 2>"$work/kestrano.log" &
kestrano_pid=$!
pids+=("$kestrano_pid")
python3 bench/preset_switch_probe.py "$send_port" "$listen_port" "$switches" ||
    { cat "$work/kestrano.log" >&2; exit 1; }
