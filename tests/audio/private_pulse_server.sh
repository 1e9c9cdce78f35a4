#!/usr/bin/env bash
# Starts or stops a private PulseAudio server for the audio tests: private_pulse_server.sh
# start|stop DIR [quiet]. It listens on DIR/native only (no D-Bus, no autospawn), with two null
# sinks: "feed", into which the tests play their signals, and "out", the default output; the
# default source "mic" is a remap of feed's monitor, so that it is a source of its own like a real
# input. A null sink that no client has asked for a short latency yet renders in blocks of 2 s, so
# a fresh server's "mic" gives its first audio up to 2 s after start; with "quiet", a silent source
# "quiet" renders in short blocks from the start, as a sound card's input would.
set -euo pipefail
action=$1
dir=$2
extra=${3:-}

stop_server() {
    local pid
    pid=$(cat "$dir/pid" 2>/dev/null || true)
    if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/pid"
}

start_server() {
    stop_server
    mkdir -p "$dir"
    cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=feed sink_properties=device.description=Feed format=float32le rate=48000 channels=2
load-module module-null-sink sink_name=out sink_properties=device.description=Out format=float32le rate=48000 channels=2
load-module module-remap-source source_name=mic master=feed.monitor source_properties=device.description=Mic
set-default-sink out
set-default-source mic
PA
    if [[ $extra == quiet ]]; then
        echo "load-module module-null-source source_name=quiet rate=48000 max_latency_msec=20" \
            "description=Quiet" >>"$dir/server.pa"
    fi
    export PULSE_RUNTIME_PATH=$dir PULSE_STATE_PATH=$dir PULSE_SERVER=unix:$dir/native
    # The server writes its pid file into its runtime folder.
    pulseaudio --daemonize=yes --system=no -n -F "$dir/server.pa" --exit-idle-time=-1 \
        --use-pid-file=yes --disable-shm=no --log-target=file:"$dir/server.log" ||
        { cat "$dir/server.log" >&2 2>/dev/null; exit 1; }
    for _ in $(seq 50); do
        if pactl info >/dev/null 2>&1; then
            exit 0
        fi
        sleep 0.1
    done
    echo "private PulseAudio server in $dir did not answer" >&2
    cat "$dir/server.log" >&2 2>/dev/null || true
    exit 1
}

case $action in
start) start_server ;;
stop) stop_server ;;
*) echo "usage: $0 start|stop DIR [quiet]" >&2; exit 2 ;;
esac
