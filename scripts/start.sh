#!/usr/bin/env bash
# Sets up, builds and starts Tessera.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [ -x build/ui/tessera ]; then
  exec build/ui/tessera "$@"
fi
exec build/cli/tessera-cli "$@"
