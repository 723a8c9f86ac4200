#!/usr/bin/env bash
# The saver on a real Wayland compositor: a headless sway with no XWayland (a Wayland-only
# session), read back with grim (an independent screencopy client) and typed at with wtype.
# sway refuses to run as root, so as root it runs as nobody with a runtime folder of its own.
# Usage: sway_test.sh path/to/tarnwick path/to/wayland_portal_test
set -euo pipefail
bin=$1 portal_test=$2
# Under AddressSanitizer, whole stacks through libraries built without frame pointers, so that a
# leak suppression can name the library that made the allocation.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}fast_unwind_on_malloc=0"
fi
for tool in sway swaymsg grim wtype swayidle convert compare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
chmod 755 "$work"
run=$work/run
mkdir -m 700 "$run" "$work/home"
as_sway=()
if [ "$(id -u)" = 0 ]; then
  chown nobody:nogroup "$run"
  as_sway=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
sway_pid="" saver="" idle="" bus="" pipewire="" nested=""
stop_all() {
  for p in $saver $idle $pipewire $bus $nested $sway_pid; do kill "$p" 2>/dev/null || true; done
  # What the bus started (the portals) lives in this session's runtime folder too; the document
  # portal mounts itself there.
  for p in $(ps -eo pid=); do
    [ "$p" != $$ ] && tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "XDG_RUNTIME_DIR=$run" &&
      kill "$p" 2>/dev/null
  done
  wait 2>/dev/null || true
  if mountpoint -q "$run/doc" 2>/dev/null; then umount -l "$run/doc" 2>/dev/null || true; fi
  rm -rf "$work" 2>/dev/null || true
}
trap stop_all EXIT
fail() {
  echo "FAIL: $*"
  tail -20 "$work/saver.log" 2>/dev/null || true
  exit 1
}
above() { awk -v s="$1" -v t="$2" 'BEGIN { exit !(s > t) }'; }

# Desktop background: two colours side by side, so a zoomed snapshot of it differs from it.
blue='#3070A0' yellow='#D0B040' red='#C03020' green='#20C030'
convert -size 320x480 "xc:$blue" -size 320x480 "xc:$yellow" +append "$work/bg.png"
chmod 644 "$work/bg.png"
cat >"$work/config" <<CFG
xwayland disable
output * bg $work/bg.png stretch
output HEADLESS-1 mode 640x480 position 0 0
CFG
chmod 644 "$work/config"
"${as_sway[@]}" env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$run" HOME="$run" \
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway -c "$work/config" >"$work/sway.log" 2>&1 &
sway_pid=$!
socket=""
for _ in $(seq 1 50); do
  socket=$(cd "$run" && ls wayland-? 2>/dev/null | head -1) || true
  [ -n "$socket" ] && ls "$run"/sway-ipc.* >/dev/null 2>&1 && break
  kill -0 "$sway_pid" 2>/dev/null || break
  sleep 0.2
done
if [ -z "$socket" ]; then
  echo "SKIP: sway cannot start here"
  tail -5 "$work/sway.log"
  exit 77
fi
unset DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$run WAYLAND_DISPLAY=$socket HOME=$work/home
SWAYSOCK=$(ls "$run"/sway-ipc.*)
export SWAYSOCK XDG_CONFIG_HOME=$work/home/config
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
sleep 0.5 # the background client draws
# How long wtype takes on its own, typing into no window.
t0=$(date +%s%N)
timeout 5 wtype -s 300 a
anchor=$((($(date +%s%N) - t0) / 1000000))

# Settings: a picture of two colours, or the desktop (normal), refreshed every 20 ms.
settings() { # use-desktop (True/False)
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n%s\r\n%s\r\n%s\r\n\r\n%s\r\n%s\r\n%s\r\n' \
    "\"cbxUseDesktop_Checked\"=\"$1\"" '"udRefresh_Position"="20"' '"rgDesktopSettings_ItemIndex"="0"' \
    '[HKEY_CURRENT_USER\Software\Tarnwick\TfrmConfig.ListBox1_Items]' '"Count"="1"' \
    "\"Item0\"=\"$work/picture.bmp\"" >"$XDG_CONFIG_HOME/tarnwick/user.reg"
}
convert -size 400x300 "xc:$red" -fill "$green" -draw 'rectangle 200,0 399,299' "$work/picture.bmp"

# Share of the pixels of screenshot $1 within a few levels of any of the colours after it.
share_of() {
  local shot=$1 args=()
  shift
  for c in "$@"; do args+=(-fill white -opaque "$c"); done
  convert "$shot" -fuzz 3% "${args[@]}" -fill black +opaque white -colorspace gray \
    -format '%[fx:mean]' info:
}
start_saver() {
  "$bin" /s >"$work/saver.log" 2>&1 &
  saver=$!
  sleep 1.5
  kill -0 "$saver" 2>/dev/null || fail "the saver did not start"
}
# Waits up to 10 s for a screenshot in which the colours after $1 cover the screen (a sanitizer
# build on a loaded machine takes seconds to its first picture).
wait_shown() {
  for _ in $(seq 1 50); do
    grim "$work/shot.png"
    above "$(share_of "$work/shot.png" "$@")" 0.999 && return 0
    sleep 0.2
  done
  return 1
}
# Waits up to 3 s for the saver to end ($2 says after what); sets took to the ms since $1.
expect_end() {
  for _ in $(seq 1 300); do kill -0 "$saver" 2>/dev/null || break; sleep 0.01; done
  took=$((($(date +%s%N) - $1) / 1000000))
  kill -0 "$saver" 2>/dev/null && fail "the saver is still running after $2"
  wait "$saver" || fail "the saver ended with status $? after $2"
  saver=""
}

# 1. The picture edge to edge on the output, no title bar, no black frame, over two camera cycles.
settings False
start_saver
wait_shown "$red" "$green" || fail "the picture never covers the output"
for i in $(seq 1 10); do
  grim "$work/shot.png"
  s=$(share_of "$work/shot.png" "$red" "$green")
  above "$s" 0.999 || { cp "$work/shot.png" "${TMPDIR:-/tmp}/tarnwick-sway-fail.png"; fail "shot $i: only $s of the screen shows the picture"; }
  sleep 0.5
done
echo "ok: the picture covers the output edge to edge"

# 2. A second saver started meanwhile ends at once; the first runs on.
first=$saver
t0=$(date +%s%N)
timeout 5 "$bin" /s 2>>"$work/saver.log" || fail "the second saver failed"
[ $((($(date +%s%N) - t0) / 1000000)) -lt 2000 ] || fail "the second saver did not end at once"
kill -0 "$first" 2>/dev/null || fail "the first saver ended with the second"
echo "ok: a second saver ends at once"

# 3. A key ends it within 250 ms. wtype's keyboard appears first and types 300 ms later; its own
# run, timed before any saver ran, is taken off.
t0=$(date +%s%N)
timeout 5 wtype -s 300 a
expect_end "$t0" "a key"
took=$((took - anchor))
# Waiting for anything (a frame, a picture) would take seconds; the figure itself is measured in
# bench/, on a quiet machine. A sanitizer build unwinding every allocation is several times slower.
limit=1000
if [ -n "${ASAN_OPTIONS:-}" ]; then limit=3000; fi
[ "$took" -le "$limit" ] || fail "a key ended the saver after $took ms"
echo "ok: a key ends it ($took ms after wtype's own $anchor ms)"

# 4. The desktop (one output): the snapshot of sway's background zoomed, never black, never the
# bare desktop.
settings True
grim "$work/desktop.png"
DISPLAY=:97 start_saver # an X11 display named in the environment changes nothing
wait_shown "$blue" "$yellow" || fail "the desktop's colours never cover the output"
moved=""
for i in $(seq 1 10); do
  grim "$work/shot.png"
  s=$(share_of "$work/shot.png" "$blue" "$yellow")
  above "$s" 0.999 || { cp "$work/shot.png" "${TMPDIR:-/tmp}/tarnwick-sway-fail.png"; fail "desktop shot $i: only $s shows the desktop's colours"; }
  [ "$(compare -metric AE "$work/shot.png" "$work/desktop.png" null: 2>&1)" != 0 ] && moved=1
  sleep 0.3
done
[ -n "$moved" ] || fail "the screen only ever shows the bare desktop"
grep -q "cannot be shown" "$work/saver.log" && fail "the snapshot failed: $(cat "$work/saver.log")"
kill "$saver"
wait "$saver" 2>/dev/null || true
saver=""
echo "ok: the desktop snapshot zoomed"

# 5. An output added while it runs gets its own part of the frame. (sway 1.7 cannot take a
# headless output away: its disable leaves it active; step 9 unplugs one of a nested sway.)
settings False
start_saver
swaymsg create_output >/dev/null
swaymsg output HEADLESS-2 mode 640x480 position 640 0 >/dev/null
covered=""
for _ in $(seq 1 50); do
  sleep 0.2
  grim -o HEADLESS-2 "$work/two.png" 2>/dev/null || continue
  above "$(share_of "$work/two.png" "$red" "$green")" 0.999 && { covered=1; break; }
done
[ -n "$covered" ] || fail "the added output does not show the picture"
# One frame across both: the column each side of the seam shows the same colour (a frame that
# changes between the two outputs' copies may rarely break this), where each output showing the
# frame's left part instead would break it whenever the picture's edge lies in that part.
red_share() { convert "$work/shot.png" -crop "1x480+$1+0" +repage -fuzz 10% -fill white \
  -opaque "$red" -fill black +opaque white -colorspace gray -format '%[fx:mean]' info:; }
broken=0
for _ in $(seq 1 20); do
  grim "$work/shot.png"
  above "$(share_of "$work/shot.png" "$red" "$green")" 0.999 || fail "the two outputs lost the picture"
  awk -v a="$(red_share 639)" -v b="$(red_share 640)" 'BEGIN { exit !(a - b > 0.5 || b - a > 0.5) }' &&
    broken=$((broken + 1))
  sleep 0.2
done
[ "$broken" -le 2 ] || fail "$broken of 20 screenshots break the picture at the outputs' seam"
kill "$saver"
wait "$saver" 2>/dev/null || true
saver=""
echo "ok: an output added while it runs gets its part"

# 6. swayidle starts it when the seat is idle, and its next timeout (where a user would blank the
# screen) still comes while the saver runs: the saver keeps the session from idling by no means.
swayidle timeout 1 "$bin /s" timeout 4 "touch $work/blanked" >"$work/idle.log" 2>&1 &
idle=$!
# The saver of this session (other tests may run the same program meanwhile).
session_saver() {
  for p in $(pgrep -f "^$bin /s"); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "XDG_RUNTIME_DIR=$run" && echo "$p"
  done | head -1
}
started=""
for _ in $(seq 1 40); do
  sleep 0.2
  saver=$(session_saver)
  [ -n "$saver" ] && { started=1; break; }
done
[ -n "$started" ] || fail "swayidle did not start the saver"
shown=""
for _ in $(seq 1 10); do
  sleep 0.5
  grim "$work/shot.png"
  above "$(share_of "$work/shot.png" "$red" "$green")" 0.999 && { shown=1; break; }
done
[ -n "$shown" ] || fail "the idle-started saver does not show"
for _ in $(seq 1 40); do [ -e "$work/blanked" ] && break; sleep 0.2; done
[ -e "$work/blanked" ] || fail "the idle tool's later timeout never came while the saver ran"
kill -0 "$saver" 2>/dev/null || fail "the idle-started saver ended before its key"
# swayidle goes first: idle again a second after the key, it would start another saver over the
# steps below (and one covering the nested sway's windows would stop it drawing).
kill "$idle"
wait "$idle" 2>/dev/null || true
idle=""
timeout 5 wtype -s 300 a
for _ in $(seq 1 300); do kill -0 "$saver" 2>/dev/null || break; sleep 0.01; done
kill -0 "$saver" 2>/dev/null && fail "a key did not end the idle-started saver"
saver=""
echo "ok: swayidle starts it, and its later timeout still comes"

# 7. Told to use X11 with no X server, it says so rather than using Wayland.
if QT_QPA_PLATFORM=xcb DISPLAY=:97 "$bin" /s >"$work/x11.log" 2>&1; then fail "QT_QPA_PLATFORM=xcb ran on Wayland"; fi
grep -q "X11 display" "$work/x11.log" || fail "QT_QPA_PLATFORM=xcb: $(cat "$work/x11.log")"
echo "ok: QT_QPA_PLATFORM=xcb forces X11"

# 8. The settings dialog is a native Wayland window that the compositor can close; the preview,
# which cannot enter another client's window on Wayland, runs in a window of its own. (The
# app_id criterion matches Wayland windows only.)
window_shown() { swaymsg "[app_id=\"tarnwick\" title=\"$1\"] focus" >/dev/null 2>&1; }
for mode in "/c:Tarnwick Settings" "/p 1234:Tarnwick Screensaver"; do
  "$bin" ${mode%%:*} >"$work/saver.log" 2>&1 &
  saver=$!
  shown=""
  for _ in $(seq 1 150); do window_shown "${mode#*:}" && { shown=1; break; }; sleep 0.2; done
  [ -n "$shown" ] || fail "${mode%%:*}: no Wayland window \"${mode#*:}\""
  swaymsg "[app_id=\"tarnwick\"] kill" >/dev/null
  t0=$(date +%s%N)
  expect_end "$t0" "the compositor closed its window (${mode%%:*})"
done
echo "ok: the dialog and the preview are Wayland windows"

# 9. An output unplugged while it runs loses its surface, and the saver runs on over the others:
# a nested sway whose two outputs are windows of the first; closing a window unplugs its output.
settings False
"${as_sway[@]}" env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$run" HOME="$run" WAYLAND_DISPLAY="$socket" \
  WLR_BACKENDS=wayland WLR_WL_OUTPUTS=2 WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway -c "$work/config" >"$work/nested.log" 2>&1 &
nested=$!
inner="" inner_ipc=""
for _ in $(seq 1 50); do
  inner=$(cd "$run" && ls wayland-? | grep -vx "$socket" | head -1) || true
  inner_ipc=$(ls "$run"/sway-ipc.* | grep -vx "$SWAYSOCK" | head -1) || true
  [ -n "$inner" ] && [ -n "$inner_ipc" ] && break
  sleep 0.2
done
[ -n "$inner" ] && [ -n "$inner_ipc" ] || fail "the nested sway did not start: $(tail -3 "$work/nested.log")"
inner_shows() { # whether every nested output shows the picture within 10 s
  for _ in $(seq 1 50); do
    WAYLAND_DISPLAY=$inner timeout 10 grim "$work/inner.png" || continue
    above "$(share_of "$work/inner.png" "$red" "$green")" 0.999 && return 0
    sleep 0.2
  done
  return 1
}
outputs() { SWAYSOCK=$inner_ipc swaymsg -t get_outputs | grep -c '"name"'; }
[ "$(outputs)" = 2 ] || fail "the nested sway has $(outputs) outputs"
WAYLAND_DISPLAY=$inner start_saver
inner_shows || fail "the saver does not cover both nested outputs"
swaymsg '[title="wlroots - WL-2"] kill' >/dev/null
for _ in $(seq 1 50); do [ "$(outputs)" = 1 ] && break; sleep 0.1; done
[ "$(outputs)" = 1 ] || fail "closing its window did not unplug the nested output"
sleep 0.5
kill -0 "$saver" 2>/dev/null || fail "the saver ended when an output was unplugged"
inner_shows || fail "the output left does not show the picture"
kill "$saver"
wait "$saver" 2>/dev/null || true
saver=""
kill "$nested"
wait "$nested" 2>/dev/null || true
nested=""
echo "ok: an output unplugged while it runs loses its part, and the saver runs on"

# 10. The desktop portal, the way GNOME and KDE give the desktop: xdg-desktop-portal with its
# wlroots back end (which needs PipeWire running), on a session bus of the test's own.
portal_ok=1
for tool in dbus-daemon pipewire /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr; do
  command -v "$tool" >/dev/null || { echo "skipped: the desktop portal ($tool is not installed)"; portal_ok=""; break; }
done
if [ -n "$portal_ok" ]; then
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus XDG_CURRENT_DESKTOP=sway
  dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>"$work/bus.log" &
  bus=$!
  for _ in $(seq 1 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
  pipewire >"$work/pipewire.log" 2>&1 &
  pipewire=$!
  # Both outputs of step 5, side by side.
  TARNWICK_REAL_PORTAL=1280x480 "$portal_test" --gtest_filter='RealPortal.*' >"$work/saver.log" 2>&1 ||
    { tail -5 "$work/bus.log"; fail "the desktop portal's screenshot"; }
  echo "ok: the desktop portal's screenshot is the desktop"
fi

# 11. A scaled output draws at its real pixel size: a picture of one-pixel checks, zoomed, has
# edges at odd pixels of a scale-2 output, where a frame drawn at the logical size and enlarged
# by the compositor has none (every 2x2 block one colour, so halving and doubling it changes
# nothing).
swaymsg output HEADLESS-1 scale 2 >/dev/null
convert -size 400x300 pattern:gray50 -fill "$red" -opaque black -fill "$green" -opaque white \
  "$work/picture.bmp"
settings False
start_saver
sharp=""
for _ in $(seq 1 10); do
  grim -o HEADLESS-1 "$work/scaled.png"
  convert "$work/scaled.png" -sample 50% -sample 200% "$work/blocks.png"
  [ "$(compare -metric AE "$work/scaled.png" "$work/blocks.png" null: 2>&1)" != 0 ] && { sharp=1; break; }
  sleep 0.3
done
kill "$saver"
wait "$saver" 2>/dev/null || true
saver=""
swaymsg output HEADLESS-1 scale 1 >/dev/null
[ -n "$sharp" ] || fail "the scale-2 output shows the frame enlarged from its logical size"
echo "ok: a scale-2 output shows the frame at its real pixel size"
