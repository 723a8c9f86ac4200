#!/usr/bin/env bash
# The hack as xsecurelock's saver, on the X server of scripts/with-xvfb: started by the locker's
# XScreenSaver module from the user's ~/.xscreensaver, exactly as the README's start-up line does,
# it draws a test picture behind the lock; when the locker ends, the hack ends too.
# Usage: xsecurelock_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xsecurelock >/dev/null || { echo "SKIP: xsecurelock is not installed"; exit 77; }

work=$(mktemp -d)
locker=""
cleanup() {
  [ -n "$locker" ] && { kill "$locker" 2>/dev/null || true; wait "$locker" 2>/dev/null || true; }
  pkill -f "^$work/hacks/tarnwick-hack" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- locker log"; tail -20 "$work/locker.log" || true; exit 1; }

mkdir -p "$work/home" "$work/hacks" "$work/pictures" "$work/runtime"
chmod 700 "$work/runtime"
cp "$hack" "$work/hacks/tarnwick-hack"
picture='#C87828'
convert -size 64x48 "xc:$picture" "BMP3:$work/pictures/one.bmp"
# What XScreenSaver's settings program writes when Tarnwick is the one saver chosen.
cat >"$work/home/.xscreensaver" <<EOF2
mode: one
selected: 0
programs: tarnwick-hack -root -no-sounds -images $work/pictures \\n
EOF2
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
export SDL_AUDIODRIVER=dummy

share() {
  import -window root "$work/screen.png" 2>/dev/null || { echo 0; return; }
  convert "$work/screen.png" -fuzz 3% -fill white -opaque "$1" -fill black +opaque white \
    -colorspace gray -format '%[fx:mean]' info:
}
hack_pids() { pgrep -f "^$work/hacks/tarnwick-hack" || true; }

# The start-up line of the README, with the test's copy of the hack folder.
env XSECURELOCK_SAVER=saver_xscreensaver XSECURELOCK_XSCREENSAVER_PATH="$work/hacks" \
  xsecurelock >"$work/locker.log" 2>&1 &
locker=$!
for _ in $(seq 1 50); do [ -n "$(hack_pids)" ] && break; sleep 0.2; done
[ -n "$(hack_pids)" ] || fail "the locker did not start the hack"
ok=""
for _ in $(seq 1 50); do
  awk -v s="$(share "$picture")" 'BEGIN { exit !(s > 0.9) }' && { ok=1; break; }
  sleep 0.2
done
[ -n "$ok" ] || fail "the screen does not show $picture (share $(share "$picture"))"

# Unlocking needs a password; the locker's own end (SIGTERM) ends its saver the same way.
kill "$locker"
wait "$locker" 2>/dev/null || true
locker=""
for _ in $(seq 1 50); do [ -z "$(hack_pids)" ] && break; sleep 0.1; done
[ -z "$(hack_pids)" ] || fail "the hack is still running after the locker ended"
echo "ok: behind xsecurelock the hack drew the test picture and ended with the locker"
