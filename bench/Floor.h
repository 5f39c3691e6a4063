// The physical floor of an install: the package's bytes copied once into a scratch folder and
// once onto the end of a copy of the target archive (or over the stock file), with plain copies.
#pragma once

#include "Fixture.h"

#include <string>
#include <vector>

namespace tessera::bench {

// The floor's targets, copied from the game folder so the timed copies append to real archives.
struct FloorTargets {
    std::vector<std::string> perFile;   // native path each package file goes to
    std::vector<std::string> distinct;  // each target once
};

// Copies the files the package targets from gameTemplate into floorFolder (an empty folder).
FloorTargets PrepareFloor(const BenchPackage& package, const std::string& gameTemplate, const std::string& floorFolder);

struct FloorTimes {
    double seconds = 0;        // the copies
    double flushSeconds = 0;   // then making the targets durable: fsync of each (the plain floor: one sync)
};

// Times the copies: every entry from the .zpk into its own file in scratch (an empty native
// folder ending in '/'), then each of those onto the end of its archive or over its stock file.
FloorTimes MeasureFloor(const BenchPackage& package, const FloorTargets& targets, const std::string& scratch);

// The plain floor a user would compare with: the .zpk copied whole to a scratch file (cp), then
// each file's bytes from there appended onto its archive or written over its stock file (cat),
// inside the kernel as cp and cat do, then one sync. scratchFile: a native path that does not exist yet.
FloorTimes MeasurePlainFloor(const BenchPackage& package, const FloorTargets& targets, const std::string& scratchFile);

} // namespace tessera::bench
