#!/usr/bin/env bash
# A private, headless sound server for tests and demonstrations.
#
#   scripts/pulse-server.sh start DIR   start it in DIR, print the environment to use it
#   scripts/pulse-server.sh stop DIR    stop it and wait until it is gone
#
# Devices: a 4-channel null sink "bus" with two stereo remap sinks on it,
# "radio" (aux0, aux1) and "tv" (aux2, aux3), so that one recording of
# bus.monitor holds both sides sample-aligned; and a plain stereo null sink
# "spare", so there are at least two playback and several capture devices.
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
cmd=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
run=$dir/run
socket=$run/pulse/native
pidfile=$run/pulse/pid

server_pid() {
  [ -s "$pidfile" ] || return 1
  local pid
  pid=$(cat "$pidfile")
  kill -0 "$pid" 2>/dev/null || return 1
  echo "$pid"
}

start() {
  if pid=$(server_pid); then
    echo "a server is already running in $dir (pid $pid)" >&2
    exit 1
  fi
  mkdir -p "$run/pulse" "$dir/home"
  chmod 700 "$run"
  rm -f "$socket" "$pidfile"
  cat >"$dir/server.pa" <<EOF
.fail
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=bus rate=44100 channels=4 channel_map=aux0,aux1,aux2,aux3 sink_properties=device.description=Bus
load-module module-remap-sink sink_name=radio master=bus channels=2 master_channel_map=aux0,aux1 channel_map=front-left,front-right remix=no sink_properties=device.description=Radio
load-module module-remap-sink sink_name=tv master=bus channels=2 master_channel_map=aux2,aux3 channel_map=front-left,front-right remix=no sink_properties=device.description=TV
# A null sink renders up to 2 s ahead unless a client asks for less, and a
# monitor then hands its data out in bursts for the first seconds of every
# low-latency capture. A silent loopback keeps "bus" at a low latency.
load-module module-null-source source_name=silence rate=44100 channels=4 channel_map=aux0,aux1,aux2,aux3 description=Silence
load-module module-loopback source=silence sink=bus latency_msec=20 source_dont_move=true sink_dont_move=true
load-module module-null-sink sink_name=spare rate=44100 channels=2 sink_properties=device.description=Spare
set-default-sink tv
set-default-source radio.monitor
EOF
  # Clients of this server must never start one of their own.
  printf 'autospawn = no\n' >"$dir/client.conf"
  XDG_RUNTIME_DIR=$run HOME=$dir/home PULSE_CLIENTCONFIG=$dir/client.conf \
    pulseaudio -n -F "$dir/server.pa" --daemonize=yes --exit-idle-time=-1 --disallow-exit \
      --realtime=no --high-priority=no --use-pid-file=yes --log-target="file:$dir/pulse.log"
  # The server answers within tens of milliseconds; give it up to 10 s.
  local answered=no
  for _ in $(seq 1 200); do
    if ctl info >/dev/null 2>&1; then answered=yes; break; fi
    sleep 0.05
  done
  if [ $answered = no ]; then
    echo "the sound server in $dir did not answer; see $dir/pulse.log" >&2
    exit 1
  fi
  if grep -q "Failed to load module" "$dir/pulse.log"; then
    echo "the sound server in $dir lacks a device; see $dir/pulse.log" >&2
    stop
    exit 1
  fi
  # Until the sink's first 2 s render has played out, monitors lag: wait.
  for _ in $(seq 1 100); do
    lat=$(ctl list sinks | awk '$1 == "Name:" { n = $2 } n == "bus" && $1 == "Latency:" { print $2; exit }')
    [ -n "$lat" ] && [ "$lat" -lt 50000 ] && break
    sleep 0.05
  done
  echo "export PULSE_SERVER=unix:$socket XDG_RUNTIME_DIR=$run PULSE_CLIENTCONFIG=$dir/client.conf"
}

ctl() {
  PULSE_SERVER=unix:$socket PULSE_CLIENTCONFIG=$dir/client.conf HOME=$dir/home LC_ALL=C pactl "$@"
}

stop() {
  local pid
  if ! pid=$(server_pid); then
    rm -f "$pidfile"
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  # It takes one to two seconds to go; a new server in DIR fails before then.
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 40); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
    sleep 0.05
  done
  echo "the sound server $pid in $dir does not stop" >&2
  exit 1
}

case $cmd in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
