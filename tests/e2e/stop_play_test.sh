#!/usr/bin/env bash
# Stop and Play while running: Stop silences the output at once and nothing
# comes out until Play has filled the delay again; then the output is the
# input of exactly the delay earlier, as before the Stop.
#   stop_play_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
delay=1.5

start_delay_line "$delay"
record_until 6
stopped=$(record_time)
send stop
record_until 10
played=$(record_time)
send play
wait_for_log "s - playing" 2 20
# After the refill: room for 7 windows of 1 s, each with its input before it.
record_until "$(awk -v p="$played" -v d="$delay" 'BEGIN { print p + d + 0.5 + d + 8 }')"
stop_recording

expect "before Stop" "$(measure --to "$(at "$stopped" -0.3)")" \
  "abs(delay_ms - 1500) <= 10" "windows >= 3" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
# Silent from just after Stop until just after Play.
expect "stopped" "$(measure --from "$(at "$stopped" 0.5)" --to "$(at "$played" 0.5)")" \
  "out_max_rms_dbfs < -60"
# And nothing until the refill: the output's one gap lasts from the Stop to
# one delay after the Play. Its two ends are timed by the recording alone,
# so the tens of ms by which the clock places Stop and Play in it do not count.
gap=$(awk -v s="$stopped" -v p="$played" -v d="$delay" 'BEGIN { printf "%.0f", (p - s + d - 0.15) * 1000 }')
expect "stopped, then filling" "$(measure --from "$(at "$stopped" -1.5)" --to "$(at "$played" "$delay + 1")")" \
  "out_longest_silence_ms >= $gap"
expect "after Play" "$(measure --from "$(at "$played" "$delay + 0.5")")" \
  "abs(delay_ms - 1500) <= 10" "windows >= 6" "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB" "window_delay_spread_ms <= 2"
stop_morvane_expecting 2
finish
