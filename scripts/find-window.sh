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
