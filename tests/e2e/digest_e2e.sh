#!/usr/bin/env bash
# Every frame of the whole show at 10 fps against the stored reference, with the default routines,
# the scalar twins, and SSE2 where the default is AVX2. On a mismatch the renderer names the first
# differing frame and its beat and writes that frame as PNG to build/digest-diff-LEVEL/.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/quillet-render"
reference="$here/show-10fps.digest"
[ -x "$tool" ] || { echo "digest_e2e: $tool missing"; exit 1; }
[ -s "$reference" ] || { echo "digest_e2e: $reference missing"; exit 1; }
cd "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
check() {  # check LEVEL (empty: the default routines)
  local name=${1:-default} start=$SECONDS
  rm -rf "$build/digest-diff-$name"
  QUILLET_SIMD=$1 "$tool" --digest --fps 10 --check "$reference" --out "$build/digest-diff-$name" \
    >"$work/out.txt" 2>"$work/err.txt"
  local result=$?
  level=$(sed -n 's/^quillet-render: SIMD routines at the \(.*\) level$/\1/p' "$work/err.txt")
  if [ $result -eq 0 ]; then
    echo "digest_e2e: $name routines ($level) match the reference in $((SECONDS - start)) s"
  else
    echo "digest_e2e: $name routines ($level) differ from the reference (status $result):"
    { grep '^quillet-render:' "$work/out.txt"; grep -v ' frames ' "$work/err.txt" | tail -5; } | sed 's/^/  /'
    echo "  (a change meant to alter the picture updates the reference with scripts/update-digest.sh)"
    status=1
  fi
}
check ""
default_level=$level
check scalar
[ "$default_level" = avx2 ] && check sse2
exit $status
