#!/usr/bin/env bash
# Installs what is missing, builds Kestrano in each test flavour and runs the whole test suite
# through ctest: the plain build with every test (PipeWire's included), its Debian package
# built, installed, run and removed again, the OSC, transport and program tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the transport, app and audio tests under
# ThreadSanitizer, and the fuzz targets (the decoder, the TCP stream deframer, the incoming
# route, the settings reader, the remote-control source list, the recordings reader) for a bounded
# time each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== plain build, all tests =="
bash scripts/build.sh build/main -DKESTRANO_WERROR=ON
ctest --test-dir build/main --output-on-failure -j "$jobs"

echo "== Debian package: build, check, install, run, remove =="
bash scripts/package-check.sh build/main

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
bash scripts/build.sh build/asan -DKESTRANO_WERROR=ON -DKESTRANO_SANITIZE=address \
    -DKESTRANO_BUILD_BENCH=OFF
# The PipeWire tests time the program's rate and recovery, which the sanitizers' slowdown
# distorts; they run in the plain build above (the same capture runs here against PulseAudio).
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs" -L 'osc|transport|app|audio' \
    -LE pipewire

echo "== ThreadSanitizer =="
bash scripts/build.sh build/tsan -DKESTRANO_WERROR=ON -DKESTRANO_SANITIZE=thread \
    -DKESTRANO_BUILD_BENCH=OFF
# Every test that crosses threads; the window's tests run on the main thread alone, beside Qt's
# own worker threads, which are not built for ThreadSanitizer, and the PipeWire tests time the
# program's rate, which its slowdown distorts (the same capture runs here against PulseAudio).
# The suppressions name races inside libpulse only.
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan-libpulse.supp" \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L 'transport|app|audio' \
    -LE pipewire -E '^MainWindowTest\.|^KestranoProgramTest\.Window|^WindowPictureTest\.'

echo "== fuzzing: every reader of outside input (libFuzzer, ASan + UBSan) =="
# With the program's libraries, for the route's and the settings' targets; only the fuzz
# targets are built.
CC=clang CXX=clang++ \
    KESTRANO_BUILD_TARGETS="osc_decoder_fuzzer stream_deframer_fuzzer remote_route_fuzzer settings_reader_fuzzer source_list_fuzzer recording_file_fuzzer" \
    bash scripts/build.sh build/fuzz -DKESTRANO_WERROR=ON -DKESTRANO_SANITIZE=address \
    -DKESTRANO_BUILD_FUZZ=ON -DKESTRANO_BUILD_APP=ON -DKESTRANO_BUILD_BENCH=OFF
ctest --test-dir build/fuzz --output-on-failure -L fuzz
