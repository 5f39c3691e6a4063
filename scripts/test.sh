#!/usr/bin/env bash
# Sets up, builds and runs every test (unit, end-to-end and the windows on the offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_WERROR="${TESSERA_WERROR:-OFF}"
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
