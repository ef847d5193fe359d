#!/usr/bin/env bash
# End-to-end tests of the built programs: run every tests/e2e/*_e2e.sh with the build folder.
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
passed=0; failed=0
for t in "$here"/*_e2e.sh; do
  [ -e "$t" ] || continue
  if bash "$t" "$build"; then passed=$((passed + 1)); echo "e2e: $(basename "$t") ok"
  else failed=$((failed + 1)); echo "e2e: $(basename "$t") FAILED"; fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
