#!/usr/bin/env bash
# Compiles the logic layers and the Windows file-system services with the MinGW cross compiler,
# so code that only Windows builds is checked too.
set -euo pipefail
source "$(dirname "$0")/apt.sh"
cd "$(dirname "$0")/.."
command -v x86_64-w64-mingw32-g++-posix >/dev/null || apt_install g++-mingw-w64-x86-64-posix
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The generated stock-list source and the configured texts come from the host build.
[ -f build/catalogue/StockListData.cpp ] && [ -f build/platform/BuildSettings.h ] ||
  { cmake -S . -B build -G Ninja >/dev/null && cmake --build build --target tessera_catalogue >/dev/null; }
# libarchive's and libxxhash's headers are the same for every platform; Debian ships no MinGW
# build to link (xxhash.h is compiled inline, as the Windows build does).
[ -f /usr/include/xxhash.h ] || apt_install libxxhash-dev
mkdir "$out/include"
cp /usr/include/archive.h /usr/include/archive_entry.h /usr/include/xxhash.h "$out/include/"
for f in platform/Error.cpp platform/FileSystemCommon.cpp platform/win32/FileSystemWin32.cpp platform/win32/DocumentsFolderWin32.cpp platform/win32/RegistrySettingsStore.cpp platform/LargeBuffer.cpp platform/ResData.cpp platform/Timing.cpp \
         platform/TextLocale.cpp archive/Archive.cpp archive/GameRules.cpp archive/ModSource.cpp archive/DownloadReader.cpp archive/PackageCheck.cpp catalogue/modMain.cpp install/InstallEvents.cpp install/InstallChecks.cpp install/InstallPackage.cpp \
         install/InstallDownload.cpp install/Journal.cpp install/PackageHashes.cpp install/GameFolderPaths.cpp install/Hash.cpp install/History.cpp install/HistoryStore.cpp install/Recovery.cpp \
         install/Uninstall.cpp install/Compact.cpp; do
  x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror \
    -Iplatform -Iplatform/win32 -Iarchive -Icatalogue -Iinstall -Ibuild/catalogue -Ibuild/platform -isystem "$out/include" -c "$f" -o "$out/$(basename "$f").o"
done
echo "windows-check: the logic and the Windows file-system services compile for Windows"
