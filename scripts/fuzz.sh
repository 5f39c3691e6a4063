#!/usr/bin/env bash
# Fuzzes directory reading, package checking and extraction for SECONDS (default 60) with
# libFuzzer and AddressSanitizer; fails on a crash, a leak or a file written outside the
# fuzzer's target folder (the target itself aborts on that).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "Usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
export LC_ALL=C

scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_WERROR="${TESSERA_WERROR:-OFF}" \
  -DTESSERA_FUZZ=ON -DTESSERA_WITH_UI=OFF >/dev/null
cmake --build build-fuzz --target package_fuzzer

work=build-fuzz/fuzz
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"

# A seed is two bytes giving the .dir length, the .dir, then the .zpk.
le32() {
  local v=$(($1 & 0xFFFFFFFF))
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $(((v >> 24) & 255)))"
}
record() {   # OFFSET SIZE NAME: one 32-byte record, the name NUL-filled
  le32 "$1"
  le32 "$2"
  printf '%s' "$3"
  head -c $((24 - ${#3})) /dev/zero
}
seed() {     # SEED-NAME ZPK-TEXT then OFFSET SIZE NAME for every record
  local out="$work/seeds/$1" zpk="$2" dir
  shift 2
  dir=$(mktemp)
  while [ $# -gt 0 ]; do
    record "$1" "$2" "$3" >>"$dir"
    shift 3
  done
  local n
  n=$(stat -c %s "$dir")
  { printf "$(printf '\\x%02x\\x%02x' $((n & 255)) $(((n >> 8) & 255)))"; cat "$dir"; printf '%s' "$zpk"; } >"$out"
  rm -f "$dir"
}
seed one-entry "hello world" 0 5 car.dff
seed two-entries "abcdefghij" 0 4 car.dff 4 6 b.txd
seed same-name "abcdefghij" 0 8 Car.dff 8 2 CAR.DFF
seed shared "abcdefghij" 0 10 a.dff 0 10 b.txd 2 6 c.dat
seed space-name "abcdefghij" 0 3 "my car.dff" 3 0 empty.dat
seed hostile "abcdefghij" 0 1 good.dff 1 2 ../evil.dff
seed device "abcdefghij" 0 1 good.dff 1 1 con.txd
seed past-end "abc" 1 5 car.dff
seed negative "abc" -1 2 car.dff

# The fuzzer's sandbox lives in a private temporary folder, in memory when possible.
scratch=$(mktemp -d -p /dev/shm tessera-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
TMPDIR="$scratch" ASAN_OPTIONS=detect_leaks=1 build-fuzz/tests/fuzz/package_fuzzer \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -dict=tests/fuzz/package.dict -artifact_prefix="$work/artifacts/" "$work/corpus" "$work/seeds"
