#!/usr/bin/env bash
# Installs the build into a DESTDIR and checks what a distribution would: the exact file list,
# the desktop entry, the AppStream metainfo, the man pages and the user service.
# check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

destdir=$work/destdir
DESTDIR=$destdir cmake --install "$build" --prefix /usr >/dev/null

expected="usr/bin/kestrano
usr/bin/kestrano-osc
usr/lib/kestrano/modules/kestrano-beats.so
usr/lib/systemd/user/kestrano-headless.service
usr/lib/systemd/user/kestrano-headless@.service
usr/share/applications/org.kestrano.Kestrano.desktop
usr/share/doc/kestrano/changelog.Debian.gz
usr/share/doc/kestrano/copyright
usr/share/icons/hicolor/scalable/apps/org.kestrano.Kestrano.svg
usr/share/man/man1/kestrano-osc.1.gz
usr/share/man/man1/kestrano.1.gz
usr/share/metainfo/org.kestrano.Kestrano.metainfo.xml"
actual=$(cd "$destdir" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [[ $actual != "$expected" ]]; then
    echo "installed files differ from the expected list:" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
fi

desktop-file-validate "$destdir/usr/share/applications/org.kestrano.Kestrano.desktop"
appstreamcli validate --no-net "$destdir/usr/share/metainfo/org.kestrano.Kestrano.metainfo.xml"
# The licence a distribution reads: the copyright file's and the metainfo's.
grep -qx 'License: GPL-3.0+' "$destdir/usr/share/doc/kestrano/copyright"
grep -q '<project_license>GPL-3.0-or-later</project_license>' \
    "$destdir/usr/share/metainfo/org.kestrano.Kestrano.metainfo.xml"

service=$destdir/usr/lib/systemd/user/kestrano-headless.service
grep -qx 'ExecStart=/usr/bin/kestrano --headless' "$service"
grep -qx 'Restart=on-failure' "$service"
# systemd-analyze checks that ExecStart's program exists, which it does not under a DESTDIR:
# verify the same unit as installed under a prefix of its own.
prefix=$work/prefix/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
systemd-analyze verify --man=no "$prefix/lib/systemd/user/kestrano-headless.service"
# A template is verified through one of its instances.
cp "$prefix/lib/systemd/user/kestrano-headless@.service" "$work/kestrano-headless@left.service"
systemd-analyze verify --man=no "$work/kestrano-headless@left.service"
grep -q -- '--config %E/Kestrano/%i.conf --headless$' "$work/kestrano-headless@left.service"

# Each man page renders without complaint and covers every option its program's --help lists.
for program in kestrano kestrano-osc; do
    page=$destdir/usr/share/man/man1/$program.1.gz
    text=$(MANWIDTH=200 man --warnings -l "$page" 2>"$work/man-warnings")
    if [[ -s $work/man-warnings ]]; then
        cat "$work/man-warnings" >&2
        exit 1
    fi
    for option in $("$destdir/usr/bin/$program" --help | grep -oE -- '--[a-z-]+' | sort -u); do
        if ! grep -qF -- "$option" <<<"$text"; then
            echo "the man page of $program does not mention $option" >&2
            exit 1
        fi
    done
done
echo "install check passed"
