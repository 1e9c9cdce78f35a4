#!/usr/bin/env bash
# CPU time of metering 48 kHz stereo for one band-filtered mapping against eight: the meters of
# the capture (MeterBank) fed SECONDS (default 30) of generated audio in 10 ms chunks and read
# every 50 ms, as the capture's thread and the tick do, with no sound server in the way, so that
# the figure is the metering's own; once the settings name several mappings, the whole program
# can be measured beside parec as bench/audio_latency.sh does for one.
# Usage: bench/mapping_cpu.sh [BUILD_DIR] [SECONDS]   (default build/main, built with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
bench=$build/bench/meter_bank_cpu_bench
[[ -x $bench ]] || { echo "missing $bench: build $build first" >&2; exit 1; }
"$bench" "${2:-30}"
