#!/usr/bin/env bash
# Sets up, builds (Release) and runs the install benchmark under Xvfb, which prints its tables:
# on the disk, in memory (/dev/shm), and the desktop program's time to its main window.
# Arguments go to tessera-bench (--only TEXT, --reps N, --where disk|memory|both).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target tessera-bench tessera tessera-cli
xvfb-run -a -s "-screen 0 1024x768x24" build-bench/bench/tessera-bench --program build-bench/ui/tessera --cli build-bench/cli/tessera-cli "$@"
