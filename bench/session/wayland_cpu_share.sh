#!/usr/bin/env bash
# CPU share of the full-screen saver drawing natively on Wayland (a headless sway, pixman
# renderer) against the same saver on X11 (Xvfb), case by case in one run: CPU time (user +
# system, from /proc) over a window of wall time, in percent of one core, for the saver and for
# the display server. First-run settings (the desktop snapshot) with the given refresh delay.
#   bench/session/wayland_cpu_share.sh build [seconds] [WxH:refresh ...]
# Default cases: 1920x1080 and 3840x2160 at refresh 20 and 50 ms. As root, sway runs as nobody.
set -u
saver=$(realpath "$1")/src/host/tarnwick
seconds=${2:-15}
shift 2 2>/dev/null || shift $#
cases=${*:-1920x1080:20 1920x1080:50 3840x2160:20 3840x2160:50}
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; } # utime + stime in clock ticks
as_sway=()
[ "$(id -u)" = 0 ] && as_sway=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

# Runs the saver against the server $server already started; prints both shares.
measure() { # label geometry refresh server-pid
  sleep 3 # start-up and the desktop snapshot are not part of the steady state
  local s0 x0 t0 s1 x1 t1
  s0=$(cpu $pid) x0=$(cpu "$4") t0=$(date +%s%N)
  sleep "$seconds"
  s1=$(cpu $pid) x1=$(cpu "$4") t1=$(date +%s%N)
  awk -v l="$1" -v g="$2" -v r="$3" -v s=$((s1 - s0)) -v x=$((x1 - x0)) \
    -v w=$(((t1 - t0) / 1000000)) -v hz="$ticks" \
    'BEGIN { printf "%-8s %-10s refresh %2s ms: saver %5.1f %%, server %5.1f %% of one core\n",
             l, g, r, 100 * s / hz * 1000 / w, 100 * x / hz * 1000 / w }'
  kill $pid
  wait $pid 2>/dev/null
}

for c in $cases; do
  IFS=: read -r geometry refresh <<<"$c"
  work=$(mktemp -d)
  chmod 755 "$work"
  mkdir -p "$work/config/tarnwick"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"udRefresh_Position"="%s"\r\n' \
    "$refresh" >"$work/config/tarnwick/user.reg"

  # X11: its own Xvfb.
  numfile=$work/display
  Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do [ -s "$numfile" ] && break; sleep 0.05; done
  env -u WAYLAND_DISPLAY DISPLAY=":$(tr -d '[:space:]' <"$numfile")" XDG_CONFIG_HOME="$work/config" \
    SDL_AUDIODRIVER=dummy "$saver" /s 2>/dev/null &
  pid=$!
  measure X11 "$geometry" "$refresh" $xvfb
  kill $xvfb
  wait $xvfb 2>/dev/null

  # Wayland: its own headless sway with one output of that size.
  mkdir -m 700 "$work/run"
  [ ${#as_sway[@]} -gt 0 ] && chown nobody:nogroup "$work/run"
  printf 'xwayland disable\noutput HEADLESS-1 mode %s bg #3070A0 solid_color\n' "$geometry" >"$work/sway.cfg"
  chmod 644 "$work/sway.cfg"
  "${as_sway[@]}" env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/run" HOME="$work/run" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$work/sway.cfg" >/dev/null 2>&1 &
  sway=$!
  socket=""
  for _ in $(seq 1 100); do
    socket=$(cd "$work/run" && ls wayland-? 2>/dev/null | head -1) && [ -n "$socket" ] && break
    sleep 0.05
  done
  sleep 1
  env -u DISPLAY XDG_RUNTIME_DIR="$work/run" WAYLAND_DISPLAY="$socket" XDG_CONFIG_HOME="$work/config" \
    SDL_AUDIODRIVER=dummy "$saver" /s 2>/dev/null &
  pid=$!
  measure Wayland "$geometry" "$refresh" $sway
  kill $sway
  wait $sway 2>/dev/null
  rm -rf "$work"
done
