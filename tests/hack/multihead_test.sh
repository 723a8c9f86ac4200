#!/usr/bin/env bash
# The hack under the real XScreenSaver daemon on two monitors (scripts/with-xvfb at 3840x1080,
# split by xrandr into two 1920x1080 monitors): the daemon runs one hack per monitor; each fills
# its own window and shows its own monitor's part of the desktop, never the other's.
# Usage: multihead_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xscreensaver >/dev/null || { echo "SKIP: xscreensaver is not installed"; exit 77; }
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no X display"; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/screen_lib.sh"

screen_work
# The screen's output belongs to the left monitor, so no third monitor spans both.
xrandr --setmonitor left 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor right 1920/508x1080/286+1920+0 none >/dev/null
[ "$(xrandr --listmonitors | head -1)" = "Monitors: 2" ] || fail "xrandr did not make two monitors"

daemon_user "$hack"
left='#3070A0' right='#30A070'
convert -size 1920x1080 "xc:$left" -size 1920x1080 "xc:$right" +append "$work/desktop.png"
# (display sets the background and reports a failure it ignores itself; the checks below see it.)
display -window root "$work/desktop.png" || true
daemon_config "-root -no-sounds -refresh 20 -desktop normal -zoom 1"
daemon_start
daemon_command -activate
hack_count() { pgrep -f "^$hack_cmd" | wc -l; }
for _ in $(seq 1 50); do [ "$(hack_count)" -eq 2 ] && break; sleep 0.2; done
[ "$(hack_count)" -eq 2 ] || fail "the daemon did not start one hack per monitor"

# Share of the colour $2 in the half $1 (0 left, 1 right) of the last screenshot.
half() { screen_part_share "$2" -crop "1920x1080+$(($1 * 1920))+0" +repage; }

# Each shows its own part within 10 s; then, over a camera cycle at full zoom (which would take
# in the other monitor's colour if the snapshot were the whole desktop), never the other's.
shown=""
for _ in $(seq 1 50); do
  screenshot
  above "$(half 0 "$left")" 0.9 && above "$(half 1 "$right")" 0.9 && { shown=1; break; }
  sleep 0.2
done
[ -n "$shown" ] ||
  fail "the monitors do not show their own parts: $(half 0 "$left") $(half 1 "$right")"
for _ in $(seq 1 12); do
  screenshot
  above "$(half 0 "$right")" 0.01 && fail "the left monitor shows the right one's part"
  above "$(half 1 "$left")" 0.01 && fail "the right monitor shows the left one's part"
  sleep 0.2
done

# Each hack's window fills the daemon's window on its monitor.
filled=0
for id in $(xwininfo -root -children | awk '/"XScreenSaver"/ { print $1 }'); do
  size=$(xwininfo -id "$id" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
  [ "$size" = "1920x1080" ] || continue
  xwininfo -id "$id" -children | grep -q "\"Tarnwick Screensaver\".*: ( *[^)]*)  *$size+0+0" &&
    filled=$((filled + 1))
done
[ "$filled" -eq 2 ] || fail "$filled of 2 hack windows fill the daemon's monitor windows"
echo "ok: one hack per monitor, each filling its window with its own monitor's part"
