#!/usr/bin/env bash
# Tests the Windows build under Wine, with a private prefix (build-win/wineprefix) and one
# wineserver for the whole run: the unit tests cross-built for Windows (the download tests among
# them), the console end-to-end tests (the Linux test programs) against tessera-cli.exe, and
# tessera.exe under Xvfb.
set -euo pipefail
source "$(dirname "$0")/apt.sh"
cd "$(dirname "$0")/.."
root=$PWD
win=$root/build-win

need=()
command -v wine >/dev/null || need+=(wine wine64)
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v xdotool >/dev/null || need+=(xdotool)
command -v import >/dev/null || need+=(imagemagick)
apt_install "${need[@]}"

scripts/windows-build.sh
# The console tests are Linux programs; they run tessera-cli.exe through a wrapper.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target cli_archive_tests cli_install_tests download_tests

export WINEPREFIX=$win/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Never a window of Wine's own (no desktop integration, no crash dialog).
export DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== a private Wine prefix in $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # The server of the set-up lingers for a few seconds; ours must be the only one.
  wineserver -w
fi
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# Wine's own background programs start with the first program and keep the output streams they
# are given: they get none, or ctest would wait for them to end.
wineboot >/dev/null 2>&1 </dev/null

echo "== unit tests under Wine"
ctest --test-dir "$win" --output-on-failure

echo "== console tests against tessera-cli.exe under Wine"
cat >"$win/wine-cli" <<'WRAPPER'
#!/usr/bin/env bash
# tessera-cli.exe as the console tests run tessera-cli: absolute paths among the arguments pass
# through winepath, and where the program prints one of them back it reads as given again;
# CR LF line ends become LF.
# Wine keeps its server under TMPDIR, so a test's own TMPDIR would start a second one. The
# program's temporary folder is Wine's Temp: what the run leaves there is moved to the test's
# TMPDIR, where the test looks for leftovers.
tmpdir=${TMPDIR-}
unset TMPDIR
args=("$@")
idx=(); paths=()
for i in "${!args[@]}"; do
  if [[ ${args[$i]} == /* ]]; then idx+=("$i"); paths+=("${args[$i]}"); fi
done
export WINE_CLI_PATHS=""
if [ ${#paths[@]} -gt 0 ]; then
  mapfile -t converted < <(winepath -w "${paths[@]}" | tr -d '\r')
  for k in "${!idx[@]}"; do
    args[${idx[$k]}]=${converted[$k]}
    WINE_CLI_PATHS+="${converted[$k]}"$'\t'"${paths[$k]}"$'\n'
  done
fi
out=$(mktemp); err=$(mktemp)
declare -A before
while IFS= read -r -d '' name; do before[$name]=1; done < <(find "$WINE_TEMP" -mindepth 1 -maxdepth 1 -printf '%f\0')
# Wine sets APPDATA itself, so the program's data folder is the prefix's whatever the test gives.
# A test's own data folder (XDG_DATA_HOME, as the Linux tests give it) is moved in for the run
# and out again after: no test finds another's journals or history (Wine hands a deleted
# folder's inode, and so its identity, to the next one made).
data=""
if [ -n "${XDG_DATA_HOME-}" ]; then
  data=$XDG_DATA_HOME/tessera-under-wine
  rm -rf "$WINE_APPDATA/Tessera"
  if [ -d "$data" ]; then mv "$data" "$WINE_APPDATA/Tessera"; fi
fi
wine "$(dirname "$0")/tessera-cli.exe" "${args[@]}" >"$out" 2>"$err"
status=$?
if [ -n "$data" ] && [ -d "$WINE_APPDATA/Tessera" ]; then mkdir -p "$XDG_DATA_HOME" && mv "$WINE_APPDATA/Tessera" "$data"; fi
if [ -n "$tmpdir" ]; then
  while IFS= read -r -d '' name; do
    [ -n "${before[$name]-}" ] || mv "$WINE_TEMP/$name" "$tmpdir/"
  done < <(find "$WINE_TEMP" -mindepth 1 -maxdepth 1 -printf '%f\0')
fi
unix() {
  perl -pe 'BEGIN { @m = sort { length($b->[0]) <=> length($a->[0]) } map { [split /\t/] } grep { length } split /\n/, $ENV{WINE_CLI_PATHS} }
            s/\r\n/\n/g; for my $p (@m) { s/\Q$p->[0]\E/$p->[1]/g }' "$1"
}
unix "$out"; unix "$err" >&2
rm -f "$out" "$err"
exit $status
WRAPPER
chmod +x "$win/wine-cli"
WINE_TEMP=$(winepath -u "$(wine cmd /c 'echo %TEMP%' </dev/null | tr -d '\r')")
export WINE_TEMP
mkdir -p "$WINE_TEMP"
WINE_APPDATA=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' </dev/null | tr -d '\r')")
export WINE_APPDATA
mkdir -p "$WINE_APPDATA"
# Left out, as they concern Linux alone: file names written from Linux that Windows cannot
# hold (control characters, backslashes, a Latin-1 byte that Wine reads as UTF-8), the Qt
# settings file, and a journal written by the Linux build into the Linux data folder.
TESSERA_TEST_CLI=$win/wine-cli build/tests/cli_archive_tests --gtest_brief=1 \
  --gtest_filter=-CliPack.WritesEntriesInNameOrderAndExtractGivesThemBack:CliPack.RefusesUnfitNamesNamingTheFileAndWritesNothing
TESSERA_TEST_CLI=$win/wine-cli build/tests/cli_install_tests --gtest_brief=1 \
  --gtest_filter=-Cli.InstallUsesTheStoredFolderOrSaysThereIsNone:Cli.RecoverRollsBackAnInterruptedInstall
TESSERA_TEST_CLI=$win/wine-cli build/tests/download_tests --gtest_brief=1 --gtest_filter=Download.ConsoleInstallsPacksAndPlansDownloads

echo "== tessera.exe under Xvfb"
# The server kept for the tests above runs a desktop with no display, started by wineboot; the
# smoke test's windows must go to Xvfb's, so it starts a server of its own.
wineserver -k
wineserver -w
xvfb-run -a -s "-screen 0 1024x768x24" scripts/windows-smoke.sh

echo "windows-test: passed"
