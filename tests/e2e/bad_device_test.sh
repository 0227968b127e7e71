#!/usr/bin/env bash
# Device numbers beyond the lists: one line each on standard error naming the
# server's default device, which then plays (here the defaults are "Monitor
# of Radio" and "TV", so the delay is measured as usual).
#   bad_device_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

start_server
make_signal 30
play_signal
mkfifo "$WORK/commands"
exec 3<>"$WORK/commands"
"$MORVANE" --headless -in 42 -out 42 -delay 1.0 <"$WORK/commands" >>"$WORK/morvane.log" 2>&1 &
MORVANE_PID=$!
E2E_PIDS+=("$MORVANE_PID")
wait_for_log "of 1.0 s - playing" 1 20 || true
for want in "morvane: there is no input device 42 (see --list-devices); the default input device plays: Monitor of Radio" \
            "morvane: there is no output device 42 (see --list-devices); the default output device plays: TV"; do
  n=$(grep -cxF -- "$want" "$WORK/morvane.log" || true)
  [ "$n" -eq 1 ] || fail "said $n times: $want"
done
log "said: $(grep morvane: "$WORK/morvane.log" | tr '\n' '|' )"
pause 0.5
start_recording "$WORK/recording.wav"
record_until 4
stop_recording
expect "on the default devices" "$(measure)" \
  "abs(delay_ms - 1000) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 2" "min_window_corr >= $E2E_MIN_CORR"
stop_morvane_expecting 2
finish
