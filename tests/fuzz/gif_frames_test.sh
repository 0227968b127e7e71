#!/usr/bin/env bash
# morvane-gif-frames on the About picture, a still picture, a GIF without a
# graphic block and a missing file.
#   gif_frames_test.sh PROGRAM ABOUT_GIF
set -uo pipefail
program=$1
about=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# Eight frames of 59 x 76 at the origin, disposal 2, delays 10 and 100. Each
# is the 781-byte prefix, its 8-byte control block, its image and a trailer;
# together the images and the prefix, looping block and trailer of the file
# add up to its 8622 bytes.
expected="0 0 0 59 76 10 2 1756
1 0 0 59 76 10 2 1756
2 0 0 59 76 10 2 1780
3 0 0 59 76 100 2 1755
4 0 0 59 76 10 2 1748
5 0 0 59 76 10 2 1743
6 0 0 59 76 10 2 1778
7 0 0 59 76 100 2 1761"
out=$("$program" "$about" 2>"$work/err"); rc=$?
[ "$rc" -eq 0 ] || fail "about.gif: exit $rc: $(cat "$work/err")"
[ "$out" = "$expected" ] || fail "about.gif: got
$out"

out=$("$program" "$here/corpus/still.gif" 2>"$work/err"); rc=$?
[ "$rc" -eq 0 ] && [ "$out" = "still" ] || fail "still.gif: exit $rc, got '$out'"

# A header, screen descriptor and at once the trailer.
printf 'GIF89a\x01\x00\x01\x00\x00\x00\x00\x3b' >"$work/empty.gif"
out=$("$program" "$work/empty.gif" 2>"$work/err"); rc=$?
[ "$rc" -eq 1 ] && [ -z "$out" ] && [ -s "$work/err" ] || fail "no graphic block: exit $rc, got '$out'"

out=$("$program" "$work/no-such-file.gif" 2>"$work/err"); rc=$?
[ "$rc" -eq 1 ] && [ -z "$out" ] && grep -q "cannot read" "$work/err" || fail "missing file: exit $rc, got '$out'"

[ "$failed" -eq 0 ] && echo "morvane-gif-frames: all cases pass"
exit "$failed"
