#!/usr/bin/env bash
# The hack under the real XScreenSaver daemon, on the X server of scripts/with-xvfb: activated, it
# draws on the daemon's window (a test picture, then the desktop from the daemon's screenshot);
# deactivated, it is gone. Usage: daemon_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xscreensaver >/dev/null || { echo "SKIP: xscreensaver is not installed"; exit 77; }

work=$(mktemp -d)
daemon=""
cleanup() {
  [ -n "$daemon" ] && { kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; }
  pkill -f "$work/tarnwick-hack" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- daemon log"; tail -40 "$work/daemon.log" || true
  exit 1
}

# The daemon refuses to run as root, so root runs it as nobody, from files nobody can read.
chmod 755 "$work"
cp "$hack" "$work/tarnwick-hack"
mkdir "$work/home" "$work/pictures" "$work/home/runtime"
chmod 700 "$work/home/runtime"
picture='#C87828' desktop='#3070A0'
convert -size 64x48 "xc:$picture" "BMP3:$work/pictures/one.bmp"
as_user=(env HOME="$work/home" XDG_CONFIG_HOME="$work/home/config"
         XDG_RUNTIME_DIR="$work/home/runtime" SDL_AUDIODRIVER=dummy)
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$work/home"
  chmod -R a+rX "$work/pictures"
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
           "${as_user[@]}")
fi

# Only our hack, never started by idleness, no fading, no locking.
configure() {
  cat >"$work/home/.xscreensaver" <<EOF
mode: one
selected: 0
timeout: 8:00:00
cycle: 0
lock: False
fade: False
unfade: False
splash: False
dpmsEnabled: False
programs: $work/tarnwick-hack -root -verbose -no-sounds -refresh 20 $* \\n
${resources:-}
EOF
  [ "$(id -u)" -ne 0 ] || chown nobody "$work/home/.xscreensaver"
}

# Share of the screen's pixels within a few levels of the colour $1.
share() {
  import -window root "$work/screen.png" 2>/dev/null || { echo 0; return; }
  convert "$work/screen.png" -fuzz 3% -fill white -opaque "$1" -fill black +opaque white \
    -colorspace gray -format '%[fx:mean]' info:
}

# Share of the bottom left corner's pixels within a few levels of the colour $1.
corner_share() {
  convert "$work/screen.png" -gravity SouthWest -crop 60x8+4+4 +repage -fuzz 3% -fill white \
    -opaque "$1" -fill black +opaque white -colorspace gray -format '%[fx:mean]' info:
}

# Waits up to 10 s for the screen to be mostly the colour $1.
expect_screen() {
  for _ in $(seq 1 50); do
    awk -v s="$(share "$1")" 'BEGIN { exit !(s > 0.9) }' && return 0
    sleep 0.2
  done
  fail "the screen does not show $1 (share $(share "$1"))"
}

hack_pids() { pgrep -f "^$work/tarnwick-hack" || true; }

# Activates, expects the colour $1 on the screen, deactivates; with $2 seconds, also expects the
# frame-rate overlay in the bottom left corner by then.
run_once() {
  "${as_user[@]}" xscreensaver-command -activate >/dev/null
  for _ in $(seq 1 50); do [ -n "$(hack_pids)" ] && break; sleep 0.2; done
  [ -n "$(hack_pids)" ] || fail "the daemon did not start the hack"
  expect_screen "$1"
  if [ -n "${2:-}" ]; then
    sleep "$2"
    share "$1" >/dev/null
    awk -v s="$(corner_share "$1")" 'BEGIN { exit !(s < 0.5) }' ||
      fail "no frame rate in the corner"
  fi
  "${as_user[@]}" xscreensaver-command -deactivate >/dev/null
  for _ in $(seq 1 50); do [ -z "$(hack_pids)" ] && break; sleep 0.1; done
  [ -z "$(hack_pids)" ] || fail "the hack is still running after deactivation"
}

xsetroot -solid "$desktop"
configure -images "$work/pictures"
(cd "$work/home" && exec "${as_user[@]}" xscreensaver -no-splash -verbose) \
  >"$work/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 1 50); do
  "${as_user[@]}" xscreensaver-command -time >/dev/null 2>&1 && break
  kill -0 "$daemon" 2>/dev/null || fail "the daemon did not start"
  sleep 0.2
done

run_once "$picture"
echo "ok: the test picture was drawn and the hack ended"

configure -desktop normal
run_once "$desktop"
grep -q "tarnwick-hack: desktop snapshot from the daemon's screenshot" "$work/daemon.log" ||
  fail "the snapshot did not come from the daemon's screenshot"
echo "ok: the desktop came from the daemon's screenshot and the hack ended"

# Desktop grabbing turned off in the daemon's settings: without a folder or a desktop effect on
# the command line the desktop never shows; the daemon's image folder does, with the frame rate.
resources="grabDesktopImages: False
chooseRandomImages: True
imageDirectory: $work/pictures"
configure -fps
run_once "$picture" 1.5
grep -q "tarnwick-hack: desktop grabbing is off; showing the image directory" "$work/daemon.log" ||
  fail "the hack did not take the daemon's image directory"
echo "ok: with grabbing off the daemon's image folder was shown, with the frame rate"

resources="grabDesktopImages: False
chooseRandomImages: False"
configure
"${as_user[@]}" xscreensaver-command -activate >/dev/null
for _ in $(seq 1 50); do [ -n "$(hack_pids)" ] && break; sleep 0.2; done
[ -n "$(hack_pids)" ] || fail "the daemon did not start the hack"
for _ in $(seq 1 10); do
  awk -v s="$(share "$desktop")" 'BEGIN { exit !(s < 0.01) }' || fail "the desktop was shown"
  sleep 0.2
done
grep -q "tarnwick-hack: desktop grabbing is off; showing a black screen" "$work/daemon.log" ||
  fail "the hack did not choose a black screen"
"${as_user[@]}" xscreensaver-command -deactivate >/dev/null
echo "ok: with grabbing off and no pictures the desktop was never shown"
