# Sourced by the scripts that build libraries from Debian's own source packages (scripts/exact-libs.sh,
# scripts/web.sh): the deb-src entry and the fetch, and the one way the decoder and the FFT are built
# for both so that Linux and the browser hear the track as the same numbers.

debsrc_list=/etc/apt/sources.list.d/quillet-web-src.sources

# debsrc_add_entry: source entries copied from the machine's own binary entries, so no host name is
# written here. Needs root; does nothing when the entry is there.
debsrc_add_entry() {
  [ -f "$debsrc_list" ] && return 0
  local found=0
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    [ "$f" = "$debsrc_list" ] && continue
    grep -q '^Types:.*\bdeb\b' "$f" || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >> "$debsrc_list"
    echo >> "$debsrc_list"
    found=1
  done
  if [ "$found" = 0 ] && [ -f /etc/apt/sources.list ]; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "${debsrc_list%.sources}.list"
    rm -f "$debsrc_list"; touch "$debsrc_list"
  fi
  apt-get update -q
}

# debsrc_fetch SOURCE DEST [VERSION]: unpacks the source package into DEST (skipped when DEST is
# there). VERSION when given and served, else the version the archive serves (security updates can
# lack their source). Returns 1 when apt serves no source for it (no deb-src entry, or no network).
debsrc_fetch() {
  local source=$1 dest=$2 wanted=${3:-}
  [ -d "$dest" ] && return 0
  local served version
  served=$(apt-cache showsrc "$source" 2>/dev/null | sed -n 's/^Version: //p')
  [ -n "$served" ] || return 1
  version=$(printf '%s\n' "$served" | grep -Fx -m1 "$wanted" || printf '%s\n' "$served" | head -1)
  echo "fetching $source $version"
  local fetch="$dest.fetch"
  rm -rf "$fetch"; mkdir -p "$fetch"
  # Some upstream signatures are not served (mpg123's): the download then reports an error for that
  # one file, and the unpacking skips the signature check.
  (cd "$fetch" && { apt-get source -q --download-only "$source=$version" >/dev/null 2>&1 || true; } &&
   dpkg-source -x --no-check ./*.dsc src >/dev/null 2>&1) || { rm -rf "$fetch"; return 1; }
  mv "$fetch/src" "$dest"
  rm -rf "$fetch"
}

# Both builds compile the decoder and the FFT from the same sources with plain IEEE arithmetic.
# Both projects add -ffast-math of their own accord (mpg123's configure at its default optimisation
# level, kissfft's CMake always), which lets each compiler reorder their sums its own way.
exact_cflags="-O2 -ffp-contract=off -fno-fast-math"
# mpg123: optimisation level 0 leaves the flags to us; only the generic C decoder, as the browser has.
mpg123_version=1.31.2-1+deb12u1
mpg123_configure=(--with-optimization=0 --with-cpu=generic_fpu --disable-shared --enable-static
                  --with-default-audio=dummy --with-audio=dummy)
# kissfft: its two files for real input, compiled directly so that its build adds nothing.
kissfft_version=131.1.0-4.1~deb12u1
kissfft_sources=(kiss_fft.c kiss_fftr.c)
kissfft_defines="-Dkiss_fft_scalar=float"
