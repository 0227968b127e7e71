#!/usr/bin/env bash
# The sound server dies under the running program and comes back: the
# program must stay up, say once that the server went and once that the line
# runs again, then play at its delay as before, and still end cleanly, with
# exit code 2, on SIGTERM.
#   server_killed_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

start_server
make_signal 40
play_signal
start_morvane 1.0
wait_for_log "s - playing" 1 20
pause 1
pid=$(server_pid)
log "killing the sound server ($pid)"
kill -KILL "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; pause 0.1; done
wait_for_log "the sound server went away" 1 10 || true
pause 2
if kill -0 "$MORVANE_PID" 2>/dev/null; then
  log "morvane still runs 3 s after the server died"
else
  fail "morvane ended when the server died"
fi

# The same server again, in the same place.
bash "$SERVER_SCRIPT" stop "$SERVER_DIR" >/dev/null 2>&1 || true
start_server
play_signal
wait_for_log "the sound server is back; the delay line runs again" 1 20 || true
wait_for_log "of 1.0 s - playing" 2 20 || true
pause 0.5
start_recording "$WORK/recording.wav"
record_until 5
stop_recording
expect "after the server came back" "$(measure)" \
  "abs(delay_ms - 1000) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 3" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB"
for line in "the sound server went away" "the sound server is back"; do
  n=$(grep -c -- "$line" "$WORK/morvane.log" || true)
  [ "$n" -eq 1 ] || fail "'$line' said $n times"
done
log "morvane said: $(grep -- 'sound server' "$WORK/morvane.log" | tr '\n' '|')"
stop_morvane_expecting 2
finish
