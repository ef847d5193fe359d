#!/usr/bin/env bash
# The show and its music, headless (SDL's dummy drivers), in scratch folders whose data folder links
# to the build's data set with the track swapped:
#  - no track: status 1, and the music prints nothing;
#  - no usable sound device: "unable to init sound device" and status 1;
#  - short tracks: the show ends by itself when its track ends, holds the last frame 4 s, status 0,
#    and a track 4 s longer makes the show last 4 s longer (the show's time is the track's).
set -uo pipefail
build=$1
show="$build/quillet"
track_name=Quillet_Demo_prev_105bpm.mp3
[ -x "$show" ] || { echo "music_e2e: $show missing"; exit 1; }
[ -d "$build/data" ] || { echo "music_e2e: $build/data missing (the data set is not built)"; exit 1; }
command -v ffmpeg >/dev/null || { echo "music_e2e: ffmpeg missing"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# stage NAME TRACK: a folder NAME whose data links every data-set file but the track, plus TRACK
# (a path, or nothing for no track).
stage() {
  local dir="$scratch/$1"
  mkdir -p "$dir/data"
  for f in "$build"/data/*; do
    [ "$(basename "$f")" = "$track_name" ] || ln -s "$f" "$dir/data/"
  done
  [ -z "$2" ] || ln -s "$2" "$dir/data/$track_name"
  echo "$dir"
}

# run DIR AUDIO_DRIVER LIMIT: runs the show in DIR; sets status, seconds and out.
run() {
  out="$scratch/out.txt"
  local start=$(date +%s%N)
  (cd "$1" && env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER="$2" \
     timeout "$3" "$show" </dev/null >"$out" 2>"$scratch/err.txt")
  status=$?
  seconds=$(( ($(date +%s%N) - start) / 1000000 ))
}

fail() { echo "music_e2e: $*"; cat "$out"; exit 1; }
music_lines() { grep -E 'unable to init sound device|skip forward' "$out"; }

# Tones of 2 and 6 seconds, 44.1 kHz stereo, gapless MP3.
for s in 2 6; do
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=220:duration=$s:sample_rate=44100" -ac 2 \
    -c:a libmp3lame -b:a 128k "$scratch/tone$s.mp3" || { echo "music_e2e: ffmpeg failed"; exit 1; }
done

dir=$(stage none "")
run "$dir" dummy 120
[ "$status" -eq 1 ] || fail "without a track: status $status (expected 1)"
music_lines && fail "without a track the music printed something"

dir=$(stage nodevice "$scratch/tone2.mp3")
run "$dir" nonexistent 120
[ "$status" -eq 1 ] || fail "without a sound device: status $status (expected 1)"
grep -qx 'unable to init sound device' "$out" || fail "without a sound device: no message"

run "$(stage short "$scratch/tone2.mp3")" dummy 120
[ "$status" -eq 0 ] || fail "2 s track: status $status (expected 0)"
short_ms=$seconds
music_lines && fail "2 s track: unexpected music message"
# At least the 500 ms pause, the track and the 4 s hold.
[ "$short_ms" -ge 6400 ] || fail "2 s track: the show lasted only ${short_ms} ms"

run "$(stage long "$scratch/tone6.mp3")" dummy 120
[ "$status" -eq 0 ] || fail "6 s track: status $status (expected 0)"
long_ms=$seconds
difference=$((long_ms - short_ms))
echo "music_e2e: 2 s track ${short_ms} ms, 6 s track ${long_ms} ms"
# Loading time varies between runs on a shared machine; the track's 4 s must show through it.
[ "$difference" -ge 3000 ] && [ "$difference" -le 6000 ] || \
  fail "the 6 s track lasted ${difference} ms longer than the 2 s one (expected about 4000)"
exit 0
