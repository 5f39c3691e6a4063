#!/usr/bin/env bash
# Sets up, builds (Release, without the desktop program) and runs the install benchmark, which
# prints its table. Arguments go to tessera-bench (--only TEXT, --reps N).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSERA_WITH_UI=OFF >/dev/null
cmake --build build-bench --target tessera-bench
build-bench/bench/tessera-bench "$@"
