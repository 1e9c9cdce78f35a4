#!/usr/bin/env bash
# Installs what is missing, builds Kestrano and starts it: the window where a display is
# available, otherwise headless on the stored settings. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only the programs: a first start need not wait for the tests and benchmarks.
KESTRANO_BUILD_TARGETS="kestrano kestrano-osc" bash scripts/build.sh build/main
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/main/app/kestrano "$@"
fi
exec build/main/app/kestrano --headless "$@"
