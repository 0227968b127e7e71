#!/usr/bin/env bash
# A private, headless PipeWire (with WirePlumber and its PulseAudio protocol
# server) for tests and demonstrations, used like scripts/pulse-server.sh.
#
#   scripts/pipewire-server.sh start DIR [RATE]   start it in DIR, print the environment to use it
#   scripts/pipewire-server.sh stop DIR           stop it and wait until it is gone
#
# RATE is the graph's clock rate: 44100 (the default) so that streams of the
# test signal's rate pass without resampling, or 48000, the desktop default.
# The devices run at 44.1 kHz either way (USB cards often run at another rate
# than the graph). MORVANE_PW_QUANTUM, if set, forces the graph's cycle to
# that many frames (a power of two up to 8192); by default the server's
# default (1024) or the clients' latencies choose it, as on a desktop.
#
# Devices as on the other server: a 4-channel null sink "bus" with two
# stereo remap sinks on it, "radio" (aux0, aux1) and "tv" (aux2, aux3), and a
# plain stereo null sink "spare". $DIR/run/pulse/pid holds the pid of the
# process that serves clients (pipewire-pulse).
set -euo pipefail

usage() { echo "usage: $0 start DIR [44100|48000] | stop DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
cmd=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
rate=${3:-44100}
quantum=${MORVANE_PW_QUANTUM:-}
run=$dir/run
socket=$run/pulse/native
piddir=$dir/pids
# Started in this order, stopped in the reverse one.
daemons=(dbus pipewire wireplumber pipewire-pulse)

for tool in dbus-daemon pipewire wireplumber pipewire-pulse pactl; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

alive() {
  local f=$piddir/$1.pid pid
  [ -s "$f" ] || return 1
  pid=$(cat "$f")
  kill -0 "$pid" 2>/dev/null || return 1
  echo "$pid"
}

environment() {
  export XDG_RUNTIME_DIR=$run HOME=$dir/home XDG_CONFIG_HOME=$dir/config \
    XDG_STATE_HOME=$dir/state XDG_DATA_HOME=$dir/data \
    PULSE_SERVER=unix:$socket PULSE_CLIENTCONFIG=$dir/client.conf \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$run/bus
  # Nothing of the caller's own sound setup may reach the private one.
  unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PULSE_SINK PULSE_SOURCE DISPLAY WAYLAND_DISPLAY
}

ctl() { LC_ALL=C pactl "$@"; }

# launch NAME COMMAND...: in the background, its pid kept, its output logged.
launch() {
  local name=$1
  shift
  setsid "$@" >>"$dir/$name.log" 2>&1 </dev/null &
  echo $! >"$piddir/$name.pid"
}

# wait_for WHAT SECONDS TEST...: until TEST succeeds.
wait_for() {
  local what=$1 limit=$2
  shift 2
  for _ in $(seq 1 $((limit * 20))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "$what did not come up in $dir; see the logs there" >&2
  stop
  exit 1
}

start() {
  if alive pipewire-pulse >/dev/null || alive pipewire >/dev/null; then
    echo "a server is already running in $dir" >&2
    exit 1
  fi
  case $rate in 44100|48000) ;; *) usage ;; esac
  case $quantum in ''|32|64|128|256|512|1024|2048|4096|8192) ;;
    *) echo "MORVANE_PW_QUANTUM must be a power of two from 32 to 8192" >&2; exit 2 ;;
  esac
  rm -rf "$run" "$piddir"
  mkdir -p "$run/pulse" "$dir/home" "$dir/config/pipewire/pipewire.conf.d" "$dir/state" "$dir/data" "$piddir"
  chmod 700 "$run"
  environment
  # The graph's rate; streams of another rate are resampled into it.
  cat >"$dir/config/pipewire/pipewire.conf.d/morvane-rate.conf" <<EOF
context.properties = {
    default.clock.rate = $rate
    default.clock.allowed-rates = [ $rate ]
}
EOF
  printf 'autospawn = no\n' >"$dir/client.conf"

  # WirePlumber needs a session bus.
  launch dbus dbus-daemon --session --nofork --nopidfile --address="unix:path=$run/bus"
  wait_for "the session bus" 10 test -S "$run/bus"
  launch pipewire pipewire
  wait_for "pipewire" 10 test -S "$run/pipewire-0"
  launch wireplumber wireplumber
  launch pipewire-pulse pipewire-pulse
  wait_for "pipewire-pulse" 10 ctl info
  # Its own pid where the other server keeps it, for tests that kill it.
  cp "$piddir/pipewire-pulse.pid" "$run/pulse/pid"

  local m=0
  load() { ctl load-module "$@" >/dev/null || m=1; }
  load module-null-sink sink_name=bus rate=44100 channels=4 channel_map=aux0,aux1,aux2,aux3 \
    sink_properties=device.description=Bus
  load module-remap-sink sink_name=radio master=bus channels=2 master_channel_map=aux0,aux1 \
    channel_map=front-left,front-right remix=no sink_properties=device.description=Radio
  load module-remap-sink sink_name=tv master=bus channels=2 master_channel_map=aux2,aux3 \
    channel_map=front-left,front-right remix=no sink_properties=device.description=TV
  load module-null-sink sink_name=spare rate=44100 channels=2 sink_properties=device.description=Spare
  if [ $m -ne 0 ]; then
    echo "the sound server in $dir lacks a device; see the logs there" >&2
    stop
    exit 1
  fi
  # Until the first sink exists the default is a dummy; set ours now, and
  # wait until the session manager has taken them.
  has_devices() {
    ctl list short sources | grep -q 'radio\.monitor' && ctl list short sinks | grep -qw tv
  }
  wait_for "the devices" 10 has_devices
  ctl set-default-sink tv
  ctl set-default-source radio.monitor
  if [ -n "$quantum" ]; then
    pw-metadata -n settings 0 clock.force-quantum "$quantum" >/dev/null
  fi
  echo "export PULSE_SERVER=unix:$socket XDG_RUNTIME_DIR=$run PULSE_CLIENTCONFIG=$dir/client.conf"
}

stop() {
  local i name pid
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    name=${daemons[$i]}
    pid=$(alive "$name") || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 60); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  for name in "${daemons[@]}"; do
    pid=$(alive "$name") || { rm -f "$piddir/$name.pid"; continue; }
    for _ in $(seq 1 40); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "the $name process $pid in $dir does not stop" >&2
      exit 1
    fi
    rm -f "$piddir/$name.pid"
  done
  rm -f "$run/pulse/pid"
}

case $cmd in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
