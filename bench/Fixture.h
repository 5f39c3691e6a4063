// The benchmark's data: a full-scale game folder (the three archives at the game's own size and
// every stock file as a small file) and the packages installed into it, written in chunks so
// building them does not raise the process's peak memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera::bench {

inline constexpr std::int64_t kMiB = std::int64_t{1} << 20;
inline constexpr std::int64_t kKiB = std::int64_t{1} << 10;

// Fills out with the bytes at position `at` of the deterministic stream of seed.
void FillBytes(std::span<std::byte> out, std::uint64_t seed, std::int64_t at);

// One game archive: its base relative to the game folder and its entries.
struct GameArchive {
    std::string base;                 // "models\gta3", "models\txd" or "anim\cuts"
    std::vector<std::string> names;
    std::vector<std::int32_t> blocks; // size of each entry in blocks
    std::int64_t Bytes() const;
};

struct GameFixture {
    std::string folder;                    // the game folder text, ending in '/'
    std::vector<GameArchive> archives;     // gta3, txd, cuts
    std::vector<std::string> stockFiles;   // relative path texts of the stock files, archives left out
    const GameArchive& Archive(const std::string& base) const;
};

// Builds the game folder: each archive with `entries` entries totalling `bytes`, and each stock
// file of stockList (relative path texts) other than the archives as a small file.
GameFixture BuildGameFolder(const std::string& folder, const std::vector<std::string>& stockList);

// One file of a package and where an install puts it.
struct BenchFile {
    std::string name;
    std::int64_t size = 0;
    std::uint64_t seed = 0;
    std::string archive;     // archive-bound: the archive base relative to the game folder
    std::string stockPath;   // stock file: its path relative to the game folder
    bool replaces = false;   // archive-bound: an entry of this name is already there
};

struct BenchPackage {
    std::string label;
    std::vector<BenchFile> files;
    std::string zpk;   // set by WritePackage
    std::string source;   // a download: what is installed instead of zpk, which holds the same files
    int repetitions = 1;
    std::int64_t TotalBytes() const;
    std::int64_t LargestFile() const;
};

// The five packages of the benchmark: one car, a pack of 1,000 archive files, 50 stock files,
// one 500 MB texture and one 600 MB texture.
std::vector<BenchPackage> PlanPackages(const GameFixture& game);

// Writes base.zpk and base.dir for the package.
void WritePackage(BenchPackage& package, const std::string& base);

} // namespace tessera::bench
