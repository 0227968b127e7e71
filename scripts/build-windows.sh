#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with mingw-w64 into
# build-win/, makes the release package build-win/morvane-<version>-windows-x64.zip
# and prints the absolute path of morvane.exe as its last line.
# Installs what it needs with apt-get first (only what is missing).
# Extra arguments go to the configure step, e.g. -DCMAKE_BUILD_TYPE=Release.
# Run the tests under Wine with scripts/test.sh, or by hand:
#   . scripts/wine-env.sh; ctest --test-dir build-win; morvane_wine_stop
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh windows

cmake -S . -B build-win -G Ninja \
  --toolchain "$root/cmake/mingw-w64-x86_64.cmake" "$@"
cmake --build build-win -j "$(nproc)"

if [ -f build-win/morvane-exe-path.txt ]; then
  exe=$(cat build-win/morvane-exe-path.txt)
  [ -f "$exe" ] || { echo "build-windows: $exe was not built" >&2; exit 1; }
  # The release package beside it.
  (cd build-win && cpack --config CPackConfig.cmake >cpack.log 2>&1) ||
    { cat build-win/cpack.log >&2; echo "build-windows: the package was not made" >&2; exit 1; }
  ls "$root"/build-win/morvane-*-windows-x64.zip
else
  exe="$root/build-win/src/app/windows/morvane.exe"
  echo "build-windows: no program target yet (src/app/windows): built the" \
       "portable core and its tests; morvane.exe will be at:" >&2
fi
echo "$exe"
