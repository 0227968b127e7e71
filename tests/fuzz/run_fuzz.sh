#!/usr/bin/env bash
# Builds the GIF cutter's fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time over a copy of
# the seed corpus. Fails on a crash, a sanitizer report or a failed check;
# the input that caused it is left in the build directory as crash-*.
#
#   run_fuzz.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${2:-60}

cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for candidate in clang++-14 clang++; do
    if command -v "$candidate" >/dev/null; then cxx=$candidate; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "run_fuzz.sh: no clang++ found (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mkdir -p "$build"
# The cutter and loader are portable: compiled here directly, so the target
# carries the fuzzer's coverage instrumentation without a second CMake tree.
"$cxx" -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$root/src" \
  "$here/gif_cutter_fuzz.cpp" "$root/src/ui/gif_frame_cutter.cpp" "$root/src/ui/gif_loader.cpp" \
  -o "$build/gif_cutter_fuzz"

# A fresh copy each run: the fuzzer adds what it finds to the corpus it is
# given, and the checked-in seeds stay as they are.
corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$here"/corpus/* "$corpus"/
cp "$root/res/about.gif" "$corpus"/

cd "$build"
exec ./gif_cutter_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -dict="$here/gif.dict" -print_final_stats=1 \
  -artifact_prefix="$build/" "$corpus"
