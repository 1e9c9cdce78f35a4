#!/usr/bin/env bash
# Configures and builds one flavour of the tree: build.sh DIR [cmake options...]
# KESTRANO_BUILD_TARGETS, when set, names the only targets to build (default: everything).
set -euo pipefail
dir=$1
shift
cd "$(dirname "$0")/.."
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/kestrano-ccache}
# Paths relative to the checkout, so that every clone and worktree shares one cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${KESTRANO_BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
