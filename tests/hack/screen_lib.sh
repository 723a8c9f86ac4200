# shellcheck shell=bash
# Sourced by the scripts that run the hack under a real saver or locker on the X server in DISPLAY.
# A script sets, as it learns them:
#   work      its temporary folder (screen_work makes one, removed at exit)
#   hack_cmd  the hack's path as the saver starts it: its processes are found by it
#   log       the saver's log, shown on failure (log_noise: a pattern of lines left out of it)
#   watched   the saver's process, ended at exit

# Makes $work; at exit the saver and the hack are ended and $work is removed.
screen_work() {
  work=$(mktemp -d)
  watched=""
  trap 'screen_stop; rm -rf "$work"' EXIT
}

screen_stop() {
  if [ -n "${watched:-}" ]; then
    kill "$watched" 2>/dev/null || true
    wait "$watched" 2>/dev/null || true
  fi
  if [ -n "${hack_cmd:-}" ]; then pkill -f "^$hack_cmd" 2>/dev/null || true; fi
}

fail() {
  echo "FAIL: $*"
  if [ -n "${log:-}" ]; then
    echo "--- $(basename "$log" .log) log"
    if [ -n "${log_noise:-}" ]; then
      grep -v "$log_noise" "$log" | tail -40 || true
    else
      tail -40 "$log" || true
    fi
  fi
  exit 1
}

above() { awk -v s="$1" -v t="$2" 'BEGIN { exit !(s > t) }'; }
below() { awk -v s="$1" -v t="$2" 'BEGIN { exit !(s < t) }'; }

screenshot() { import -window root "$work/screen.png"; }

# Share of the last screenshot's pixels within a few levels of the colour $1; the convert options
# after it (a crop) choose a part of the screen.
screen_part_share() {
  local colour=$1
  shift
  convert "$work/screen.png" "$@" -fuzz 3% -fill white -opaque "$colour" -fill black \
    +opaque white -colorspace gray -format '%[fx:mean]' info:
}

# Share of the screen's pixels within a few levels of the colour $1, from a new screenshot.
share() {
  screenshot 2>/dev/null || { echo 0; return; }
  screen_part_share "$1"
}

# Waits up to 10 s for the screen to be mostly the colour $1.
expect_screen() {
  for _ in $(seq 1 50); do
    above "$(share "$1")" 0.9 && return 0
    sleep 0.2
  done
  fail "the screen does not show $1 (share $(share "$1"))"
}

hack_pids() { pgrep -f "^$hack_cmd" || true; }

# Waits up to 10 s for the hack to run; $1 names who starts it.
expect_hack() {
  for _ in $(seq 1 50); do [ -n "$(hack_pids)" ] && break; sleep 0.2; done
  [ -n "$(hack_pids)" ] || fail "$1 did not start the hack"
}

# Waits up to 5 s for the hack to end; $1 says after what.
expect_hack_gone() {
  for _ in $(seq 1 50); do [ -z "$(hack_pids)" ] && break; sleep 0.1; done
  [ -z "$(hack_pids)" ] || fail "the hack is still running after $1"
}

# XScreenSaver's daemon, in a home of its own in $work with a copy $hack_cmd of the hack $1.
# The daemon refuses to run as root, so root runs it as nobody, from files nobody can read:
# as_user is the command prefix that runs a program as the daemon's user.
daemon_user() {
  chmod 755 "$work"
  hack_cmd=$work/tarnwick-hack
  cp "$1" "$hack_cmd"
  mkdir -p "$work/home/runtime"
  chmod 700 "$work/home/runtime"
  as_user=(env HOME="$work/home" XDG_CONFIG_HOME="$work/home/config"
           XDG_RUNTIME_DIR="$work/home/runtime" SDL_AUDIODRIVER=dummy)
  if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody "$work/home"
    as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
             "${as_user[@]}")
  fi
}

# The daemon's settings: only our hack, with the options $1, never started by idleness, no fading,
# no locking; $2, more resource lines.
daemon_config() {
  {
    printf '%s\n' "mode: one" "selected: 0" "timeout: 8:00:00" "cycle: 0" "lock: False" \
      "fade: False" "unfade: False" "splash: False" "dpmsEnabled: False"
    printf 'programs: %s \\n\n' "$hack_cmd $1"
    printf '%s\n' "${2:-}"
  } >"$work/home/.xscreensaver"
  [ "$(id -u)" -ne 0 ] || chown nobody "$work/home/.xscreensaver"
}

# Starts the daemon and waits up to 10 s for it to answer.
daemon_start() {
  log=$work/daemon.log
  (cd "$work/home" && exec "${as_user[@]}" xscreensaver -no-splash -verbose) >"$log" 2>&1 &
  watched=$!
  for _ in $(seq 1 50); do
    daemon_command -time 2>/dev/null && return 0
    kill -0 "$watched" 2>/dev/null || fail "the daemon did not start"
    sleep 0.2
  done
}

daemon_command() { "${as_user[@]}" xscreensaver-command "$@" >/dev/null; }
