#!/usr/bin/env bash
# The show, run as a user would but headless: SDL's dummy video and audio drivers, no terminal.
# It prints the rendering-information block, plays, and ends with status 0 within a second of
# SIGINT; without a usable video driver it ends with status 1.
set -uo pipefail
build=$1
show="$build/quillet"
[ -x "$show" ] || { echo "show_e2e: $show missing"; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT

cd "$build"
# Job control, so that the background show does not start with SIGINT ignored as scripts' jobs do.
set -m
# A signal ignored when this script started stays ignored for the show too (a shell cannot undo
# that), and the show rightly keeps ignoring it: then SIGTERM, which ends the show the same way.
signal=INT
ignored=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status 2>/dev/null)
if [ -n "$ignored" ] && (( 0x$ignored & 2 )); then
  signal=TERM
  echo "show_e2e: SIGINT is ignored where this test was started; ending the show with SIGTERM"
fi
env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$show" </dev/null >"$out" 2>&1 &
pid=$!
sleep 6
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"; echo "show_e2e: the show ended by itself with status $? before SIG$signal"; cat "$out"; exit 1
fi
kill -"$signal" "$pid"
start=$(date +%s%N)
for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
wait "$pid"; status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" -eq 0 ] || { echo "show_e2e: status $status after SIG$signal"; cat "$out"; exit 1; }
[ "$elapsed_ms" -le 1000 ] || { echo "show_e2e: took ${elapsed_ms} ms to end after SIG$signal"; exit 1; }
head -1 "$out" | grep -qx 'rendering info:' || { echo "show_e2e: no rendering-information block"; cat "$out"; exit 1; }
[ "$(grep -c $'^\t' "$out")" -ge 16 ] || { echo "show_e2e: rendering-information block incomplete"; cat "$out"; exit 1; }

SDL_VIDEODRIVER=no-such-driver SDL_AUDIODRIVER=dummy "$show" </dev/null >"$out" 2>&1
status=$?
[ "$status" -eq 1 ] || { echo "show_e2e: status $status without a display (expected 1)"; exit 1; }
exit 0
