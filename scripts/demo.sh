#!/usr/bin/env bash
# A demonstration for a machine without display or sound card: a private
# sound server and a virtual display; a spoken sentence goes into "Radio",
# Morvane plays "Monitor of Radio" on "TV" two seconds later, the delay is
# measured from one recording of both, and a screenshot of the window saved.
#   scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/src/app/linux/morvane
measure=$build/tests/e2e/morvane_measure_delay
delay=2.0
out=${MORVANE_DEMO_DIR:-$PWD/demo-output}
mkdir -p "$out"
work=$(mktemp -d)

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  scripts/pulse-server.sh stop "$work/pulse" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

eval "$(scripts/pulse-server.sh start "$work/pulse")"

# A display of our own; Xvfb picks a free number.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 display <&3 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

device() {  # device KIND NAME: the index of the device of that name
  "$bin" --list-devices | awk -F'\t' -v k="$1" -v n="$2" '$1 == k && $3 == n { print $2; exit }'
}
in=$(device in "Monitor of Radio")
outdev=$(device out "TV")

# The sentence, at the server's rate so that nothing is resampled.
espeak-ng -w "$work/speech-raw.wav" \
  "This is Morvane. What you hear on the TV side comes two seconds after the radio side." 2>/dev/null
sox "$work/speech-raw.wav" -r 44100 -c 2 -b 16 "$work/speech.wav" pad 0.5 0.5 repeat 1

parecord --device=bus.monitor --channels=4 --channel-map=aux0,aux1,aux2,aux3 --no-remix \
  --rate=44100 --format=s16le --file-format=wav \
  --latency-msec=20 "$work/bus.wav" &
rec=$!
pids+=($rec)

"$bin" -in "$in" -out "$outdev" -delay "$delay" -play >"$work/morvane.log" 2>&1 &
app=$!
pids+=($app)

sleep 1
paplay --device=radio --latency-msec=50 "$work/speech.wav" &
speech=$!
# The picture is taken while both sides sound, so that all meters show.
sleep 4
shot="$out/morvane-window.png"
window=$(xwininfo -root -tree | awk '/"Morvane"/ { print $1; exit }')
if [ -n "$window" ]; then
  import -window "$window" "$shot"
else
  import -window root "$shot"
fi

wait "$speech"
sleep 2.5  # the last words still have to come out of the delay

# Escape closes the window as the Exit button does.
xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill "$app" 2>/dev/null || true
code=0
wait "$app" || code=$?
kill "$rec" 2>/dev/null || true
wait "$rec" 2>/dev/null || true

echo "Set delay:      $delay s"
"$measure" "$work/bus.wav" | sed 's/^/Measured:       /'
echo "Morvane exited with code $code"
echo "Screenshot:     $shot"
