#!/usr/bin/env bash
# Starts the program in each run mode on the X server in DISPLAY and checks how it behaves and ends.
set -u
bin=$1
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# Waits up to $2 seconds for process $1 to end; sets rc to its exit code, or to "running".
wait_end() {
  local pid=$1 t=0
  while kill -0 "$pid" 2>/dev/null && [ $t -lt $(($2 * 10)) ]; do sleep 0.1; t=$((t + 1)); done
  if kill -0 "$pid" 2>/dev/null; then rc=running; else wait "$pid"; rc=$?; fi
}
window_of() { xdotool search --name "^Tarnwick Screensaver$" 2>/dev/null | head -1; }

# Full screen: a window covering the screen, frames drawn, a key press ends it with 0.
xsetroot -solid "#204080"
"$bin" /s 2>/dev/null &
pid=$!
sleep 2
win=$(xdotool search --onlyvisible --name "^Tarnwick Screensaver$" 2>/dev/null | head -1)
check "/s shows a window" $([ -n "$win" ]; echo $?)
geo=$(xwininfo -id "${win:-0}" 2>/dev/null | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
check "/s covers the 1920x1080 screen (got $geo)" $([ "$geo" = "1920x1080" ]; echo $?)
# The desktop was one colour: after the first frames the view shows that colour, not black.
centre=$(import -window root -crop 1x1+960+540 -depth 8 txt:- 2>/dev/null | tail -1)
check "/s draws frames of the desktop ($centre)" $(echo "$centre" | grep -qi "#204080"; echo $?)
xdotool key shift
wait_end $pid 5
check "/s ends with 0 on a key press (got $rc)" $([ "$rc" = 0 ]; echo $?)

"$bin" -S 2>/dev/null &
pid=$!
sleep 1.5
xdotool mousemove 100 100 mousemove 300 200
sleep 0.5
check "/s keeps running when the mouse moves" $(kill -0 $pid 2>/dev/null; echo $?)
xdotool click 1
wait_end $pid 5
check "/s ends with 0 on a click (got $rc)" $([ "$rc" = 0 ]; echo $?)

# The first visible window titled $1, waited for up to 5 s; empty when none shows.
wait_window() {
  local w=""
  for _ in $(seq 1 50); do
    w=$(xdotool search --onlyvisible --name "^$1$" 2>/dev/null | head -1)
    [ -n "$w" ] && break
    sleep 0.1
  done
  echo "$w"
}

# Password change: no provider on Linux, it ends by itself.
"$bin" /a 1234 2>/dev/null &
pid=$!
wait_end $pid 10
check "/a 1234 ends by itself with 0 (got $rc)" $([ "$rc" = 0 ]; echo $?)

# Configuration: one settings dialog; the program ends when it is closed.
"$bin" /c 2>/dev/null &
pid=$!
dialog=$(wait_window "Tarnwick Settings")
check "/c shows the settings dialog" $([ -n "$dialog" ]; echo $?)
count=$(xdotool search --onlyvisible --name "^Tarnwick Settings$" 2>/dev/null | wc -l)
check "/c shows it once (saw $count)" $([ "$count" -eq 1 ]; echo $?)
# Enter presses the default button "Ok", which closes it (the desktop is used by default).
[ -n "$dialog" ] && xdotool windowfocus --sync "$dialog" key Return 2>/dev/null
wait_end $pid 10
check "/c ends with 0 when the dialog is closed (got $rc)" $([ "$rc" = 0 ]; echo $?)
check "/c leaves the stored settings" $(grep -q "udCycle_Position" "$XDG_CONFIG_HOME/tarnwick/user.reg"; echo $?)

# Preview without a usable handle still runs until it is closed.
"$bin" /p 2>/dev/null &
pid=$!
sleep 1.5
check "/p without a handle runs" $(kill -0 $pid 2>/dev/null; echo $?)
kill -TERM $pid 2>/dev/null
wait_end $pid 5

# A stored value of another type stops the start: the "Application Error" box, then exit code 1.
cat > "$XDG_CONFIG_HOME/tarnwick/user.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Tarnwick\TfrmConfig]
"udCycle_Position"=dword:00000010
REG
"$bin" /s 2>/dev/null &
pid=$!
box=$(wait_window "Application Error")
check "a fatal start-up error shows the Application Error box" $([ -n "$box" ]; echo $?)
[ -n "$box" ] && xdotool windowfocus --sync "$box" key Return 2>/dev/null
wait_end $pid 10
check "a fatal start-up error ends with 1 (got $rc)" $([ "$rc" = 1 ]; echo $?)

checks_done
