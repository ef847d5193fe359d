#!/usr/bin/env bash
# The MP3 decoder and the FFT built from source by scripts/exact-libs.sh: the programs link them
# rather than the system's, a second run rebuilds nothing, and with no source to be had the script
# and the configure step stop with one line that says what to do.
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
script="$root/scripts/exact-libs.sh"
deps=$(sed -n 's/^QUILLET_DEPS_DIR:PATH=//p' "$build/CMakeCache.txt")
status=0
fail() { echo "exact_libs_e2e: $*"; status=1; }

if ldd "$build/quillet-render" | grep -E 'libmpg123|libkissfft'; then fail "quillet-render links a system library above"; fi

libs=("$deps/mpg123/lib/libmpg123.a" "$deps/kissfft/lib/libkissfft-float.a")
before=$(stat -c %Y "${libs[@]}" 2>/dev/null)
out=$("$script" "$deps" 2>&1) || fail "a second run failed: $out"
[ -z "$out" ] && [ "$(stat -c %Y "${libs[@]}" 2>/dev/null)" = "$before" ] || fail "a second run rebuilt a library: $out"

# No source unpacked and apt serving none (no source entry, or no network).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
printf '#!/bin/sh\nexit 100\n' >"$work/bin/apt-cache"
cp "$work/bin/apt-cache" "$work/bin/apt-get"
chmod +x "$work/bin/apt-cache" "$work/bin/apt-get"
PATH="$work/bin:$PATH" "$script" "$work/deps" >"$work/out" 2>"$work/err"
result=$?
if [ $result -eq 0 ] || [ -s "$work/out" ] || [ "$(wc -l <"$work/err")" != 1 ] || ! grep -q 'scripts/setup.sh' "$work/err"; then
  fail "with no source: status $result, said: $(cat "$work/out" "$work/err")"
fi
[ -e "$work/deps/mpg123" ] && fail "with no source a library folder was left behind"
PATH="$work/bin:$PATH" cmake -S "$root" -B "$work/build" -DQUILLET_DEPS_DIR="$work/deps" >"$work/out" 2>&1
result=$?
if [ $result -eq 0 ] || ! grep -q '^  exact-libs: the source of mpg123 is not in' "$work/out"; then
  fail "configuring with no source: status $result, said: $(tail -5 "$work/out")"
fi

[ $status -eq 0 ] && echo "exact_libs_e2e: the programs link the decoder and FFT built from source, built once; a missing source is one line"
exit $status
