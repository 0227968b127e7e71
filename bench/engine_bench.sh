#!/usr/bin/env bash
# Runs the per-buffer benchmarks and prints each against its copy baseline
# (Ring* against the copy in the ring, the others against the hot copy) and
# against the 100 ms a buffer lasts; then one line: the delay line's
# per-buffer path (copy and input scan) against a plain copy, both in the ring
# of blocks, and how many simulated hours of the delay line run per wall
# second. Medians of BENCH_REPETITIONS runs (5 if not given).
#   bench/engine_bench.sh [build-dir]
set -euo pipefail
build=${1:-build}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/morvane_bench" --benchmark_format=json \
  --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true >"$out"
python3 - "$out" <<'PY'
import json, sys
scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
medians = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]
           if b.get("aggregate_name") == "median"}
def ns(name, kind="cpu_time"):
    return medians[name][kind] * scale[medians[name]["time_unit"]]
cpu = {name: ns(name) for name in medians}
def baseline(name):
    return cpu["BM_RingCopyBaseline" if name.startswith("BM_Ring") else "BM_CopyBufferBaseline"]
print(f"{'benchmark':28} {'CPU ns':>10} {'x copy':>8} {'% of 100 ms':>12}")
for name, t in cpu.items():
    print(f"{name:28} {t:10.0f} {t / baseline(name):8.2f} {t / 1e8 * 100:12.4f}")
# One iteration of the round trip is 100 ms of sound; wall time, as the
# figure is about wall seconds. The line as it runs by default (/0, without
# the nudge mode).
round_trip_s = ns("BM_EngineBufferRoundTrip/0", "real_time") * 1e-9
hours = 0.1 / 3600 / round_trip_s
ratio = cpu["BM_RingCopyScanning"] / cpu["BM_RingCopyBaseline"]
print(f"per-buffer path / memcpy: {ratio:.2f}; engine: {hours:.1f} simulated hours per wall second")
PY
