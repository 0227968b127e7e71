#!/usr/bin/env bash
# The real window on a virtual display over a real sound server: started with
# -in, -out, -delay 1.0 and -play it delays the sound by 1.0 s; a screenshot
# of it is the window; Escape ends it with exit code 2.
#   window_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
for tool in Xvfb xwininfo xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

start_server
exec 4<> <(:)
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
E2E_PIDS+=($!)
read -r -t 10 display <&4 || { fail "the virtual display did not start"; finish; }
export DISPLAY=":$display"

make_signal 40
play_signal
in=$(device in "Monitor of Radio")
out=$(device out "TV")
"$MORVANE" -in "$in" -out "$out" -delay 1.0 -play >>"$WORK/morvane.log" 2>&1 &
MORVANE_PID=$!
E2E_PIDS+=("$MORVANE_PID")

window=
for _ in $(seq 1 200); do
  window=$(xwininfo -root -tree 2>/dev/null | awk '/"Morvane"/ { print $1; exit }')
  [ -n "$window" ] && xwininfo -id "$window" | grep -q IsViewable && break
  window=
  pause 0.05
done
[ -n "$window" ] || { fail "no window appeared"; finish; }
log "window $window is up"

pause 1.5  # the delay fills
start_recording "$WORK/recording.wav"
record_until 23

shot=$WORK/window.png
import -window "$window" "$shot"
geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
size=$(identify -format '%wx%h' "$shot")
colours=$(convert "$shot" -format '%k' info:)
expect "screenshot" "width=${size%x*} height=${size#*x} colours=$colours" \
  "width == ${geometry%x*} && height == ${geometry#*x}" \
  "width >= 500 && height >= 300" \
  "colours >= 16"

stop_recording
expect "delay 1.0 s" "$(measure)" \
  "abs(delay_ms - 1000) <= 10" \
  "windows >= 20" \
  "min_window_corr >= $E2E_MIN_CORR" \
  "max_block_residual_db <= $E2E_MAX_RESIDUAL_DB"

xdotool windowfocus --sync "$window" key Escape 2>>"$WORK/xdotool.log" || true
expect_morvane_exit Escape 2
if [ "${E2E_KEEP:-0}" = 1 ]; then cp "$shot" "${TMPDIR:-/tmp}/morvane-window-test.png"; fi
finish
