#!/usr/bin/env bash
# Time from a key to the end of `tarnwick /s` drawing natively on Wayland, run inside the session
# to be measured, e.g.  scripts/with-sway bench/session/wayland_key_latency.sh build [trials]
# The key comes from wtype, which makes its virtual keyboard and types 300 ms later; its own run
# into no window is timed first and taken off each trial. Prints each trial in ms, then the median.
set -u
saver=$(realpath "$1")/src/host/tarnwick
trials=${2:-10}
export XDG_CONFIG_HOME=$(mktemp -d) SDL_AUDIODRIVER=dummy
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"udRefresh_Position"="20"\r\n' \
  >"$XDG_CONFIG_HOME/tarnwick/user.reg"
now() { date +%s%N; }
t0=$(now)
wtype -s 300 a
anchor=$((($(now) - t0) / 1000000))
echo "wtype alone: $anchor ms"
times=()
for i in $(seq 1 "$trials"); do
  "$saver" /s 2>/dev/null &
  pid=$!
  sleep 2
  t0=$(now)
  wtype -s 300 a &
  while kill -0 $pid 2>/dev/null; do sleep 0.001; done
  took=$((($(now) - t0) / 1000000 - anchor))
  wait
  echo "trial $i: $took ms"
  times+=("$took")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "median %d ms, max %d ms\n", a[int((NR + 1) / 2)], a[NR] }'
