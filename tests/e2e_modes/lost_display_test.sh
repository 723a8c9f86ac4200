#!/usr/bin/env bash
# A saver whose X server goes away in the middle of a slow start-up (a large store being parsed)
# ends at once with one line and status 1; SIGTERM at that point ends it too.
set -u
saver=$1
passed=0
failed=0
check() { # description, condition result
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
command -v Xvfb >/dev/null || { echo "Xvfb is missing"; exit 77; }
export XDG_CONFIG_HOME=$(mktemp -d)
err=$XDG_CONFIG_HOME/stderr
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
mkdir -p "$XDG_CONFIG_HOME/tarnwick"
# About 60 MB of unrelated keys: over a second of parsing on a desktop machine.
awk 'BEGIN {
  v = sprintf("%100s", ""); gsub(/ /, "x", v)
  print "REGEDIT4\n"
  for (i = 0; i < 400000; i++) printf "[HKEY_CURRENT_USER\\Software\\Other\\K%d]\n\"v\"=\"%s\"\n\n", i, v
}' >"$XDG_CONFIG_HOME/tarnwick/user.reg"

wait_end() { # pid, tenths of a second: rc is the exit code or "running"
  local t=0
  while kill -0 "$1" 2>/dev/null && [ $t -lt "$2" ]; do sleep 0.1; t=$((t + 1)); done
  if kill -0 "$1" 2>/dev/null; then rc=running; kill -KILL "$1"; wait "$1"; else wait "$1"; rc=$?; fi
}
# Waits (up to 10 s) until the process has read the whole store: its X connection exists by then
# and the parse is about to start.
store_read() {
  local size r
  size=$(stat -c %s "$XDG_CONFIG_HOME/tarnwick/user.reg")
  for _ in $(seq 1 1000); do
    r=$(awk '/^rchar/ {print $2}' "/proc/$1/io" 2>/dev/null)
    [ "${r:-0}" -ge "$size" ] && return
    sleep 0.01
  done
}
start_server() { # sets server (pid) and display
  local fifo=$XDG_CONFIG_HOME/displayfd
  rm -f "$fifo" && mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 320x240x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
  server=$!
  read -r number <"$fifo"
  display=:$number
}

for mode in /s /p; do
  start_server
  DISPLAY=$display "$saver" $mode 2>"$err" &
  pid=$!
  store_read $pid
  kill -TERM $server
  wait $server
  wait_end $pid 30
  check "$mode ends without its X server (got $rc)" $([ "$rc" = 1 ]; echo $?)
  check "$mode says so in one line: $(head -c 300 "$err")" \
    $([ "$(wc -l <"$err")" = 1 ] && grep -q "the X server went away" "$err"; echo $?)
done

# SIGTERM keeps its default action, which works in every phase.
start_server
DISPLAY=$display "$saver" /s 2>"$err" &
pid=$!
store_read $pid
kill -TERM $pid
wait_end $pid 10
check "/s ends on SIGTERM during its start-up (got $rc)" $([ "$rc" = 143 ]; echo $?)
kill -TERM $server
wait $server

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
