#!/usr/bin/env bash
# Sets up, builds (Release) and runs the install benchmark under Xvfb, which prints its tables:
# on the disk, in memory (/dev/shm), and the desktop program's time to its main window. Where
# the Windows build is there or can be made (scripts/windows-build.sh) and Wine is installed, it
# also times tessera-cli.exe under Wine against tessera-cli, with a private prefix
# (build-win/wineprefix) whose server is started before and kept running, so Wine's own start-up
# is not counted.
# Arguments go to tessera-bench (--only TEXT, --reps N, --where disk|memory|both).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target tessera-bench tessera tessera-cli
wine=()
if command -v wine >/dev/null && { [ -f build-win/tessera-cli.exe ] || scripts/windows-build.sh --target tessera-cli; }; then
  # A rebuild is quick once the dependencies are built; a failed one leaves the Wine case out.
  scripts/windows-build.sh --target tessera-cli >/dev/null || true
  export WINEPREFIX=$PWD/build-win/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    DISPLAY= wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p 2>/dev/null || true   # one already running for this prefix serves as well
  trap 'wineserver -k 2>/dev/null || true' EXIT
  DISPLAY= wineboot >/dev/null 2>&1 </dev/null
  [ -f build-win/tessera-cli.exe ] && wine=(--wine "$PWD/build-win/tessera-cli.exe")
else
  echo "bench: no Wine or no Windows build; tessera-cli.exe under Wine is not measured" >&2
fi
xvfb-run -a -s "-screen 0 1024x768x24" build-bench/bench/tessera-bench --program build-bench/ui/tessera --cli build-bench/cli/tessera-cli "${wine[@]}" "$@"
