#!/usr/bin/env bash
# Where the desktop is not there, one clear line and exit code 1: no display
# (none named, or one that does not answer) for the window, and no sound
# server for --list-devices. Never an abort or a core dump.
#   missing_desktop_test.sh MORVANE
set -uo pipefail
morvane=$1
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# expect_one_line WHAT PATTERN COMMAND...: exit code 1 and one stderr line
# matching PATTERN.
expect_one_line() {
  local what=$1 pattern=$2 err rc=0
  shift 2
  err=$(timeout 20 "$@" 2>&1 >/dev/null </dev/null) || rc=$?
  [ $rc -eq 1 ] || fail "$what: exit code $rc, not 1"
  [ "$(printf '%s\n' "$err" | grep -c .)" -eq 1 ] || fail "$what: not one line: $err"
  printf '%s\n' "$err" | grep -q -- "$pattern" || fail "$what: said: $err"
  echo "$what: $err"
}

expect_one_line "no display named" "no display could be opened.*--headless" \
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$morvane" -delay 1.0
expect_one_line "a display that does not answer" "no display could be opened" \
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 "$morvane"
expect_one_line "--list-devices, no sound server" "no sound devices found" \
  env PULSE_SERVER=unix:/nonexistent/native "$morvane" --list-devices

[ $failures -eq 0 ] && echo "all checks passed"
exit $((failures > 0))
