#!/usr/bin/env bash
# kestrano with remote control on, its listen port flooded with /kestrano/get, on a private
# PulseAudio server (no sound hardware needed): the reply amplification (bytes back / bytes in),
# the reply rate and the level-message rate meanwhile.
# Usage: bench/remote_flood.sh [BUILD_DIR] [SECONDS] [REQUESTS_PER_SECOND]
#   (default build/main, built with the benchmarks; 5 s and 1000 a second)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bench=$build/bench/remote_flood_bench
[[ -x $bench ]] || { echo "missing $bench: build $build first" >&2; exit 1; }

work=$(mktemp -d)
server=$work/pulse
cleanup() {
    tests/audio/private_pulse_server.sh stop "$server"
    rm -rf "$work"
}
trap cleanup EXIT
tests/audio/private_pulse_server.sh start "$server"
export PULSE_SERVER=unix:$server/native PULSE_RUNTIME_PATH=$server
"$bench" "${KESTRANO:-$build/app/kestrano}" "${2:-5}" "${3:-1000}"
