#!/usr/bin/env bash
# Builds the Debian package of a build folder, checks it with lintian, installs it with apt as a
# user would, runs both programs from /usr/bin and removes it again: package-check.sh BUILD_DIR.
# Needs root; it replaces an installed kestrano package, if any, and removes it at the end.
set -euo pipefail
build=$1
cd "$(dirname "$0")/.."

rm -f "$build"/kestrano_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/kestrano_*.deb)
deb=$(realpath "${debs[0]}")
echo "package-check: $(basename "$deb")"
# Errors fail the run; warnings are printed.
lintian --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2)

export DEBIAN_FRONTEND=noninteractive
(cd "$(dirname "$deb")" && apt-get install -y ./kestrano_*.deb >/dev/null)
trap 'apt-get remove -y kestrano >/dev/null' EXIT
/usr/bin/kestrano --version
# The package says under which licence it may be passed on.
grep -qx 'License: GPL-3.0+' /usr/share/doc/kestrano/copyright || {
    echo "package-check: /usr/share/doc/kestrano/copyright does not name GPL-3.0+" >&2
    exit 1
}
/usr/bin/kestrano-osc --help >/dev/null
systemd-analyze verify /usr/lib/systemd/user/kestrano-headless.service
apt-get remove -y kestrano >/dev/null
trap - EXIT
if [[ -e /usr/bin/kestrano ]]; then
    echo "package-check: /usr/bin/kestrano is still there after removal" >&2
    exit 1
fi
echo "package-check: installed, ran and removed cleanly"
