#!/usr/bin/env bash
# The Windows program's command-line answers, as a Linux shell sees them
# under Wine: --version and --help on standard output, and --list-devices
# with the same "in<TAB>N<TAB>name" / "out<TAB>N<TAB>name" lines as the
# Linux program, against a private sound server, with no carriage returns.
#
#   command_line_test.sh WINE_RUN MORVANE_EXE VERSION PULSE_SERVER_SCRIPT
set -euo pipefail
run=$1 exe=$2 version=$3 server_script=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-cmdline.XXXXXX")
trap 'bash "$server_script" stop "$work/server" >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

"$run" "$exe" --version >"$work/version" </dev/null
printf 'morvane %s\n' "$version" | cmp -s - "$work/version" ||
  fail "--version printed: $(od -c "$work/version" | head -2)"

"$run" "$exe" --help >"$work/help" </dev/null
head -n 1 "$work/help" | grep -qx 'Usage: morvane \[-in N\] \[-out N\] \[-delay S.T\] \[-play\] \[-smooth\]' ||
  fail "--help began: $(head -n 1 "$work/help" | od -c | head -2)"
grep -q -- '--list-devices' "$work/help" || fail "--help does not name --list-devices"

eval "$(bash "$server_script" start "$work/server")"
# The first run in a prefix may see the devices in another order; the
# lines' form is the same either way.
"$run" "$exe" --list-devices >/dev/null </dev/null
"$run" "$exe" --list-devices >"$work/devices" </dev/null
cat "$work/devices"
if grep -q $'\r' "$work/devices"; then fail "carriage returns in the listing"; fi
grep -qvP '^(in|out)\t[0-9]+\t.+$' "$work/devices" && fail "a line of another form"
grep -qP '^in\t[0-9]+\tMonitor of Radio$' "$work/devices" || fail "no capture device 'Monitor of Radio'"
grep -qP '^out\t[0-9]+\tTV$' "$work/devices" || fail "no playback device 'TV'"
# Numbered from 0 in order, inputs first.
for kind in in out; do
  numbers=$(awk -F'\t' -v k=$kind '$1 == k { print $2 }' "$work/devices" | tr '\n' ' ')
  expected=$(seq 0 $(($(grep -c "^$kind"$'\t' "$work/devices") - 1)) | tr '\n' ' ')
  [ "$numbers" = "$expected" ] || fail "$kind devices numbered '$numbers'"
done
[ "$(awk -F'\t' '{ print $1 }' "$work/devices" | uniq | tr '\n' ' ')" = "in out " ] || fail "inputs not first"

[ $failures -eq 0 ] && echo "command line: all checks passed"
exit $((failures > 0))
