#!/usr/bin/env bash
# Input and output on clocks PPM apart: a pipe source written at this
# machine's clock and a pipe sink read PPM faster (see skew_tool.cpp), and a
# 2.0 s line from one to the other.
# - fixed: for 50 s, its playback rate left alone (MORVANE_CLOCK_FOLLOW=0):
#   the delay must drift by exactly the clocks' difference (-PPM x 3.6 ms an
#   hour), which the measurement across the two clocks must see.
# - follow: for 85 s, as it runs by default: once settled (30 s), the delay
#   must stay within 3 ms and end within 3 ms of where the run began, and
#   every window must match the signal at 0.99 or better (no dropout, no
#   click, a clean resampler).
#   skew_test.sh MORVANE MEASURE SKEW_TOOL PPM fixed|follow
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
TOOL=$(realpath "$3")
ppm=$4
mode=$5
follow=0
seconds=50
if [ "$mode" = follow ]; then
  follow=1
  seconds=85
fi

start_server
pactl load-module module-pipe-source source_name=skewin file="$WORK/in.fifo" format=s16le rate=44100 \
  channels=2 source_properties=device.description=Skewin >/dev/null
pactl load-module module-pipe-sink sink_name=skewout file="$WORK/out.fifo" format=s16le rate=44100 \
  channels=2 sink_properties=device.description=Skewout >/dev/null
in=$(device in Skewin)
out=$(device out Skewout)

"$TOOL" read "$WORK/out.fifo" "$ppm" $((seconds + 3)) "$WORK/out.raw" 2>>"$WORK/tool.log" &
reader=$!
E2E_PIDS+=("$reader")
"$TOOL" write "$WORK/in.fifo" 0 $((seconds + 10)) 2>>"$WORK/tool.log" &
E2E_PIDS+=("$!")
pause 0.5
rm -f "$WORK/commands"
mkfifo "$WORK/commands"
exec 3<>"$WORK/commands"
MORVANE_CLOCK_FOLLOW=$follow "$MORVANE" --headless -in "$in" -out "$out" -delay 2.0 -play <"$WORK/commands" >>"$WORK/morvane.log" 2>&1 &
MORVANE_PID=$!
E2E_PIDS+=("$MORVANE_PID")
log "morvane $MORVANE_PID: -in $in -out $out -delay 2.0 -play, clocks $ppm ppm apart"
pause "$seconds"
stop_morvane_expecting 2
wait "$reader" || true

if [ "$mode" = follow ]; then
  expect "clocks $ppm ppm apart, following" "$("$TOOL" measure "$WORK/out.raw" "$ppm" 0 30 | tail -n 1)" \
    "seconds >= 75" "worst_after_settle_ms <= 3" "abs(change_from_start_ms) <= 3" \
    "worst_window_corr >= 0.99"
else
  expected=$(awk -v p="$ppm" 'BEGIN { print -p * 3.6 }')
  expect "clocks $ppm ppm apart" "$("$TOOL" measure "$WORK/out.raw" "$ppm" 0 10 | tail -n 1)" \
    "seconds >= 40" "abs(drift_ms_per_hour - ($expected)) <= abs($expected) / 10"
fi
# Where the sink fell behind, the delay stepped up by what the recording
# missed: a failed run then says nothing of the program.
dry=$(awk -v s="$seconds" '/ran dry/ { split($3, a, "="); if (a[2] < s) ++n } END { print n + 0 }' "$WORK/tool.log")
if [ "$E2E_FAILURES" -ne 0 ] && [ "$dry" -gt 0 ]; then
  log "the pipe sink fell behind $dry time(s) during this run: void"
  exit $E2E_VOID
fi
finish
