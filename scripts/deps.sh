#!/usr/bin/env bash
# Installs what Tessera needs to build, test and run on Debian 12 (skips apt when all is there).
set -euo pipefail
source "$(dirname "$0")/apt.sh"
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libgl-dev libarchive-dev libssl-dev libxxhash-dev libcli11-dev nlohmann-json3-dev
          clang libclang-rt-14-dev xvfb xauth xdotool x11-utils imagemagick libx11-dev
          dbus at-spi2-core libglib2.0-bin
          e2fsprogs mount)
apt_install_missing "${packages[@]}"
