#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then configures and builds
# the release tree in build/ (which also makes the stand-in data set). Idempotent and quick when
# nothing changed. Needs root for the installation step only when something is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  dpkg-dev  # unpacks the sources of the MP3 decoder and the FFT (scripts/exact-libs.sh)
  libsdl1.2-compat-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev
  libmp3lame-dev libfreetype-dev libxxhash-dev
  fonts-liberation2 fonts-dejavu-core
  libgtest-dev libbenchmark-dev ffmpeg
  xvfb openbox xdotool wmctrl  # a virtual X server and window manager for the live pacing test
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The MP3 decoder and the FFT are built from Debian's source packages when the build is configured;
# apt serves them once the machine has a source entry.
. "$here/scripts/debian-source.sh"
if [ ! -d "$here/build-deps/mpg123-src" ] && [ -z "$(apt-cache showsrc mpg123 2>/dev/null)" ]; then
  debsrc_add_entry
fi

jobs=$(nproc)
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j"$jobs"
