#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test:
#   build/       the program and all tests
#   build-asan/  the portable core and its tests under AddressSanitizer/UBSan
#   build-win/   the Windows program and its tests, cross-built with
#                mingw-w64 and run under Wine on a virtual display
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DMORVANE_SANITIZE=ON -DMORVANE_CORE_ONLY=ON -DCMAKE_CXX_FLAGS=-O1
cmake --build build-asan -j "$jobs"

ctest --test-dir build --output-on-failure -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Windows: cross-build, then every test under Wine. The wineserver starts
# inside xvfb-run so that the programs' windows get its display, and is
# stopped before xvfb-run ends.
win_start=$(date +%s)
bash scripts/build-windows.sh
win_built=$(date +%s)
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  . scripts/wine-env.sh
  trap morvane_wine_stop EXIT
  ctest --test-dir build-win --output-on-failure -j "$1"
' bash "$jobs"
win_end=$(date +%s)
echo "Windows part: build $((win_built - win_start)) s, tests under Wine $((win_end - win_built)) s"
