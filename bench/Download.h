// The benchmark's download: a .zip of many one-byte models as players get them, and the same
// files as a package made by the library as tessera-cli pack makes it.
#pragma once

#include "Fixture.h"

#include <string>

namespace tessera::bench {

// Writes base.zip with `members` one-byte .dff members (through libarchive) and base.zpk +
// base.dir from it (through the library's own packer). The result's files are what an install
// of either puts into gta3's archive; its zpk is base.zpk.
BenchPackage WriteDownload(const GameFixture& game, const std::string& base, int members);

} // namespace tessera::bench
