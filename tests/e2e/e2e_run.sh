#!/usr/bin/env bash
# Runs one end-to-end test script, and once more if the first run failed.
# A run is void outright when the sound server itself lost graph cycles (exit
# code 75, see finish in e2e_lib.sh). Any other failure also gets a second
# run: these tests play and record in real time, and a machine shared with
# others now and then stalls long enough for a server or Wine's audio layer
# to lose a few ms mid-run (a 20-30 ms jump, or one damaged block, in a few
# of some 150 cases of a full run on the CI machines, none of which failed
# twice). A second failure stands; a hang (exit 124) gets no second run.
#   e2e_run.sh SCRIPT ARGS...
child=
trap '[ -n "$child" ] && kill -TERM "$child" 2>/dev/null; wait "$child"; exit 124' TERM
run() {
  bash "$@" &
  child=$!
  wait "$child"
}
E2E_ATTEMPT=1 run "$@"
rc=$?
if [ $rc -eq 75 ]; then
  echo "=== the first run was void (the server lost cycles); once more" >&2
  E2E_ATTEMPT=2 run "$@"
  rc=$?
elif [ $rc -ne 0 ] && [ $rc -ne 124 ]; then
  echo "=== the first run failed ($rc); once more" >&2
  E2E_ATTEMPT=2 run "$@"
  rc=$?
fi
exit $rc
