#!/usr/bin/env bash
# The show in a web browser. Installs what is missing (emscripten and chromium from Debian's
# packages), builds the libraries the program uses from Debian's own source packages for
# WebAssembly once into build-web/, builds the show there with the Linux build's data set preloaded,
# and serves build-web/ on 127.0.0.1.
#   scripts/web.sh            build, then serve (prints the address; Ctrl-C ends it)
#   scripts/web.sh --build    build only
# Idempotent: a second run rebuilds nothing that is up to date.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/build-web"
deps="$out/deps"          # sources, library builds and the installed prefix
prefix="$deps/prefix"
jobs=$(nproc)

serve=1
case "${1:-}" in
  "") ;;
  --build) serve=0 ;;
  *) echo "usage: scripts/web.sh [--build]"; exit 2 ;;
esac

# --- packages ------------------------------------------------------------------------------------
packages=(emscripten chromium dpkg-dev python3 autoconf automake libtool make cmake)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node and npm may come from elsewhere (emscripten brings Debian's nodejs); npm runs the page's tests.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "web: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's emscripten finds its JS tools (acorn) only through NODE_PATH.
export NODE_PATH=/usr/share/nodejs

# The Linux build makes the data set the page preloads (and the offline renderer the tests compare with).
"$here/scripts/setup.sh"

# --- libraries from Debian's source packages -------------------------------------------------------
. "$here/scripts/debian-source.sh"

# web_fetch SOURCE DIR VERSION: unpacks the source package into $deps/DIR (skipped when DIR is there),
# the version asked for when the archive serves it.
web_fetch() {
  [ -d "$deps/$2" ] && return 0
  debsrc_add_entry
  debsrc_fetch "$1" "$deps/$2" "$3" || { echo "web: apt serves no source for $1"; exit 1; }
}
# The version of the installed Linux library, so both builds compile the same source.
installed() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true; }

web_cmake_lib() {  # web_cmake_lib DIR [cmake options...]
  local dir=$1; shift
  emcmake cmake -S "$deps/$dir" -B "$deps/build-$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_C_FLAGS="-O2 -ffp-contract=off" \
    -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$deps/build-$dir" -j"$jobs" >/dev/null
  cmake --install "$deps/build-$dir" >/dev/null
}

web_build_libs() {
  mkdir -p "$deps" "$prefix/lib" "$prefix/include"
  local stamp
  stamp="$prefix/.zlib"
  if [ ! -f "$stamp" ]; then
    web_fetch zlib zlib "$(installed zlib1g-dev)"
    echo "web: building zlib"
    # zlib's CMake build fails on Debian's trimmed tarball; its own configure works.
    (cd "$deps/zlib" && CFLAGS="-O2 -ffp-contract=off" emconfigure ./configure --static --prefix="$prefix" >/dev/null &&
     emmake make -j"$jobs" libz.a >/dev/null && emmake make install >/dev/null)
    touch "$stamp"
  fi
  stamp="$prefix/.libpng"
  if [ ! -f "$stamp" ]; then
    web_fetch libpng1.6 libpng "$(installed libpng-dev)"
    echo "web: building libpng"
    web_cmake_lib libpng -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF \
      -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
      -DPNG_HARDWARE_OPTIMIZATIONS=OFF -DM_LIBRARY=
    touch "$stamp"
  fi
  stamp="$prefix/.libjpeg"
  if [ ! -f "$stamp" ]; then
    web_fetch libjpeg-turbo libjpeg "$(installed libjpeg62-turbo-dev)"
    echo "web: building libjpeg-turbo"
    # No SIMD for wasm; its size checks cannot run a program, so the sizes are given.
    web_cmake_lib libjpeg -DWITH_SIMD=OFF -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
      -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4
    touch "$stamp"
  fi
  # The decoder and the FFT: the same sources and flags as the Linux build's (scripts/exact-libs.sh),
  # so both get the same samples and spectrum from the track. The stamps name the flags, so a library
  # built otherwise is redone.
  stamp="$prefix/.mpg123"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$exact_cflags" ]; then
    rm -rf "$deps/mpg123"  # configured in its source folder: a new configuration starts from a clean copy
    web_fetch mpg123 mpg123 "$mpg123_version"
    echo "web: building mpg123 (its configure alone takes minutes)"
    (cd "$deps/mpg123" && CFLAGS="$exact_cflags" emconfigure ./configure --host=wasm32-unknown-linux \
       --prefix="$prefix" "${mpg123_configure[@]}" >/dev/null &&
     emmake make -j"$jobs" >/dev/null && emmake make install >/dev/null)
    echo "$exact_cflags" > "$stamp"
  fi
  # FreeType's smooth rasterizer flattens curves one way where SSE2 is known (as on x86-64 Linux)
  # and another elsewhere: with SSE2 lowered to WebAssembly SIMD it takes the Linux build's way and
  # draws the same glyph pixels. The stamp names that, so a build made without it is redone.
  stamp="$prefix/.freetype"
  if [ "$(cat "$stamp" 2>/dev/null)" != "sse2" ]; then
    web_fetch freetype freetype "$(installed libfreetype-dev)"
    echo "web: building FreeType"
    web_cmake_lib freetype -DCMAKE_C_FLAGS="-O2 -ffp-contract=off -msse2 -msimd128" \
      -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON -DFT_DISABLE_BZIP2=ON \
      -DFT_DISABLE_PNG=ON -DFT_REQUIRE_ZLIB=ON -DZLIB_LIBRARY="$prefix/lib/libz.a" \
      -DZLIB_INCLUDE_DIR="$prefix/include"
    echo sse2 > "$stamp"
  fi
  stamp="$prefix/.xxhash"
  if [ ! -f "$stamp" ]; then
    web_fetch xxhash xxhash "$(installed libxxhash-dev)"
    echo "web: building xxHash"
    (cd "$deps/xxhash" && emcc -O2 -ffp-contract=off -c xxhash.c -o xxhash.o && emar rcs "$prefix/lib/libxxhash.a" xxhash.o &&
     cp xxhash.h xxh3.h "$prefix/include/")
    touch "$stamp"
  fi
  stamp="$prefix/.glibc-math"
  if [ ! -f "$stamp" ]; then
    web_fetch glibc glibc "$(installed libc6)"
    echo "web: building the GNU C library's math functions"
    # The show's frames depend on the last bits of sin, cos and a few float functions: the page
    # uses the Linux C library's own code for them (web/glibc-math/libm.c says which).
    local ieee="$deps/glibc/sysdeps/ieee754" shim="$here/web/glibc-math" build="$deps/build-glibc-math"
    local files=(dbl-64/s_sin.c dbl-64/branred.c dbl-64/sincostab.c flt-32/s_sinf.c flt-32/s_cosf.c
                 flt-32/s_sincosf.c flt-32/s_sincosf_data.c flt-32/s_tanf.c flt-32/k_tanf.c
                 flt-32/s_atanf.c flt-32/e_atan2f.c flt-32/e_powf.c flt-32/e_powf_log2_data.c
                 flt-32/e_exp2f_data.c flt-32/math_errf.c)
    rm -rf "$build"; mkdir -p "$build"
    for f in "${files[@]}"; do
      emcc -O2 -ffp-contract=off -fno-builtin -I"$shim" -I"$ieee/$(dirname "$f")" -I"$ieee/../generic" \
        -include "$shim/glibc_compat.h" -c "$ieee/$f" -o "$build/$(basename "$f" .c).o"
    done
    emcc -O2 -ffp-contract=off -fno-builtin -c "$shim/libm.c" -o "$build/libm.o"
    rm -f "$prefix/lib/libglibcm.a"
    emar rcs "$prefix/lib/libglibcm.a" "$build"/*.o
    touch "$stamp"
  fi
  stamp="$prefix/.kissfft"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$exact_cflags" ]; then
    web_fetch kissfft kissfft "$kissfft_version"
    echo "web: building kissfft"
    local f objects=()
    rm -rf "$deps/build-kissfft"; mkdir -p "$deps/build-kissfft" "$prefix/include/kissfft"
    for f in "${kissfft_sources[@]}"; do
      objects+=("$deps/build-kissfft/${f%.c}.o")
      emcc $exact_cflags $kissfft_defines -c "$deps/kissfft/$f" -o "${objects[-1]}"
    done
    rm -f "$prefix/lib/libkissfft-float.a"
    emar rcs "$prefix/lib/libkissfft-float.a" "${objects[@]}"
    cp "$deps/kissfft/kiss_fft.h" "$deps/kissfft/kiss_fftr.h" "$prefix/include/kissfft/"
    echo "$exact_cflags" > "$stamp"
  fi
}

web_build_libs

# --- the show --------------------------------------------------------------------------------------
emcmake cmake -S "$here/web" -B "$out/cmake" -DCMAKE_BUILD_TYPE=Release -DQUILLET_WEB_PREFIX="$prefix" \
  -DQUILLET_WEB_DATA="$here/build/data" -DQUILLET_WEB_OUT="$out" >/dev/null
cmake --build "$out/cmake" -j"$jobs"
echo "web: built $out/quillet.html (.js, .wasm, .data)"

[ "$serve" = 1 ] || exit 0
port=${QUILLET_WEB_PORT:-8642}
echo "web: serving http://127.0.0.1:$port/quillet.html (Ctrl-C ends it)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$out"
