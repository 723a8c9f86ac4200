#!/usr/bin/env bash
# The hack under the real XScreenSaver daemon, on the X server of scripts/with-xvfb: activated, it
# draws on the daemon's window (a test picture, then the desktop from the daemon's screenshot);
# deactivated, it is gone. Usage: daemon_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xscreensaver >/dev/null || { echo "SKIP: xscreensaver is not installed"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/screen_lib.sh"

screen_work
daemon_user "$hack"
as_user+=(PATH="$work:$PATH") # where the hack's entry in a user's list finds it
mkdir "$work/pictures"
picture='#C87828' desktop='#3070A0'
convert -size 64x48 "xc:$picture" "BMP3:$work/pictures/one.bmp"
chmod -R a+rX "$work/pictures"

configure() { daemon_config "-root -verbose -no-sounds -refresh 20 $*" "${resources:-}"; }

# Activates, expects the colour $1 on the screen, deactivates; with $2 seconds, also expects the
# frame-rate overlay in the bottom left corner by then.
run_once() {
  daemon_command -activate
  expect_hack "the daemon"
  expect_screen "$1"
  if [ -n "${2:-}" ]; then
    sleep "$2"
    share "$1" >/dev/null
    below "$(screen_part_share "$1" -gravity SouthWest -crop 60x8+4+4 +repage)" 0.5 ||
      fail "no frame rate in the corner"
  fi
  daemon_command -deactivate
  expect_hack_gone deactivation
}

xsetroot -solid "$desktop"
configure -images "$work/pictures"
daemon_start

run_once "$picture"
echo "ok: the test picture was drawn and the hack ended"

configure -desktop normal
run_once "$desktop"
grep -q "tarnwick-hack: desktop snapshot from the daemon's screenshot" "$log" ||
  fail "the snapshot did not come from the daemon's screenshot"
echo "ok: the desktop came from the daemon's screenshot and the hack ended"

# Desktop grabbing turned off in the daemon's settings: without a folder or a desktop effect on
# the command line the desktop never shows; the daemon's image folder does, with the frame rate.
resources="grabDesktopImages: False
chooseRandomImages: True
imageDirectory: $work/pictures"
configure -fps
run_once "$picture" 1.5
grep -q "tarnwick-hack: desktop grabbing is off; showing the image directory" "$log" ||
  fail "the hack did not take the daemon's image directory"
echo "ok: with grabbing off the daemon's image folder was shown, with the frame rate"

resources="grabDesktopImages: False
chooseRandomImages: False"
configure
daemon_command -activate
expect_hack "the daemon"
drawn=""
for _ in $(seq 1 10); do
  below "$(share "$desktop")" 0.01 || fail "the desktop was shown"
  below "$(screen_part_share '#000000')" 0.5 && drawn=1
  sleep 0.2
done
[ -n "$drawn" ] || fail "the screen stayed black"
grep -q "tarnwick-hack: desktop grabbing is off; showing the saver's own picture" "$log" ||
  fail "the hack did not choose its own picture"
daemon_command -deactivate
echo "ok: with grabbing off and no pictures the saver's own picture showed, never the desktop"

# A user without ~/.xscreensaver adds the hack with one command, run twice: the list becomes the
# daemon's own with Tarnwick at its end, and the daemon runs it by that number.
daemon_command -deactivate || true
rm "$work/home/.xscreensaver"
added=$(cd "$work/home" && "${as_user[@]}" "$hack_cmd" --add-to-xscreensaver) || fail "adding: $added"
again=$(cd "$work/home" && "${as_user[@]}" "$hack_cmd" --add-to-xscreensaver) || fail "again: $again"
number=$(sed -n 's/.* -select \([0-9]*\)$/\1/p' <<<"$added")
[ -n "$number" ] && [ "$again" = "${added/Tarnwick is/Tarnwick is already}" ] ||
  fail "unexpected answers: $added / $again"
[ "$(grep -c tarnwick-hack "$work/home/.xscreensaver")" = 1 ] || fail "listed more than once"
hack_cmd=tarnwick-hack # as the list names it, found on PATH
daemon_command -select "$number"
expect_hack "-select $number"
daemon_command -deactivate
expect_hack_gone deactivation
echo "ok: --add-to-xscreensaver listed the hack as number $number, and -select ran it"
