#!/usr/bin/env bash
# Floods of kestrano's listen port on a private PulseAudio server (no sound hardware needed):
# per kind, datagrams sent per second and dropped, level messages per second during and after
# the flood, and resident memory before, at its peak and after.
# Usage: bench/incoming_flood.sh [BUILD_DIR] [FLOOD_SECONDS] [AFTER_SECONDS]
#   (default build/main, built with the benchmarks; 10 s and 5 s)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bench=$build/bench/incoming_flood_bench
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
"$bench" "${KESTRANO:-$build/app/kestrano}" "${2:-10}" "${3:-5}"
