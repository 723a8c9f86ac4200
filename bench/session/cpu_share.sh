#!/usr/bin/env bash
# CPU share of the full-screen saver and of the X server while it runs: CPU time (user + system,
# from /proc) over a window of wall time, in percent of one core. The settings are the first-run
# ones (desktop snapshot) with the given refresh delay.
#   bench/session/cpu_share.sh build [seconds] [WxH:refresh[:sounds] ...]
# Default cases: 1920x1080:50 3840x2160:50 1920x1080:16, and 1920x1080:50:sounds, in which the
# audio device is open from the first camera target on. Each case starts its own Xvfb.
set -u
saver=$1/src/host/tarnwick
seconds=${2:-20}
shift 2 2>/dev/null || shift $#
cases=${*:-1920x1080:50 3840x2160:50 1920x1080:16 1920x1080:50:sounds}
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; } # utime + stime in clock ticks

for c in $cases; do
  IFS=: read -r geometry refresh sounds <<<"$c"
  playSounds=False
  [ "$sounds" = sounds ] && playSounds=True
  home=$(mktemp -d)
  mkdir -p "$home/tarnwick"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"udRefresh_Position"="%s"\r\n"cbxPlaySounds_Checked"="%s"\r\n' \
    "$refresh" "$playSounds" >"$home/tarnwick/user.reg"
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do [ -s "$numfile" ] && break; sleep 0.05; done
  export DISPLAY=":$(tr -d '[:space:]' <"$numfile")"
  XDG_CONFIG_HOME=$home SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$saver" /s 2>/dev/null &
  pid=$!
  sleep 3 # start-up and the desktop snapshot are not part of the steady state
  s0=$(cpu $pid) x0=$(cpu $xvfb) t0=$(date +%s%N)
  sleep "$seconds"
  s1=$(cpu $pid) x1=$(cpu $xvfb) t1=$(date +%s%N)
  wall=$(((t1 - t0) / 1000000))
  awk -v g="$geometry" -v r="$refresh" -v s=$((s1 - s0)) -v x=$((x1 - x0)) -v w=$wall -v hz="$ticks" \
    -v snd="${sounds:+, sounds}" \
    'BEGIN { printf "%-10s refresh %3s ms%s: saver %5.1f %%, X server %5.1f %% of one core (%d ms)\n",
             g, r, snd, 100 * s / hz * 1000 / w, 100 * x / hz * 1000 / w, w }'
  kill $pid
  wait $pid 2>/dev/null
  kill $xvfb
  wait $xvfb 2>/dev/null
  rm -rf "$home" "$numfile"
done
