#!/usr/bin/env bash
# The browser page's load served by Qt's HTTP server and WebSockets (as the program serves it)
# and by libwebsockets, side by side over the same seconds: 2 and then 8 clients each loading the
# page and reading a state message of the program's size 20 times a second. Prints, for each
# library and number of clients, the server's CPU seconds per minute, its resident memory and the
# lowest rate of state messages a client received, with the machine's load before and after.
# Usage: bench/web_server_libraries.sh [BUILD_DIR] [SECONDS]   (default build/main, 60 a round)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
seconds=${2:-60}
KESTRANO_BUILD_TARGETS="web_server_bench web_server_qt web_server_lws" bash scripts/build.sh "$build"
for program in web_server_bench web_server_qt web_server_lws; do
    [[ -x $build/bench/$program ]] || {
        echo "missing $build/bench/$program: needs libwebsockets-dev (scripts/install-deps.sh --bench)" >&2
        exit 1
    }
done
echo "load before: $(uptime)"
"$build/bench/web_server_bench" "$seconds" "$build/bench/web_server_qt" "$build/bench/web_server_lws"
echo "load after:  $(uptime)"
