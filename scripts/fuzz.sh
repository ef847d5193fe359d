#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS [NAME...]: runs every fuzz target of BUILD_DIR (or the named ones, e.g.
# gfx_png) for SECONDS each. A run starts from the committed corpus tests/fuzz/corpus/NAME, which
# the long runs left behind, and from the seeds the target writes itself (--write-seeds DIR); what it
# finds new stays in BUILD_DIR/corpus/fuzz_NAME, so a later run in the same folder goes on from
# there. A finding fails the run; its input is kept in BUILD_DIR/findings/.
#
# fuzz.sh --minimise BUILD_DIR [NAME...]: merges BUILD_DIR/corpus/fuzz_NAME into the committed
# corpus, keeping only the inputs that reach new edges (run it after a long run, then commit).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
minimise=0
if [ "${1:-}" = "--minimise" ]; then minimise=1; shift; fi
build=$1
shift
seconds=20
if [ "$minimise" -eq 0 ]; then seconds=${1:-20}; shift || true; fi

targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do targets+=("$build/fuzz_$name"); done
else
  for target in "$build"/fuzz_*; do [ -x "$target" ] && [ -f "$target" ] && targets+=("$target"); done
fi

mkdir -p "$build/findings"
for target in "${targets[@]}"; do
  [ -x "$target" ] || { echo "fuzz: $target is not built"; exit 1; }
  name=$(basename "$target")
  committed="$here/tests/fuzz/corpus/${name#fuzz_}"
  corpus="$build/corpus/$name"
  mkdir -p "$corpus" "$committed"
  if [ "$minimise" -eq 1 ]; then
    merged=$(mktemp -d)
    # Edges only, not their hit counts: the committed folder stays at tens of KB.
    "$target" -merge=1 -use_counters=0 -rss_limit_mb=2048 "$merged" "$committed" "$corpus" >"$build/$name.merge.log" 2>&1 ||
      { echo "fuzz: merging $name failed (see $build/$name.merge.log)"; rm -rf "$merged"; exit 1; }
    rm -f "$committed"/*
    cp "$merged"/* "$committed"/
    rm -rf "$merged"
    echo "fuzz: $name corpus $(ls "$committed" | wc -l) files, $(cat "$committed"/* | wc -c) bytes"
    continue
  fi
  "$target" --write-seeds "$corpus" >/dev/null || { echo "fuzz: $name could not write its seeds"; exit 1; }
  echo "fuzz: $name for ${seconds}s"
  # New inputs go to the first folder; the committed corpus is only read.
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$corpus" "$committed" >"$build/$name.log" 2>&1
  status=$?
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$name.log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name found a failing input (status $status):"
    grep -E 'ERROR|SUMMARY|Test unit written' "$build/$name.log" | head -5
    exit 1
  fi
done
