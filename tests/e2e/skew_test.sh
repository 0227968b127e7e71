#!/usr/bin/env bash
# Input and output on clocks PPM apart: a pipe source written at this
# machine's clock and a pipe sink read PPM faster (see skew_tool.cpp). A 2.0 s
# line runs for 50 s as it does by default, its playback rate left alone: the
# delay must drift by exactly the clocks' difference (-PPM x 3.6 ms an hour),
# which the measurement across the two clocks must see.
#   skew_test.sh MORVANE MEASURE SKEW_TOOL PPM
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
TOOL=$(realpath "$3")
ppm=$4
seconds=50

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
"$MORVANE" --headless -in "$in" -out "$out" -delay 2.0 -play <"$WORK/commands" >>"$WORK/morvane.log" 2>&1 &
MORVANE_PID=$!
E2E_PIDS+=("$MORVANE_PID")
log "morvane $MORVANE_PID: -in $in -out $out -delay 2.0 -play, clocks $ppm ppm apart"
pause "$seconds"
stop_morvane_expecting 2
wait "$reader" || true

expected=$(awk -v p="$ppm" 'BEGIN { print -p * 3.6 }')
expect "clocks $ppm ppm apart" "$("$TOOL" measure "$WORK/out.raw" "$ppm" 0 10 | tail -n 1)" \
  "seconds >= 40" "abs(drift_ms_per_hour - ($expected)) <= abs($expected) / 10"
finish
