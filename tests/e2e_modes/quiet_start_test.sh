#!/usr/bin/env bash
# What both programs print: one plain line and exit 1 without an X server, nothing on stderr in
# normal runs (library chatter only with the hack's -verbose), the hack's usage on --help.
set -u
saver=$1
hack=$2
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
err=$XDG_CONFIG_HOME/stderr

# No display at all, or one that cannot be opened; with and without a Wayland session.
for display in unset :4711; do
  for wayland in "" wayland-0; do
    for cmd in "$saver /s" "$saver /c" "$saver /p" "$saver /a 1" "$saver" "$hack -root" "$hack -window"; do
      if [ $display = unset ]; then
        env -u DISPLAY -u QT_QPA_PLATFORM WAYLAND_DISPLAY=$wayland timeout 10 $cmd >/dev/null 2>"$err"
      else
        env -u QT_QPA_PLATFORM DISPLAY=$display WAYLAND_DISPLAY=$wayland timeout 10 $cmd >/dev/null 2>"$err"
      fi
      rc=$?
      what="${cmd##*/} (DISPLAY $display, WAYLAND_DISPLAY '$wayland')"
      check "$what exits with 1 (got $rc)" $([ $rc = 1 ]; echo $?)
      check "$what prints one line: $(head -c 300 "$err")" $([ "$(wc -l <"$err")" = 1 ]; echo $?)
      check "$what says an X11 display is needed" $(grep -q "X11 display" "$err"; echo $?)
      if [ $display != unset ]; then
        check "$what names the display tried" $(grep -q "\"$display\"" "$err"; echo $?)
      fi
      if [ -n "$wayland" ]; then
        check "$what names XWayland" $(grep -q "XWayland" "$err"; echo $?)
      fi
    done
  done
done
env -u DISPLAY "$hack" --help >"$XDG_CONFIG_HOME/usage" 2>"$err"
rc=$?
check "--help prints the usage without a display (rc $rc)" \
  $([ $rc = 0 ] && grep -q "^usage: " "$XDG_CONFIG_HOME/usage" && [ ! -s "$err" ]; echo $?)

# Normal runs on the X server in DISPLAY. Without XDG_RUNTIME_DIR Qt warns; ALSA, given a
# configuration it cannot read, complains at every open whether or not there is a sound card.
quiet=(env -u XDG_RUNTIME_DIR SDL_AUDIODRIVER=alsa ALSA_CONFIG_PATH=/nonexistent/alsa.conf)
wait_end() { # pid, seconds: rc is the exit code or "running"
  local t=0
  while kill -0 "$1" 2>/dev/null && [ $t -lt $(($2 * 10)) ]; do sleep 0.1; t=$((t + 1)); done
  if kill -0 "$1" 2>/dev/null; then rc=running; kill "$1"; else wait "$1"; rc=$?; fi
}

# Runs the saver with the option $1 and presses the key $3 after $2 seconds.
run_until_key() {
  "${quiet[@]}" "$saver" "$1" 2>"$err" &
  pid=$!
  sleep "$2"
  xdotool key "$3"
  wait_end $pid 5
}
check_silent() { check "$1 prints nothing on stderr: $(head -c 300 "$err")" $([ ! -s "$err" ]; echo $?); }

run_until_key /s 1.5 shift
check "/s ends with 0 (got $rc)" $([ "$rc" = 0 ]; echo $?)
check_silent /s

run_until_key /c 2 Return
check "/c ends with 0 after Ok (got $rc)" $([ "$rc" = 0 ]; echo $?)
check_silent /c

# With sounds the audio device is opened at the first camera target.
for verbose in "" -verbose; do
  "${quiet[@]}" "$hack" -window -sounds $verbose 2>"$err" &
  pid=$!
  sleep 1.5
  kill -TERM $pid
  wait_end $pid 5
  check "hack -sounds $verbose ends with 0 (got $rc)" $([ "$rc" = 0 ]; echo $?)
  if [ -z "$verbose" ]; then
    check_silent "hack -sounds"
  else
    check "hack -sounds -verbose lets the sound library speak" $(grep -q "ALSA lib" "$err"; echo $?)
  fi
done

checks_done
