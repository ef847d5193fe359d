#!/usr/bin/env bash
# Live pacing, as a user would run the show without a real display. With SDL's dummy drivers: with a
# frame-rate cap the show presents at most the cap (+5%) and its CPU time stays well under the wall
# time; with QUILLET_FPS_CAP=0 it runs free. Under a virtual X server with a window manager (when
# Xvfb, openbox, xdotool and wmctrl are installed) the same, and the close button and Escape end it
# within a second. Every run prints its QUILLET_STATS=1 line.
set -uo pipefail
build=$(cd "$1" && pwd)
show="$build/quillet"
[ -x "$show" ] || { echo "pacing_e2e: $show missing"; exit 1; }
work=$(mktemp -d)
xpids=()
cleanup() {
  for p in "${xpids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
# The "Fullscreen?" question must not wait for a click: this stand-in dialog answers no (a window).
mkdir "$work/bin"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/zenity"
chmod +x "$work/bin/zenity"
cd "$build"

fail() { echo "pacing_e2e: $*"; [ -f "$work/out" ] && grep -v $'^\t' "$work/out"; exit 1; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run NAME END CAP_MAX CPU_MAX FPS_MIN [VAR=VALUE...]: starts the show, lets it load, measures its CPU
# share over 3 s of play, ends it with END (term, close or escape), then checks the status, the time to
# end, the mean frame rate (at most CAP_MAX, at least FPS_MIN) and the CPU share (under CPU_MAX
# percent; - for no bound).
run() {
  local name=$1 end=$2 cap_max=$3 cpu_max=$4 fps_min=$5
  shift 5
  PATH="$work/bin:$PATH" env "$@" QUILLET_STATS=1 "$show" </dev/null >"$work/out" 2>&1 &
  local pid=$!
  sleep 6
  kill -0 "$pid" 2>/dev/null || fail "$name: the show ended before it was measured"
  local tick c1 c2 t1 t2
  tick=$(getconf CLK_TCK)
  c1=$(cpu_ticks "$pid"); t1=$(date +%s%N)
  sleep 3
  c2=$(cpu_ticks "$pid"); t2=$(date +%s%N)
  local cpu=$(( (c2 - c1) * 1000000000 * 100 / tick / (t2 - t1) ))
  local start
  start=$(date +%s%N)
  case $end in
    term) kill -TERM "$pid" ;;
    close) wmctrl -c "Velmorian Quillet Inc." || fail "$name: no window to close" ;;
    escape)
      local win
      win=$(xdotool search --name "Velmorian Quillet Inc." | head -1)
      [ -n "$win" ] || fail "$name: no window for Escape"
      timeout 5 xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus "$win"
      xdotool keydown Escape; sleep 0.1; xdotool keyup Escape ;;
  esac
  for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "$name: still running 2 s after $end"; }
  wait "$pid"; local status=$?
  local elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
  [ "$status" -eq 0 ] || fail "$name: status $status after $end"
  [ "$elapsed_ms" -le 1000 ] || fail "$name: took ${elapsed_ms} ms to end after $end"
  local line fps
  line=$(grep '^pacing: ' "$work/out") || fail "$name: no pacing line"
  fps=$(sed -n 's/^pacing: [0-9]* frames, \([0-9.]*\) fps.*/\1/p' <<<"$line")
  echo "pacing_e2e: $name: cpu ${cpu}% of wall; $line"
  awk -v f="$fps" -v m="$cap_max" 'BEGIN{exit !(f <= m)}' || fail "$name: $fps fps is over $cap_max"
  awk -v f="$fps" -v m="$fps_min" 'BEGIN{exit !(f >= m)}' || fail "$name: $fps fps is under $fps_min"
  [ "$cpu_max" = - ] || [ "$cpu" -lt "$cpu_max" ] || fail "$name: cpu ${cpu}% of wall (expected under ${cpu_max}%)"
}

headless=(-u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy)
env "${headless[@]}" QUILLET_FPS_CAP=fast "$show" </dev/null >"$work/out" 2>&1
status=$?
[ "$status" -eq 2 ] || fail "QUILLET_FPS_CAP=fast: status $status (expected 2)"
grep -q "^quillet: QUILLET_FPS_CAP must be" "$work/out" || fail "QUILLET_FPS_CAP=fast: no message"
set -m  # job control: the background show must not start with SIGINT ignored
run "dummy, cap 30" term 31.5 60 1 "${headless[@]}" QUILLET_FPS_CAP=30
run "dummy, default cap" term 126 - 1 "${headless[@]}"
run "dummy, no cap" term 100000 - 33 "${headless[@]}" QUILLET_FPS_CAP=0

missing=""
for tool in Xvfb openbox xdotool wmctrl; do command -v "$tool" >/dev/null || missing="$missing $tool"; done
if [ -n "$missing" ]; then
  echo "pacing_e2e: virtual X server runs skipped, missing:$missing"
  exit 0
fi
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xpids+=($!)
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"
openbox >/dev/null 2>&1 &
xpids+=($!)
sleep 1
x11=(-u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy)
# The user's SDL12COMPAT_SYNC_TO_VBLANK=0 wins over the show's request, and the cap paces instead.
run "Xvfb, no vertical blank, cap 30, close button" close 31.5 60 1 "${x11[@]}" \
  SDL12COMPAT_SYNC_TO_VBLANK=0 QUILLET_FPS_CAP=30
run "Xvfb, defaults, Escape" escape 126 - 1 "${x11[@]}"
exit 0
