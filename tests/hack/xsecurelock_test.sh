#!/usr/bin/env bash
# The hack as xsecurelock's saver, on the X server of scripts/with-xvfb: started by the locker's
# XScreenSaver module from the user's ~/.xscreensaver, exactly as the README's start-up line does,
# it draws a test picture behind the lock; when the locker ends, the hack ends too.
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
env XSECURELOCK_SAVER=saver_xscreensaver XSECURELOCK_XSCREENSAVER_PATH="$work/hacks" \
  xsecurelock >"$log" 2>&1 &
watched=$!
expect_hack "the locker"
expect_screen "$picture"

# Unlocking needs a password; the locker's own end (SIGTERM) ends its saver the same way.
kill "$watched"
wait "$watched" 2>/dev/null || true
watched=""
expect_hack_gone "the locker ended"
echo "ok: behind xsecurelock the hack drew the test picture and ended with the locker"
