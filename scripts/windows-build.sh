#!/usr/bin/env bash
# Builds the Windows programs with the MinGW-w64 cross compiler: build-win/tessera-cli.exe,
# build-win/tessera.exe and the test programs, all static (no DLL beyond the system's). Both read
# downloads (.zip, .7z, .rar) through libarchive, which Debian ships for Linux only: it is built
# here from Debian's own source package, with liblzma (xz-utils) and bzip2 built the same way and
# Debian's MinGW zlib, once, into build-win/deps/.
# Usage: scripts/windows-build.sh [cmake --build arguments, e.g. --target package]
set -euo pipefail
source "$(dirname "$0")/apt.sh"
cd "$(dirname "$0")/.."
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -d /usr/include/CLI ] || need+=(libcli11-dev)
[ -d /usr/include/nlohmann ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)   # its header, compiled inline
[ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || need+=(libz-mingw-w64-dev)
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
apt_install "${need[@]}"

deps=$PWD/build-win/deps
prefix=$deps/root
# Raised when the recipe below changes, so a cached build made the old way is not taken.
recipe=2
if [ "$(cat "$prefix/recipe" 2>/dev/null)" != "$recipe" ]; then
  echo "== libarchive, liblzma and bzip2 for Windows, from Debian's source packages, into $prefix"
  rm -rf "$deps"
  mkdir -p "$deps/src" "$prefix/include" "$prefix/lib"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Source entries for the Debian archives the machine already takes its packages from.
  if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    entries=$(perl -e '
      local $/ = "";
      for my $file (@ARGV) {
        open my $in, "<", $file or next;
        while (my $stanza = <$in>) {
          next unless $stanza =~ /^Types:.*\bdeb\b/m && $stanza =~ /^URIs:.*debian/m && $stanza !~ /^Enabled:\s*no/mi;
          $stanza =~ s/^#.*\n//mg;
          $stanza =~ s/^Types:.*$/Types: deb-src/m;
          $stanza =~ s/\n*\z/\n\n/;
          print $stanza;
        }
      }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    lines=$(sed -nE 's/^deb (.*debian.*)$/deb-src \1/p' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
    if [ -z "$entries" ] && [ -z "$lines" ]; then
      echo "windows-build: no Debian archive among the apt sources, so Debian's source of libarchive cannot be had;" >&2
      echo "windows-build: add a deb-src entry for one and run this again" >&2
      exit 1
    fi
    [ -z "$entries" ] || printf '%s' "$entries" | $sudo tee /etc/apt/sources.list.d/tessera-deb-src.sources >/dev/null
    [ -z "$lines" ] || printf '%s\n' "$lines" | $sudo tee /etc/apt/sources.list.d/tessera-deb-src.list >/dev/null
    $sudo apt-get update -qq
  fi
  if ! (cd "$deps/src" && apt-get source -qq libarchive xz-utils bzip2 >"$deps/source.log" 2>&1); then
    cat "$deps/source.log" >&2
    echo "windows-build: Debian's source packages libarchive, xz-utils and bzip2 could not be had (apt-get source failed);" >&2
    echo "windows-build: the Windows programs read downloads through them, so nothing was built" >&2
    exit 1
  fi
  cc=x86_64-w64-mingw32-gcc-posix
  cflags="-O2 -DLZMA_API_STATIC"
  toolchain=$PWD/cmake/mingw-w64-x86_64.cmake

  bz=$(echo "$deps"/src/bzip2-*/)
  for f in blocksort huffman crctable randtable compress decompress bzlib; do
    $cc $cflags -c "$bz/$f.c" -o "$deps/src/bz-$f.o"
  done
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libbz2.a" "$deps"/src/bz-*.o
  cp "$bz/bzlib.h" "$prefix/include/"

  # liblzma alone: its decoders and the encoders the tests' 7z writer needs.
  cmake -S "$(echo "$deps"/src/xz-utils-*/)" -B "$deps/xz" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" -DBUILD_SHARED_LIBS=OFF >"$deps/xz.log"
  cmake --build "$deps/xz" --target liblzma >>"$deps/xz.log"
  cp "$deps/xz/liblzma.a" "$prefix/lib/"
  cp -r "$(echo "$deps"/src/xz-utils-*/)src/liblzma/api/"lzma* "$prefix/include/"

  # libarchive with zlib, bzip2 and liblzma; no programs, tests or other libraries. zlib is the
  # static one: beside it lies an import library of a DLL the zip must not need.
  off=()
  for o in OPENSSL MBEDTLS NETTLE LIBB2 LZ4 LZO ZSTD LIBXML2 EXPAT PCREPOSIX PCRE2POSIX LIBGCC CNG TAR CPIO CAT XATTR ACL ICONV TEST INSTALL WIN32_XMLLITE; do
    off+=("-DENABLE_$o=OFF")
  done
  cmake -S "$(echo "$deps"/src/libarchive-*/)" -B "$deps/libarchive" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" -DWINDOWS_VERSION=WIN7 -DPOSIX_REGEX_LIB=NONE "${off[@]}" \
    -DENABLE_ZLIB=ON -DENABLE_BZip2=ON -DENABLE_LZMA=ON -DCMAKE_PREFIX_PATH="$prefix" \
    -DZLIB_LIBRARY_RELEASE=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
    -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARIES="$prefix/lib/libbz2.a" \
    -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" >"$deps/libarchive.log"
  cmake --build "$deps/libarchive" --target archive_static >>"$deps/libarchive.log"
  cp "$deps/libarchive/libarchive/libarchive_static.a" "$prefix/lib/libarchive.a"
  cp "$(echo "$deps"/src/libarchive-*/)libarchive/"archive{,_entry}.h "$prefix/include/"
  rm -rf "$deps/src" "$deps/xz" "$deps/libarchive"
  echo "$recipe" >"$prefix/recipe"
fi

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTESSERA_WERROR="${TESSERA_WERROR:-OFF}" \
        -DCMAKE_BUILD_TYPE=Release -DTESSERA_WITH_QT=OFF -DTESSERA_WITH_LIBARCHIVE=ON \
        -DTESSERA_WINDOWS_DEPS="$prefix" >/dev/null
cmake --build build-win "$@"
echo "windows-build: $(cd build-win && ls tessera*.exe | tr '\n' ' ')"
