#!/usr/bin/env bash
# Installs what is needed, builds Morvane and starts it.
#
# On a desktop (a display and a reachable sound server) this opens the window
# on the user's own sound server; arguments are passed on (-in, -out, -delay,
# -play). Where there is neither (a fresh server, CI), it runs a short
# demonstration instead: see scripts/demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target morvane morvane_measure_delay

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && pactl info >/dev/null 2>&1; then
  exec build/src/app/linux/morvane "$@"
fi
echo "No display or no sound server here: running the demonstration instead."
exec bash scripts/demo.sh build
