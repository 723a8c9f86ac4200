#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks its files and dependencies.
# Usage: package_check.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/tarnwick_*.deb)
fail() { echo "FAIL: $*"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/tarnwick usr/bin/tarnwick-hack usr/libexec/xscreensaver/tarnwick-hack \
         usr/share/xscreensaver/config/tarnwick.xml usr/share/applications/tarnwick.desktop \
         usr/share/man/man6/tarnwick.6 usr/share/applications/screensavers/tarnwick.desktop; do
  grep -qx "\./$f" <<<"$files" || fail "the package lacks /$f"
done

# The libraries the programs load, found by dpkg-shlibdeps; the daemon is only suggested.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6gui6 libqt6widgets6 libsdl2-2.0-0 libjpeg62-turbo libx11-6 libxss1; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
[ "$(dpkg-deb -f "$deb" Suggests)" = "xscreensaver" ] || fail "xscreensaver is not suggested"
echo "ok: $(basename "$deb"): $depends"
