#!/usr/bin/env bash
# The hack under the real XScreenSaver daemon on two monitors (scripts/with-xvfb at 3840x1080,
# split by xrandr into two 1920x1080 monitors): the daemon runs one hack per monitor; each fills
# its own window and shows its own monitor's part of the desktop, never the other's.
# Usage: multihead_test.sh path/to/tarnwick-hack
set -euo pipefail
hack=$1
command -v xscreensaver >/dev/null || { echo "SKIP: xscreensaver is not installed"; exit 77; }
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no X display"; exit 1; }

work=$(mktemp -d)
daemon=""
cleanup() {
  [ -n "$daemon" ] && { kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; }
  pkill -f "^$work/tarnwick-hack" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- daemon log"; tail -30 "$work/daemon.log" || true; exit 1; }

# The screen's output belongs to the left monitor, so no third monitor spans both.
xrandr --setmonitor left 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor right 1920/508x1080/286+1920+0 none >/dev/null
[ "$(xrandr --listmonitors | head -1)" = "Monitors: 2" ] || fail "xrandr did not make two monitors"

chmod 755 "$work"
cp "$hack" "$work/tarnwick-hack"
mkdir -p "$work/home/runtime"
chmod 700 "$work/home/runtime"
left='#3070A0' right='#30A070'
convert -size 1920x1080 "xc:$left" -size 1920x1080 "xc:$right" +append "$work/desktop.png"
# (display sets the background and reports a failure it ignores itself; the checks below see it.)
display -window root "$work/desktop.png" || true
as_user=(env HOME="$work/home" XDG_CONFIG_HOME="$work/home/config"
         XDG_RUNTIME_DIR="$work/home/runtime" SDL_AUDIODRIVER=dummy)
{
  printf '%s\n' "mode: one" "selected: 0" "timeout: 8:00:00" "cycle: 0" "lock: False" \
    "fade: False" "unfade: False" "splash: False" "dpmsEnabled: False"
  printf 'programs: %s \\n\n' \
    "$work/tarnwick-hack -root -no-sounds -refresh 20 -desktop normal -zoom 1"
} >"$work/home/.xscreensaver"
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$work/home"
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
           "${as_user[@]}")
fi

(cd "$work/home" && exec "${as_user[@]}" xscreensaver -no-splash -verbose) \
  >"$work/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 1 50); do
  "${as_user[@]}" xscreensaver-command -time >/dev/null 2>&1 && break
  kill -0 "$daemon" 2>/dev/null || fail "the daemon did not start"
  sleep 0.2
done
"${as_user[@]}" xscreensaver-command -activate >/dev/null
hack_count() { pgrep -f "^$work/tarnwick-hack" | wc -l; }
for _ in $(seq 1 50); do [ "$(hack_count)" -eq 2 ] && break; sleep 0.2; done
[ "$(hack_count)" -eq 2 ] || fail "the daemon did not start one hack per monitor"

# Share of the colour $2 in the half $1 (0 left, 1 right) of the last screenshot.
half() {
  convert "$work/screen.png" -crop "1920x1080+$(($1 * 1920))+0" +repage -fuzz 3% -fill white \
    -opaque "$2" -fill black +opaque white -colorspace gray -format '%[fx:mean]' info:
}
above() { awk -v s="$1" -v t="$2" 'BEGIN { exit !(s > t) }'; }

# Each shows its own part within 10 s; then, over a camera cycle at full zoom (which would take
# in the other monitor's colour if the snapshot were the whole desktop), never the other's.
shown=""
for _ in $(seq 1 50); do
  import -window root "$work/screen.png"
  above "$(half 0 "$left")" 0.9 && above "$(half 1 "$right")" 0.9 && { shown=1; break; }
  sleep 0.2
done
[ -n "$shown" ] ||
  fail "the monitors do not show their own parts: $(half 0 "$left") $(half 1 "$right")"
for _ in $(seq 1 12); do
  import -window root "$work/screen.png"
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
