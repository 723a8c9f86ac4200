#!/usr/bin/env bash
# Time from the user's last action (the key, Ok, SIGTERM) to the end of the process, for every
# mode of both programs, with sounds off and on. Run it inside the session to be measured, e.g.
#   scripts/with-xvfb dbus-run-session -- bench/session/exit_latency.sh build [trials] [openbox]
# With "openbox" a window manager runs too. Prints each trial in ms and the median per case.
# Each time starts before xdotool sends the key, so it includes xdotool's own start (the
# "xdotool alone" line): an upper bound of the program's share. EXIT_CASES=pattern runs only the
# cases whose name matches it (grep -E), e.g. EXIT_CASES='/c' for the dialog alone.
set -u
build=$1
trials=${2:-5}
saver=$build/src/host/tarnwick
hack=$build/src/host/tarnwick-hack
export XDG_CONFIG_HOME=$(mktemp -d)
wm=""
if [ "${3:-}" = openbox ]; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi
trap '[ -n "$wm" ] && kill $wm; rm -rf "$XDG_CONFIG_HOME"' EXIT
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
store() { # sounds True|False
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"cbxPlaySounds_Checked"="%s"\r\n"udRefresh_Position"="20"\r\n' \
    "$1" >"$XDG_CONFIG_HOME/tarnwick/user.reg"
}
now() { date +%s%N; }
wait_window() { # title: waits up to 10 s for a visible window so titled
  for _ in $(seq 1 200); do
    w=$(xdotool search --onlyvisible --name "^$1$" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return; }
    sleep 0.05
  done
}
# Polls the process every millisecond; prints ms from $2 (ns) to its end.
until_end() {
  while kill -0 "$1" 2>/dev/null && [ -z "$(ps -o stat= -p "$1" | grep Z)" ]; do sleep 0.001; done
  local end
  end=$(now)
  wait "$1" 2>/dev/null
  echo $(((end - $2) / 1000000))
}
median() { sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }

run_case() { # name, then a function that starts the process and acts
  local name=$1 fn=$2 all=""
  [ -n "${EXIT_CASES:-}" ] && ! echo "$name" | grep -qE -- "$EXIT_CASES" && return
  for _ in $(seq 1 "$trials"); do all="$all $($fn)"; done
  printf '%-28s median %4s ms   trials:%s\n' "$name" "$(echo $all | tr ' ' '\n' | median)" "$all"
}
saver_s() {
  "$saver" /s 2>/dev/null & local p=$!
  wait_window "Tarnwick Screensaver" >/dev/null
  sleep 1
  local t=$(now); xdotool key shift; until_end $p $t
}
saver_c() {
  "$saver" /c 2>/dev/null & local p=$!
  local w=$(wait_window "Tarnwick Settings")
  sleep 0.3
  xdotool windowfocus --sync "$w" 2>/dev/null
  local t=$(now); xdotool key Return; until_end $p $t
}
hack_window() {
  "$hack" -window 2>/dev/null & local p=$!
  local w=$(wait_window "Tarnwick Screensaver")
  sleep 1
  xdotool windowfocus --sync "$w" 2>/dev/null
  local t=$(now); xdotool key q; until_end $p $t
}
hack_term() {
  "$hack" -root 2>/dev/null & local p=$!
  sleep 1.5
  local t=$(now); kill -TERM $p; until_end $p $t
}
xdotool_alone() { local t=$(now); xdotool key --window 0 F24 2>/dev/null; echo $((($(now) - t) / 1000000)); }
run_case "xdotool alone" xdotool_alone
for sounds in False True; do
  store $sounds
  run_case "tarnwick /s, sounds $sounds" saver_s
  run_case "tarnwick /c Ok, sounds $sounds" saver_c
  run_case "hack -window q, sounds $sounds" hack_window
  run_case "hack -root TERM, sounds $sounds" hack_term
done
