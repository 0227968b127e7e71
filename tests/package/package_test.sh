#!/usr/bin/env bash
# The Windows release package as a user gets it: made by cpack, it holds the
# program (stripped), the text on running it, the licence and the runtime
# libraries' notices, all under one folder; the program in it runs.
#   package_test.sh CPACK_CONFIG PACKAGE_NAME WINE_RUN VERSION
set -euo pipefail
config=$1 name=$2 run=$3 version=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

cpack --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
zip=$work/out/$name.zip
[ -f "$zip" ] || { ls "$work/out" >&2; fail "no $name.zip"; exit 1; }

(cd "$work" && cmake -E tar xf "$zip")
expected="$name/LICENSE.txt $name/README.txt $name/morvane.exe $name/notices/gcc-runtime.txt $name/notices/mingw-w64-runtime.txt"
got=$(cd "$work" && find "$name" -type f | sort | tr '\n' ' ' | sed 's/ $//')
[ "$got" = "$expected" ] || fail "the package holds: $got"

exe=$work/$name/morvane.exe
# Stripped: no debug sections left.
if x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug_'; then fail "morvane.exe is not stripped"; fi
grep -q "MIT License" "$work/$name/LICENSE.txt" || fail "LICENSE.txt is not the licence"
grep -q $'\r$' "$work/$name/README.txt" || fail "README.txt has no Windows line ends"
grep -q "Morvane $version for Windows" "$work/$name/README.txt" || fail "README.txt does not name the version"
grep -qi "runtime library exception" "$work/$name/notices/gcc-runtime.txt" || fail "no runtime exception in the GCC notice"

out=$("$run" "$exe" --version </dev/null) || fail "the packaged program did not run"
[ "$out" = "morvane $version" ] || fail "the packaged program answered: $out"

[ $failures -eq 0 ] && echo "package: $(du -k "$zip" | cut -f1) KiB, all checks passed"
exit $((failures > 0))
