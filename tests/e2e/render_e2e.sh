#!/usr/bin/env bash
# The offline renderer on the real data set: deterministic frames, --from agreeing with a run from
# the start for the stateless layers, the benchmark's table, the digest and its check, a short video
# and the frames it pipes, and the error paths.
set -uo pipefail
build=$1
tool="$build/quillet-render"
[ -x "$tool" ] || { echo "render_e2e: $tool missing"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "render_e2e: $*"; exit 1; }
cd "$build"

"$tool" --frames 2,40 --out "$work/a" 2>/dev/null || fail "--frames failed"
"$tool" --frames 2,40 --out "$work/b" 2>/dev/null || fail "--frames failed the second time"
cmp -s "$work/a/beat-002.png" "$work/b/beat-002.png" || fail "beat 2 differs between two runs"
cmp -s "$work/a/beat-040.png" "$work/b/beat-040.png" || fail "beat 40 differs between two runs"
file "$work/a/beat-040.png" | grep -q '640 x 480' || fail "beat 40 is not a 640 x 480 PNG"
"$tool" --frames 40 --from 40 --out "$work/c" --data "$build" 2>/dev/null || fail "--from failed"
[ -s "$work/c/beat-040.png" ] || fail "--from wrote no frame"

"$tool" --bench --from 30 --to 34 >"$work/bench.txt" 2>/dev/null || fail "--bench failed"
grep -Eq '^intro +0-32 +[0-9]+ +[0-9.]+' "$work/bench.txt" || fail "no intro row: $(cat "$work/bench.txt")"
grep -Eq '^voxel cubes +32-96 ' "$work/bench.txt" || fail "no voxel-cubes row"
grep -q 'x real time' "$work/bench.txt" || fail "no real-time ratio"

"$tool" --digest --fps 10 --to 4 >"$work/d1.txt" 2>/dev/null || fail "--digest failed"
"$tool" --digest --fps 10 --to 4 >"$work/d2.txt" 2>/dev/null || fail "--digest failed the second time"
cmp -s "$work/d1.txt" "$work/d2.txt" || fail "two digests of beats 0-4 differ"
[ "$(grep -Ec '^[0-9]+ [0-9]+\.[0-9]{3} [0-9a-f]{16}$' "$work/d1.txt")" -eq 23 ] || fail "digest lines: $(head -3 "$work/d1.txt")"
tail -1 "$work/d1.txt" | grep -Eq '^show [0-9a-f]{16}$' || fail "no closing show line"
"$tool" --digest --fps 10 --to 4 --check "$work/d1.txt" >/dev/null 2>&1 || fail "--check rejects its own digest"
awk 'NR == 5 { $3 = substr($3, 1, 15) (substr($3, 16) == "0" ? "1" : "0") } { print }' "$work/d1.txt" >"$work/d3.txt"
"$tool" --digest --fps 10 --to 4 --check "$work/d3.txt" --out "$work/diff" >"$work/check.txt" 2>/dev/null
[ $? -eq 1 ] || fail "a differing digest is not status 1"
grep -q '^quillet-render: frame 4 (beat 0.700) differs' "$work/check.txt" || fail "no first differing frame: $(cat "$work/check.txt")"
[ -s "$work/diff/frame-00004.png" ] || fail "the differing frame was not written"

if command -v ffprobe >/dev/null; then
  "$tool" --video "$work/v.mp4" --fps 30 --from 0 --to 4 2>/dev/null || fail "--video failed"
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/v.mp4")
  expected=$(( $(echo "4 * 60 / 105 * 30" | bc -l | cut -d. -f1) + 1 ))
  [ "$frames" -ge $((expected - 1)) ] && [ "$frames" -le $((expected + 1)) ] || fail "video has $frames frames, expected about $expected"
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$work/v.mp4")
  [ "$size" = "640,480" ] || fail "video size $size"
  ffprobe -v error -select_streams a -show_entries stream=codec_type -of csv=p=0 "$work/v.mp4" | grep -q audio || fail "video has no audio"
fi

# The video's frames reach ffmpeg exactly as --frames draws them (its stand-in keeps the raw stream),
# and an output that fails - ffmpeg ending early, a full disk - is reported with status 1.
mkdir -p "$work/keep" "$work/dead"
printf '#!/bin/sh\nexec cat >"%s"\n' "$work/stream.raw" >"$work/keep/ffmpeg"
printf '#!/bin/sh\nexit 3\n' >"$work/dead/ffmpeg"
chmod +x "$work/keep/ffmpeg" "$work/dead/ffmpeg"
PATH="$work/keep:$PATH" "$tool" --video "$work/kept.mp4" --fps 10 --to 4 2>/dev/null || fail "--video into a kept stream failed"
frame_bytes=$((640 * 480 * 4))
[ "$(stat -c %s "$work/stream.raw")" -eq $((23 * frame_bytes)) ] || fail "the video stream is not 23 frames"
if command -v ffmpeg >/dev/null; then
  "$tool" --frames 2 --fps 10 --out "$work/still" 2>/dev/null || fail "--frames 2 at 10 fps failed"
  ffmpeg -loglevel error -i "$work/still/beat-002.png" -f rawvideo -pix_fmt bgra "$work/still.raw" || fail "ffmpeg cannot read beat 2"
  frame=$(awk '$2 >= 2 { print $1; exit }' "$work/d1.txt")
  dd if="$work/stream.raw" bs=$frame_bytes skip="$frame" count=1 status=none | cmp -s - "$work/still.raw" ||
    fail "frame $frame of the video stream differs from beat 2's PNG"
fi
PATH="$work/dead:$PATH" "$tool" --video "$work/dead.mp4" --fps 10 --to 4 >"$work/dead.txt" 2>/dev/null
[ $? -eq 1 ] || fail "an ffmpeg that ends early is not status 1"
grep -q '^quillet-render: ffmpeg failed to write' "$work/dead.txt" || fail "ffmpeg ending early: $(cat "$work/dead.txt")"
mkdir -p "$work/full" && ln -s /dev/full "$work/full/beat-002.png"
"$tool" --frames 2,4 --fps 10 --out "$work/full" >"$work/full.txt" 2>/dev/null
[ $? -eq 1 ] || fail "a full disk is not status 1"
grep -q "^quillet-render: cannot write \"$work/full/beat-002.png\"" "$work/full.txt" || fail "full disk: $(cat "$work/full.txt")"

"$tool" --bogus >/dev/null 2>&1; [ $? -eq 2 ] || fail "unknown option is not status 2"
"$tool" --frames 500 --out "$work/x" >/dev/null 2>&1; [ $? -eq 2 ] || fail "beat 500 is not status 2"
"$tool" --bench --from 40 --to 20 >/dev/null 2>&1; [ $? -eq 2 ] || fail "reversed range is not status 2"
touch "$work/file"
"$tool" --frames 1 --out "$work/file" >/dev/null 2>&1; [ $? -eq 1 ] || fail "unwritable folder is not status 1"
(cd "$work" && "$tool" --frames 1 --out "$work/y" >/dev/null 2>&1); [ $? -eq 1 ] || fail "missing data is not status 1"
QUILLET_SIMD=mmx "$tool" --digest --to 1 >/dev/null 2>"$work/simd.txt"; [ $? -eq 2 ] || fail "an unknown QUILLET_SIMD is not status 2"
[ "$(wc -l <"$work/simd.txt")" -eq 1 ] || fail "an unknown QUILLET_SIMD is not one line: $(cat "$work/simd.txt")"
QUILLET_SIMD=mmx "$build/quillet" >/dev/null 2>&1; [ $? -eq 2 ] || fail "the show takes an unknown QUILLET_SIMD"
echo "no digest" >"$work/junk.digest"
"$tool" --digest --check "$work/junk.digest" >/dev/null 2>&1; [ $? -eq 1 ] || fail "a malformed reference is not status 1"
PATH=/nonexistent "$tool" --video "$work/w.mp4" --to 2 >/dev/null 2>&1; [ $? -eq 1 ] || fail "missing ffmpeg is not status 1"
exit 0
