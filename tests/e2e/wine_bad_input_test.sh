#!/usr/bin/env bash
# The Windows program under Wine given what a user may mistype, and with no
# sound server at all: it never crashes or hangs, and Exit still gives 2.
#   - junk for -in, -out and -delay: the window comes up and stays;
#   - -in 42 -out 42 (beyond both lists): nothing is selected and the line
#     plays on the default devices ("Monitor of Radio" to "TV" here): the
#     signal comes out of "TV" (how exactly is the delay tests' matter);
#   - no sound server: the window comes up and stays; Play makes no sound.
#   wine_bad_input_test.sh MORVANE_EXE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

# run_window WHAT ARGS...: starts the program with ARGS and its window.
run_window() {
  local what=$1
  shift
  run_morvane "$@" </dev/null >>"$WORK/morvane.log" 2>&1 &
  MORVANE_PID=$!
  E2E_PIDS+=("$MORVANE_PID")
  log "$what: morvane.exe $MORVANE_PID: $*"
}

# Still running SECONDS later, or say how it ended.
expect_alive() {
  pause "$1"
  if kill -0 "$MORVANE_PID" 2>/dev/null; then
    log "  ok: still running after $1 s"
  else
    local rc=0
    wait "$MORVANE_PID" || rc=$?
    fail "$2: the program ended with $rc"
  fi
}

start_server
make_signal 40
play_signal

run_window "junk" -in abc -out xyz -delay junk -play
win_control shown 2>>"$WORK/morvane.log" || fail "junk: no window"
expect_alive 2 "junk"
stop_morvane_expecting 2

run_window "beyond the lists" -in 42 -out 42 -delay 1.0 -play
win_control wait-full 20 2>>"$WORK/morvane.log" || fail "beyond the lists: the line did not fill"
pause 0.5
start_recording "$WORK/recording.wav"
record_until 8
stop_recording
expect "beyond the lists, on the default devices" "$(measure)" \
  "out_max_rms_dbfs >= -30" "windows >= 5"
stop_morvane_expecting 2

# No server: the driver finds no device.
bash "$SERVER_SCRIPT" stop "$SERVER_DIR" >/dev/null 2>&1
log "sound server stopped"
run_window "no sound server" -delay 1.0 -play
win_control shown 2>>"$WORK/morvane.log" || fail "no sound server: no window"
expect_alive 3 "no sound server"
stop_morvane_expecting 2
finish
