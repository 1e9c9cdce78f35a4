#!/usr/bin/env bash
# Tick timing of the controller while the destination host's name is looked up from a name
# server that never answers (a 2 s timeout, 2 attempts), against a lookup on the main thread.
# Needs root: a mount namespace of its own gives the bench a resolv.conf naming 127.0.0.53.
# Usage: bench/host_resolution_tick.sh [BUILD_DIR]   (default build/main, built with benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bench=$build/bench/host_resolution_tick_bench
[[ -x $bench ]] || { echo "missing $bench: build $build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'nameserver 127.0.0.53\noptions timeout:2 attempts:2\n' >"$work/resolv.conf"
export XDG_CONFIG_HOME=$work/config PULSE_SERVER=unix:$work/no-sound-server
unshare -m sh -c 'mount --bind "$1" /etc/resolv.conf && exec "$2"' sh "$work/resolv.conf" "$bench"
