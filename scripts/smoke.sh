#!/usr/bin/env bash
# Starts the real desktop program under Xvfb with fresh settings: first without a game folder
# (the "Options" window must come up, and Space there must give "Need path"), then with one
# stored (the main window must come up), and with a package lacking its .dir as the argument
# (the "File not found" message must come up).
# Saves a screenshot of each window to build/smoke/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TESSERA_BUILD:-build}
program=$root/$build/ui/tessera
shots=$root/$build/smoke
wait_seconds=20

if [ "${1:-}" != "--inside-xvfb" ]; then
  if [ ! -x "$program" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target tessera
  fi
  mkdir -p "$shots"
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-xvfb
fi

scratch=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Starts tessera with its own settings and home, and the arguments after the first.
start() {
  local home=$1
  shift
  mkdir -p "$home/config" "$home/data"
  HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data QT_QPA_PLATFORM=xcb \
    "$program" "$@" >"$home/output.txt" 2>&1 &
  pid=$!
}

stop() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}

# Waits for a window titled exactly $1 and saves a screenshot of it to $2; prints its id.
# Fails when it does not appear in time.
wait_window() {
  local title=$1 shot=$2 home=$3
  local window
  if ! window=$(timeout "$wait_seconds" xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1) \
      || [ -z "$window" ]; then
    echo "smoke: no window \"$title\" within ${wait_seconds} s" >&2
    cat "$home/output.txt" >&2
    return 1
  fi
  # Let the window paint before taking its picture.
  sleep 1
  import -window "$window" "$shot"
  echo "smoke: window \"$title\" came up; screenshot $shot" >&2
  echo "$window"
}

# First start: nothing stored, so the options dialog asks for the game folder. Its focus is on
# Cancel, so Space leaves it and the program says goodbye.
start "$scratch/first"
options=$(wait_window "Options" "$shots/options.png" "$scratch/first")
xdotool windowactivate --sync "$options" 2>/dev/null || xdotool windowfocus --sync "$options"
xdotool key --window "$options" space
wait_window "Need path" "$shots/need-path.png" "$scratch/first" >/dev/null
stop
if [ -s "$scratch/first/config/Tessera/Tessera.conf" ] && grep -q GTA3Path "$scratch/first/config/Tessera/Tessera.conf"; then
  echo "smoke: Space at first start stored a game folder" >&2
  exit 1
fi

# A stored game folder: the main window comes up directly.
game=$scratch/game
mkdir -p "$game"
: >"$game/gta3.exe"
mkdir -p "$scratch/second/config/Tessera"
printf '[Settings]\nGTA3Path=%s/\n' "$game" >"$scratch/second/config/Tessera/Tessera.conf"
start "$scratch/second"
wait_window "Orlen's Tessera" "$shots/main.png" "$scratch/second" >/dev/null
stop

# A package given as the argument is checked as Browse checks it: without its .dir, the
# "File not found" message comes up once the game folder is known.
: >"$scratch/lonely.zpk"
mkdir -p "$scratch/third/config/Tessera"
cp "$scratch/second/config/Tessera/Tessera.conf" "$scratch/third/config/Tessera/"
start "$scratch/third" "$scratch/lonely.zpk"
wait_window "File not found" "$shots/argument.png" "$scratch/third" >/dev/null
stop
