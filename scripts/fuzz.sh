#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS: runs every fuzz target of BUILD_DIR for SECONDS each, on the seed corpus
# that the target writes itself (each target accepts --write-seeds DIR).
set -euo pipefail
build=$1
seconds=${2:-20}
for target in "$build"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  "$target" --write-seeds "$corpus" >/dev/null
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | \
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true
  # libFuzzer exits non-zero on a finding; the pipe above hides it, so check for a crash file.
  if ls crash-* leak-* timeout-* oom-* >/dev/null 2>&1; then
    echo "fuzz: $name found a failing input"; exit 1
  fi
done
