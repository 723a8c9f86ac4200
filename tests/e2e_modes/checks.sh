# shellcheck shell=bash
# Sourced by the run-mode scripts: counted checks that go on after a failure, and a settings
# folder of their own, removed at exit.
passed=0
failed=0
check() { # description, condition result
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

# The last line: the counts, and the script's exit status.
checks_done() {
  echo "$passed passed, $failed failed"
  [ $failed -eq 0 ]
}
