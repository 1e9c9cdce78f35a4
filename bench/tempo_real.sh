#!/usr/bin/env bash
# Tempo of kestrano --headless with tempo=detect on recorded songs: eight band recordings (rock
# and metal, 95 to 190 BPM) from Debian's Frets on Fire song packages, each played live through
# a private PulseAudio server for SONG_SECONDS (default 45) from 30 s into the song.
# Each song's true tempo is its chart's: the game's notes.mid beside the recording, whose tempo
# map (one tempo throughout for each of these songs) places the notes a player hits on the
# recording's beats, so it is set by hand against the sound and not by any tracker.
# Per song: the true tempo, folded into [tempoMinimum, 2 tempoMinimum) as the program sends it;
# the last tempo sent; the share of the time from 15 s on during which the tempo sent is within
# 2 BPM of it; the beats' median distance (ms) to the best-fitting steady grid at that tempo and
# their count; `aubio tempo` on the same file offline, and folded. Wanted: 80 % and 35 ms.
# Not a test: it prints the table.
# Usage: bench/tempo_real.sh [BUILD_DIR] [tempoMinimum]   (default build/main, 75); SONGS=PATTERN
# plays only the songs whose folder matches.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
minimum=${2:-75}
seconds=${SONG_SECONDS:-45}
kestrano=$(realpath -m "$build")/app/kestrano
songs=/usr/share/games/fretsonfire/data/songs
[[ -x $kestrano ]] || { echo "missing $kestrano: build $build first" >&2; exit 1; }
command -v aubio >/dev/null || { echo "missing aubio (Debian: aubio-tools)" >&2; exit 1; }
[[ -d $songs/muldjord && -d $songs/sectoid ]] || {
    echo "missing songs: scripts/install-deps.sh --bench" >&2
    exit 1
}
# shellcheck source=bench/private_server.sh
source bench/private_server.sh

# The chart's tempo: the first tempo event of notes.mid (microseconds per quarter note).
chart_tempo() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.index(b"\xff\x51\x03")
print(round(60e6 / int.from_bytes(data[at + 3:at + 6], "big"), 2))
PY
}

# Silence into the feed keeps the null sink rendering in short blocks between the songs.
sox -q -n -c 2 -r 48000 -t pulseaudio feed synth 36000 sine 1000 vol 0 &
pids+=("$!")
sleep 1

printf '%-24s %6s %6s %6s %7s %7s %6s %8s %7s  %s\n' song chart folded sent "in 2" "grid ms" \
    beats "aubio" folded ok
for folder in "$songs"/muldjord/*/ "$songs"/sectoid/*/; do
    name=$(basename "$folder" | tr ' ' '_')
    # shellcheck disable=SC2053 # SONGS is a pattern
    [[ $name == ${SONGS:-*} ]] || continue
    truth=$(chart_tempo "$folder/notes.mid")
    # The band as recorded: the backing and the guitar the game plays along.
    sox -q -m "$folder/song.ogg" "$folder/guitar.ogg" -r 48000 "$work/$name.wav" \
        trim 30 "$seconds" gain -n -3
    aubio_bpm=$(aubio tempo -i "$work/$name.wav" 2>/dev/null | tail -n 1 | cut -d' ' -f1)
    config=$(mktemp -d -p "$work")
    port=$(free_port)
    for setting in "zandorexListenPort=$(free_port)" "zandorexSendPort=$port" tempo=detect \
        "tempoMinimum=$minimum"; do
        XDG_CONFIG_HOME=$config "$kestrano" --set "$setting"
    done
    XDG_CONFIG_HOME=$config "$kestrano" --headless >/dev/null 2>"$work/$name.log" &
    pid=$!
    pids+=("$pid")
    sleep 2
    python3 bench/tempo_real_observer.py "$port" "$work/$name.wav" "$truth" "$minimum" "$name" \
        "${aubio_bpm:--}"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    [[ -z ${KEEP_LOGS:-} ]] || cp "$work/$name.log" "$KEEP_LOGS/"
done
