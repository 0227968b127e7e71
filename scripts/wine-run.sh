#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's prefix and settings
# (scripts/wine-env.sh) and exits with the program's exit code. CMake uses
# it as the emulator of the Windows build, so ctest runs each test through it.
#
# Best run after `. scripts/wine-env.sh`. Without that, the first call starts
# a wineserver that stays 30 s after the last program, warmed up with
# /dev/null as its output: otherwise Wine's helper processes would hold the
# test's output pipe open and ctest would wait for each test's timeout.
set -u
MORVANE_WINE_NO_START=1 . "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
morvane_wine_prefix || exit 125
(
  flock 9
  rc=0
  _morvane_wine_start_server 30 || rc=$?
  [ $rc -eq 0 ] || [ $rc -eq 2 ]
) 9>"$WINEPREFIX.start.lock" || exit 125
exec wine "$@"
