#!/usr/bin/env bash
# Builds the Windows programs with the MinGW-w64 cross compiler: build-win/tessera-cli.exe,
# build-win/tessera.exe and the test programs, all static (no DLL beyond the system's). Debian
# ships no MinGW libarchive, so this build installs .zpk packages only and refuses downloads.
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
apt_install "${need[@]}"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTESSERA_WERROR="${TESSERA_WERROR:-OFF}" \
        -DCMAKE_BUILD_TYPE=Release -DTESSERA_WITH_QT=OFF -DTESSERA_WITH_LIBARCHIVE=OFF >/dev/null
cmake --build build-win "$@"
echo "windows-build: $(cd build-win && ls tessera*.exe | tr '\n' ' ')"
