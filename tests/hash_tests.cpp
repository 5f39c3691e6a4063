// The history's hashes: known answers, the hashes an install records in its one pass over the
// package against what the game folder then holds, and records of 1.2.0 (SHA-256) still checked.
#include "FileSystem.h"
#include "GameFolderTest.h"
#include "Hash.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace tessera;
using namespace tessera::test;

TEST(Hash, KnownAnswersPiecesAndNames)
{
    EXPECT_EQ(kHashName, "xxh3-128");
    EXPECT_EQ(HashHex({}), "99aa06d3014798d86001c324468d497f");
    EXPECT_EQ(HashHexAs(kLegacyHashName, {}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashHexAs(kLegacyHashName, ToBytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HashHexAs(kLegacyHashName, ToBytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HashHexAs(kLegacyHashName, Bytes(1000000, std::byte{'a'})), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_THROW(HashHexAs("md5", {}), TesseraError);
    EXPECT_FALSE(CanHash("sha-1"));

    // Given in pieces of any size, the same hash as given whole.
    const Bytes data = Pattern(300'000, 7);
    const std::string whole = HashHex(data);
    EXPECT_EQ(whole.size(), 32u);
    std::mt19937 random(24);
    for (int round = 0; round < 20; ++round) {
        ContentHash hash;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t n = std::min<std::size_t>(data.size() - at, random() % (round < 10 ? 64 : 70'000));
            hash.Update(std::span(data).subspan(at, n));
            at += n;
        }
        EXPECT_EQ(hash.HexDigest(), whole) << "round " << round;
    }
    TempDir dir;
    WriteFile(dir / "f", data);
    EXPECT_EQ(HashFile(dir / "f"), whole);
    EXPECT_EQ(HashFileAs(kLegacyHashName, dir / "f"), HashHexAs(kLegacyHashName, data));
    const fs::File file(dir / "f", fs::OpenMode::Read);
    Bytes buffer(1000);
    EXPECT_EQ(HashRange(file, 5, 200'000, buffer), HashHex(Slice(data, 5, 200'000)));
    EXPECT_EQ(HashRange(file, 299'000, 5000, buffer), HashHex(Slice(data, 299'000, 1000)));   // past the end: what is there
}

namespace {

class HashInstall : public GameFolderTest {
protected:
    std::string RecordPath(int id) { return HistoryFolder(options.journalFolder, fs::AbsolutePath(game)) + std::to_string(id) + ".record"; }

    // Every hash of the record against what the game folder and the package hold now.
    void ExpectRecordMatches(const HistoryRecord& r, const std::string& base, int stocks = 2, int adds = 3)
    {
        EXPECT_EQ(r.zpkHash, HashFileAs(r.hashName, base + ".zpk"));
        EXPECT_EQ(r.dirHash, HashFileAs(r.hashName, base + ".dir"));
        int stock = 0, added = 0;
        for (const HistoryFile& f : r.files) {
            if (f.kind == HistoryFile::Kind::Stock) {
                ++stock;
                EXPECT_EQ(f.hash, HashFileAs(r.hashName, f.path)) << f.path;
            } else if (f.kind == HistoryFile::Kind::Added) {
                ++added;
                const DirRecord d = DecodeRecord(f.after);
                const fs::File img(f.path + ".img", fs::OpenMode::Read);
                EXPECT_EQ(f.hash, HashRangeAs(r.hashName, img, d.lOffset * kBlockSize, d.lSize * kBlockSize)) << f.name;
            }
        }
        EXPECT_EQ(stock, stocks);
        EXPECT_EQ(added, adds);
        EXPECT_TRUE(CheckUntouched({r}).empty());
    }
};

} // namespace

// Entries out of order, overlapping, sharing bytes with refused ones, one spanning two pieces of
// the transfer buffer and one empty stock file: the hashes taken in the one pass over the .zpk
// are those of what the game folder holds afterwards.
TEST_F(HashInstall, RecordedHashesAreThoseOfWhatWasWritten)
{
    const std::int64_t piece = static_cast<std::int64_t>(kTransferBufferSize);
    const Bytes zpk = Pattern(static_cast<std::size_t>(piece + 600'000), 31);
    const std::string base = root / "mod";
    WriteFile(base + ".zpk", zpk);
    WriteFile(base + ".dir", Concat({Record(static_cast<std::int32_t>(piece - 100'000), 300'000, "big.txd"),
                                     Record(10, 5000, "notes.txt"),
                                     Record(0, 4097, "car.dff"),
                                     Record(4000, 2048, "hud.txd"),
                                     Record(4000, 1, "scene.dat"),
                                     Record(static_cast<std::int32_t>(piece + 599'000), 0, "default.dat"),
                                     Record(7, 3, "CAR.DFF")}));
    ASSERT_EQ(InstallPackage(base + ".zpk", settings, window, options), InstallResult::Installed);
    const std::vector<HistoryRecord> history = ReadHistory(FolderOf(RecordPath(1)));
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].hashName, kHashName);
    EXPECT_NE(ReadText(RecordPath(1)).find("\nhash xxh3-128\n"), std::string::npos);
    ExpectRecordMatches(history[0], base);
}

// Random layouts of a package, each installed into a game folder of its own twice: copied inside
// the kernel where the system can, its hashes read in a pass of their own, and through the buffer, where a package
// whose files lie in the order they are copied has its hashes taken from the copies and is read
// once, not twice. Both ways record the same hashes, those of what the game folder then holds.
TEST_F(HashInstall, HashesTakenFromTheCopiesAreThoseOfTheirOwnPass)
{
    struct Restore {
        ~Restore()
        {
            fs::faults::CopyThroughBufferOnly(false);
            fs::faults::Observe({});
        }
    } restore;
    struct Entry {
        std::string name;
        std::int64_t size;
    };
    const bool kernelCopies = fs::CopiesInKernel();   // else both ways go through the buffer
    std::mt19937 random(11);
    for (int round = 0; round < 8; ++round) {
        // A big entry crossing the slices of both reads, and a few small ones, one of them refused.
        std::vector<Entry> entries = {{"big.txd", 4'500'000 + static_cast<std::int64_t>(random() % 100'000)}, {"notes.txt", 3000}};
        for (const char* name : {"car.dff", "hud.txd", "default.dat", "handling.cfg"})
            if (random() % 3 != 0)
                entries.push_back({name, static_cast<std::int64_t>(random() % 9000) + (std::string(name).ends_with("d.dat") ? 0 : 1)});
        std::shuffle(entries.begin(), entries.end(), random);
        const bool inOrder = round % 4 != 3;
        Bytes dir;
        // The files are copied in the order of their names, whatever the order of their records;
        // out of order, they lie in the .zpk the other way round.
        std::vector<std::size_t> layout(entries.size());
        std::iota(layout.begin(), layout.end(), std::size_t{0});
        std::sort(layout.begin(), layout.end(), [&](std::size_t x, std::size_t y) { return (entries[x].name < entries[y].name) == inOrder; });
        std::vector<std::int64_t> offsets(entries.size());
        std::int64_t at = round % 2 ? 0 : static_cast<std::int64_t>(random() % 5000);
        for (const std::size_t i : layout) {
            offsets[i] = at;
            at += entries[i].size + (round % 2 ? 0 : static_cast<std::int64_t>(random() % 5000));
        }
        for (std::size_t i = 0; i < entries.size(); ++i)
            dir = Concat({dir, Record(static_cast<std::int32_t>(offsets[i]), static_cast<std::int32_t>(entries[i].size), entries[i].name)});
        const std::string base = root / ("mod" + std::to_string(round));
        WriteFile(base + ".zpk", Pattern(static_cast<std::size_t>(at + static_cast<std::int64_t>(random() % 3000)), round));
        WriteFile(base + ".dir", dir);
        const int stocks = static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const Entry& e) {
            return e.name == "default.dat" || e.name == "handling.cfg" || e.name == "hud.txd";
        }));
        const int adds = static_cast<int>(entries.size()) - stocks - 1;   // notes.txt is refused

        std::vector<HistoryRecord> records;
        long reads[2] = {0, 0};
        for (const bool buffered : {false, true}) {
            fs::faults::CopyThroughBufferOnly(buffered);
            fs::faults::Observe([&](const std::string& what, const std::string& path, bool) {
                reads[buffered] += what == std::string("read") && path.ends_with(".zpk");
            });
            const std::string folder = root / ("game" + std::to_string(round) + (buffered ? "b" : "k"));
            fs::CreateFolders(folder);
            MemorySettingsStore folderStore;
            folderStore.SaveSetting("Tessera", "Settings", "GTA3Path", MakeGameFolder(folder));
            modMain folderSettings{folderStore};
            folderSettings.LoadSettings();
            InstallOptions folderOptions;
            folderOptions.journalFolder = folder + "/journal/";
            ASSERT_EQ(InstallPackage(base + ".zpk", folderSettings, window, folderOptions), InstallResult::Installed) << round;
            fs::faults::Observe({});
            records.push_back(ReadHistory(HistoryFolder(folderOptions.journalFolder, fs::AbsolutePath(folderSettings.sGTA3Path))).at(0));
            ExpectRecordMatches(records.back(), base, stocks, adds);
        }
        EXPECT_EQ(records[0].zpkHash, records[1].zpkHash) << round;
        ASSERT_EQ(records[0].files.size(), records[1].files.size()) << round;
        for (std::size_t i = 0; i < records[0].files.size(); ++i)
            EXPECT_EQ(records[0].files[i].hash, records[1].files[i].hash) << round << " " << records[0].files[i].name;
        // Without gaps, only the refused file and what follows the last one are read, not the big
        // entry's slices again; out of order, the pass of its own is made.
        if (!inOrder) {
            EXPECT_EQ(reads[1], reads[0]) << round;
        } else if (round % 2) {
            EXPECT_LE(reads[1], 2) << round;
            EXPECT_TRUE(!kernelCopies || reads[0] >= 5) << round << ": " << reads[0];
        }
    }
}

// A record written by 1.2.0 names no hash and holds SHA-256: it reads, its hashes are checked as
// SHA-256, a change is still found, and the same package is still known as a reinstall.
TEST_F(HashInstall, RecordsOfOneTwoZeroStillCheck)
{
    const std::string base = root / "mod";
    WritePackage(base, {{"car.dff", Pattern(3000, 1)}, {"hud.txd", ToBytes("new hud")}, {"new.txd", Pattern(10, 2)},
                        {"default.dat", ToBytes("new default")}, {"intro.dat", Pattern(70, 3)}});
    ASSERT_EQ(InstallPackage(base + ".zpk", settings, window, options), InstallResult::Installed);
    const std::string folder = FolderOf(RecordPath(1));
    HistoryRecord r = ReadHistory(folder).at(0);

    // The record as 1.2.0 wrote it: SHA-256 throughout, and no hash line.
    r.hashName = kLegacyHashName;
    r.zpkHash = HashFileAs(kLegacyHashName, base + ".zpk");
    r.dirHash = HashFileAs(kLegacyHashName, base + ".dir");
    for (HistoryFile& f : r.files) {
        if (f.kind == HistoryFile::Kind::Stock) {
            f.hash = HashFileAs(kLegacyHashName, f.path);
        } else if (f.kind == HistoryFile::Kind::Added) {
            const DirRecord d = DecodeRecord(f.after);
            const fs::File img(f.path + ".img", fs::OpenMode::Read);
            f.hash = HashRangeAs(kLegacyHashName, img, d.lOffset * kBlockSize, d.lSize * kBlockSize);
        }
    }
    WriteHistoryRecord(RecordPath(1), r);
    WriteFile(RecordPath(1), ToBytes(AsFirstFormat(ReadText(RecordPath(1)), false)));

    const std::vector<HistoryRecord> history = ReadHistory(folder);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].hashName, kLegacyHashName);
    EXPECT_EQ(history[0].zpkHash.size(), 64u);
    ExpectRecordMatches(history[0], base);
    EXPECT_EQ(EarlierInstallOfPackage(history, base + ".zpk"), &history[0]);

    WriteFile(game + "models/hud.txd", ToBytes("new hut"));
    const std::vector<std::string> problems = CheckUntouched(history);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("hud.txd"), std::string::npos) << problems[0];
}

// A record of thousands of files is written a slice at a time: with either hash it reads back
// whole, and a byte changed anywhere in it, at a slice's edge or in its last line, is damage.
TEST(HistoryRecordFile, LargeRecordsReadBackAndEveryByteIsChecked)
{
    TempDir dir;
    const std::string folder = dir / "history/";
    fs::CreateFolders(folder);
    HistoryRecord r;
    r.id = 1;
    r.package = "big pack.zpk";
    r.journalHash = HashHex(ToBytes("journal"));
    r.zpkHash = HashHex(ToBytes("zpk"));
    r.dirHash = HashHex(ToBytes("dir"));
    r.date = "2026-12-08 05:00:00 UTC";
    r.archives.push_back({"/game/models/gta3", 4096, 64, 4096 + 3200 * 2048, 64 + 3200 * 32});
    for (int i = 0; i < 3200; ++i) {
        HistoryFile f;
        f.kind = HistoryFile::Kind::Added;
        f.path = "/game/models/gta3";
        f.name = "entry" + std::to_string(i) + ".dff";
        f.position = i + 2;
        f.hash = HashHex(ToBytes(f.name));
        const Bytes record = Record(i, 1, f.name);
        std::copy(record.begin(), record.end(), f.after.begin());
        r.files.push_back(f);
    }
    for (const std::string_view name : {kHashName, kLegacyHashName}) {
        r.hashName = name;
        WriteHistoryRecord(folder + "1.record", r);
        const Bytes written = ReadFile(folder + "1.record");
        ASSERT_GT(written.size(), std::size_t{530'000});
        const std::vector<HistoryRecord> back = ReadHistory(folder);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].hashName, name);
        ASSERT_EQ(back[0].files.size(), r.files.size());
        for (std::size_t i = 0; i < r.files.size(); i += 499) {
            EXPECT_EQ(back[0].files[i].name, r.files[i].name);
            EXPECT_EQ(back[0].files[i].hash, r.files[i].hash);
            EXPECT_EQ(back[0].files[i].after, r.files[i].after);
        }
        for (const std::size_t at : {std::size_t{262'143}, std::size_t{262'144}, std::size_t{524'290}, written.size() - 3}) {
            Bytes changed = written;
            changed[at] = changed[at] == std::byte{'0'} ? std::byte{'1'} : std::byte{'0'};
            WriteFile(folder + "1.record", changed);
            EXPECT_THROW(ReadHistory(folder), TesseraError) << name << ", byte " << at;
        }
    }
}
