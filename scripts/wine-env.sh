# Wine environment for running the Windows build's programs and tests.
# Source it from bash:
#
#   . scripts/wine-env.sh          # prefix ready, wineserver running and warm
#   ...wine build-win/....exe / ctest --test-dir build-win...
#   morvane_wine_stop              # wineserver -k: leave nothing running
#
# Start it where the programs will run: under Xvfb (DISPLAY set) when they
# open windows. MORVANE_WINE_NO_START=1 only sets the environment and makes
# the prefix (scripts/wine-run.sh uses that).
#
# The prefix lives in build-win/wineprefix unless WINEPREFIX is set, so that
# `rm -rf build-win` starts from scratch. Only 64-bit Wine is used; its
# remark that wine32 is missing is harmless.

_morvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$_morvane_root/build-win/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or Gecko installer prompts, no menu entries on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Where we note which DISPLAY the running wineserver was started with.
_morvane_wine_display_file="$WINEPREFIX/.morvane-server-display"

# Every Wine call here keeps its output away from the caller's pipes: Wine's
# helper processes (services, explorer, ...) live as long as the wineserver
# and would hold a pipe open that ctest or a $(...) waits on. Nor may they
# inherit the lock below (fd 9), or they would hold it as long as they live.
_morvane_wine_quiet() {
  "$@" </dev/null >/dev/null 2>&1 9>&-
}

# Creates the prefix once, with the settings the tests need:
#   X11 Driver Managed=N    no 2 s wait per window without a window manager
#   WineDbg ShowCrashDialog=0   a crash ends the process instead of hanging
#                               on a dialog nobody clicks
#   Drivers Audio=pulse     wave audio through the PulseAudio server
# The lock keeps parallel test runs from making it twice.
morvane_wine_prefix() {
  [ -f "$WINEPREFIX/.morvane-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/.morvane-ready" ] && exit 0
    # Once in a CI run it failed where it worked at once on the same
    # machine: a second try from scratch, and its words if that fails too.
    local try booted=0
    for try in 1 2; do
      _morvane_wine_quiet wineserver -k
      rm -rf "$WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      if wine wineboot --init </dev/null >"$WINEPREFIX.boot.log" 2>&1 9>&-; then
        booted=1
        break
      fi
      echo "wine-env: wineboot --init failed in $WINEPREFIX (try $try):" >&2
      tail -n 20 "$WINEPREFIX.boot.log" >&2
    done
    [ $booted = 1 ] || exit 1
    _morvane_wine_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f &&
    _morvane_wine_quiet wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
    _morvane_wine_quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d pulse /f || {
      echo "wine-env: could not write the registry of $WINEPREFIX" >&2; exit 1; }
    # Write the registry to disk before anyone relies on it.
    _morvane_wine_quiet wineserver -k
    _morvane_wine_quiet wineserver -w
    touch "$WINEPREFIX/.morvane-ready"
  ) 9>"$WINEPREFIX.lock"
}

# Starts a wineserver for the prefix if none runs, and one warm-up program,
# so that the helper processes start here (with /dev/null) and not inside
# the first test. PERSIST: seconds the server stays after its last program
# ends (empty: until morvane_wine_stop). Returns 0 if it started one, 2 if
# one was already running.
_morvane_wine_start_server() {
  local rc=0
  _morvane_wine_quiet wineserver "-p$1" || rc=$?
  case $rc in
    0) printf '%s\n' "${DISPLAY:-}" >"$_morvane_wine_display_file"
       _morvane_wine_quiet wine cmd /c exit 0
       return 0 ;;
    2) return 2 ;;
    *) echo "wine-env: wineserver did not start ($rc)" >&2; return 1 ;;
  esac
}

# Persistent, warm wineserver with the current DISPLAY. One left from a run
# with another DISPLAY (or none) is stopped first, since it would keep later
# programs from opening windows.
morvane_wine_start() {
  morvane_wine_prefix || return 1
  local rc=0
  _morvane_wine_start_server "" || rc=$?
  [ $rc -eq 2 ] || return $rc
  if [ -f "$_morvane_wine_display_file" ] &&
     [ "$(cat "$_morvane_wine_display_file")" = "${DISPLAY:-}" ]; then
    return 0
  fi
  morvane_wine_stop
  _morvane_wine_start_server ""
}

morvane_wine_stop() {
  _morvane_wine_quiet wineserver -k
  _morvane_wine_quiet wineserver -w
  rm -f "$_morvane_wine_display_file"
  return 0
}

if [ "${MORVANE_WINE_NO_START:-0}" != 1 ]; then
  morvane_wine_start
fi
