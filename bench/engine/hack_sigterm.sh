#!/usr/bin/env bash
# SIGTERM to the end of the hack (tarnwick-hack -root) in three phases, each run 5 times:
#  - start-up decoding a large progressive JPEG (the first picture shown);
#  - running, while the same picture is being prepared on the worker;
#  - start-up parsing a huge store (1.5 million picture list entries, 74 MB).
# Usage (under scripts/with-xvfb): hack_sigterm.sh BUILD_DIR [SIDE]
set -euo pipefail
build=$1
side=${2:-16000}
hack=$build/src/host/tarnwick-hack
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pics" "$work/home/config/tarnwick" "$work/store/config/tarnwick"
"$build/bench/engine/bench_picture_change" --make-jpeg "$side" "$side" progressive \
  "$work/pics/b_large.jpg"
"$build/bench/engine/bench_picture_change" --make-jpeg 640 480 baseline "$work/pics/a_small.jpg"
mkdir -p "$work/later" && cp "$work/pics/a_small.jpg" "$work/later/b_small.jpg"
cp "$work/pics/b_large.jpg" "$work/later/a_large.jpg"
python3 - "$work/store/config/tarnwick/user.reg" <<'PY'
import sys
n = 1500000
with open(sys.argv[1], 'w') as f:
    f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\n'
            '"cbxUseDesktop_Checked"="False"\n\n'
            '[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig.ListBox1_Items]\n"Count"="%d"\n' % n)
    for i in range(n):
        f.write('"Item%d"="/nonexistent/picture%d.jpg"\n' % (i, i))
PY

# run HOME DELAY_MS ARGS...: starts the hack, sends SIGTERM after DELAY_MS, prints the ms from the
# signal to the hack's end as waitpid sees it (timed in one Python process, no forks between).
run() {
  local home=$1 delay=$2
  shift 2
  HOME=$home XDG_CONFIG_HOME=$home/config SDL_AUDIODRIVER=dummy python3 - "$delay" "$hack" "$@" <<'PY'
import os, signal, subprocess, sys, time
proc = subprocess.Popen(sys.argv[2:], stderr=subprocess.DEVNULL)
time.sleep(int(sys.argv[1]) / 1000)
if proc.poll() is not None:
    print("ended-early")
    sys.exit(0)
t0 = time.monotonic()
proc.send_signal(signal.SIGTERM)
proc.wait()
print(round((time.monotonic() - t0) * 1000))
PY
}
phase() {
  local what=$1
  shift
  local times=()
  for _ in 1 2 3 4 5; do times+=("$(run "$@")"); done
  echo "$what: ${times[*]} ms"
}
echo "picture ${side}x${side} progressive, $(stat -c %s "$work/pics/b_large.jpg") bytes"
phase "SIGTERM during the start-up decode" "$work/home" 1000 -root -images "$work/pics"
phase "SIGTERM while the picture is prepared" "$work/home" 1500 -root -images "$work/later" -cycle 30000
phase "SIGTERM during the store's parse" "$work/store" 1000 -root
phase "anchor: SIGTERM while running on the desktop" "$work/home" 1500 -root
