#!/usr/bin/env bash
# The delay line over a real sound server: noise played into "radio", the
# program from "Monitor of Radio" to "TV" at a set delay; over more than 20 s
# every 1 s of the output must be the input of exactly that delay earlier.
#   delay_test.sh MORVANE MEASURE DELAY
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
delay=$3
ms=$(awk -v d="$delay" 'BEGIN { print d * 1000 }')
# Windows need their input one delay earlier in the recording: record long
# enough for 21 of them.
length=$(awk -v d="$delay" 'BEGIN { print d + 23 }')

start_delay_line "$delay"
record_until "$length"
stop_recording

expect "delay $delay s" "$(measure)" \
  "abs(delay_ms - $ms) <= $E2E_DELAY_TOLERANCE_MS" \
  "abs(min_window_delay_ms - $ms) <= $E2E_DELAY_TOLERANCE_MS && abs(max_window_delay_ms - $ms) <= $E2E_DELAY_TOLERANCE_MS" \
  "windows >= 20" \
  "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" \
  "window_delay_spread_ms <= 2" \
  "abs(drift_ms) <= 2"
stop_morvane_expecting 2
finish
