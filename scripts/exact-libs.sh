#!/usr/bin/env bash
# Builds the MP3 decoder (mpg123) and the FFT (kissfft) from Debian's source packages for exact IEEE
# arithmetic, static, into DIR/mpg123 and DIR/kissfft (their sources are kept in DIR/*-src).
# Debian compiles both with -ffast-math, so their sums round otherwise than the browser's build of
# the same sources, and the pictures that follow the music would differ. Run by CMake when
# configuring; every build folder shares one DIR. Rebuilds nothing that is there; needs the network
# only when a source is missing.
#   scripts/exact-libs.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/debian-source.sh"
[ $# = 1 ] || { echo "usage: scripts/exact-libs.sh DIR" >&2; exit 2; }
dir=$1
# The stamps name what each library was built from and how: a change to either rebuilds it. With
# gcc, whatever compiler the calling build folder uses, so every folder links the same libraries.
mpg123_want="$mpg123_version gcc $exact_cflags ${mpg123_configure[*]}"
kissfft_want="$kissfft_version gcc $exact_cflags"
built() { [ "$(cat "$dir/$1/.built" 2>/dev/null)" = "$2" ]; }
built mpg123 "$mpg123_want" && built kissfft "$kissfft_want" && exit 0

mkdir -p "$dir"
exec 9>"$dir/.exact-libs.lock"
flock 9  # build folders configured at once wait for one build

fetch() {  # fetch SOURCE VERSION
  debsrc_fetch "$1" "$dir/$1-src" "$2" && return 0
  echo "exact-libs: the source of $1 is not in $dir/$1-src and apt serves none (run scripts/setup.sh with the network)" >&2
  exit 1
}

if ! built mpg123 "$mpg123_want"; then
  fetch mpg123 "$mpg123_version"
  echo "exact-libs: building the MP3 decoder (about a minute)"
  log="$dir/mpg123-build.log"
  rm -rf "$dir/mpg123" "$dir/mpg123-build"
  mkdir -p "$dir/mpg123-build"
  # Built outside the source, so a changed configuration starts clean.
  if ! (cd "$dir/mpg123-build" && CC=gcc CFLAGS="$exact_cflags" "$dir/mpg123-src/configure" \
          --prefix="$dir/mpg123" "${mpg123_configure[@]}" && make -j"$(nproc)" && make install) >"$log" 2>&1; then
    echo "exact-libs: building the MP3 decoder failed (see $log)" >&2
    exit 1
  fi
  rm -rf "$dir/mpg123-build"
  echo "$mpg123_want" >"$dir/mpg123/.built"
fi

if ! built kissfft "$kissfft_want"; then
  fetch kissfft "$kissfft_version"
  echo "exact-libs: building the FFT"
  rm -rf "$dir/kissfft"
  mkdir -p "$dir/kissfft/lib" "$dir/kissfft/include" "$dir/kissfft/obj"
  (cd "$dir/kissfft-src" && for f in "${kissfft_sources[@]}"; do
     gcc $exact_cflags $kissfft_defines -c "$f" -o "$dir/kissfft/obj/${f%.c}.o" || exit 1
   done) || { echo "exact-libs: building the FFT failed" >&2; exit 1; }
  ar rcs "$dir/kissfft/lib/libkissfft-float.a" "$dir/kissfft/obj"/*.o
  cp "$dir/kissfft-src"/kiss_fft.h "$dir/kissfft-src"/kiss_fftr.h "$dir/kissfft/include/"
  rm -rf "$dir/kissfft/obj"
  echo "$kissfft_want" >"$dir/kissfft/.built"
fi
