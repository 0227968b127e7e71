#!/usr/bin/env bash
# The program is held still for 0.6 s while it plays (as an overloaded
# machine might): the output runs dry and capture falls behind. It must say
# so on stderr, once, and then run steady and clean again, at the set delay.
#   stall_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
delay=1.0

start_delay_line "$delay"
record_until 5
stalled=$(record_time)
log "holding morvane still for 0.6 s at $stalled s of the recording"
kill -STOP "$MORVANE_PID"
pause 0.6
kill -CONT "$MORVANE_PID"
record_until "$(awk -v t="$stalled" 'BEGIN { print t + 13 }')"
stop_recording

expect "before the stall" "$(measure --to "$(at "$stalled" -0.3)")" \
  "abs(delay_ms - 1000) <= 10" "windows >= 2" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB"
# The line must run steady and clean again, at the set delay: lined up
# again by the sound layer, or started again by the delay line where the
# output fell more than a buffer behind.
expect "after the stall" "$(measure --from "$(at "$stalled" 2)")" \
  "abs(delay_ms - 1000) <= 10" "windows >= 8" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
said=$(grep -c '^Morvane: ' "$WORK/morvane.log" || true)
distinct=$(grep '^Morvane: ' "$WORK/morvane.log" | sort -u | wc -l)
log "morvane said: $(grep '^Morvane: ' "$WORK/morvane.log" | tr '\n' '|')"
expect "what it said" "lines=$said distinct=$distinct" "lines >= 1" "lines == distinct"
stop_morvane_expecting 2
finish
