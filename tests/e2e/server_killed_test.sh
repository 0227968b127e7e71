#!/usr/bin/env bash
# The sound server dies under the running program: the program must stay up,
# and still end cleanly, with exit code 2, on SIGTERM.
#   server_killed_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

start_server
make_signal 20
play_signal
start_morvane 1.0
wait_for_log "s - playing" 1 20
pause 1
pid=$(server_pid)
log "killing the sound server ($pid)"
kill -KILL "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; pause 0.1; done
pause 3
if kill -0 "$MORVANE_PID" 2>/dev/null; then
  log "morvane still runs 3 s after the server died"
else
  fail "morvane ended when the server died"
fi
log "morvane said: $(tail -n 3 "$WORK/morvane.log" | tr '\n' '|')"
stop_morvane_expecting 2
finish
