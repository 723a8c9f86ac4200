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
         usr/share/man/man6/tarnwick.6.gz usr/share/applications/screensavers/tarnwick.desktop \
         usr/share/doc/tarnwick/copyright \
         usr/share/doc/tarnwick/changelog.gz; do
  grep -qx "\./$f" <<<"$files" || fail "the package lacks /$f"
done
# The hack's manual page is the saver's, as a link.
listing=$(dpkg-deb -c "$deb")
grep -q '^l.* \./usr/share/man/man6/tarnwick-hack\.6\.gz -> tarnwick\.6\.gz$' <<<"$listing" ||
  fail "tarnwick-hack.6.gz is not a link to tarnwick.6.gz"

# The libraries the programs load, found by dpkg-shlibdeps; the daemon is only suggested.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6gui6 libqt6widgets6 libsdl2-2.0-0 libjpeg62-turbo libpng16-16 libwebp7 libwebpdemux2 \
  libx11-6 libxss1; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
[ "$(dpkg-deb -f "$deb" Suggests)" = "xscreensaver" ] || fail "xscreensaver is not suggested"

# The programs carry no compiler notes (.comment), as Debian's own packaging strips them.
dpkg-deb -x "$deb" "$out/tree"
for p in tarnwick tarnwick-hack; do
  ! readelf -S "$out/tree/usr/bin/$p" | grep -q '\.comment' || fail "$p has a .comment section"
done
# Menus search the settings entry by its keywords too.
grep -q '^Keywords=.*screensaver' "$out/tree/usr/share/applications/tarnwick.desktop" ||
  fail "the settings entry has no keywords"
# Debian's own checks, the pedantic ones included: no tag at all.
if command -v lintian >/dev/null; then
  report=$(lintian --pedantic --fail-on error,warning,info,pedantic "$deb" 2>&1 |
           grep -v '^running with root privileges') || true
  [ -z "$report" ] || fail "lintian: $report"
else
  echo "note: lintian is not installed, its checks were not run"
fi

# Install and remove with apt, as a user would; afterwards nothing of the package is left. Only as
# root, and never over a tarnwick package someone installed on this machine.
status() { dpkg-query -W -f='${db:Status-Status}' tarnwick 2>/dev/null || true; }
apt_get() { apt-get -o DPkg::Lock::Timeout=120 -y -q "$@" >"$out/apt.log" 2>&1 || fail "apt-get $*: $(tail -5 "$out/apt.log")"; }
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
  echo "note: not root, the apt install and removal were not tried"
elif [ -n "$(status)" ] && [ "$(status)" != not-installed ]; then
  echo "note: a tarnwick package is installed here ($(status)), the apt install was not tried"
else
  # A failed check must not leave the package installed on this machine.
  trap 'dpkg-query -W tarnwick >/dev/null 2>&1 && apt-get -y -q purge tarnwick >/dev/null 2>&1; rm -rf "$out"' EXIT
  apt_get install "$deb"
  [ "$(status)" = installed ] || fail "apt did not install the package ($(status))"
  usage=$(/usr/bin/tarnwick-hack --help) || fail "the installed hack does not run"
  grep -q "^usage: " <<<"$usage" || fail "the installed hack prints no usage: $usage"
  # man follows the link to the saver's page.
  [ "$(man -w tarnwick-hack 2>/dev/null)" = /usr/share/man/man6/tarnwick.6.gz ] ||
    fail "man does not find tarnwick-hack: $(man -w tarnwick-hack 2>&1)"
  apt_get remove tarnwick
  # With no configuration files of its own the package is gone after the removal; purge if not.
  [ "$(status)" = config-files ] && apt_get purge tarnwick
  [ -z "$(status)" ] || [ "$(status)" = not-installed ] || fail "still known to dpkg: $(status)"
  while read -r type path; do
    [ -e "/$path" ] || [ -L "/$path" ] || continue
    # A folder may stay when another package owns it too.
    [ "$type" = d ] && dpkg -S "/${path%/}" >/dev/null 2>&1 && continue
    [ "$type" = d ] && [ -n "$(ls -A "/$path")" ] && continue
    fail "/$path is left after the purge"
  done < <(awk '{sub(/^\.\//, "", $6); print substr($1, 1, 1), $6}' <<<"$listing" | grep -v ' $')
fi
echo "ok: $(basename "$deb"): $depends"
