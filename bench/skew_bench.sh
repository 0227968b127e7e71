#!/usr/bin/env bash
# The delay over time when input and output run on different clocks, with the
# playback rate following capture's (MORVANE_CLOCK_FOLLOW=1), without it, and
# the server's own loopback module on the same devices as the anchor.
#
#   bench/skew_bench.sh [build-dir] [seconds] [ppm ...]   (default: 150 s, +200 -200)
#
# A private PulseAudio server gets a pipe source fed at this machine's clock
# and a pipe sink read at (1 + ppm/10^6) of it (tests/e2e/skew_tool.cpp);
# each case runs a 2.0 s delay line from one to the other and measures the
# delay every second from what was read. Prints one line per run and a table:
# the drift after the first 30 s, the worst distance from the delay at 30 s,
# the change from the run's start to its end, how often the pipe sink fell
# behind (each time the delay steps up by what the recording missed), and the
# CPU used by Morvane and by the server (% of one core; the loopback module
# runs inside the server).
# SKEW_BENCH_KEEP=1 keeps the runs' recordings, logs and per-second delays;
# SKEW_BENCH_MODES="follow" runs only the modes named.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
seconds=${2:-150}
shift $(( $# > 2 ? 2 : $# )) || true
skews=("$@")
[ ${#skews[@]} -gt 0 ] || skews=(200 -200)
morvane=$build/src/app/linux/morvane
tool=$build/tests/e2e/morvane_skew_tool
for f in "$morvane" "$tool"; do
  [ -x "$f" ] || { echo "missing $f: build first (cmake --build $build)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-skew.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash scripts/pulse-server.sh stop "$work/server" >/dev/null 2>&1 || true
  if [ "${SKEW_BENCH_KEEP:-0}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
eval "$(bash scripts/pulse-server.sh start "$work/server")"
pactl load-module module-pipe-source source_name=skewin file="$work/in.fifo" format=s16le rate=44100 \
  channels=2 source_properties=device.description=Skewin >/dev/null
pactl load-module module-pipe-sink sink_name=skewout file="$work/out.fifo" format=s16le rate=44100 \
  channels=2 sink_properties=device.description=Skewout >/dev/null
index() { "$morvane" --list-devices | awk -F'\t' -v k="$1" -v n="$2" '$1 == k && $3 == n { print $2 }'; }
in=$(index in Skewin)
out=$(index out Skewout)

# CPU time of a process in clock ticks, and ticks over a run as % of a core.
server=$(cat "$work/server/run/pulse/pid")
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
percent() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

# How often the pipe sink fell behind while the line ran (after it, the
# sink idles).
dry() { awk -v s="$seconds" '/ran dry/ { split($3, a, "="); if (a[2] < s) ++n } END { print n + 0 }' "$1"; }

# run PPM MODE: MODE is follow, fixed or loopback.
run() {
  local ppm=$1 mode=$2 dir=$work/$1-$2
  mkdir -p "$dir"
  # What the sink held from the last run is read away first.
  "$tool" read "$work/out.fifo" 0 1 /dev/null
  "$tool" read "$work/out.fifo" "$ppm" $((seconds + 3)) "$dir/out.raw" 2>"$dir/reader.log" & local reader=$!
  "$tool" write "$work/in.fifo" 0 $((seconds + 10)) 2>"$dir/writer.log" & local writer=$!
  pids=("$reader" "$writer")
  sleep 0.5
  local server_before program_cpu=0
  server_before=$(ticks "$server")
  if [ "$mode" = loopback ]; then
    local module
    module=$(pactl load-module module-loopback source=skewin sink=skewout latency_msec=2000)
    sleep "$seconds"
    pactl unload-module "$module"
  else
    mkfifo "$dir/stdin"
    local follow=0
    [ "$mode" = follow ] && follow=1
    MORVANE_CLOCK_FOLLOW=$follow "$morvane" --headless -in "$in" -out "$out" -delay 2.0 -play \
      <"$dir/stdin" >"$dir/morvane.log" 2>&1 & local program=$!
    exec 3>"$dir/stdin"
    pids+=("$program")
    sleep "$seconds"
    program_cpu=$(ticks "$program")
    kill "$program"
    wait "$program" || true
    exec 3>&-
  fi
  local server_cpu=$(( $(ticks "$server") - server_before ))
  wait "$reader" || true
  kill "$writer" 2>/dev/null || true
  wait "$writer" 2>/dev/null || true
  "$tool" measure "$dir/out.raw" "$ppm" 0 30 >"$dir/measure.txt" || echo "not measured" >"$dir/measure.txt"
  echo "$mode $(tail -1 "$dir/measure.txt") sink_ran_dry=$(dry "$dir/reader.log")" \
    "program_cpu_pct=$(percent "$program_cpu") server_cpu_pct=$(percent "$server_cpu")"
}

for ppm in "${skews[@]}"; do
  for mode in ${SKEW_BENCH_MODES:-fixed follow loopback}; do run "$ppm" "$mode"; done
done | tee "$work/lines"
echo
printf '%-8s %-9s %10s %16s %14s %9s %12s %11s\n' skew mode "drift ms/h" "worst after 30 s" "change in run" "ran dry" "program CPU" "server CPU"
awk '{ delete v; v["drift_ms_per_hour"] = "not measured"
       for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
       printf "%+5s ppm %-9s %10s %16s %14s %9s %12s %11s\n", v["out_ppm"], $1, v["drift_ms_per_hour"],
              v["worst_after_settle_ms"] " ms", v["change_from_start_ms"] " ms", v["sink_ran_dry"],
              v["program_cpu_pct"] " %", v["server_cpu_pct"] " %" }' "$work/lines"
