#!/usr/bin/env bash
# Runs one end-to-end test script, up to three times until a run passes.
# A run is void outright when the sound server itself lost graph cycles (exit
# code 75, see finish in e2e_lib.sh). Any other failure also gets another
# run: these tests play and record in real time, and a machine shared with
# others now and then stalls long enough for a server or Wine's audio layer
# to lose a few ms mid-run (a 20-30 ms jump, or one damaged block, in a few
# of some 150 cases of a full run on the CI machines), and such stalls come
# in spells: in one CI run two cases each failed twice in a row. A third
# failure stands; a hang (exit 124) is not run again.
#   e2e_run.sh SCRIPT ARGS...
child=
trap '[ -n "$child" ] && kill -TERM "$child" 2>/dev/null; wait "$child"; exit 124' TERM
run() {
  bash "$@" &
  child=$!
  wait "$child"
}
rc=1
for attempt in 1 2 3; do
  E2E_ATTEMPT=$attempt run "$@"
  rc=$?
  if [ $rc -eq 0 ] || [ $rc -eq 124 ]; then break; fi
  if [ $rc -eq 75 ]; then
    echo "=== run $attempt was void (the server lost cycles)" >&2
  else
    echo "=== run $attempt failed ($rc)" >&2
  fi
done
exit $rc
