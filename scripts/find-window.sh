# Sourced by the smoke tests.
# Prints the id of a visible window titled exactly $1, waiting up to $2 seconds. A search races
# with windows that go while it looks at them (xdotool then dies of BadWindow), so a failed search
# is tried again rather than taken as "no window".
find_window() {
  local deadline=$((SECONDS + $2)) window
  while [ "$SECONDS" -lt "$deadline" ]; do
    window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
    if [ -n "$window" ]; then echo "$window"; return 0; fi
    sleep 0.3
  done
  return 1
}

# Writes every caption window $1 takes to file $2, one a line, as it comes (xprop is told of
# every change; polling would miss short ones), and sets spy to xprop's pid. It returns once
# xprop has printed the caption it found first: until then changes go unseen, and on a busy
# machine a whole install went by before it had started.
spy_captions() {
  local deadline=$((SECONDS + $3))
  stdbuf -oL xprop -spy -id "$1" _NET_WM_NAME 2>/dev/null | sed -u 's/^[^=]*= //' >"$2" &
  spy=$!
  until [ -s "$2" ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "smoke: xprop did not report the caption of window $1 within $3 s" >&2
      return 1
    fi
    sleep 0.1
  done
}
