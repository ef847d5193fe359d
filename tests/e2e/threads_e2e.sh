#!/usr/bin/env bash
# Threads under ThreadSanitizer: the ThreadSanitizer build of the show runs headless (SDL's dummy
# drivers) through the whole loading phase, where the loading thread animates while the main thread
# initialises every part, then plays a 3-second track on 2 drawing threads to its end and holds the
# last frame; the offline renderer draws a beat of every section at 10 frames a second on 4 drawing
# threads (every flush point of the show), the first one written as PNG files on its output thread.
# All must end with status 0 and no report. tests/tsan.supp is for what lies outside our code only.
#
# Needs the ThreadSanitizer build next to the release build (QUILLET_TSAN_BUILD overrides); without
# it the test is skipped, unless QUILLET_E2E_ALL=1 (the test command) makes that a failure.
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sibling_build.sh"
sibling_build threads_e2e QUILLET_TSAN_BUILD build-tsan quillet quillet-render
tsan=$sibling
command -v ffmpeg >/dev/null || { echo "threads_e2e: ffmpeg missing"; exit 1; }
track=Quillet_Demo_prev_105bpm.mp3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TSAN_OPTIONS="exitcode=66 halt_on_error=0 second_deadlock_stack=1 suppressions=$here/../tsan.supp"
fail() { echo "threads_e2e: $*"; grep -A12 'WARNING: ThreadSanitizer' "$scratch/log" | head -60 || tail -20 "$scratch/log"; exit 1; }

mkdir -p "$scratch/show/data"
for f in "$build"/data/*; do [ "$(basename "$f")" = "$track" ] || ln -s "$f" "$scratch/show/data/"; done
ffmpeg -loglevel error -f lavfi -i "sine=frequency=330:duration=3:sample_rate=44100" -ac 2 \
  -c:a libmp3lame -b:a 96k "$scratch/show/data/$track" || { echo "threads_e2e: ffmpeg failed"; exit 1; }

start=$(date +%s)
(cd "$scratch/show" && env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy QUILLET_THREADS=2 \
   timeout 600 "$tsan/quillet" </dev/null >"$scratch/log" 2>&1)
status=$?
show_seconds=$(( $(date +%s) - start ))
grep -q 'ThreadSanitizer' "$scratch/log" && fail "the show: ThreadSanitizer report"
[ "$status" -eq 0 ] || fail "the show: status $status"
# Loading, the 500 ms pause, the track and the 4 s hold: a run that skipped playing is shorter.
[ "$show_seconds" -ge 7 ] || fail "the show ended after ${show_seconds} s, before its track could play"

start=$(date +%s)
for from in 6 40 100 165 214 300 330 416; do
  to=$((from + 1))
  if [ $from = 6 ]; then job=(--frames $from,$to --from $from --out "$scratch/frames"); else job=(--digest --from $from --to $to); fi
  (cd "$build" && QUILLET_THREADS=4 "$tsan/quillet-render" "${job[@]}" --fps 10 >"$scratch/log" 2>&1)
  status=$?
  grep -q 'ThreadSanitizer' "$scratch/log" && fail "the offline renderer, beats $from-$to: ThreadSanitizer report"
  [ "$status" -eq 0 ] || fail "the offline renderer, beats $from-$to: status $status"
done
[ -s "$scratch/frames/beat-007.png" ] || fail "the offline renderer wrote no frame"
render_seconds=$(( $(date +%s) - start ))
echo "threads_e2e: show ${show_seconds} s, offline renderer ${render_seconds} s, no report"
exit 0
