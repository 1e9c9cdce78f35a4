#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kestrano needs:
# install-deps.sh [--bench].
# Idempotent and non-interactive; outside CI it skips apt when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config git
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-httpserver-dev qt6-websockets-dev
    libpulse-dev libfftw3-dev libsndfile1-dev pulseaudio pulseaudio-utils sox libsox-fmt-pulse
    libaubio-dev aubio-tools
    libgtest-dev libgmock-dev libbenchmark-dev
    liblo-dev liblo-tools liboscpack-dev
    xvfb xauth procps
    # The window's fit is tested in both: DejaVu, Debian's fallback, and Noto, the default font
    # of many desktops, whose taller lines need more height.
    fonts-dejavu-core fonts-noto-core fonts-noto-mono
    chromium chromium-driver python3-selenium
    pipewire pipewire-pulse wireplumber dbus
    help2man man-db desktop-file-utils appstream systemd lintian dpkg-dev file python3
)
# With --bench, also the band recordings bench/tempo_real.sh plays (58 MB; no test needs them) and
# the page server bench/web_server_libraries.sh measures against Qt's.
if [ "${1:-}" = "--bench" ]; then
    packages+=(fretsonfire-songs-muldjord fretsonfire-songs-sectoid libwebsockets-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

# CI always asks apt, so that a clean machine and a reused one take the same path.
if [ ${#missing[@]} -gt 0 ] || [ "${CI:-}" = "true" ]; then
    echo "install-deps: installing ${missing[*]:-(checking all)}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${packages[@]}"
fi
