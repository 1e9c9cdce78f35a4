#!/usr/bin/env bash
# Installs what is missing, builds Kestrano and starts it: the window where a display is
# available, otherwise headless on the stored settings. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build/main -DKESTRANO_BUILD_BENCH=OFF
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/main/app/kestrano "$@"
fi
exec build/main/app/kestrano --headless "$@"
