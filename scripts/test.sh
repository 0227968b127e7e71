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

# Windows: cross-built, tested under Wine.
bash scripts/test-windows.sh
