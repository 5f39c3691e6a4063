#!/usr/bin/env bash
# Starts tessera.exe under Wine on the X display it is given (scripts/windows-test.sh runs it
# inside xvfb-run, with the Wine prefix and wineserver of that run): the first start shows
# "Options", its Cancel gives "Need path" and the program ends; with a game folder stored and a
# package given, the main window comes up and Enter installs the package; a package of one 600 MB
# file shows its progress in the caption. In between, Enter in "Options" presses OK though the
# focus is on Cancel. Screenshots go to build-win/smoke/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/find-window.sh
win=$PWD/build-win
shots=$win/smoke
wait_seconds=30
mkdir -p "$shots"
rm -f "$shots"/*.png
key='HKCU\Software\Tessera\Tessera\Settings'
# Wine draws the windows' frames itself, as there is no window manager to do it.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg delete 'HKCU\Software\Tessera' /f >/dev/null 2>&1 || true

pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# Waits for a visible window titled exactly $1 and saves its picture to $2; prints its id.
window_shot() {
  local window
  if ! window=$(find_window "$1" "$wait_seconds"); then
    echo "windows-smoke: no window \"$1\" within $wait_seconds s" >&2
    cat "$shots/output.txt" >&2 || true
    return 1
  fi
  sleep 1   # let it paint
  # The picture is for people; the window was found. Wine may replace a message box's window
  # meanwhile, and import then waits for ever on the one that went.
  if timeout 10 import -window "$window" "$2"; then
    echo "windows-smoke: window \"$1\" came up; screenshot $2" >&2
  else
    echo "windows-smoke: window \"$1\" came up; no screenshot (the window changed)" >&2
  fi
  echo "$window"
}

# First start, nothing stored: the options dialog, whose focus is on Cancel.
wine "$win/tessera.exe" >"$shots/output.txt" 2>&1 &
pid=$!
options=$(window_shot "Options" "$shots/options.png")
xdotool key --window "$options" space
message=$(window_shot "Need path" "$shots/need-path.png")
# Its OK button sits centred at the bottom.
eval "$(xdotool getwindowgeometry --shell "$message")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 14)) click 1
for _ in $(seq 1 "$wait_seconds"); do kill -0 "$pid" 2>/dev/null || break; sleep 1; done
if kill -0 "$pid" 2>/dev/null; then
  echo "windows-smoke: tessera.exe still runs after \"Need path\"" >&2
  exit 1
fi
wait "$pid" || true
pid=""
if wine reg query "$key" /v GTA3Path >/dev/null 2>&1; then
  echo "windows-smoke: a game folder was stored though none was given" >&2
  exit 1
fi

# Again with nothing stored: Enter on the focused Cancel presses OK, which finds no gta3.exe
# in the empty folder text and says so; Cancel would have said "Need path".
wine "$win/tessera.exe" >"$shots/output.txt" 2>&1 &
pid=$!
options=$(window_shot "Options" "$shots/options-again.png")
xdotool key --window "$options" Return
window_shot "Error" "$shots/no-gta3.png" >/dev/null
# The message has shown what it had to; the program is ended below, so its window needs no key
# (Wine may already have replaced the window found, and a key sent to it fails). Killing wine's
# launcher leaves the program itself running with its box; it is ended with every program of
# this prefix, or the next start found it still there and its main window never came.
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=""
wineserver -k
wineserver -w

# A stored game folder and a package given as the argument: the main window comes up directly
# with the package chosen; Enter installs it.
game=$(mktemp -d)
mkdir -p "$game/data" "$game/mod"
: >"$game/gta3.exe"
printf 'stock' >"$game/data/default.dat"
printf 'new default' >"$game/mod/default.dat"
wine "$win/tessera-cli.exe" pack "$(winepath -w "$game/mod" | tr -d '\r')" "$(winepath -w "$game/package" | tr -d '\r')" >/dev/null
wine reg add "$key" /v GTA3Path /d "$(winepath -w "$game" | tr -d '\r')\\" /f >/dev/null 2>&1
wine "$win/tessera.exe" "$(winepath -w "$game/package.zpk" | tr -d '\r')" >"$shots/output.txt" 2>&1 &
pid=$!
main=$(window_shot "Orlen's Tessera" "$shots/main.png")
xdotool key --window "$main" Return
window_shot "Mod installed!" "$shots/installed.png" >/dev/null
if [ "$(cat "$game/data/default.dat")" != "new default" ] || [ "$(cat "$game/data/default.dat.old")" != "stock" ]; then
  echo "windows-smoke: the install did not reach the game folder" >&2
  exit 1
fi
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=""
# Killing wine's launcher leaves the program and its "Mod installed!" box; end every program of
# this prefix, so the titles searched for below are the next run's.
wineserver -k
wineserver -w

# A long install: the caption names the file and shows its progress while the copy runs, as on
# Linux, and the install ends whole.
# Another stock file than the first install's, so no question about earlier installs comes.
# The file is large enough that its copy takes over the half second a file must take before its
# progress shows (600 MB took about 0.3 s under Wine); zeros cost nothing to make.
mkdir -p "$game/big"
printf 'stock handling' >"$game/data/handling.cfg"
head -c 1500M /dev/zero >"$game/big/handling.cfg"
entry_sum=$(sha256sum <"$game/big/handling.cfg")
wine "$win/tessera-cli.exe" pack "$(winepath -w "$game/big" | tr -d '\r')" "$(winepath -w "$game/bigmod" | tr -d '\r')" >/dev/null
rm -rf "$game/big"
wine "$win/tessera.exe" "$(winepath -w "$game/bigmod.zpk" | tr -d '\r')" >"$shots/output.txt" 2>&1 &
pid=$!
main=$(window_shot "Orlen's Tessera" "$shots/main-big.png")
spy_captions "$main" "$shots/captions.txt" "$wait_seconds" || exit 1
# "Install the MOD" sits centred at the bottom; a click needs no keyboard focus, which a window
# started while another program's message box went may not have.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 20)) click 1
finished=$(find_window "Mod installed!" 120 || true)
kill "$spy" 2>/dev/null || true
echo "windows-smoke: the long install's captions: $(uniq "$shots/captions.txt" | sed -n '1,4p;$p' | paste -sd'|') ($(uniq "$shots/captions.txt" | wc -l) in all)" >&2
if [ -z "$finished" ] || [ "$(sha256sum <"$game/data/handling.cfg")" != "$entry_sum" ]; then
  echo "windows-smoke: the long install did not finish whole; the screen: $shots/long-install.png" >&2
  timeout 10 import -window root "$shots/long-install.png" || true
  exit 1
fi
if ! grep -qE '^"Installing handling\.cfg [0-9]{1,3}%"$' "$shots/captions.txt"; then
  echo "windows-smoke: the caption showed no progress during the long install" >&2
  exit 1
fi
rm -rf "$game"
echo "windows-smoke: passed"
