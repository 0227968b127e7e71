#!/usr/bin/env bash
# A new delay typed while running: after the refill, the output runs at the
# new delay; a longer one (1.0 -> 2.5 s) and then a shorter one (-> 0.5 s).
#   delay_change_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

start_delay_line 1.0
record_until 6
longer=$(record_time)
send 2.5
# A refill that never comes is reported, and the measurement below says what
# the output did instead.
wait_for_playing 2.5 1 10 || true
record_until "$(at "$longer" 13)"
shorter=$(record_time)
send 0.5
wait_for_playing 0.5 1 10 || true
record_until "$(at "$shorter" 8)"
stop_recording

expect "at 1.0 s" "$(measure --to "$(at "$longer" -0.3)")" \
  "abs(delay_ms - 1000) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 4" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
expect "changed to 2.5 s" "$(measure --from "$(at "$longer" 3.5)" --to "$(at "$shorter" -0.3)")" \
  "abs(delay_ms - 2500) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 5" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
expect "changed to 0.5 s" "$(measure --from "$(at "$shorter" 1.5)")" \
  "abs(delay_ms - 500) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 5" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
stop_morvane_expecting 2
finish
