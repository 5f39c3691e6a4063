// Builds the benchmark's game folder and packages on disk, generating their bytes chunk by chunk.
#include "Fixture.h"

#include "Archive.h"
#include "Error.h"
#include "FileSystem.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

namespace tessera::bench {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::int64_t kStockFileSize = 4 * kKiB;

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t SeedOf(std::uint64_t group, std::uint64_t index) { return Mix(group * 0x100000001B3ull + index); }

std::string FolderPart(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Writes a file front to back through one chunk-sized buffer.
class ChunkWriter {
public:
    explicit ChunkWriter(const std::string& path) : file_(path, fs::OpenMode::Create), buffer_(kChunk) {}

    // size bytes of the stream of seed, then zeros up to padTo bytes.
    void Append(std::uint64_t seed, std::int64_t size, std::int64_t padTo = 0)
    {
        for (std::int64_t at = 0; at < std::max(size, padTo);) {
            if (used_ == buffer_.size())
                Drain();
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(std::max(size, padTo) - at, static_cast<std::int64_t>(buffer_.size() - used_)));
            const std::span<std::byte> out(buffer_.data() + used_, n);
            if (at >= size) {
                std::fill(out.begin(), out.end(), std::byte{0});
            } else {
                const auto data = static_cast<std::size_t>(std::min<std::int64_t>(size - at, static_cast<std::int64_t>(n)));
                FillBytes(out.first(data), seed, at);
                std::fill(out.begin() + static_cast<std::ptrdiff_t>(data), out.end(), std::byte{0});
            }
            used_ += n;
            at += static_cast<std::int64_t>(n);
        }
    }

    void Finish()
    {
        Drain();
        file_.Close();
    }

private:
    void Drain()
    {
        file_.WriteAt(written_, std::span<const std::byte>(buffer_.data(), used_));
        written_ += static_cast<std::int64_t>(used_);
        used_ = 0;
    }

    fs::File file_;
    std::vector<std::byte> buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
};

void WriteDirectory(const std::string& path, const std::vector<DirRecord>& records)
{
    std::vector<std::byte> bytes;
    bytes.reserve(records.size() * kRecordSize);
    for (const DirRecord& r : records) {
        const RecordBytes b = EncodeRecord(r);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    fs::WriteWholeFile(path, bytes);
}

DirRecord MakeRecord(std::int64_t offset, std::int64_t size, const std::string& name)
{
    if (name.size() >= kNameSize)
        throw TesseraError(ErrorKind::InvalidArgument, "Benchmark entry name too long: " + name);
    DirRecord r;
    r.lOffset = static_cast<std::int32_t>(offset);
    r.lSize = static_cast<std::int32_t>(size);
    std::memcpy(r.sName.data(), name.data(), name.size());   // the rest stays NUL
    return r;
}

GameArchive PlanArchive(const std::string& base, int entries, std::int64_t bytes, std::uint64_t group,
                        const std::vector<std::string>& extensions, const char* stem, int digits)
{
    GameArchive a;
    a.base = base;
    std::mt19937_64 random(group);
    std::vector<std::int64_t> weights(static_cast<std::size_t>(entries));
    std::int64_t sum = 0;
    for (auto& w : weights)
        sum += (w = 1 + static_cast<std::int64_t>(random() % 16));
    const std::int64_t totalBlocks = bytes / kBlockSize;
    std::int64_t placed = 0;
    for (int i = 0; i < entries; ++i) {
        std::int64_t blocks = std::max<std::int64_t>(1, weights[static_cast<std::size_t>(i)] * totalBlocks / sum);
        if (i == entries - 1)
            blocks = std::max<std::int64_t>(1, totalBlocks - placed);
        placed += blocks;
        a.blocks.push_back(static_cast<std::int32_t>(blocks));
        char name[32];
        std::snprintf(name, sizeof name, "%s%0*d%s", stem, digits, i, extensions[static_cast<std::size_t>(i) % extensions.size()].c_str());
        a.names.push_back(name);
    }
    return a;
}

void WriteArchive(const std::string& folder, const GameArchive& a, std::uint64_t group)
{
    const std::string base = folder + a.base;
    fs::CreateFolders(FolderPart(base));
    ChunkWriter img(base + ".img");
    std::vector<DirRecord> records;
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < a.names.size(); ++i) {
        const std::int64_t size = a.blocks[i] * kBlockSize;
        // The last block of an entry is only partly data, as in the game's own archives.
        img.Append(SeedOf(group, i), size - kBlockSize / 3, size);
        records.push_back(MakeRecord(offset, a.blocks[i], a.names[i]));
        offset += a.blocks[i];
    }
    img.Finish();
    WriteDirectory(base + ".dir", records);
}

// A new package at the end of packages; the reference holds until the next one is added.
BenchPackage& AddPackage(std::vector<BenchPackage>& packages, const char* label, int repetitions)
{
    BenchPackage& p = packages.emplace_back();
    p.label = label;
    p.repetitions = repetitions;
    return p;
}

} // namespace

void FillBytes(std::span<std::byte> out, std::uint64_t seed, std::int64_t at)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const std::int64_t position = at + static_cast<std::int64_t>(done);
        const std::uint64_t word = Mix(seed ^ static_cast<std::uint64_t>(position / 8) * 0xD1B54A32D192ED03ull);
        const auto skip = static_cast<std::size_t>(position % 8);
        const std::size_t n = std::min<std::size_t>(8 - skip, out.size() - done);
        std::memcpy(out.data() + done, reinterpret_cast<const char*>(&word) + skip, n);
        done += n;
    }
}

std::int64_t GameArchive::Bytes() const
{
    std::int64_t blocksTotal = 0;
    for (std::int32_t b : blocks)
        blocksTotal += b;
    return blocksTotal * kBlockSize;
}

const GameArchive& GameFixture::Archive(const std::string& base) const
{
    for (const GameArchive& a : archives)
        if (a.base == base)
            return a;
    throw TesseraError(ErrorKind::KeyNotFound, "No benchmark archive " + base);
}

GameFixture BuildGameFolder(const std::string& folder, const std::vector<std::string>& stockList)
{
    GameFixture game;
    game.folder = folder;
    game.archives.push_back(PlanArchive("models\\gta3", 6000, 100 * kMiB, 1, {".dff"}, "mdl", 5));
    game.archives.push_back(PlanArchive("models\\txd", 1200, 25 * kMiB, 2, {".txd"}, "tex", 4));
    game.archives.push_back(PlanArchive("anim\\cuts", 300, 5 * kMiB, 3, {".anm", ".dat", ".ifp"}, "cut", 3));
    for (std::size_t i = 0; i < game.archives.size(); ++i)
        WriteArchive(folder, game.archives[i], 100 + i);

    std::uint64_t index = 0;
    for (const std::string& relative : stockList) {
        ++index;
        bool isArchive = false;
        for (const GameArchive& a : game.archives)
            isArchive = isArchive || relative == a.base + ".img" || relative == a.base + ".dir";
        if (isArchive)
            continue;
        const std::string path = folder + relative;
        fs::CreateFolders(FolderPart(path));
        ChunkWriter file(path);
        file.Append(SeedOf(200, index), kStockFileSize);
        file.Finish();
        game.stockFiles.push_back(relative);
    }
    return game;
}

std::int64_t BenchPackage::TotalBytes() const
{
    std::int64_t total = 0;
    for (const BenchFile& f : files)
        total += f.size;
    return total;
}

std::int64_t BenchPackage::LargestFile() const
{
    std::int64_t largest = 0;
    for (const BenchFile& f : files)
        largest = std::max(largest, f.size);
    return largest;
}

std::vector<BenchPackage> PlanPackages(const GameFixture& game)
{
    std::vector<BenchPackage> packages;
    const GameArchive& gta3 = game.Archive("models\\gta3");
    const GameArchive& txd = game.Archive("models\\txd");
    const GameArchive& cuts = game.Archive("anim\\cuts");

    BenchPackage& car = AddPackage(packages, "one car", 7);
    car.files.push_back({gta3.names[42], 2 * kMiB, SeedOf(300, 0), gta3.base, {}, true});
    car.files.push_back({txd.names[42], 3 * kMiB, SeedOf(300, 1), txd.base, {}, true});

    BenchPackage& pack = AddPackage(packages, "1000-file pack", 5);
    const GameArchive* targets[] = {&gta3, &txd, &cuts};
    constexpr int kPackFiles = 1000;
    int replacing[3] = {};
    for (int i = 0; i < kPackFiles; i += 2)
        ++replacing[i % 3];
    int replaced[3] = {};
    std::mt19937_64 random(4);
    for (int i = 0; i < kPackFiles; ++i) {
        const int which = i % 3;
        const GameArchive& a = *targets[which];
        BenchFile f;
        f.archive = a.base;
        f.size = 20 * kKiB + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(180 * kKiB + 1));
        f.seed = SeedOf(400, static_cast<std::uint64_t>(i));
        // Half of the files replace entries spread over the archive, half are new.
        f.replaces = i % 2 == 0;
        if (f.replaces) {
            const auto at = static_cast<std::size_t>(replaced[which]++) * a.names.size() / static_cast<std::size_t>(replacing[which]);
            f.name = a.names[at];
        } else {
            static const char* const kCutExtensions[] = {".anm", ".dat", ".ifp"};
            const char* ext = which == 0 ? ".dff" : which == 1 ? ".txd" : kCutExtensions[(i / 3) % 3];
            char name[32];
            std::snprintf(name, sizeof name, "pack%04d%s", i, ext);
            f.name = name;
        }
        pack.files.push_back(std::move(f));
    }

    BenchPackage& stock = AddPackage(packages, "50 stock files", 5);
    std::vector<std::string> eligible;
    for (const std::string& relative : game.stockFiles)
        if (relative.find('\\') != std::string::npos)   // a file at the top of the game folder has no catalogue folder
            eligible.push_back(relative);
    constexpr std::size_t kStockFiles = 50;
    for (std::size_t i = 0; i < kStockFiles; ++i) {
        const std::string& relative = eligible[i * eligible.size() / kStockFiles];
        BenchFile f;
        f.name = relative.substr(relative.find_last_of('\\') + 1);
        f.size = kMiB;
        f.seed = SeedOf(500, i);
        f.stockPath = relative;
        stock.files.push_back(std::move(f));
    }

    BenchPackage& big = AddPackage(packages, "500 MB .txd", 3);
    big.files.push_back({txd.names[100], 500 * kMiB, SeedOf(600, 0), txd.base, {}, true});

    // For the peak memory with one entry larger than any buffer the install may hold.
    AddPackage(packages, "600 MB .txd", 1).files.push_back({txd.names[200], 600 * kMiB, SeedOf(700, 0), txd.base, {}, true});
    return packages;
}

void WritePackage(BenchPackage& package, const std::string& base)
{
    ChunkWriter zpk(base + ".zpk");
    std::vector<DirRecord> records;
    std::int64_t offset = 0;
    for (const BenchFile& f : package.files) {
        zpk.Append(f.seed, f.size);
        records.push_back(MakeRecord(offset, f.size, f.name));
        offset += f.size;
    }
    zpk.Finish();
    WriteDirectory(base + ".dir", records);
    package.zpk = base + ".zpk";
}

} // namespace tessera::bench
