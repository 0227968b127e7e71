#!/usr/bin/env bash
# The Windows part of scripts/test.sh: cross-builds build-win/ and runs every
# test in it under Wine. The wineserver starts inside xvfb-run so that the
# programs' windows get its display, and is stopped before xvfb-run ends.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

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
