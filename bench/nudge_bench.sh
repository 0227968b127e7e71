#!/usr/bin/env bash
# What a user tuning by ear hears: Morvane at 8.0 s on a private PulseAudio
# server, then a tenth more ("+"), with and without -smooth. Prints the
# longest silence of the output across the change, the delay after it, and
# Morvane's CPU use over 20 s of running (its own process time).
#   bench/nudge_bench.sh [build-dir]       (about two minutes)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")
if [ -z "${BENCH_MODE:-}" ]; then
  printf '%-10s %18s %14s %12s\n' mode silence_ms delay_ms cpu_percent
  for mode in plain smooth; do BENCH_MODE=$mode bash "$0" "$build" 2>/dev/null; done
  exit 0
fi
source "$here/../tests/e2e/e2e_lib.sh" "$build/src/app/linux/morvane" "$build/tests/e2e/morvane_measure_delay"
cpu_ns() { awk '{ s += $1 } END { printf "%.0f", s }' /proc/"$1"/task/*/schedstat; }
if [ "$BENCH_MODE" = smooth ]; then start_delay_line 8.0 -smooth; else start_delay_line 8.0; fi
c0=$(cpu_ns "$MORVANE_PID") t0=$(now)
record_until 10
change=$(record_time)
send +
wait_for_playing 8.1 1 20 >/dev/null 2>&1 || true
record_until "$(awk -v t="$change" 'BEGIN { print t + 20 }')"
c1=$(cpu_ns "$MORVANE_PID") wall=$(since "$t0")
stop_recording
from=$(awk -v t="$change" 'BEGIN { print t - 0.3 }')
silence=$(measure --from "$from" --min-rms-dbfs -200 | sed -n 's/.*out_longest_silence_ms=\([0-9.]*\).*/\1/p')
after=$(measure --from "$(awk -v t="$change" 'BEGIN { print t + 9 }')" | sed -n 's/^delay_ms=\([0-9.na]*\).*/\1/p')
cpu=$(awk -v c="$((c1 - c0))" -v w="$wall" 'BEGIN { printf "%.2f", c / 1e9 / w * 100 }')
printf '%-10s %18s %14s %12s\n' "$BENCH_MODE" "$silence" "$after" "$cpu"
stop_morvane_expecting 2 2>/dev/null
finish 2>/dev/null
