#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS: runs every fuzz target of BUILD_DIR for SECONDS each, on the seed corpus
# that the target writes itself (each target accepts --write-seeds DIR). A finding fails the run; its
# input is kept in BUILD_DIR/findings/.
set -uo pipefail
build=$1
seconds=${2:-20}
mkdir -p "$build/findings"
for target in "$build"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  "$target" --write-seeds "$corpus" >/dev/null || { echo "fuzz: $name could not write its seeds"; exit 1; }
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$corpus" >"$build/$name.log" 2>&1
  status=$?
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$name.log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name found a failing input (status $status):"
    grep -E 'ERROR|SUMMARY|Test unit written' "$build/$name.log" | head -5
    exit 1
  fi
done
