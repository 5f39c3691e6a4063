#!/usr/bin/env bash
# Starts the real desktop program under Xvfb with fresh settings: first without a game folder
# (the "Options" window must come up, and Space there must give "Need path"), then with one
# stored (the main window must come up), and with a package lacking its .dir as the argument
# (the "File not found" message must come up). Then a 600 MB install: Quit during it asks, Yes
# leaves the game folder as it was, No lets it finish with its captions changing; tessera-cli
# stopped by SIGINT exits 130 leaving the folder as it was.
# Runs on a private D-Bus session with accessibility on: the main window's accessibility tree is
# read over D-Bus as a screen reader or gdbus introspect reads it, and the program must live on.
# Saves a screenshot of each window, and that tree, to build/smoke/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/find-window.sh
root=$PWD
build=${TESSERA_BUILD:-build}
program=$root/$build/ui/tessera
shots=$root/$build/smoke
wait_seconds=20

if [ "${1:-}" != "--inside-xvfb" ]; then
  if [ ! -x "$program" ] || [ ! -x "$root/$build/cli/tessera-cli" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target tessera tessera-cli
  fi
  mkdir -p "$shots"
  exec xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" --inside-xvfb
fi

# Accessibility on: the session bus starts the accessibility bus, and Qt connects its windows
# to it.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null
a11y_bus=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
  sed -E "s/^\('(.*)',\)$/\1/")

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
  if ! window=$(find_window "$title" "$wait_seconds"); then
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

# Calls method $2 (with arguments $3...) of the accessible object at path $1 of the program.
a11y_call() {
  local path=$1 method=$2
  shift 2
  timeout "$wait_seconds" gdbus call --address "$a11y_bus" --dest "$a11y_name" --object-path "$path" --method "$method" "$@"
}

# Prints the accessible object at path $1 and those below it, one a line: role and "name",
# indented by depth $2.
print_accessible() {
  local path=$1 depth=$2 name role child
  name=$(a11y_call "$path" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name |
    sed -E "s/^\(<['\"](.*)['\"]>,\)$/\1/")
  role=$(a11y_call "$path" org.a11y.atspi.Accessible.GetRoleName | sed -E "s/^\('(.*)',\)$/\1/")
  printf '%*s%s "%s"\n' $((depth * 2)) '' "$role" "$name"
  for child in $(a11y_call "$path" org.a11y.atspi.Accessible.GetChildren | grep -o "'/org/a11y/atspi/accessible/[0-9]*'" | tr -d "'"); do
    print_accessible "$child" $((depth + 1))
  done
}

# Reads the running program's accessibility tree over D-Bus into $1, first as gdbus introspect
# does (which asks for all properties at once), then object by object; the program must still
# run 2 s later and its tree must hold the main window's controls by name.
read_accessibility_tree() {
  local tree=$1 name
  a11y_name=""
  for name in $(gdbus call --address "$a11y_bus" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
                  --method org.freedesktop.DBus.ListNames | grep -o "':[0-9.]*'" | tr -d "'"); do
    if gdbus call --address "$a11y_bus" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
         --method org.freedesktop.DBus.GetConnectionUnixProcessID "$name" 2>/dev/null | grep -q "(uint32 $pid,)"; then
      a11y_name=$name
    fi
  done
  if [ -z "$a11y_name" ]; then
    echo "smoke: the program is not on the accessibility bus" >&2
    return 1
  fi
  timeout "$wait_seconds" gdbus introspect --address "$a11y_bus" --dest "$a11y_name" \
    --object-path /org/a11y/atspi/accessible/root --recurse >"$tree.introspect" 2>&1 || true
  print_accessible /org/a11y/atspi/accessible/root 0 >"$tree"
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "smoke: the program ended while its accessibility tree was read" >&2
    cat "$tree" >&2
    return 1
  fi
  local expected
  for expected in 'frame "Orlen'"'"'s Tessera"' 'text "Source"' 'push button "Browse..."' 'label "Source :"' \
                  'push button "Install the MOD"' 'menu item "Installed mods..."'; do
    if ! grep -qF "$expected" "$tree"; then
      echo "smoke: the accessibility tree lacks $expected" >&2
      cat "$tree" >&2
      return 1
    fi
  done
  echo "smoke: accessibility tree read over D-Bus; $tree" >&2
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
read_accessibility_tree "$shots/accessibility.txt"
stop

# A package given as the argument is checked as Browse checks it: without its .dir, the
# "File not found" message comes up once the game folder is known.
: >"$scratch/lonely.zpk"
mkdir -p "$scratch/third/config/Tessera"
cp "$scratch/second/config/Tessera/Tessera.conf" "$scratch/third/config/Tessera/"
start "$scratch/third" "$scratch/lonely.zpk"
wait_window "File not found" "$shots/argument.png" "$scratch/third" >/dev/null
stop

# A long install: one entry of 600 MB replacing a stock file.
cli=$root/$build/cli/tessera-cli
big=$scratch/big
mkdir -p "$big/files" "$game/data" "$game/models"
printf 'stock default.dat' >"$game/data/default.dat"
head -c 600M /dev/urandom >"$big/files/default.dat"
entry_sum=$(sha256sum <"$big/files/default.dat")
"$cli" pack "$big/files" "$big/mod" >/dev/null
rm -rf "$big/files"
game_state() { (cd "$game" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
game_state >"$big/before.txt"

# Starts tessera on the package with settings and home $1 and sets main to its main window
# once it shows. Every caption the window takes from then on goes to $1/captions.txt.
start_big() {
  local home=$1
  mkdir -p "$home/config/Tessera"
  cp "$scratch/second/config/Tessera/Tessera.conf" "$home/config/Tessera/"
  start "$home" "$big/mod.zpk"
  main=$(wait_window "Orlen's Tessera" "$home/before-install.png" "$home")
  spy_captions "$main" "$home/captions.txt" "$wait_seconds" || exit 1
}

# Clicks Install and, right after, Quit. Both reach the window while the install is still
# reading the package, so the question must come; while it is open the install waits at its
# next stopping point and cannot finish under it. Prints the question's id.
install_then_quit() {
  local window=$1 home=$2
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  # One xdotool for the three keys: separate ones took long enough to start that a fast
  # machine finished the install before Quit came.
  xdotool key --window "$window" --delay 30 Return alt+f q
  if ! wait_window "Install running" "$home/stop-question.png" "$home"; then
    echo "smoke: Quit during the install did not ask whether to stop it; captions:" >&2
    cat "$home/captions.txt" >&2
    return 1
  fi
}

# Waits for the program to end by itself.
wait_program_end() {
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "smoke: the window did not close $1" >&2
    exit 1
  fi
  wait "$pid" 2>/dev/null || true
  pid=""
}

# Stopped: Quit during the install asks, and Yes rolls it back, says so and closes the window,
# leaving the game folder byte for byte as it was.
home=$scratch/fourth
start_big "$home"
question=$(install_then_quit "$main" "$home")
# Covered and uncovered while the install runs (it waits on the question), the window must paint
# itself again.
import -window "$main" "$big/uncovered-before.png"
eval "$(xdotool getwindowgeometry --shell "$main")"
xmessage -geometry "${WIDTH}x${HEIGHT}+${X}+${Y}" "covering Tessera" &
cover=$!
sleep 1
kill "$cover"
wait "$cover" 2>/dev/null || true
sleep 1
import -window "$main" "$shots/repainted.png"
differing=$(compare -metric AE "$big/uncovered-before.png" "$shots/repainted.png" null: 2>&1 || true)
if [ "${differing%% *}" != "0" ]; then
  echo "smoke: the window did not paint itself again after being covered ($differing pixels differ)" >&2
  exit 1
fi
echo "smoke: the window painted itself again after being covered" >&2
cp "$home/stop-question.png" "$shots/stop-question.png"
xdotool key --window "$question" y
stopped=$(wait_window "Install stopped" "$shots/stopped.png" "$home")
xdotool key --window "$stopped" Return 2>/dev/null || xdotool key Return
wait_program_end "after the install was stopped"
game_state >"$big/after.txt"
if ! cmp -s "$big/before.txt" "$big/after.txt"; then
  echo "smoke: the stopped install changed the game folder" >&2
  diff "$big/before.txt" "$big/after.txt" >&2 || true
  exit 1
fi
echo "smoke: Quit during the install asked, and Yes left the game folder as it was" >&2

# Gone on: No to the same question lets the install finish. Its captions: the package, the
# file, its progress if the copy takes long (here it often does not: most of the time goes on
# flushing), and the end.
home=$scratch/fifth
start_big "$home"
if question=$(install_then_quit "$main" "$home" 2>/dev/null); then
  xdotool key --window "$question" n
  if ! find_window "Mod installed!" 300 >/dev/null; then
    echo "smoke: the install did not finish after No; captions:" >&2
    cat "$home/captions.txt" >&2
    exit 1
  fi
  import -window "$main" "$shots/installed.png"
else
  # A fast machine may end the install before Quit reaches the window; Quit then only closes
  # it. The install must still have finished, as its captions and the game folder say below.
  echo "smoke: the install ended before Quit came, so there was no question to answer No to" >&2
fi
stop
echo "smoke: captions of the install: $(paste -sd'|' "$home/captions.txt")" >&2
changes=$(uniq "$home/captions.txt" | grep -cvxF '"Orlen'"'"'s Tessera"' || true)
if [ "$changes" -lt 3 ]; then
  echo "smoke: the caption changed $changes times during the install" >&2
  exit 1
fi
if [ "$(sha256sum <"$game/data/default.dat")" != "$entry_sum" ] || [ "$(cat "$game/data/default.dat.old")" != "stock default.dat" ]; then
  echo "smoke: the install after No did not put default.dat in place" >&2
  exit 1
fi
echo "smoke: the install went on to its end; the caption changed $changes times" >&2
# The game folder as it was, for the console below.
mv "$game/data/default.dat.old" "$game/data/default.dat"
game_state >"$big/restored.txt"
if ! cmp -s "$big/before.txt" "$big/restored.txt"; then
  echo "smoke: the install after No left more in the game folder than default.dat and its .old" >&2
  diff "$big/before.txt" "$big/restored.txt" >&2 || true
  exit 1
fi

# tessera-cli, stopped by SIGINT: exit 130, the folder as it was, no journal. The signal goes as
# soon as it says it has begun (its stops are caught from then on), while it still reads and
# hashes the 600 MB before its first change.
home=$scratch/sixth
mkdir -p "$home/config" "$home/data"
HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
  "$cli" install "$big/mod.zpk" --game "$game" >"$home/out.txt" 2>"$home/err.txt" &
clipid=$!
for _ in $(seq 1 400); do
  grep -q "^Installing mod.zpk" "$home/out.txt" && break
  sleep 0.05
done
kill -INT "$clipid"
status=0
wait "$clipid" || status=$?
game_state >"$big/after-cli.txt"
if [ "$status" -ne 130 ] || ! grep -q "The game folder was left as it was." "$home/err.txt" \
    || ! cmp -s "$big/before.txt" "$big/after-cli.txt" || find "$home/data" -name '*.journal*' | grep -q .; then
  echo "smoke: tessera-cli stopped by SIGINT exited $status" >&2
  cat "$home/out.txt" "$home/err.txt" >&2
  exit 1
fi
echo "smoke: tessera-cli stopped by SIGINT exited 130 and left the game folder as it was" >&2
