#!/usr/bin/env bash
# Morvane at 2.0 s against each sound server's own delay line at 2.0 s
# (PulseAudio's module-loopback at latency_msec=2000, PipeWire's pw-loopback
# --delay=2.0), all from "Monitor of Radio" to "TV" on a private server fed
# with band-limited noise: a private PulseAudio, then a private PipeWire at
# its defaults (48 kHz graph, default cycle, devices at 44.1 kHz), where
# Morvane uses its native layer. Three runs of 60 s each per program, taken
# in turn; then Morvane's memory with a full line at 29.9 s.
# Prints one table: delay error, its spread over the runs and within each run
# (drift over 60 s), the worst 1 s window correlation and 10 ms block, CPU
# use and memory.
#   bench/loopback_bench.sh [build-dir]      (about 20 minutes)
# BENCH_RUNS, BENCH_SPAN and BENCH_IDLE_SPAN (seconds) shorten it for a try;
# BENCH_SERVERS="pulseaudio" (or "pipewire-48000", "pipewire" for a 44.1 kHz
# graph) takes one server only; BENCH_DELAY sets the delay.
#
# CPU: Morvane's own process time (the sum of its threads' run time from
# /proc/PID/task/*/schedstat, in nanoseconds) over the 60 s. The server's
# loopback: the server's CPU (PipeWire: its daemon and its PulseAudio
# protocol server together) above the server's idle figure (signal playing
# and bus recorded, nothing looping, measured just before and after each
# run), plus, for pw-loopback, its own process. The server's extra CPU while
# serving Morvane's two streams is shown as well.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")

# One run of this script per server, each printing its column; then the table.
if [ -z "${BENCH_SERVER:-}" ]; then
  cols=$(mktemp -d)
  trap 'rm -rf "$cols"' EXIT
  servers=(${BENCH_SERVERS:-pulseaudio pipewire-48000})
  for server in "${servers[@]}"; do
    BENCH_SERVER=$server bash "$0" "$build" >"$cols/$server" || { echo "the $server runs failed" >&2; exit 1; }
  done
  echo
  paste -d'\t' "$cols/${servers[0]}" $(for s in "${servers[@]:1}"; do printf '%s ' "$cols/$s"; done) |
    awk -F'\t' '{ line = sprintf("%-42s", $1); for (i = 2; i <= NF; i++) if ((i % 3) != 1) line = line sprintf(" %16s", $i); print line }'
  exit 0
fi
export E2E_SERVER=$BENCH_SERVER
for f in "$build/src/app/linux/morvane" "$build/tests/e2e/morvane_measure_delay"; do
  [ -x "$f" ] || { echo "missing $f: build first (cmake --build $build)" >&2; exit 1; }
done
source "$here/../tests/e2e/e2e_lib.sh" "$build/src/app/linux/morvane" "$build/tests/e2e/morvane_measure_delay"
MEASURE_WINDOWS_LOG=$WORK/windows.log

runs=${BENCH_RUNS:-3}
delay=${BENCH_DELAY:-2.0}
delay_ms=$(awk -v d="$delay" 'BEGIN { printf "%d", d * 1000 }')
span=${BENCH_SPAN:-60}       # seconds of 1 s windows per run
idle_span=${BENCH_IDLE_SPAN:-20}
# Nanoseconds a process's threads have run: clock ticks would be too coarse
# for figures of a few tenths of a per cent.
cpu_ticks() {
  local p
  for p in "$@"; do cat "/proc/$p"/task/*/schedstat 2>/dev/null || true; done | awk '{ s += $1 } END { printf "%.0f", s }'
}
field() { printf '%s\n' "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }
# percent NANOSECONDS SECONDS: CPU time as a percentage of one core.
percent() { awk -v t="$1" -v s="$2" 'BEGIN { printf "%.3f", t / 1e9 / s * 100 }'; }

start_server
if [ "$BENCH_SERVER" = pulseaudio ]; then
  spid=$(server_pid)
  loopback_name=module-loopback
else
  spid="$(cat "$SERVER_DIR/pids/pipewire.pid") $(cat "$SERVER_DIR/pids/pipewire-pulse.pid")"
  loopback_name=pw-loopback
fi
make_signal $((span + 20))

# The server's own CPU with the signal playing and the bus recorded, nothing
# looping; taken before and after every run, as the machine's load changes.
idle_run() {
  play_signal
  start_recording "$WORK/idle.wav"
  t0=$(now); s0=$(cpu_ticks $spid)
  record_until "$idle_span"
  s1=$(cpu_ticks $spid); wall=$(since "$t0")
  stop_recording
  end_process "$PLAY_PID"; wait "$PLAY_PID" 2>/dev/null || true
  idle=$(percent $((s1 - s0)) "$wall")
  idles+=("$idle")
  log "server idle: $idle % of a core"
}

record_run() {  # the recording long enough for $span windows after the delay
  start_recording "$WORK/run.wav"
  t0=$(now); s0=$(cpu_ticks $spid)
  if [ -n "$CLIENT_PID" ]; then m0=$(cpu_ticks "$CLIENT_PID"); fi
  record_until $((span + 3))
  s1=$(cpu_ticks $spid); wall=$(since "$t0")
  if [ -n "$CLIENT_PID" ]; then m1=$(cpu_ticks "$CLIENT_PID"); fi
  stop_recording
}

# A run's own figures; a run whose recording could not be measured ends the
# benchmark rather than spoil the table.
measure_run() {
  r=$(measure)
  log "$1: $r"
  case $(field "$r" delay_ms) in
    ''|nan|-nan) log "the $1 run could not be measured"; exit 1 ;;
  esac
}
# extra_cpu: the server's CPU in the run above the mean of the idle spans
# just before and after it.
extra_cpu() {
  awk -v a="$(percent $((s1 - s0)) "$wall")" -v b="$1" -v c="$2" 'BEGIN { printf "%.3f", a - (b + c) / 2 }'
}

declare -a l_own idles m_delay m_drift m_spread m_corr m_res m_cpu m_srv m_hwm l_delay l_drift l_spread l_corr l_res l_srv
idle_run
for run in $(seq 1 "$runs"); do
  log "run $run: morvane"
  play_signal
  start_morvane "$delay"
  wait_for_log "s - playing" "$run" 40
  pause 1
  CLIENT_PID=$MORVANE_PID
  record_run
  m_hwm+=("$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$MORVANE_PID/status")")
  stop_morvane_expecting 2
  MORVANE_PID=
  end_process "$PLAY_PID"; wait "$PLAY_PID" 2>/dev/null || true
  measure_run morvane
  m_delay+=("$(field "$r" delay_ms)"); m_drift+=("$(field "$r" drift_ms)")
  m_spread+=("$(field "$r" window_delay_spread_ms)"); m_corr+=("$(field "$r" min_window_corr)")
  m_res+=("$(field "$r" max_block_residual_db)")
  m_cpu+=("$(percent $((m1 - m0)) "$wall")")
  before=$idle; keep=("$s0" "$s1" "$wall")
  idle_run
  s0=${keep[0]} s1=${keep[1]} wall=${keep[2]}
  m_srv+=("$(extra_cpu "$before" "$idle")")

  log "run $run: $loopback_name"
  play_signal
  if [ "$BENCH_SERVER" = pulseaudio ]; then
    module=$(pactl load-module module-loopback source=radio.monitor sink=tv latency_msec="$delay_ms")
    CLIENT_PID=
  else
    pw-loopback -C radio --capture-props='stream.capture.sink=true' -P tv -d "$delay" >>"$WORK/pw-loopback.log" 2>&1 &
    CLIENT_PID=$!
    E2E_PIDS+=("$CLIENT_PID")
  fi
  # Let it reach its latency before measuring.
  pause "$(awk -v d="$delay" 'BEGIN { print d + 4 }')"
  record_run
  if [ "$BENCH_SERVER" = pulseaudio ]; then
    pactl unload-module "$module"
  else
    end_process "$CLIENT_PID"; wait "$CLIENT_PID" 2>/dev/null || true
    l_own+=("$(percent $((m1 - m0)) "$wall")")
  fi
  end_process "$PLAY_PID"; wait "$PLAY_PID" 2>/dev/null || true
  measure_run "$loopback_name"
  l_delay+=("$(field "$r" delay_ms)"); l_drift+=("$(field "$r" drift_ms)")
  l_spread+=("$(field "$r" window_delay_spread_ms)"); l_corr+=("$(field "$r" min_window_corr)")
  l_res+=("$(field "$r" max_block_residual_db)")
  before=$idle; keep=("$s0" "$s1" "$wall")
  idle_run
  s0=${keep[0]} s1=${keep[1]} wall=${keep[2]}
  l_srv+=("$(extra_cpu "$before" "$idle")")
done

# Memory with the longest line held: headless at 29.9 s, once it is full.
play_signal
start_morvane 29.9
wait_for_log "of 29.9 s - playing" 1 45
pause 3
rss_full=$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$MORVANE_PID/status")
stop_morvane_expecting 2
MORVANE_PID=
end_process "$PLAY_PID"; wait "$PLAY_PID" 2>/dev/null || true

# summary KIND VALUES...: mean | error (mean - the delay) | spread (max - min) | worst (largest |v|) | min | max
summary() {
  local kind=$1; shift
  printf '%s\n' "$@" | awk -v k="$kind" -v target="$delay_ms" '
    { v = $1 + 0; n++; s += v; if (n == 1 || v < lo) lo = v; if (n == 1 || v > hi) hi = v
      a = v < 0 ? -v : v; if (n == 1 || a > w) { w = a; wv = v } }
    END {
      if (k == "mean") printf "%.2f", s / n
      else if (k == "error") printf "%+.2f", s / n - target
      else if (k == "spread") printf "%.2f", hi - lo
      else if (k == "worst") printf "%+.2f", wv
      else if (k == "min") printf "%.4f", lo
      else if (k == "max") printf "%.2f", hi
      else if (k == "mean3") printf "%.3f", s / n
      else if (k == "maxdb") printf "%.1f", hi
    }'
}

# One line per figure: label, Morvane's, the loopback's (tab-separated; the
# table is put together from every server's lines above).
row() { printf '%s\t%s\t%s\n' "$1" "$2" "$3"; }
# The loopback's CPU: the server's extra, plus pw-loopback's own process.
l_cpu=()
for i in "${!l_srv[@]}"; do
  l_cpu+=("$(awk -v a="${l_srv[$i]}" -v b="${l_own[$i]:-0}" 'BEGIN { printf "%.3f", a + b }')")
done
row "delay $delay s, $runs runs x ${span} s" "Morvane ($BENCH_SERVER)" "$loopback_name"
row "delay, mean of runs (ms)" "$(summary mean "${m_delay[@]}")" "$(summary mean "${l_delay[@]}")"
row "delay error (ms)" "$(summary error "${m_delay[@]}")" "$(summary error "${l_delay[@]}")"
row "delay per run (ms)" "$(printf '%.1f/' "${m_delay[@]}" | sed 's|/$||')" "$(printf '%.1f/' "${l_delay[@]}" | sed 's|/$||')"
row "spread over runs (ms)" "$(summary spread "${m_delay[@]}")" "$(summary spread "${l_delay[@]}")"
row "drift over ${span} s, worst run (ms)" "$(summary worst "${m_drift[@]}")" "$(summary worst "${l_drift[@]}")"
row "1 s window delay spread, worst run (ms)" "$(summary max "${m_spread[@]}")" "$(summary max "${l_spread[@]}")"
row "min 1 s window correlation" "$(summary min "${m_corr[@]}")" "$(summary min "${l_corr[@]}")"
row "worst 10 ms block residual (dB)" "$(summary maxdb "${m_res[@]}")" "$(summary maxdb "${l_res[@]}")"
row "CPU, % of a core (process / loopback)" "$(summary mean3 "${m_cpu[@]}")" "$(summary mean3 "${l_cpu[@]}")"
row "CPU per run (%)" "$(printf '%.3f/' "${m_cpu[@]}" | sed 's|/$||')" "$(printf '%.3f/' "${l_cpu[@]}" | sed 's|/$||')"
row "server extra CPU for the streams (%)" "$(summary mean3 "${m_srv[@]}")" "$(summary mean3 "${l_srv[@]}")"
row "peak resident memory VmHWM (MiB)" "$(summary max "${m_hwm[@]}")" "-"
row "VmHWM, headless at 29.9 s, full (MiB)" "$rss_full" "-"
row "server idle CPU, mean of runs (%)" "$(summary mean3 "${idles[@]}")" "$(summary mean3 "${idles[@]}")"
# The loopback's figure is a difference of two server figures; this is how
# much the server's own figure moved between spans with nothing looping.
row "server idle CPU, spread over spans (%)" "$(summary spread "${idles[@]}")" "$(summary spread "${idles[@]}")"
[ "$E2E_FAILURES" -eq 0 ] || { log "$E2E_FAILURES problem(s) during the runs; see above"; exit 1; }
