#!/usr/bin/env bash
# Installs what building, testing and running Morvane needs on Debian 12.
#   scripts/install-deps.sh            everything (Linux and Windows builds)
#   scripts/install-deps.sh windows    only the Windows cross-build and Wine
#   scripts/install-deps.sh bench      only the core benchmarks (bench/run-core)
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The Windows program, cross-built with mingw-w64 and tested under Wine (and
# Xvfb for its windows). GoogleTest is cross-built from its sources.
WINDOWS_PACKAGES=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  googletest wine wine64 xvfb xauth
)

# The portable core and its benchmarks; the benchmarks link the test support,
# which uses GoogleTest.
BENCH_PACKAGES=(
  build-essential cmake ninja-build libgtest-dev libbenchmark-dev python3
)

LINUX_PACKAGES=(
  # build and test
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # Linux sound
  libpulse-dev pulseaudio pulseaudio-utils
  # the other sound server the Linux program is tested on
  pipewire pipewire-pulse wireplumber pipewire-bin dbus
  # the native PipeWire layer
  libpipewire-0.3-dev libspa-0.2-dev
  # the window
  qt6-base-dev
  # demonstration and end-to-end tests: display, speech, sound tools
  xvfb xauth x11-utils xdotool espeak-ng sox imagemagick appstream desktop-file-utils
  # the GIF cutter's fuzz run (tests/fuzz/run_fuzz.sh): clang with libFuzzer
  # and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
)

case "${1:-all}" in
  all) PACKAGES=("${LINUX_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}") ;;
  windows) PACKAGES=("${WINDOWS_PACKAGES[@]}") ;;
  bench) PACKAGES=("${BENCH_PACKAGES[@]}") ;;
  *) echo "usage: $0 [windows|bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

