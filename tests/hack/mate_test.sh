#!/usr/bin/env bash
# The hack under MATE's real screen saver, on the X server of scripts/with-xvfb, in a private
# session bus: the installed desktop entry is chosen through MATE's own settings; activated, the
# hack draws a test picture; deactivated, it is gone. Usage: mate_test.sh BUILD_DIR
#
# MATE runs only hacks from the folders it knows, so the test runs in a private mount namespace
# where XScreenSaver's hack folder holds just our hack: nothing outside the test is changed.
set -euo pipefail
build=$1
command -v mate-screensaver >/dev/null || { echo "SKIP: mate-screensaver is not installed"; exit 77; }
hackdir=/usr/libexec/xscreensaver
lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/screen_lib.sh

if [ -z "${TARNWICK_MATE_NAMESPACE:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  DESTDIR="$work/staged" cmake --install "$build" --prefix /usr >/dev/null
  entry="$work/staged/usr/share/applications/screensavers/tarnwick.desktop"
  [ -f "$entry" ] || { echo "FAIL: no desktop entry installed"; exit 1; }
  grep -qx "Exec=$hackdir/tarnwick-hack --root" "$entry" ||
    { echo "FAIL: the entry does not run the hack from $hackdir"; cat "$entry"; exit 1; }
  # As root a mount namespace of our own; otherwise a user namespace that maps us to root.
  ns=(unshare -m)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -rm)
  "${ns[@]}" true 2>/dev/null ||
    { echo "SKIP: no private mount namespace here (MATE runs hacks only from $hackdir)"; exit 77; }
  export TARNWICK_MATE_NAMESPACE="$work"
  "${ns[@]}" "$0" "$@"
  exit $?
fi

work=$TARNWICK_MATE_NAMESPACE
mkdir -p "$work/hacks" "$work/share/applications/screensavers" "$work/home" "$work/runtime" \
  "$work/pictures"
chmod 700 "$work/runtime"
cp "$work/staged/usr/bin/tarnwick-hack" "$work/hacks/tarnwick-hack"
mount --bind "$work/hacks" "$hackdir"
cp "$work/staged/usr/share/applications/screensavers/tarnwick.desktop" \
  "$work/share/applications/screensavers/"
picture='#C87828'
convert -size 64x48 "xc:$picture" "BMP3:$work/pictures/one.bmp"

# The session: its own home, settings and bus; the entry found where MATE looks for hacks.
# MATE hands its hacks a reduced environment: the store is found at its default place in HOME.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_DIRS="$work/share:/usr/share"
export XDG_CURRENT_DESKTOP=MATE SDL_AUDIODRIVER=dummy
mkdir -p "$XDG_CONFIG_HOME/tarnwick"

exec dbus-run-session -- bash -s "$work" "$picture" "$lib" <<'SESSION'
set -euo pipefail
work=$1 picture=$2
source "$3"
hack_cmd=/usr/libexec/xscreensaver/tarnwick-hack
log=$work/saver.log log_noise='^\[gs_watcher'
watched=""
trap screen_stop EXIT

gsettings set org.mate.screensaver mode single
gsettings set org.mate.screensaver themes "['screensavers-tarnwick']"
gsettings set org.mate.screensaver lock-enabled false
# MATE passes the entry's arguments only: the picture comes from the stored settings.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n%s\r\n\r\n%s\r\n%s\r\n%s\r\n' \
  '"cbxUseDesktop_Checked"="False"' \
  '[HKEY_CURRENT_USER\Software\Tarnwick\TfrmConfig.ListBox1_Items]' '"Count"="1"' \
  "\"Item0\"=\"$work/pictures/one.bmp\"" >"$XDG_CONFIG_HOME/tarnwick/user.reg"

mate-screensaver --no-daemon --debug >"$log" 2>&1 &
watched=$!
for _ in $(seq 1 50); do
  mate-screensaver-command --query >/dev/null 2>&1 && break
  kill -0 "$watched" 2>/dev/null || fail "the saver did not start"
  sleep 0.2
done
mate-screensaver-command --activate >/dev/null
expect_hack MATE
expect_screen "$picture"
mate-screensaver-command --deactivate >/dev/null
expect_hack_gone deactivation
echo "ok: chosen in MATE's settings, the hack drew the test picture and ended"
SESSION
