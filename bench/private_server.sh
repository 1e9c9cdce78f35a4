# shellcheck shell=bash
# Sourced by the benches from the checkout's root: starts a private PulseAudio server in a
# temporary folder ($work), stopped and removed on exit, with the settings of any program started
# kept there too. Processes started go into $pids, which the clean-up ends; free_port gives a
# free UDP port.
work=$(mktemp -d)
server=$work/pulse
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    tests/audio/private_pulse_server.sh stop "$server"
    rm -rf "$work"
}
trap cleanup EXIT

tests/audio/private_pulse_server.sh start "$server"
export PULSE_SERVER=unix:$server/native PULSE_RUNTIME_PATH=$server XDG_CONFIG_HOME=$work/config

# A free UDP port on the loopback, so that a program's listener meets no other run.
free_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
