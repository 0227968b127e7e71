#!/usr/bin/env bash
# The two Linux sound layers on one PipeWire: the native one is chosen, both
# list the same devices in the same order with the same names (so -in and
# -out mean the same on either), and forcing a layer whose server is not
# there is one clear line and exit code 1.
#   layers_test.sh MORVANE MEASURE
source "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

start_server
version=$("$MORVANE" --version </dev/null)
log "--version: $version"
case $version in *"(sound: PipeWire)"*) ;; *) fail "--version does not name the native layer: $version" ;; esac
native=$(MORVANE_AUDIO=pipewire "$MORVANE" --list-devices </dev/null 2>>"$WORK/morvane.log") || fail "--list-devices failed natively"
pulse=$(MORVANE_AUDIO=pulse "$MORVANE" --list-devices </dev/null 2>>"$WORK/morvane.log") || fail "--list-devices failed through PulseAudio"
log "devices: $(printf '%s' "$native" | tr '\t\n' ' |')"
[ -n "$native" ] && [ "$native" = "$pulse" ] || fail "the layers list different devices: native '$native', PulseAudio '$pulse'"
printf '%s\n' "$native" | grep -q $'^in\t[0-9]*\tMonitor of Radio$' || fail "no 'Monitor of Radio' in the native list"

# No server at all behind either name.
for layer in pipewire pulse; do
  rc=0
  out=$(XDG_RUNTIME_DIR=$WORK/none PULSE_SERVER=unix:$WORK/none/socket MORVANE_AUDIO=$layer \
    timeout 20 "$MORVANE" --list-devices 2>&1 </dev/null) || rc=$?
  log "MORVANE_AUDIO=$layer without a server: rc=$rc: $out"
  [ "$rc" -eq 1 ] || fail "MORVANE_AUDIO=$layer without a server gave exit code $rc, not 1"
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "MORVANE_AUDIO=$layer without a server said more than one line"
done
rc=0
out=$(MORVANE_AUDIO=alsa "$MORVANE" --version 2>&1 </dev/null) || rc=$?
[ "$rc" -eq 1 ] || fail "MORVANE_AUDIO=alsa gave exit code $rc, not 1: $out"
finish
