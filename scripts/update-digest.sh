#!/usr/bin/env bash
# Regenerates tests/e2e/show-10fps.digest, the hash of every frame of the whole show at 10 frames per
# second that the test command checks. Only for a change that is meant to alter the picture: commit
# the new reference with that change and say in the message why the picture changed.
# The scalar routines make the reference; the widest routines must agree before it is written.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
reference="$here/tests/e2e/show-10fps.digest"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$here/build"
echo "update-digest: rendering the whole show with the scalar routines"
QUILLET_SIMD=scalar ./quillet-render --digest --fps 10 >"$work/scalar.digest"
echo "update-digest: checking it with the widest routines this processor has"
if ! ./quillet-render --digest --fps 10 --check "$work/scalar.digest" --out "$here/build/digest-diff-update" >/dev/null; then
  echo "update-digest: the SIMD routines disagree with their scalar twins; fix that, the reference is unchanged"
  exit 1
fi
if cmp -s "$work/scalar.digest" "$reference"; then
  echo "update-digest: the reference is unchanged ($(tail -1 "$reference"))"
  exit 0
fi
cp "$work/scalar.digest" "$reference"
echo "update-digest: wrote $reference ($(tail -1 "$reference")); commit it with the change, saying why the picture changed"
