#!/usr/bin/env bash
# Builds the Debian package of Tessera with cpack -G DEB: build-deb/tessera_VERSION_amd64.deb.
# The programs are built without the tests, with Debian's hardening flags; dpkg-shlibdeps finds
# their dependencies. Prints the package's path last. TESSERA_CONTACT_EMAIL, when set, is the
# address the programs give players and the package names as its maintainer.
set -euo pipefail
source "$(dirname "$0")/apt.sh"
cd "$(dirname "$0")/.."
build=${TESSERA_DEB_BUILD:-build-deb}

scripts/deps.sh
# dpkg-shlibdeps (dpkg-dev) and file, which cpack uses to find the programs.
packages=(dpkg-dev file)
apt_install_missing "${packages[@]}"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DTESSERA_TESTS=OFF -DTESSERA_WITH_UI=ON -DTESSERA_WERROR="${TESSERA_WERROR:-OFF}" \
        ${TESSERA_CONTACT_EMAIL:+"-DTESSERA_CONTACT_EMAIL=$TESSERA_CONTACT_EMAIL"} >/dev/null
cmake --build "$build"
rm -f "$build"/tessera_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tessera_*_amd64.deb)
echo "$deb"
