#!/usr/bin/env bash
# The hack as xsecurelock's saver, on the X server of scripts/with-xvfb: started by the locker's
# XScreenSaver module from the user's ~/.xscreensaver, exactly as the README's start-up line does,
# it draws a test picture behind the lock; when the locker ends, the hack ends too. Without
# pictures it shows its own picture, never the desktop, even with desktop grabbing allowed.
# Usage: xsecurelock_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xsecurelock >/dev/null || { echo "SKIP: xsecurelock is not installed"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/screen_lib.sh"

screen_work
log=$work/locker.log
hack_cmd=$work/hacks/tarnwick-hack
mkdir -p "$work/home" "$work/hacks" "$work/pictures" "$work/runtime"
chmod 700 "$work/runtime"
cp "$hack" "$hack_cmd"
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

# The start-up line of the README, with the test's copy of the hack folder.
lock() {
  env XSECURELOCK_SAVER=saver_xscreensaver XSECURELOCK_XSCREENSAVER_PATH="$work/hacks" \
    xsecurelock >"$log" 2>&1 &
  watched=$!
  expect_hack "the locker"
}

# Unlocking needs a password; the locker's own end (SIGTERM) ends its saver the same way.
unlock() {
  kill "$watched"
  wait "$watched" 2>/dev/null || true
  watched=""
  expect_hack_gone "the locker ended"
}

lock
expect_screen "$picture"
unlock
echo "ok: behind xsecurelock the hack drew the test picture and ended with the locker"

desktop='#3070A0'
xsetroot -solid "$desktop"
cat >"$work/home/.xscreensaver" <<EOF2
mode: one
selected: 0
grabDesktopImages: True
programs: tarnwick-hack -root -no-sounds \\n
EOF2
lock
drawn=""
for _ in $(seq 1 25); do
  below "$(share "$desktop")" 0.01 || fail "the desktop showed behind the lock"
  below "$(screen_part_share '#000000')" 0.5 && drawn=1
  sleep 0.2
done
[ -n "$drawn" ] || fail "the screen stayed black behind the lock"
unlock
echo "ok: behind xsecurelock without pictures the hack showed its own picture, never the desktop"
