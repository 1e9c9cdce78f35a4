#!/usr/bin/env bash
# Cue accuracy of three trigger mappings (kick, snare, closed hat) over drum grooves, replayed
# offline with kestrano --replay:
#  1. bench/cue_accuracy.py mixes two grooves of a Hydrogen kit (Debian: hydrogen-drumkits) at
#     48 kHz: 128 BPM four on the floor and 174 BPM two-step, SECONDS each (default 60), velocities
#     varied, a kick double every second bar, a sine bass line under the kick BASS_DB (default -20)
#     under the loudest kick's peak, and a bar of silence in every sixteen. It keeps each
#     instrument's hit times, and sets the mappings up as a technician would from the sound: bands,
#     amplification and thresholds (how, in the helper).
#  2. Each groove is replayed with that set-up twice, every mapping's triggerResponse tick, then
#     fast, from a settings file of the bench's own (--config), never the user's.
#  3. A turn on of a mapping counts for a hit of its instrument from the hit's onset to WINDOW ms
#     after it: FAST_WINDOW_MS (default 30: the 5 ms judgement, the attack of the sample and room
#     to spare) and TICK_WINDOW_MS (default 60: one 50 ms tick and 10 ms more, so a hit that only
#     the second tick after its onset catches counts as missed). Each hit takes the earliest free
#     turn on in its window, one to one.
# Prints, per groove, response and mapping: hits, turns on (cues), precision, recall, F1, the
# median lag of the matched cues, the false cues and those of them within 250 ms after a hit of the
# same drum (again: its decay turning the trigger on once more), the hits missed while the trigger
# was still on from an earlier sound (merged), the others missed, and the replay's speed (seconds of audio per
# second of wall time).
# Usage: bench/cue_accuracy.sh [KESTRANO]   (default build/main/app/kestrano of this checkout;
#        also KESTRANO=path). KIT=folder of the kit (default The Black Pearl 1.0).
set -euo pipefail
cd "$(dirname "$0")/.."
kestrano=${1:-${KESTRANO:-$PWD/build/main/app/kestrano}}
seconds=${SECONDS_PER_GROOVE:-60}
bass_db=${BASS_DB:--20}
fast_window=${FAST_WINDOW_MS:-30}
tick_window=${TICK_WINDOW_MS:-60}
kit=${KIT:-"/usr/share/hydrogen/data/drumkits/The Black Pearl 1.0"}
# Debian's interpreter, which has python3-numpy, even where another python3 comes first.
python=${PYTHON:-$( [[ -x /usr/bin/python3 ]] && echo /usr/bin/python3 || echo python3 )}
[[ -x $kestrano ]] || { echo "missing $kestrano: build it first, or give its path" >&2; exit 1; }
[[ -d $kit ]] || { echo "missing $kit (Debian: hydrogen-drumkits)" >&2; exit 1; }
"$python" -c 'import numpy' 2>/dev/null || { echo "missing numpy (Debian: python3-numpy)" >&2; exit 1; }
command -v sox >/dev/null || { echo "missing sox" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name and BPM
grooves=("128 128" "174 174")
echo "kit: $kit; $seconds s a groove, bass $bass_db dB under the kick's peak"
echo "windows: tick $tick_window ms, fast $fast_window ms after each hit"
for groove in "${grooves[@]}"; do
    read -r name bpm <<<"$groove"
    echo "== set-up of groove $name =="
    "$python" bench/cue_accuracy.py mix "$kit" "$bpm" "$seconds" "$bass_db" "$work/$name.wav" \
        "$work/$name.json" "$work/$name.setup" 2>&1 | sed 's/^/  /'
done

rows=()
for groove in "${grooves[@]}"; do
    read -r name _ <<<"$groove"
    for response in tick fast; do
        config=$work/$name-$response.conf
        while read -r setting; do
            "$kestrano" --config "$config" --set "$setting" >/dev/null
        done < <(cat "$work/$name.setup"; printf '%s/triggerResponse=%s\n' kick "$response" \
                     snare "$response" hat "$response")
        start=$(date +%s.%N)
        "$kestrano" --config "$config" --replay "$work/$name.wav" \
            --journal "$work/$name-$response.journal" 2>"$work/$name-$response.log"
        end=$(date +%s.%N)
        speed=$(awk -v s="$seconds" -v a="$start" -v b="$end" 'BEGIN { printf "%.0fx", s / (b - a) }')
        [[ $response == fast ]] && window=$fast_window || window=$tick_window
        rows+=("$("$python" bench/cue_accuracy.py score "$work/$name.json" \
            "$work/$name-$response.journal" "$window" "$name" "$response" "$speed")")
    done
done

echo "== cues against hits =="
printf '%-8s %-5s %-6s %5s %5s %6s %6s %6s %7s %6s %6s %6s %6s %7s\n' groove resp. map hits cues \
    prec. recall F1 "lag ms" false again merged missed speed
printf '%s\n' "${rows[@]}"
