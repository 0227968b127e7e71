#!/usr/bin/env bash
# A tenth more, three times, then a tenth less, from 3.0 s. With -smooth the
# line never empties: the delay steps to 3.3 s with 0.3 s of silence and then
# to 3.2 s with none, and the sound is clean on both sides of each splice.
# Without it every step drains and refills the line as before.
#   nudge_test.sh MORVANE MEASURE smooth|plain
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
mode=${3:-smooth}
# A refill takes the delay itself: the plain run waits longer after each step.
if [ "$mode" = smooth ]; then span=8 settle=1.5; else span=12 settle=3.8; fi

if [ "$mode" = smooth ]; then
  start_delay_line 3.0 -smooth
else
  start_delay_line 3.0
fi
record_until 6
longer=$(record_time)
send +
send +
send +
if [ "$mode" = plain ]; then wait_for_playing 3.3 1 15 || true; fi
record_until "$(at "$longer" "$span")"
shorter=$(record_time)
send -
if [ "$mode" = plain ]; then wait_for_playing 3.2 1 15 || true; fi
record_until "$(at "$shorter" "$span")"
stop_recording

expect "at 3.0 s" "$(measure --to "$(at "$longer" -0.3)")" \
  "abs(delay_ms - 3000) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 2" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "out_longest_silence_ms <= 20"
if [ "$mode" = smooth ]; then
  # The splice is heard within half a second; a second later the sound runs
  # at the new delay. Across the whole change, the only silence is the 0.3 s
  # inserted.
  expect "stepped to 3.3 s" "$(measure --from "$(at "$longer" "$settle")" --to "$(at "$shorter" -0.3)")" \
    "abs(delay_ms - 3300) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 2" "min_window_corr >= $E2E_MIN_CORR" \
    "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
  expect "silence across the longer step" "$(measure --from "$(at "$longer" -0.3)" --to "$(at "$longer" 1.5)" --min-rms-dbfs -200)" \
    "out_longest_silence_ms >= 280" "out_longest_silence_ms <= 330"
  expect "stepped to 3.2 s" "$(measure --from "$(at "$shorter" "$settle")")" \
    "abs(delay_ms - 3200) <= $E2E_DELAY_TOLERANCE_MS" "windows >= 2" "min_window_corr >= $E2E_MIN_CORR" \
    "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
  expect "silence across the shorter step" "$(measure --from "$(at "$shorter" -0.3)" --to "$(at "$shorter" 1.5)" --min-rms-dbfs -200)" \
    "out_longest_silence_ms <= 20"
else
  # Each step empties the line: 3.3 s of silence after the steps up.
  expect "refilled at 3.3 s" "$(measure --from "$(at "$longer" "$settle")" --to "$(at "$shorter" -0.3)")" \
    "abs(delay_ms - 3300) <= $E2E_DELAY_TOLERANCE_MS" "min_window_corr >= $E2E_MIN_CORR" \
    "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB"
  expect "silence of the refills" "$(measure --from "$(at "$longer" -0.3)" --to "$(at "$shorter" -0.3)" --min-rms-dbfs -200)" \
    "out_longest_silence_ms >= 3000"
  expect "refilled at 3.2 s" "$(measure --from "$(at "$shorter" "$settle")")" \
    "abs(delay_ms - 3200) <= $E2E_DELAY_TOLERANCE_MS" "min_window_corr >= $E2E_MIN_CORR" \
    "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB"
fi
stop_morvane_expecting 2
finish
