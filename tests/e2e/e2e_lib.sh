# Shared by the end-to-end tests (sourced): a private sound server, a test
# signal played into "radio", the program from "Monitor of Radio" to "TV", a
# recording of the whole bus and its measurement.
#
#   source e2e_lib.sh MORVANE MEASURE
#
# E2E_SERVER picks the sound server: "pulseaudio" (the default), "pipewire"
# (its graph at 44.1 kHz, the signal's rate, so nothing is resampled) or
# "pipewire-48000" (the desktop default; everything is resampled, so checks
# that need sample-exact output are relaxed: see E2E_EXACT); either PipeWire
# with "-q256" (say) forces the graph's cycle.
#
# A MORVANE that ends in .exe is the Windows program: it runs under Wine
# (scripts/wine-run.sh, on the DISPLAY given) with its window, and
# E2E_WIN_CONTROL names the tool that works that window (waits for the fill,
# types a delay, clicks Exit) where the Linux program reads standard input.
#
# Everything started here is stopped on every way out (the EXIT trap); run
# the test under `timeout -s TERM` so that a hang ends through the trap too.
# E2E_KEEP=1 keeps the work directory (recordings, logs) for a look.
set -euo pipefail

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
MORVANE=$(realpath "$1")
MEASURE=$(realpath "$2")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/morvane-e2e.XXXXXX")
SERVER_DIR=$WORK/server
E2E_START=$(date +%s.%N)
E2E_PIDS=()
E2E_FAILURES=0
# Graph cycles the server itself lost during the measured spans (see finish).
E2E_SERVER_GAPS=0
MORVANE_PID=
RECORD_PID=
RECORD_T0=
PLAY_PID=

E2E_WINE=0
case $MORVANE in *.exe) E2E_WINE=1 ;; esac

# The program, through Wine where it is the Windows one. Wine's PulseAudio
# driver at its default latency runs dry again and again on this machine; at
# 60 ms it still did, a few times a minute, on a quiet machine; at 100 ms it
# plays clean (E2E_WINE_PULSE_LATENCY_MSEC to try others). The program
# cannot see that buffer, so it adds to the delay: 20-40 ms at 100 ms, from
# run to run.
run_morvane() {
  if [ "$E2E_WINE" = 1 ]; then PULSE_LATENCY_MSEC=${E2E_WINE_PULSE_LATENCY_MSEC:-100} "$E2E_ROOT/scripts/wine-run.sh" "$MORVANE" "$@"; else "$MORVANE" "$@"; fi
}
win_control() { "$E2E_ROOT/scripts/wine-run.sh" "$E2E_WIN_CONTROL" "$@"; }

# Nothing from the caller's sound setup may leak into the private server's clients.
unset PULSE_SINK PULSE_SOURCE PULSE_PROP PULSE_LATENCY_MSEC

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
log() { printf '[%6s s] %s\n' "$(since "$E2E_START")" "$*" >&2; }
fail() { log "FAILED: $*"; E2E_FAILURES=$((E2E_FAILURES + 1)); }

# Sleeps in the background so that a TERM from `timeout` is acted on at once.
pause() { sleep "$1" & wait $! || true; }

# Sends TERM, then KILL if the process has not gone after $2 seconds.
end_process() {
  local pid=$1 grace=${2:-5}
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 $((grace * 10))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

e2e_cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  set +e
  for pid in "${E2E_PIDS[@]}"; do end_process "$pid" 5; done
  wait 2>/dev/null
  bash "$SERVER_SCRIPT" stop "$SERVER_DIR" >/dev/null 2>&1
  if [ "$rc" -ne 0 ]; then
    for f in "$WORK"/*.log; do
      [ -s "$f" ] || continue
      echo "--- $(basename "$f") (last lines)" >&2
      tail -n 30 "$f" >&2
    done
    for f in "$SERVER_DIR"/*.log; do
      [ -s "$f" ] || continue
      echo "--- server $(basename "$f") (last lines)" >&2
      tail -n 30 "$f" >&2
    done
  fi
  if [ "${E2E_KEEP:-0}" = 1 ]; then
    echo "kept $WORK" >&2
  else
    rm -rf "$WORK"
  fi
  exit "$rc"
}
trap e2e_cleanup EXIT
trap 'log "terminated (time limit?)"; exit 124' TERM
trap 'exit 130' INT

E2E_SERVER=${E2E_SERVER:-pulseaudio}
# PipeWire runs at its defaults (the 1024-frame cycle, or what the clients
# ask for), as on a desktop, unless the server's name ends in -qN (a graph
# cycle forced to N frames) or MORVANE_PW_QUANTUM forces one (see
# scripts/pipewire-server.sh).
case $E2E_SERVER in
  *-q[0-9]*) export MORVANE_PW_QUANTUM=${E2E_SERVER##*-q} E2E_SERVER=${E2E_SERVER%-q*} ;;
  *) export MORVANE_PW_QUANTUM=${MORVANE_PW_QUANTUM-} ;;
esac
case $E2E_SERVER in
  pulseaudio) SERVER_SCRIPT=$E2E_ROOT/scripts/pulse-server.sh SERVER_ARGS=() E2E_EXACT=1 ;;
  pipewire) SERVER_SCRIPT=$E2E_ROOT/scripts/pipewire-server.sh SERVER_ARGS=(44100) E2E_EXACT=1 ;;
  pipewire-48000) SERVER_SCRIPT=$E2E_ROOT/scripts/pipewire-server.sh SERVER_ARGS=(48000) E2E_EXACT=0 ;;
  *) echo "unknown E2E_SERVER '$E2E_SERVER'" >&2; exit 2 ;;
esac
# Where output and input differ by resampling alone, a 10 ms block's residual
# stays near -22 dB and a 1 s window's correlation near 0.998; a dropout
# still leaves a block at 0 dB or above.
if [ "$E2E_EXACT" = 1 ]; then
  E2E_MIN_CORR=0.99 E2E_MAX_RESIDUAL_DB=-20
else
  E2E_MIN_CORR=0.95 E2E_MAX_RESIDUAL_DB=-10
fi

# How far the measured delay may be from the setting: Wine's audio layer
# adds its buffer's 20-40 ms (see run_morvane) and lines runs up against a
# capture that comes in 65 ms chunks.
if [ "$E2E_WINE" = 1 ]; then E2E_DELAY_TOLERANCE_MS=50; else E2E_DELAY_TOLERANCE_MS=10; fi

for tool in pactl paplay parecord sox; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

# Stalls of the whole machine (morvane_stall_watch, named by E2E_STALL_WATCH)
# from before the server starts to the end: a failed run during which the
# machine stood still for E2E_STALL_VOID_MS or more is void (see finish).
E2E_STALL_VOID_MS=${E2E_STALL_VOID_MS:-20}
start_stall_watch() {
  [ -n "${E2E_STALL_WATCH:-}" ] || return 0
  "$E2E_STALL_WATCH" "$WORK/stalls.txt" "$E2E_STALL_VOID_MS" &
  E2E_PIDS+=("$!")
}

# The longest stall seen so far, in whole ms (0 without the watch).
longest_stall_ms() {
  awk -F'stall_ms=' 'NF > 1 && $2 + 0 > m { m = $2 + 0 } END { printf "%d", m }' "$WORK/stalls.txt" 2>/dev/null || echo 0
}

start_server() {
  local env
  start_stall_watch
  env=$(bash "$SERVER_SCRIPT" start "$SERVER_DIR" "${SERVER_ARGS[@]}" 2>>"$WORK/server-start.log") || {
    log "the sound server ($E2E_SERVER) did not start"
    return 1
  }
  eval "$env"
  export HOME=$SERVER_DIR/home
  log "sound server up: $(LC_ALL=C pactl info | sed -n 's/^Server Name: //p')"
}

# The process the program talks to: PulseAudio's daemon, or PipeWire's (the
# program's native layer talks to it, not to its PulseAudio server).
server_pid() {
  if [ "$E2E_SERVER" = pulseaudio ]; then cat "$SERVER_DIR/run/pulse/pid"; else cat "$SERVER_DIR/pids/pipewire.pid"; fi
}

# device in|out NAME: the program's index of the device with that name.
device() {
  local index
  # Wine's driver may list the devices in another order the first time it
  # meets a server.
  if [ "$E2E_WINE" = 1 ]; then run_morvane --list-devices >/dev/null 2>>"$WORK/morvane.log" </dev/null || true; fi
  index=$(run_morvane --list-devices 2>>"$WORK/morvane.log" </dev/null |
    awk -F'\t' -v kind="$1" -v name="$2" '$1 == kind && $3 == name { print $2; exit }')
  if [ -z "$index" ]; then
    log "no $1 device named '$2'; the program lists:"
    run_morvane --list-devices >&2 </dev/null || true
    return 1
  fi
  echo "$index"
}

# Band-limited noise (300-4000 Hz, -10 dB before the band filter), the same on
# every run. Full-band noise would lose its correlation peak if anything on
# the way resamples.
make_signal() {
  sox -R -n -r 44100 -c 2 -b 16 "$WORK/signal.wav" synth "$1" whitenoise gain -10 sinc 300-4000 2>>"$WORK/sox.log"
}

play_signal() {
  paplay --latency-msec=100 -d radio "$WORK/signal.wav" 2>>"$WORK/paplay.log" &
  PLAY_PID=$!
  E2E_PIDS+=("$PLAY_PID")
}

# start_morvane DELAY [OPTION...]: headless from "Monitor of Radio" to "TV";
# its standard input is a pipe that `send` writes commands to. The Windows
# program runs with its window and -play.
start_morvane() {
  local in out delay=$1
  shift
  in=$(device in "Monitor of Radio")
  out=$(device out "TV")
  if [ "$E2E_WINE" = 1 ]; then
    run_morvane -in "$in" -out "$out" -delay "$delay" -play "$@" </dev/null >>"$WORK/morvane.log" 2>&1 &
    MORVANE_PID=$!
    E2E_PIDS+=("$MORVANE_PID")
    log "morvane.exe $MORVANE_PID: -in $in -out $out -delay $delay -play $*"
    return 0
  fi
  rm -f "$WORK/commands"
  mkfifo "$WORK/commands"
  exec 3<>"$WORK/commands"
  "$MORVANE" --headless -in "$in" -out "$out" -delay "$delay" "$@" <"$WORK/commands" >>"$WORK/morvane.log" 2>&1 &
  MORVANE_PID=$!
  E2E_PIDS+=("$MORVANE_PID")
  log "morvane $MORVANE_PID: -in $in -out $out -delay $delay $*"
}

send() {
  log "send '$1' at $(record_time) s of the recording"
  if [ "$E2E_WINE" = 1 ]; then
    win_control type "$1" || fail "could not type '$1' into the window"
    return 0
  fi
  printf '%s\n' "$1" >&3
}

# wait_for_playing DELAY COUNT SECONDS: until the line runs full at DELAY
# (for the COUNTth time on Linux, where the log tells).
wait_for_playing() {
  if [ "$E2E_WINE" = 1 ]; then
    if win_control wait-full "$3" 2>>"$WORK/morvane.log"; then
      log "morvane.exe: the line is full at $1 s"
    else
      fail "the line did not fill at $1 s within $3 s"
      return 1
    fi
    return 0
  fi
  wait_for_log "of $1 s - playing" "$2" "$3"
}

# wait_for_log PATTERN COUNT SECONDS: until the program's log has COUNT lines
# matching PATTERN.
wait_for_log() {
  local pattern=$1 count=$2 limit=$3 t0
  t0=$(now)
  while [ "$(grep -c -- "$pattern" "$WORK/morvane.log" || true)" -lt "$count" ]; do
    if ! kill -0 "$MORVANE_PID" 2>/dev/null; then
      fail "morvane ended while waiting for '$pattern'"
      return 1
    fi
    if awk -v s="$(since "$t0")" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
      fail "no '$pattern' (x$count) in the program's output within $limit s"
      return 1
    fi
    pause 0.05
  done
  log "morvane: $(grep -- "$pattern" "$WORK/morvane.log" | tail -n 1)"
}

# start_recording FILE: all four channels of the bus, at low latency so that
# the data arrives steadily. RECORD_T0 is set from the first data written, so
# record_time tells the position in the recording to within tens of ms.
start_recording() {
  RECORD_FILE=$1
  # A file left from an earlier recording would fake the start below.
  rm -f "$RECORD_FILE"
  parecord -d bus.monitor --latency-msec=50 --rate=44100 --channels=4 --channel-map=aux0,aux1,aux2,aux3 \
    --no-remix --format=s16le --file-format=wav "$RECORD_FILE" 2>>"$WORK/parecord.log" &
  RECORD_PID=$!
  E2E_PIDS+=("$RECORD_PID")
  local size
  for _ in $(seq 1 500); do
    size=$(stat -c %s "$RECORD_FILE" 2>/dev/null || echo 0)
    if [ "$size" -gt 4096 ]; then
      # Header aside, 4 channels x 2 bytes x 44100 Hz.
      RECORD_T0=$(awk -v t="$(now)" -v b="$size" 'BEGIN { printf "%.3f", t - (b - 44) / 352800 }')
      log "recording"
      return 0
    fi
    pause 0.01
  done
  fail "the recording of bus.monitor did not start"
  return 1
}

record_time() { since "$RECORD_T0"; }

# at T OFFSET: T + OFFSET, for the bounds of a span. OFFSET may be a sum
# ("$delay - 0.6"): it is part of the program, since a -v value would be
# read as its leading number alone.
at() { awk -v t="$1" "BEGIN { printf \"%.3f\", t + ($2) }"; }

# start_delay_line DELAY [OPTION...]: the usual opening: a private server,
# 60 s of the signal playing into "radio", the program running at DELAY (with
# the options) and playing, and the recording of the bus started half a
# second later.
start_delay_line() {
  start_server
  make_signal 60
  play_signal
  start_morvane "$@"
  wait_for_playing "$1" 1 20
  pause 0.5
  start_recording "$WORK/recording.wav"
}

# record_until SECONDS: pauses until the recording is that long.
record_until() {
  local left
  left=$(awk -v want="$1" -v have="$(record_time)" 'BEGIN { d = want - have; printf "%.3f", (d > 0 ? d : 0) }')
  pause "$left"
}

stop_recording() {
  kill -INT "$RECORD_PID" 2>/dev/null || true
  wait "$RECORD_PID" 2>/dev/null || true
  log "recorded $(soxi -D "$RECORD_FILE" 2>/dev/null || echo '?') s"
}

# measure [ARGS...]: runs the measuring tool on the recording; prints its
# summary line, the per-window lines go to the log (or MEASURE_WINDOWS_LOG).
measure() {
  local out rc=0
  # A recording of a PipeWire monitor starts with some 20 ms of silence
  # before the data flows: leave the first 0.1 s out unless told otherwise.
  out=$("$MEASURE" --windows --from 0.1 "$@" "$RECORD_FILE") || rc=$?
  if [ "$rc" -ge 2 ]; then
    fail "the measuring tool failed ($rc) on $*"
    echo "delay_ms=nan"
    return 0
  fi
  printf '%s\n' "$out" | grep '^window ' | sed 's/^/    /' >>"${MEASURE_WINDOWS_LOG:-/dev/stderr}" || true
  printf '%s\n' "$out" | grep -v '^window ' | tail -n 1
}

# expect WHAT RESULT CONDITION...: each condition is an awk expression over
# the result's keys (abs() is there); every failed one is counted.
expect() {
  local what=$1 result=$2 assigns cond
  shift 2
  log "$what: $result"
  # nan (no delay found) becomes a value no condition accepts.
  assigns=$(printf '%s\n' "$result" | tr ' ' '\n' | grep -E '^[a-z_]+=' | sed -E 's/=-?nan$/=-1e12/; s/$/;/' | tr '\n' ' ')
  # Cycles the recording itself lost (all four channels silent at once) say
  # nothing about the program and are left out of its figures; many of them
  # mean the test server cannot keep up, and then nothing here is judged.
  local gaps
  gaps=$(printf '%s\n' "$result" | sed -n 's/.*recording_gaps=\([0-9]*\).*/\1/p')
  if [ -n "$gaps" ]; then
    set -- "$@" "recording_gaps <= 3"
    E2E_SERVER_GAPS=$((E2E_SERVER_GAPS + gaps))
    if [ "$gaps" -gt 0 ]; then log "$what: the recording lost $gaps cycle(s) of the bus; left out"; fi
  fi
  for cond in "$@"; do
    if awk "function abs(v) { return v < 0 ? -v : v } BEGIN { $assigns exit !($cond) }"; then
      log "  ok: $cond"
    else
      fail "$what: $cond"
    fi
  done
}

# expect_morvane_exit WHAT CODE: after WHAT (a signal, a key) the program
# must end within 10 s with exit code CODE.
expect_morvane_exit() {
  local rc=0
  for _ in $(seq 1 100); do
    kill -0 "$MORVANE_PID" 2>/dev/null || break
    pause 0.1
  done
  if kill -0 "$MORVANE_PID" 2>/dev/null; then
    fail "morvane still runs 10 s after $1"
    return 0
  fi
  wait "$MORVANE_PID" || rc=$?
  if [ "$rc" -eq "$2" ]; then log "morvane exited with $rc on $1"; else fail "morvane exited with $rc on $1, not $2"; fi
}

# stop_morvane_expecting CODE: SIGTERM (Exit on the Windows program's
# window), then its exit code must be CODE.
stop_morvane_expecting() {
  if [ "$E2E_WINE" = 1 ]; then
    win_control exit || true
    expect_morvane_exit Exit "$1"
    return 0
  fi
  kill -TERM "$MORVANE_PID"
  expect_morvane_exit SIGTERM "$1"
}

# A failed run says nothing about the program, and is void, when
# - the server dropped a graph cycle (an xrun: the recording shows it as a
#   span where all four channels are silent at once), which it also drops
#   from what the program records, which then plays that much early; or
# - the whole machine stood still for E2E_STALL_VOID_MS or more, long enough
#   for the server or the program to lose or misplace a cycle's audio; or
# - under Wine, the program found its output had run dry and lined it up
#   again: Wine's audio threads are not real-time, and the watch does not
#   see them held up.
# tests/e2e/e2e_run.sh runs a void run again.
E2E_VOID=75
finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    log "$E2E_FAILURES check(s) failed"
    local stall
    stall=$(longest_stall_ms)
    if [ "$E2E_SERVER_GAPS" -gt 0 ]; then
      log "the server lost $E2E_SERVER_GAPS cycle(s) of the bus during this run: void"
      exit $E2E_VOID
    fi
    if [ "$stall" -ge "$E2E_STALL_VOID_MS" ]; then
      log "the machine stood still for up to $stall ms during this run ($(grep -c stall_ms "$WORK/stalls.txt") time(s) $E2E_STALL_VOID_MS ms or more): void"
      exit $E2E_VOID
    fi
    if [ "$E2E_WINE" = 1 ] && grep -q "the output ran dry" "$WORK/morvane.log"; then
      log "the program's output ran dry under Wine during this run: void"
      exit $E2E_VOID
    fi
    exit 1
  fi
  log "passed"
}

# The server's own delay line on the same fixture, the anchor a run of the
# program is judged against: module-loopback on PulseAudio, pw-loopback on
# PipeWire, from "Monitor of Radio" to "TV".
ANCHOR_PID= ANCHOR_MODULE=
start_anchor() {
  local delay=$1
  if [ "$E2E_SERVER" = pulseaudio ]; then
    ANCHOR_MODULE=$(LC_ALL=C pactl load-module module-loopback source=radio.monitor sink=tv \
      latency_msec="$(awk -v d="$delay" 'BEGIN { printf "%d", d * 1000 }')")
  else
    pw-loopback -C radio --capture-props='stream.capture.sink=true' -P tv -d "$delay" \
      >>"$WORK/pw-loopback.log" 2>&1 &
    ANCHOR_PID=$!
    E2E_PIDS+=("$ANCHOR_PID")
  fi
}
stop_anchor() {
  if [ -n "$ANCHOR_MODULE" ]; then LC_ALL=C pactl unload-module "$ANCHOR_MODULE" || true; fi
  if [ -n "$ANCHOR_PID" ]; then end_process "$ANCHOR_PID"; wait "$ANCHOR_PID" 2>/dev/null || true; fi
  ANCHOR_PID= ANCHOR_MODULE=
}

# measure_anchor DELAY: runs the anchor at DELAY with the signal playing and
# sets ANCHOR_ERROR_MS (its delay less DELAY, absolute) and ANCHOR_SPREAD_MS
# (its windows' spread) from a recording of 12 windows.
measure_anchor() {
  local delay=$1 result
  start_anchor "$delay"
  # It settles within a second of its delay.
  pause "$(awk -v d="$delay" 'BEGIN { print d + 1.5 }')"
  start_recording "$WORK/anchor.wav"
  record_until "$(awk -v d="$delay" 'BEGIN { print d + 13 }')"
  stop_recording
  stop_anchor
  result=$(MEASURE_WINDOWS_LOG=/dev/null measure)
  log "anchor at $delay s: $result"
  ANCHOR_ERROR_MS=$(printf '%s\n' "$result" | tr ' ' '\n' | awk -F= -v d="$delay" \
    '$1 == "delay_ms" { v = $2 - d * 1000; printf "%.3f", (v < 0 ? -v : v) }')
  ANCHOR_SPREAD_MS=$(printf '%s\n' "$result" | tr ' ' '\n' | awk -F= '$1 == "window_delay_spread_ms" { print $2 }')
  if [ -z "$ANCHOR_ERROR_MS" ] || [ -z "$ANCHOR_SPREAD_MS" ] || [ "$ANCHOR_ERROR_MS" = nan ]; then
    fail "the server's own delay line could not be measured"
    ANCHOR_ERROR_MS=0 ANCHOR_SPREAD_MS=0
  fi
}
