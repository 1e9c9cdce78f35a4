#!/usr/bin/env bash
# Starts or stops a private PipeWire with its PulseAudio service for the PipeWire tests:
# private_pipewire_server.sh start|stop DIR. Everything lives under DIR: the runtime folder
# (the PulseAudio socket is DIR/runtime/pulse/native), configuration, state, home and a session
# bus of its own, without which wireplumber exits and nothing gets linked. Devices as a desktop
# has them: a null sink "feed" whose monitor is the default source, and a null sink "out" as the
# default output.
set -euo pipefail
action=$1
dir=$2
daemons=(pipewire-pulse wireplumber pipewire dbus)

stop_server() {
    local name pid pids=()
    # All at once: each takes a second or two to go.
    for name in "${daemons[@]}"; do
        pid=$(cat "$dir/$name.pid" 2>/dev/null || true)
        if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
            pids+=("$pid")
        fi
        rm -f "$dir/$name.pid"
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
}

fail() {
    echo "private PipeWire in $dir: $1" >&2
    tail -n 20 "$dir"/*.log >&2 2>/dev/null || true
    stop_server
    exit 1
}

wait_for() {
    local what=$1
    shift
    for _ in $(seq 100); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    fail "$what"
}

start_daemon() {
    local name=$1
    setsid "$name" >"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pid"
}

start_server() {
    stop_server
    rm -rf "$dir"
    mkdir -p "$dir"
    for folder in runtime config state home; do
        mkdir -m 700 "$dir/$folder"
    done
    export XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state \
        HOME=$dir/home PULSE_SERVER=unix:$dir/runtime/pulse/native
    unset PULSE_RUNTIME_PATH
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
    dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --fork --print-pid=3 \
        3>"$dir/dbus.pid" || fail "the session bus did not start"
    start_daemon pipewire
    wait_for "pipewire did not open its socket" test -S "$dir/runtime/pipewire-0"
    start_daemon wireplumber
    start_daemon pipewire-pulse
    # Ready once the session manager has linked a default output.
    wait_for "no default sink appeared" bash -c "pactl info | grep -q '^Default Sink: [a-z]'"
    pactl load-module module-null-sink sink_name=feed sink_properties=device.description=Feed \
        format=float32le rate=48000 channels=2 >/dev/null || fail "cannot load the feed sink"
    pactl load-module module-null-sink sink_name=out sink_properties=device.description=Out \
        format=float32le rate=48000 channels=2 >/dev/null || fail "cannot load the out sink"
    wait_for "feed.monitor did not appear" bash -c "pactl list short sources | grep -q feed.monitor"
    pactl set-default-sink out
    pactl set-default-source feed.monitor
    wait_for "feed.monitor did not become the default source" \
        bash -c "pactl info | grep -q '^Default Source: feed.monitor$'"
}

case $action in
start) start_server ;;
stop) stop_server ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
