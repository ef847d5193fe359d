#!/usr/bin/env bash
# A damaged data folder: for each of the 49 files of the data set, four copies of the folder in which
# that one file is missing, empty, cut to half, or has its first 4 KB overwritten with random bytes.
# The sanitizer build's offline renderer is run on each for one frame, two at a time. Every run must
# end with status 1, name the damaged file in one line, and leave no sanitizer or leak report: never a
# crash, a hang, or status 0 with a broken picture. The one exception is a track whose first 4 KB are
# noise: an MP3 decoder resynchronises on the frames after it, so that track may still play.
#
# Needs the sanitizer build next to the release build (QUILLET_SANITIZE_BUILD overrides); without it
# the test is skipped, unless QUILLET_E2E_ALL=1 (the test command) makes that a failure.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sibling_build.sh"
sibling_build damaged_data_e2e QUILLET_SANITIZE_BUILD build-sanitize quillet-render
tool="$sibling/quillet-render"
[ -d "$build/data" ] || { echo "damaged_data_e2e: $build/data missing"; exit 1; }
track=Quillet_Demo_prev_105bpm.mp3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
files=$(cd "$build/data" && ls)
count=$(echo "$files" | wc -l)
[ "$count" -eq 49 ] || { echo "damaged_data_e2e: the data set has $count files, not 49"; exit 1; }

# case FILE DAMAGE: one run; prints "ok ..." or "FAIL ..." with the reason.
one_case() {
  local file=$1 damage=$2 dir="$scratch/$1.$2"
  mkdir -p "$dir/data"
  for f in $files; do [ "$f" = "$file" ] || ln -s "$build/data/$f" "$dir/data/$f"; done
  local size
  size=$(stat -c %s "$build/data/$file")
  case $damage in
    missing) ;;
    empty) : >"$dir/data/$file" ;;
    half) head -c $((size / 2)) "$build/data/$file" >"$dir/data/$file" ;;
    noise)
      cp "$build/data/$file" "$dir/data/$file"
      local n=$((size < 4096 ? size : 4096))
      # Seeded, so a failure can be reproduced.
      perl -e 'srand($ARGV[0]); print pack("C*", map { int(rand(256)) } 1..$ARGV[1])' "${#file}$size" "$n" |
        dd of="$dir/data/$file" conv=notrunc status=none ;;
  esac
  (cd "$dir" && env ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
     LSAN_OPTIONS="suppressions=$here/../lsan.supp" UBSAN_OPTIONS=print_stacktrace=1 \
     timeout 300 "$tool" --frames 0 --out "$dir/out" >"$dir/log" 2>&1)
  local status=$?
  local why=""
  if grep -qE 'Sanitizer|runtime error:|LeakSanitizer' "$dir/log"; then why="sanitizer report"
  elif [ "$status" -eq 124 ]; then why="hang (timeout)"
  elif [ "$status" -eq 0 ] && [ "$file" = "$track" ] && [ "$damage" = noise ]; then why=""
  elif [ "$status" -ne 1 ]; then why="status $status"
  elif ! grep -qF "$file" "$dir/log"; then why="no line names the file"
  fi
  if [ -n "$why" ]; then
    echo "FAIL $file $damage: $why"
    sed 's/^/    /' "$dir/log" | head -20
  else
    echo "ok $file $damage status $status"
    rm -rf "$dir"
  fi
}
export -f one_case
export scratch build files here tool track

start=$(date +%s)
results=$(for f in $files; do for d in missing empty half noise; do echo "$f $d"; done; done |
  xargs -P 2 -n 2 bash -c 'one_case "$0" "$1"')
failures=$(echo "$results" | grep -c '^FAIL' || true)
echo "$results" | grep -v '^ok' || true
echo "$results" | grep ' status 0$' | sed 's/^ok \(.*\) status 0$/damaged_data_e2e: still plays: \1/' || true
echo "damaged_data_e2e: $((count * 4)) runs, $failures failed, $(( $(date +%s) - start )) s"
[ "$failures" -eq 0 ]
