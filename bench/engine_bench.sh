#!/usr/bin/env bash
# Runs the per-buffer benchmarks and prints each against the copy baseline and
# against the 100 ms a buffer lasts.
#   bench/engine_bench.sh [build-dir]
set -euo pipefail
build=${1:-build}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/morvane_bench" --benchmark_format=json --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$out"
python3 - "$out" <<'PY'
import json, sys
runs = {b["run_name"]: b["cpu_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
base = runs["BM_CopyBufferBaseline"]
print(f"{'benchmark':28} {'CPU ns':>10} {'x copy':>8} {'% of 100 ms':>12}")
for name, ns in runs.items():
    print(f"{name:28} {ns:10.0f} {ns / base:8.1f} {ns / 1e8 * 100:12.4f}")
PY
