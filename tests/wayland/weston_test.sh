#!/usr/bin/env bash
# The saver on a compositor with neither layer-shell nor screencopy, as on GNOME: a headless
# weston (pixman renderer) with its panel, which only a fullscreen window covers, read back with its
# own screenshooter. The desktop cannot be read
# there (no desktop portal either), so a desktop run shows the stored pictures, or the saver's own
# picture, on a fullscreen window, and says once why.
# Usage: weston_test.sh path/to/tarnwick
set -euo pipefail
bin=$1
for tool in weston weston-screenshooter convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/home/config
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
weston_pid="" saver=""
trap 'kill $saver $weston_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  cat "$work/saver.log" 2>/dev/null || true
  exit 1
}
printf '[core]\nidle-time=0\n[shell]\nbackground-color=0xff3070a0\n' >"$work/weston.ini"
weston --backend=headless-backend.so --use-pixman --width=640 --height=480 --debug \
  --socket=tarnwick-test -c "$work/weston.ini" >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 1 50); do [ -S "$work/run/tarnwick-test" ] && break; sleep 0.1; done
[ -S "$work/run/tarnwick-test" ] || { echo "SKIP: weston cannot start here"; exit 77; }
unset DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
export WAYLAND_DISPLAY=tarnwick-test
red='#C03020' green='#20C030' blue='#3070A0'
convert -size 400x300 "xc:$red" -fill "$green" -draw 'rectangle 200,0 399,299' "$work/picture.bmp"

# Share of the screen in any of the colours given (within a few levels).
shot_share() {
  rm -f "$work"/wayland-screenshot*.png
  (cd "$work" && timeout 10 weston-screenshooter) || fail "no screenshot"
  local args=()
  for c in "$@"; do args+=(-fill white -opaque "$c"); done
  convert "$work"/wayland-screenshot*.png -fuzz 3% "${args[@]}" -fill black +opaque white \
    -colorspace gray -format '%[fx:mean]' info:
}
above() { awk -v s="$1" -v t="$2" 'BEGIN { exit !(s > t) }'; }
run_desktop() { # stored pictures: none or one
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"cbxUseDesktop_Checked"="True"\r\n'
    [ "$1" = one ] && printf '\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig.ListBox1_Items]\r\n"Count"="1"\r\n"Item0"="%s"\r\n' "$work/picture.bmp"
  } >"$XDG_CONFIG_HOME/tarnwick/user.reg"
  "$bin" /s >"$work/saver.log" 2>&1 &
  saver=$!
  sleep 2
  kill -0 "$saver" 2>/dev/null || fail "the saver did not start"
}
stop_saver() {
  kill "$saver"
  wait "$saver" 2>/dev/null || true
  saver=""
  [ "$(grep -c "the desktop cannot be shown" "$work/saver.log")" = 1 ] || fail "the reason is not said once"
}

# 1. With a stored picture, the picture, edge to edge on a fullscreen window.
run_desktop one
for i in 1 2 3; do
  s=$(shot_share "$red" "$green")
  above "$s" 0.999 || fail "shot $i: only $s of the screen shows the stored picture"
  sleep 0.3
done
grep -q "showing the stored pictures instead" "$work/saver.log" || fail "no word of the stored pictures"
stop_saver
echo "ok: no desktop to read: the stored picture covers the screen"

# 2. With none, the saver's own picture: neither black nor the bare desktop.
run_desktop none
s=$(shot_share '#000000' "$blue")
above 0.05 "$s" || fail "$s of the screen is black or the bare desktop"
stop_saver
echo "ok: no desktop and no pictures: the saver's own picture"
