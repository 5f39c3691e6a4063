#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: lintian, the AppStream and
# desktop-entry validators, then an install with dpkg into a temporary root, where the files
# must be where the desktop entry, the MIME type, the manual pages and the shell completion
# expect them, and the programs must run.
set -euo pipefail
source "$(dirname "$0")/apt.sh"
cd "$(dirname "$0")/.."

packages=(lintian appstream desktop-file-utils shared-mime-info man-db file libxml2-utils)
apt_install_missing "${packages[@]}"

deb=$(scripts/package.sh | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

passed=0
failed=0
# check DESCRIPTION COMMAND...: runs the command, counts it, and shows what it said on failure.
check() {
  local what=$1
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    [ -z "$out" ] || printf '%s\n' "$out" | sed 's/^/    /'
  fi
}

echo "== $deb"
check "lintian reports no errors or warnings" lintian --fail-on error,warning "$deb"
check "the dependencies come from dpkg-shlibdeps" \
  bash -c 'deps=$(dpkg-deb -f "$1" Depends); for p in libc6 libstdc++6 libqt6widgets6 qt6-qpa-plugins; do
             [[ ", $deps," == *", $p "* || ", $deps," == *", $p,"* ]] || { echo "no $p in: $deps"; exit 1; }; done' _ "$deb"

# A dpkg database of its own: nothing of the machine's is touched.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
check "dpkg installs the package into a temporary root" \
  dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless -i "$deb"
share=$root/usr/share

# The desktop entry: valid; its program, icon and MIME type are where it names them.
desktop=$share/applications/tessera.desktop
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "the desktop entry is valid" desktop-file-validate "$desktop"
exec_line=$(entry Exec)
check "the desktop entry's program is installed" test -x "$root/usr/bin/${exec_line%% *}"
check "the desktop entry passes one file to the program (%f)" test "${exec_line#* }" = "%f"
icon=$(entry Icon)
for size in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$icon.png
  check "icon $png is ${size}x${size}" bash -c 'file "$1" | grep -q "PNG image data, $2 x $2,"' _ "$png" "$size"
done
check "the scalable icon is an SVG" bash -c 'xmllint --noout "$1" && grep -q "<svg" "$1"' _ "$share/icons/hicolor/scalable/apps/$icon.svg"
mime_type=application/x-tessera-package
check "the desktop entry opens $mime_type" test "$(entry MimeType)" = "$mime_type;"

# The MIME type: a database built from the installed definitions (in a copy, as the system's
# trigger would) maps *.zpk to it.
mime=$scratch/mime
cp -r "$share/mime" "$mime"
check "update-mime-database takes the definitions" update-mime-database "$mime"
check "*.zpk is $mime_type" grep -qx "[0-9]*:$mime_type:\*\.zpk" "$mime/globs2"
check "the type has its own entry" test -f "$mime/$mime_type.xml"

# AppStream: valid, named after its id, and pointing at what the package installs.
metainfo=$(ls "$share"/metainfo/*.metainfo.xml)
id=$(xmllint --xpath 'string(/component/id)' "$metainfo")
check "appstreamcli validate passes" appstreamcli validate --no-net "$metainfo"
check "the metainfo file is named after its id $id" test "$(basename "$metainfo")" = "$id.metainfo.xml"
check "the metainfo's launchable is the desktop entry" \
  test -f "$share/applications/$(xmllint --xpath 'string(/component/launchable[@type="desktop-id"])' "$metainfo")"
check "the metainfo's media type is the desktop entry's" \
  test "$(xmllint --xpath 'string(/component/provides/mediatype)' "$metainfo")" = "$mime_type"
check "the metainfo's release is the package's version" \
  test "$(xmllint --xpath 'string(/component/releases/release[1]/@version)' "$metainfo")" = "$version"

# Every program: runs, gives the package's version, and has its manual page where man finds it.
for program in tessera tessera-cli; do
  check "$program --version gives $version" test "$("$root/usr/bin/$program" --version)" = "$program $version"
  check "man finds $program(1) in the root" \
    test "$(MANPATH=$share/man man -w "$program")" = "$share/man/man1/$program.1.gz"
  check "$program(1) renders without warnings" \
    bash -c 'warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null); [ -z "$warnings" ] || { echo "$warnings"; exit 1; }' \
    _ "$share/man/man1/$program.1.gz"
done

# Texts that name the version by hand must follow the project's.
check "the changelog's latest entry is $version" \
  bash -c 'zcat "$1" | head -n 1 | grep -qF "tessera ($2)"' _ "$share/doc/tessera/changelog.gz" "$version"
for page in tessera tessera-cli; do
  check "$page(1) is of Tessera $version" \
    bash -c 'zcat "$1" | grep -q "^\.TH .* \"Tessera $2\""' _ "$share/man/man1/$page.1.gz" "$version"
done

# The contact address (a build setting; the tests check the programs give it): the maintainer's
# is the one the changelog is signed with and the copyright's contact.
maintainer=$(dpkg-deb -f "$deb" Maintainer)
check "the changelog is signed by the maintainer $maintainer" \
  bash -c 'zcat "$1" | grep -m 1 "^ -- " | grep -qF " -- $2  "' _ "$share/doc/tessera/changelog.gz" "$maintainer"
check "the copyright's contact is the maintainer" grep -qxF "Upstream-Contact: $maintainer" "$share/doc/tessera/copyright"

# The bash completion: found by the program's name, and completing what the program takes.
completion=$share/bash-completion/completions/tessera-cli
mkdir -p "$scratch/work/mods" "$scratch/work/game dir"
touch "$scratch/work/car.zpk" "$scratch/work/BIG.ZPK" "$scratch/work/car.dir" "$scratch/work/notes.txt"
complete_words() {
  (cd "$scratch/work" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
                                  _tessera_cli; printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$@")
}
help_commands=$("$root/usr/bin/tessera-cli" --help | awk '/^Commands:/ {on = 1; next} on && NF == 0 {on = 0} on {print $1}' | sort)
check "every command of --help is completed" \
  test "$(complete_words tessera-cli '' | grep -v '^-')" = "$help_commands"
check "a package is completed from .zpk files and folders" \
  test "$(complete_words tessera-cli install '' | tr '\n' '|')" = "BIG.ZPK|car.zpk|game dir|mods|"
check "--game completes folders only" \
  test "$(complete_words tessera-cli install car.zpk --game '' | tr '\n' '|')" = "game dir|mods|"
check "install's options are completed" \
  test "$(complete_words tessera-cli install --d)" = "--dry-run"

check "dpkg removes the package and leaves no file" \
  bash -c 'dpkg --root="$1" --force-not-root --force-script-chrootless --purge tessera && [ -z "$(find "$1/usr" -type f)" ]' _ "$root"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
