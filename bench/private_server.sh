# shellcheck shell=bash
# Sourced by the benches from the checkout's root: starts a private PulseAudio server in a
# temporary folder ($work), stopped and removed on exit, with the settings of any program started
# kept there too. Processes started go into $pids, which the clean-up ends.
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
