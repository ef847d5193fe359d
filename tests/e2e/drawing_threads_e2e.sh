#!/usr/bin/env bash
# Drawing threads: the whole show at 10 frames per second hashes the same with 1, 2, 3 and 8
# drawing threads (8 on a small machine shakes out races), and equals the stored digest when there
# is one; a run that draws every call completely before recording the next
# (QUILLET_THREADS_CHECK=1) gives the same frames over a few beats of every section, so a missing
# flush fails here rather than in a frame; bad thread counts are refused.
set -uo pipefail
build=$(cd "$1" && pwd)
tool="$build/quillet-render"
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$tool" ] || { echo "drawing_threads_e2e: $tool missing"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "drawing_threads_e2e: $*"; exit 1; }
cd "$build"

reference="$here/show-10fps.digest"
if [ ! -f "$reference" ]; then
  QUILLET_THREADS=1 "$tool" --digest --fps 10 >"$work/one.digest" 2>/dev/null || fail "one thread: --digest failed"
  reference="$work/one.digest"
fi
for n in 1 2 3 8; do
  QUILLET_THREADS=$n "$tool" --digest --fps 10 --check "$reference" --out "$work/diff-$n" \
    >"$work/check-$n.txt" 2>/dev/null || fail "$n threads: $(tail -1 "$work/check-$n.txt")"
done

# A few beats of every section, flushed after every call and as usual.
for from in 6 40 100 165 214 300 330 416; do
  to=$((from + 1))
  QUILLET_THREADS=2 "$tool" --digest --fps 10 --from $from --to $to >"$work/normal.txt" 2>/dev/null ||
    fail "beats $from-$to: --digest failed"
  QUILLET_THREADS=2 QUILLET_THREADS_CHECK=1 "$tool" --digest --fps 10 --from $from --to $to \
    >"$work/flushed.txt" 2>/dev/null || fail "beats $from-$to: --digest with QUILLET_THREADS_CHECK failed"
  cmp -s "$work/normal.txt" "$work/flushed.txt" ||
    fail "beats $from-$to differ when every call is flushed: $(diff "$work/normal.txt" "$work/flushed.txt" | head -2)"
done

for bad in 0 65 two -3 "2 "; do
  QUILLET_THREADS="$bad" "$tool" --digest --fps 10 --to 1 >"$work/bad.txt" 2>&1
  [ $? -eq 2 ] || fail "QUILLET_THREADS=\"$bad\" was not refused"
  grep -q "^quillet-render: QUILLET_THREADS must be a whole number from 1 to 64, not '$bad'" "$work/bad.txt" ||
    fail "QUILLET_THREADS=\"$bad\": $(head -1 "$work/bad.txt")"
done
exit 0
