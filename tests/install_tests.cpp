// The install procedure end to end on a small game folder: what reaches the game folder, byte
// for byte, what the window shows, and that a failing install leaves the game folder as it was.
#include "FileSystem.h"
#include "GameFolderTest.h"
#include "GameRules.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

using namespace tessera;
using namespace tessera::test;

namespace {

class Install : public GameFolderTest {
protected:
    InstallResult Run(const std::vector<PackageEntry>& entries)
    {
        WritePackage(root / "mod", entries);
        return InstallPackage(root / "mod.zpk", settings, window, options);
    }

    std::vector<std::string> Titles() const
    {
        std::vector<std::string> titles;
        for (const auto& m : window.messages)
            titles.push_back(m.title);
        return titles;
    }

    // The archive's records: (offset, size, name field bytes as written).
    std::vector<DirRecord> Records(const std::string& base) { return ParseDirectory(ReadFile(game + base + ".dir")); }
};

// What an install left in the journal folder, beside the lock files that stay.
std::vector<std::string> Leftovers(const std::string& folder)
{
    std::vector<std::string> names;
    if (fs::FolderExists(folder))
        for (const auto& name : fs::ListFiles(folder))
            if (!EndsWith(name, ".lock"))
                names.push_back(name);
    return names;
}

std::string Field(const DirRecord& r) { return std::string(r.sName.data(), r.sName.size()); }
std::string Nuls(std::size_t n) { return std::string(n, '\0'); }

} // namespace

TEST_F(Install, RoutesEveryKindOfFileByteForByte)
{
    const Bytes car = Pattern(2049, 1), texture = Pattern(10, 2), cut = Pattern(4096, 3);
    const Snapshot before = TakeSnapshot(game);
    ASSERT_EQ(Run({{"default.dat", ToBytes("new default")},   // stock, though .dat goes to cuts
                   {"hud.txd", ToBytes("new hud")},           // stock, though .txd goes to txd
                   {"car.dff", car},                          // replaces an archive entry
                   {"Tex.TXD", texture},                      // new entry, letter case kept
                   {"scene.dat", cut},                        // non-stock .dat: cut-scene archive
                   {"notes.txt", ToBytes("readme")},
                   {"abc", ToBytes("x")}}),
              InstallResult::Installed);

    EXPECT_EQ(ReadText(game + "data/default.dat"), "new default");
    EXPECT_EQ(ReadText(game + "data/default.dat.old"), "stock default.dat");
    EXPECT_EQ(ReadText(game + "models/hud.txd"), "new hud");
    EXPECT_EQ(ReadText(game + "models/hud.txd.old"), "stock hud.txd");

    // models\gta3: the new data appended in whole blocks, the old entry renamed with space fill.
    const Bytes gta3Before = before.at("models/gta3.img");
    EXPECT_EQ(ReadFile(game + "models/gta3.img"), Concat({gta3Before, Blocks(car)}));
    const auto gta3 = Records("models/gta3");
    ASSERT_EQ(gta3.size(), 3u);
    EXPECT_EQ(Field(gta3[0]), "car.dff.old" + std::string(13, ' '));
    EXPECT_EQ(gta3[0].lOffset, 0);
    EXPECT_EQ(gta3[0].lSize, 2);
    EXPECT_EQ(Field(gta3[1]), "bike.dff" + Nuls(16));
    EXPECT_EQ(gta3[2].lOffset, static_cast<std::int32_t>(gta3Before.size() / 2048));
    EXPECT_EQ(gta3[2].lSize, 2);
    EXPECT_EQ(Field(gta3[2]), "car.dff" + Nuls(17));

    const auto txd = Records("models/txd");
    ASSERT_EQ(txd.size(), 2u);
    EXPECT_EQ(Field(txd[0]), "car.txd" + Nuls(17)) << "Tex.TXD is a new name, nothing set aside";
    EXPECT_EQ(Field(txd[1]), "Tex.TXD" + Nuls(17));
    EXPECT_EQ(ReadFile(game + "models/txd.img"), Concat({before.at("models/txd.img"), Blocks(texture)}));

    const auto cuts = Records("anim/cuts");
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(Field(cuts[1]), "scene.dat" + Nuls(15));
    EXPECT_EQ(cuts[1].lSize, 2);

    // Refused files: one message each, in name order, and the rest installed.
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].title, "Bad file");
    EXPECT_EQ(window.messages[0].text, "The file abc is not supported by Tessera.\r\nPlease notify Orlen : " + std::string(kContactAddress));
    EXPECT_EQ(window.messages[1].text.substr(0, 40), "The file notes.txt is not supported by T");
    EXPECT_FALSE(fs::PathExists(game + "notes.txt"));
    EXPECT_FALSE(fs::PathExists(game + "abc"));

    // The window: one caption per file in name order, then idle again.
    EXPECT_EQ(window.captions, (std::vector<std::string>{"Installing mod.zpk", "Installing abc", "Installing car.dff", "Installing default.dat",
                                                          "Installing hud.txd",
                                                          "Installing notes.txt", "Installing scene.dat", "Installing Tex.TXD",
                                                          "Mod installed!"}));
    EXPECT_TRUE(window.installEnabled);
    EXPECT_TRUE(window.browseEnabled);
    EXPECT_EQ(window.pointer, Pointer::Default);
    ASSERT_GE(window.buttonChanges.size(), 2u);
    EXPECT_EQ(window.buttonChanges[0], std::make_pair(Button::Install, false));
    EXPECT_EQ(window.buttonChanges[1], std::make_pair(Button::BrowseSource, false));
    EXPECT_EQ(window.pointers.front(), Pointer::Hourglass);

    // Nothing left behind: no journal, no scratch files beside the stock files.
    EXPECT_TRUE(Leftovers(options.journalFolder).empty());
    EXPECT_EQ(TakeSnapshot(game).count("data/default.dat.tessera-new"), 0u);
}

TEST_F(Install, SecondInstallKeepsTheFirstBackupAndSetsAsideTheNewEntry)
{
    const Bytes first = Pattern(100, 5), second = Pattern(100, 6);
    ASSERT_EQ(Run({{"default.dat", ToBytes("first")}, {"car.dff", first}, {"new.dff", first}}), InstallResult::Installed);
    ASSERT_EQ(Run({{"default.dat", ToBytes("second")}, {"car.dff", second}, {"new.dff", second}}), InstallResult::Installed);

    EXPECT_EQ(ReadText(game + "data/default.dat"), "second");
    EXPECT_EQ(ReadText(game + "data/default.dat.old"), "stock default.dat");
    const auto gta3 = Records("models/gta3");
    std::vector<std::string> names;
    for (const auto& r : gta3)
        names.push_back(TrimSpaces(RecordName(r.sName)));
    // car.dff held an entry before: two .old entries now; new.dff did not: one.
    EXPECT_EQ(names, (std::vector<std::string>{"car.dff.old", "bike.dff", "car.dff.old", "new.dff.old", "car.dff", "new.dff"}));
    const Bytes img = ReadFile(game + "models/gta3.img");
    const auto& newest = gta3[4];
    EXPECT_EQ(Bytes(img.begin() + newest.lOffset * 2048, img.begin() + newest.lOffset * 2048 + 100), second);
}

TEST_F(Install, StockFileMissingButBackedUpIsCreated)
{
    fs::RenameFile(game + "data/default.dat", game + "data/default.dat.old");
    ASSERT_EQ(Run({{"DEFAULT.DAT", ToBytes("new")}}), InstallResult::Installed);
    EXPECT_EQ(ReadText(game + "data/default.dat"), "new");
    EXPECT_EQ(ReadText(game + "data/default.dat.old"), "stock default.dat");
}

TEST_F(Install, TopLevelStockFileOfAFolderWrittenWithSlashes)
{
    ASSERT_EQ(game.back(), '/');
    ASSERT_EQ(Run({{"gta3.exe", ToBytes("patched")}}), InstallResult::Installed);
    EXPECT_EQ(ReadText(game + "gta3.exe"), "patched");
    EXPECT_EQ(ReadText(game + "gta3.exe.old"), "game executable");
}

TEST_F(Install, EntriesOfOneNameInAnyCaseInstallOnceWithTheLastBytes)
{
    const Bytes longer = Pattern(3000, 7), shorter = Pattern(10, 8);
    ASSERT_EQ(Run({{"New.dff", longer}, {"NEW.DFF", shorter}}), InstallResult::Installed);
    const auto gta3 = Records("models/gta3");
    ASSERT_EQ(gta3.size(), 3u);
    EXPECT_EQ(Field(gta3[2]), "New.dff" + Nuls(17));
    EXPECT_EQ(gta3[2].lSize, 1);
    const Bytes img = ReadFile(game + "models/gta3.img");
    EXPECT_EQ(Bytes(img.end() - 2048, img.end()), Blocks(shorter));
    EXPECT_EQ(window.captions, (std::vector<std::string>{"Installing mod.zpk", "Installing New.dff", "Mod installed!"}));
}

// The game folder as the messages name it: with the platform's separators, and in quotes as
// "the stored game folder" when the text is empty or odd; one without its trailing separator
// is the same folder.
TEST_F(Install, StoredGameFolderAsMessagesNameIt)
{
    const std::string bare = game.substr(0, game.size() - 1);
    const struct {
        std::string stored;
        std::string message;   // empty: installs
    } rows[] = {
        {"", "The stored game folder \"\" was not found"},
        {" " + game, "The stored game folder \" " + DisplayPath(game) + "\" was not found"},
        {game + "\tx", "The stored game folder \"" + DisplayPath(game) + "\\x09x" + fs::kSeparator + "\" was not found"},
        {root / "gone/", "The game folder " + DisplayPath(root / "gone/") + " was not found"},
        {bare, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        store.SaveSetting("Tessera", "Settings", "GTA3Path", row.stored);
        settings.LoadSettings();
        window = RecordingWindowServices();
        const Snapshot before = TakeSnapshot(game);
        const InstallResult result = Run({{"default.dat", ToBytes("new " + row.stored)}});
        if (row.message.empty()) {
            EXPECT_EQ(result, InstallResult::Installed);
            EXPECT_EQ(ReadText(game + "data/default.dat"), "new " + row.stored);
            continue;
        }
        EXPECT_EQ(result, InstallResult::Failed);
        ASSERT_FALSE(window.messages.empty());
        EXPECT_NE(window.messages.back().text.find(row.message), std::string::npos) << window.messages.back().text;
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
    }
}

TEST_F(Install, RefusedWhileAnotherInstallIntoTheFolderRuns)
{
    fs::CreateFolders(options.journalFolder);
    const fs::ExclusiveLock running(JournalPath(options.journalFolder, game) + ".lock");
    ASSERT_TRUE(running.Held());
    const Snapshot before = TakeSnapshot(game);
    ASSERT_EQ(Run({{"default.dat", ToBytes("new")}}), InstallResult::Failed);
    EXPECT_NE(window.messages.at(0).text.find("Another install into " + DisplayPath(game) + " is running"), std::string::npos);
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
}

TEST_F(Install, RefusesArchiveFilesTheGameCannotReadOrThatAreEmpty)
{
    const std::string longName = "abcdefghijklmnopqrst.dff";   // 24 characters
    const std::string longTexture = "abcdefghijklmnopqrst.txd";   // 20 before .txd
    ASSERT_EQ(Run({{longName, ToBytes("x")}, {longTexture, ToBytes("t")}, {"empty.txd", {}}, {"ok.dff", ToBytes("y")}}), InstallResult::Installed);
    ASSERT_EQ(window.messages.size(), 3u);
    EXPECT_EQ(Titles(), (std::vector<std::string>{"Bad file", "Bad file", "Bad file"}));
    EXPECT_EQ(window.messages[0].text, "The file " + longName + " cannot be installed: the game cannot read a name of 24 characters or more in its "
                                       "archives (this one has 24). Give it a name of at most 23 characters.");
    EXPECT_EQ(window.messages[1].text, "The file " + longTexture + " cannot be installed: the game holds a texture dictionary's name in 20 bytes, "
                                       "and this one has 20 characters before .txd, which would overwrite the game's memory. Give it a name of at "
                                       "most 19 characters before .txd (and the same name where the mod's other files name it).");
    EXPECT_NE(window.messages[2].text.find("empty.txd"), std::string::npos);
    EXPECT_EQ(Records("models/gta3").size(), 3u) << "only ok.dff went in";
    EXPECT_EQ(Records("models/txd").size(), 1u);
}

// An extension the game skips as spelt (it reads dff, DFF, txd and TXD) goes in lower-cased, so
// the game keeps the model once the entry it replaces is set aside; the rest keep their case.
TEST_F(Install, ExtensionsTheGameSkipsAreLowerCased)
{
    ASSERT_EQ(Run({{"Car.Dff", Pattern(10, 1)}, {"BIKE.DFF", Pattern(10, 2)}, {"Tex.tXd", Pattern(10, 3)}, {"Scene.Dat", Pattern(10, 4)}}),
              InstallResult::Installed);
    std::vector<std::string> names;
    for (const char* archive : {"models/gta3", "models/txd", "anim/cuts"})
        for (const DirRecord& r : Records(archive))
            names.push_back(TrimSpaces(RecordName(r.sName)));
    EXPECT_EQ(names, (std::vector<std::string>{"Car.dff.old", "BIKE.DFF.old", "BIKE.DFF", "Car.dff", "car.txd", "Tex.txd", "intro.dat", "Scene.Dat"}));
    for (const GameArchive& archive : kGameArchives) {
        const auto records = Records(std::string(archive.relative));
        const auto readings = ReadAsTheGame(archive, records);
        for (std::size_t i = 0; i < records.size(); ++i) {
            const bool setAside = EndsWith(TrimSpaces(RecordName(records[i].sName)), ".old");
            EXPECT_EQ(readings[i].kind == RecordReading::Kind::Read, !setAside) << RecordName(records[i].sName);
        }
    }
}

// Run after run on one window, the caption names the package from the start until the first
// file, then each file, then the outcome; a failed run always puts the idle caption back.
TEST_F(Install, CaptionTellsEveryRunFromStartToEnd)
{
    struct Step {
        const char* why;
        std::vector<PackageEntry> entries;
        std::function<void()> spoil;   // before the run, or while its first message box is open
        InstallResult result;
        std::vector<std::string> captions;
    };
    const Bytes car = ToBytes("car");
    const std::vector<Step> steps = {
        {"installed", {{"car.dff", car}}, nullptr, InstallResult::Installed,
         {"Installing mod.zpk", "Installing car.dff", "Mod installed!"}},
        {"failed in its checks", {{"car.dff", car}}, [&] { fs::DeleteFile(game + "models/gta3.img"); }, InstallResult::Failed,
         {"Installing mod.zpk", "Orlen's Tessera"}},
        {"every file refused", {{"a.txt", car}}, nullptr, InstallResult::NothingInstalled,
         {"Installing mod.zpk", "Installing a.txt", "No file installed"}},
        {"no file at all", {}, nullptr, InstallResult::NothingInstalled, {"Installing mod.zpk", "No file installed"}},
        {"installed again", {{"car.txd", car}}, nullptr, InstallResult::Installed,
         {"Installing mod.zpk", "Installing car.txd", "Mod installed!"}},
        {"failed midway", {{"a.txt", car}, {"car.txd", car}}, [&] { window.onMsgBox = [&](const RecordedMessage&) {
             window.onMsgBox = nullptr;
             fs::DeleteFile(game + "models/txd.img");
         }; },
         InstallResult::Failed, {"Installing mod.zpk", "Installing a.txt", "Installing car.txd", "Orlen's Tessera"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.why);
        window.captions.clear();
        WritePackage(root / "mod", step.entries);
        if (step.spoil)
            step.spoil();
        EXPECT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), step.result);
        EXPECT_EQ(window.captions, step.captions);
    }
}

TEST_F(Install, FolderChangedDuringAnInstallAppliesToTheNextOne)
{
    TempDir other;
    const std::string otherGame = MakeGameFolder(other.Path());
    const Snapshot otherBefore = TakeSnapshot(otherGame);
    window.onDoEvents = [&] {
        store.SaveSetting("Tessera", "Settings", "GTA3Path", otherGame);
        settings.LoadSettings();
    };
    ASSERT_EQ(Run({{"default.dat", ToBytes("new")}, {"car.dff", ToBytes("new car")}}), InstallResult::Installed);
    EXPECT_EQ(ReadText(game + "data/default.dat"), "new");
    EXPECT_EQ(Records("models/gta3").size(), 3u);
    EXPECT_EQ(TakeSnapshot(otherGame), otherBefore);
}

// Every check that fails before the first change leaves the game folder untouched and says why.
TEST_F(Install, FailedChecksChangeNothing)
{
    struct Case {
        const char* why;
        std::function<void()> spoil;
        std::vector<PackageEntry> entries;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"archive .img missing", [&] { fs::DeleteFile(game + "models/txd.img"); }, {{"a.txd", ToBytes("t")}},
         "txd.img is missing; the game folder can be changed under Setup, Options"},
        {"archive .dir missing", [&] { fs::DeleteFile(game + "anim/cuts.dir"); }, {{"a.ifp", ToBytes("t")}}, "cuts.dir"},
        {"archive .dir of a partial record", [&] { WriteFile(game + "models/gta3.dir", Zeros(40)); }, {{"a.dff", ToBytes("t")}}, "gta3.dir"},
        {"package directory cut short", [&] { WriteFile(root / "mod.dir", Slice(ReadFile(root / "mod.dir"), 0, 47)); },
         {{"a.dff", ToBytes("t")}, {"b.dff", ToBytes("u")}}, "mod.dir is damaged: its length (47 bytes) is not a whole number"},
        {"package data missing", [&] { fs::DeleteFile(root / "mod.zpk"); }, {{"a.dff", ToBytes("t")}}, "mod.zpk"},
        {"package directory missing", [&] { fs::DeleteFile(root / "mod.dir"); }, {{"a.dff", ToBytes("t")}}, "mod.dir"},
        {"entry past the end", [&] { WriteFile(root / "mod.dir", Record(0, 99, "a.dff")); }, {{"a.dff", ToBytes("t")}}, "past the end"},
        {"unsafe entry name", [&] { WriteFile(root / "mod.dir", Record(0, 1, "..\\evil.dff")); }, {{"a.dff", ToBytes("t")}}, "path separator"},
        {"game folder gone", [&] { settings.sGTA3Path = root / "nowhere/"; }, {{"a.dff", ToBytes("t")}}, "nowhere"},
#ifndef _WIN32
        {"names the install makes too long for the system", [&] {
             // A game folder of 4,070 characters: its own files fit, the install's scratch names do not.
             std::string deep = root / "deep";
             while (deep.size() < 4070 - 6) {
                 const std::size_t left = 4070 - 6 - deep.size();
                 deep += left == 1 ? std::string("d") : "/" + std::string(std::min<std::size_t>(200, left - 1), 'd');
             }
             fs::CreateFolders(deep);
             game = MakeGameFolder(deep);
             ASSERT_EQ(game.size(), 4070u);
             store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
             settings.LoadSettings();
         },
         {{"a.dff", ToBytes("t")}, {"default.dat", ToBytes("u")}}, "default.dat.tessera-new in the game folder"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir fresh;
        game = MakeGameFolder(fresh.Path());
        store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
        settings.LoadSettings();
        window = RecordingWindowServices();
        WritePackage(root / "mod", c.entries);
        c.spoil();
        const Snapshot before = TakeSnapshot(game);

        EXPECT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Failed);
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].title, "Install failed");
        EXPECT_NE(window.messages[0].text.find(c.mentions), std::string::npos) << window.messages[0].text;
        EXPECT_NE(window.messages[0].text.find("The game folder was left as it was."), std::string::npos);
        EXPECT_TRUE(window.installEnabled && window.browseEnabled);
        EXPECT_EQ(window.pointer, Pointer::Default);
        EXPECT_EQ(Leftovers(options.journalFolder), std::vector<std::string>{});
    }
}

// Packages whose entries share their bytes, as a packer that stores identical files once makes
// them: installed as if every entry had been unpacked on its own, each file with all its bytes.
// What they would write is bounded by the free space of every disk and by an archive's 2 GiB,
// so one that would outgrow those, or a sparse .zpk claiming gigabytes, is refused by those
// checks before any change, and nothing is written anywhere, the temporary folder included.
TEST_F(Install, SharedDataIsWrittenInFullWithinFreeSpaceAnd2GiB)
{
    struct Case {
        const char* why;
        std::int64_t zpkLength;   // written sparse past its first 20 KB
        std::vector<Bytes> records;
        std::int64_t freeSpace;   // what the disk reports at most; -1 as it is
        const char* mentions;     // empty: installs
    };
    auto many = [](int n, std::int32_t offset, std::int32_t size, const char* ext) {
        std::vector<Bytes> r;
        for (int i = 0; i < n; ++i)
            r.push_back(Record(offset, size, "f" + std::to_string(i) + ext));
        return r;
    };
    const std::int64_t kGiB = std::int64_t{1} << 30, kMiB = std::int64_t{1} << 20;
    const char* kNoRoom = "Not enough free space on the disk of ";
    const std::vector<Case> cases = {
        {"200 names on one 20 KB", 20480, many(200, 0, 20480, ".dff"), 10 * kMiB, ""},
        {"stock names on one 20 KB", 20480, {Record(0, 20480, "default.dat"), Record(0, 20480, "hud.txd")}, -1, ""},
        {"a stock file, entries of every archive and parts of them on one range", 20480,
         {Record(0, 20480, "default.dat"), Record(0, 20480, "car.dff"), Record(100, 3000, "new.txd"), Record(2000, 18480, "scene.ifp"),
          Record(0, 20480, "x.anm")}, -1, ""},
        {"100,000 names on one 20 MB of a sparse .zpk", 20 * kMiB, many(100'000, 0, 20 * 1'048'576, ".dff"), -1, "gta3.img would grow past 2 GiB"},
        {"ten 1.9 GB entries on one range of a sparse 3 GB .zpk", 3 * kGiB, many(10, 0, 1'900'000'000, ".txd"), -1, "txd.img would grow past 2 GiB"},
        {"a 1.5 GB stock gta3.img and a .dff on its bytes", 2 * kGiB, {Record(0, 1'500'000'000, "gta3.img"), Record(0, 700'000'000, "car.dff")}, -1,
         "gta3.img would grow past 2 GiB"},
        {"stock names on one 600 MB, with 1 GiB free", kGiB, {Record(0, 600 * 1'048'576, "default.dat"), Record(0, 600 * 1'048'576, "hud.txd")},
         kGiB, kNoRoom},
        {"three archives' entries on one 400 MB, with 1 GiB free", kGiB,
         {Record(0, 400 * 1'048'576, "a.dff"), Record(0, 400 * 1'048'576, "b.txd"), Record(0, 400 * 1'048'576, "c.dat")}, kGiB, kNoRoom},
        {"200 names on one 20 KB, with 4 MB free", 20480, many(200, 0, 20480, ".dff"), 4 * kMiB, kNoRoom},
        {"one 2 GB entry of a sparse .zpk", 2 * kGiB + 10, {Record(0, 2147483647, "big.txd")}, -1, "txd.img would grow past 2 GiB"},
        {"a sparse .zpk's entries that fit only together", 3 * kGiB, {Record(0, 1'200'000'000, "a.txd"), Record(1'200'000'000, 1'000'000'000, "b.txd")},
         -1, "txd.img would grow past 2 GiB"},
    };
    TempDir temp;
    const char* formerTmp = std::getenv("TMPDIR");
    const std::string savedTmp = formerTmp ? formerTmp : "";
    SetEnv("TMPDIR", temp.Path().c_str());
    const Bytes data = Pattern(20480, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        window = RecordingWindowServices();
        WriteFile(root / "mod.zpk", data);
        std::filesystem::resize_file(root / "mod.zpk", static_cast<std::uintmax_t>(c.zpkLength));
        Bytes dir;
        for (const Bytes& r : c.records)
            dir.insert(dir.end(), r.begin(), r.end());
        WriteFile(root / "mod.dir", dir);
        const Snapshot before = TakeSnapshot(game);

        fs::faults::LimitFreeSpace(c.freeSpace);
        const InstallResult result = InstallPackage(root / "mod.zpk", settings, window, options);
        fs::faults::LimitFreeSpace(-1);
        EXPECT_TRUE(Tree(temp.Path()).empty());
        EXPECT_TRUE(Leftovers(options.journalFolder).empty());
        if (*c.mentions != '\0') {
            EXPECT_EQ(result, InstallResult::Failed);
            EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
            ASSERT_EQ(window.messages.size(), 1u);
            EXPECT_NE(window.messages[0].text.find(c.mentions), std::string::npos) << window.messages[0].text;
            EXPECT_NE(window.messages[0].text.find("The game folder was left as it was."), std::string::npos);
            continue;
        }
        // Every file holds its own entry's bytes in full: the stock file in its place, an
        // archive's entry appended in whole blocks in name order, each with a record of its own.
        ASSERT_EQ(result, InstallResult::Installed);
        EXPECT_TRUE(window.messages.empty());
        std::map<std::string, std::vector<std::pair<std::string, Bytes>>> appended;   // archive -> (name, bytes)
        std::vector<std::pair<std::string, Bytes>> sorted;
        for (const DirRecord& r : ParseDirectory(dir))
            sorted.emplace_back(RecordName(r.sName), Slice(data, static_cast<std::size_t>(r.lOffset), static_cast<std::size_t>(r.lSize)));
        std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return LessIgnoreCase(a.first, b.first); });
        for (const auto& [name, bytes] : sorted) {
            if (name == "default.dat")
                EXPECT_EQ(ReadFile(game + "data/default.dat"), bytes);
            else if (name == "hud.txd")
                EXPECT_EQ(ReadFile(game + "models/hud.txd"), bytes);
            else
                appended[EndsWith(name, ".dff") ? "models/gta3" : EndsWith(name, ".txd") ? "models/txd" : "anim/cuts"].emplace_back(name, bytes);
        }
        for (const char* base : {"models/gta3", "models/txd", "anim/cuts"}) {
            SCOPED_TRACE(base);
            Bytes img = before.at(std::string(base) + ".img");
            const std::vector<DirRecord> records = Records(base);
            const std::size_t stock = ParseDirectory(before.at(std::string(base) + ".dir")).size();
            ASSERT_EQ(records.size(), stock + appended[base].size());
            for (std::size_t i = 0; i < appended[base].size(); ++i) {
                const auto& [name, bytes] = appended[base][i];
                const DirRecord& r = records[stock + i];
                EXPECT_EQ(Field(r), name + Nuls(kNameSize - name.size()));
                EXPECT_EQ(r.lOffset * std::int64_t{2048}, static_cast<std::int64_t>(img.size()));
                EXPECT_EQ(r.lSize * std::int64_t{2048}, static_cast<std::int64_t>(Blocks(bytes).size()));
                img = Concat({img, Blocks(bytes)});
            }
            EXPECT_EQ(ReadFile(game + base + ".img"), img);
        }
    }
    if (formerTmp)
        SetEnv("TMPDIR", savedTmp.c_str());
    else
        SetEnv("TMPDIR", nullptr);

    // One name given 200 times is one file: written once, with the last entry's bytes.
    window = RecordingWindowServices();
    const Bytes last = Pattern(20480, 8);
    std::vector<Bytes> same = many(199, 0, 20480, "");
    for (Bytes& r : same)
        r = Record(0, 20480, "Same.dff");
    WriteFile(root / "mod.zpk", Concat({Pattern(20480, 7), last}));
    same.push_back(Record(20480, 20480, "SAME.DFF"));
    Bytes dir;
    for (const Bytes& r : same)
        dir.insert(dir.end(), r.begin(), r.end());
    WriteFile(root / "mod.dir", dir);
    const Bytes img = ReadFile(game + "models/gta3.img");
    ASSERT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Installed);
    EXPECT_EQ(ReadFile(game + "models/gta3.img"), Concat({img, Blocks(last)}));
    EXPECT_EQ(Field(Records("models/gta3").back()), "Same.dff" + Nuls(16));
}

// Random packages (names repeated in other letter cases, empty entries, names cut at a space,
// entries sharing bytes, every kind of destination) installed straight from the .zpk give what unpacking every entry
// into a folder of its own and installing the files listed there gives: the same files in the
// same order, byte for byte, and the same refusals. No file is made in the temporary folder.
TEST_F(Install, StraightFromThePackageAsIfUnpackedIntoAFolder)
{
    const std::vector<std::string> names = {"default.dat", "DEFAULT.DAT", "hud.txd", "american.gxt", "ped.ifp", "car.dff", "CAR.dff",
                                            "new.dff", "tex.txd", "Tex.TXD", "scene.dat", "x.anm", "y.IFP", "notes.txt", "abc",
                                            "my car.dff", "_under.dff", "a", "abcdefghijklmnopqrst.dff"};
    std::mt19937 random(13);
    TempDir temp;
    const char* formerTmp = std::getenv("TMPDIR");
    const std::string savedTmp = formerTmp ? formerTmp : "";
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir fresh;
        game = MakeGameFolder(fresh.Path());
        store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
        settings.LoadSettings();
        window = RecordingWindowServices();
        std::vector<PackageEntry> entries;
        const std::size_t count = random() % 12;
        for (std::size_t i = 0; i < count; ++i)
            entries.push_back({names[random() % names.size()], Pattern(random() % 3 == 0 ? 0 : random() % 6000, round * 100 + i)});
        WritePackage(root / "mod", entries);
        // Some entries take bytes of others instead, whole or in part, as packers that store a
        // file once make them.
        std::vector<DirRecord> records = ParseDirectory(ReadFile(root / "mod.dir"));
        const auto zpkLength = static_cast<std::uint32_t>(fs::FileLength(root / "mod.zpk"));
        Bytes shared;
        for (DirRecord& r : records) {
            if (zpkLength > 0 && random() % 3 == 0) {
                r.lOffset = static_cast<std::int32_t>(random() % zpkLength);
                r.lSize = static_cast<std::int32_t>(random() % (zpkLength - static_cast<std::uint32_t>(r.lOffset) + 1));
            }
            const auto encoded = EncodeRecord(r);
            shared.insert(shared.end(), encoded.begin(), encoded.end());
        }
        WriteFile(root / "mod.dir", shared);

        // The files that unpacking gives, in the order a listing gives them.
        TempDir unpacked;
        modArchive archive;
        archive.ReadDirectory(root / "mod");
        for (const auto& entry : archive.colImgFiles())
            archive.ExtractEntry(*entry, unpacked.Path());
        const std::vector<std::string> files = fs::ListFiles(unpacked.Path());
        std::map<std::string, std::int64_t> imgBefore, dirBefore;
        for (const char* base : {"models/gta3", "models/txd", "anim/cuts"}) {
            imgBefore[base] = fs::FileLength(game + base + ".img");
            dirBefore[base] = fs::FileLength(game + base + ".dir");
        }

        SetEnv("TMPDIR", temp.Path().c_str());
        const InstallResult result = InstallPackage(root / "mod.zpk", settings, window, options);
        if (formerTmp)
            SetEnv("TMPDIR", savedTmp.c_str());
        else
            SetEnv("TMPDIR", nullptr);
        ASSERT_NE(result, InstallResult::Failed);
        EXPECT_TRUE(Tree(temp.Path()).empty());

        std::vector<std::string> captions = {"Installing mod.zpk"};
        std::vector<std::string> refused;
        std::map<std::string, std::size_t> archiveFiles;
        for (const std::string& name : files) {
            captions.push_back("Installing " + name);
            const Bytes bytes = ReadFile(unpacked / name);
            const std::string lower = LowerAscii(name);
            const std::string ext = lower.size() < 4 ? lower : lower.substr(lower.size() - 4);
            const std::string base = ext == ".txd" ? "models/txd" : ext == ".dff" ? "models/gta3" : ext == ".anm" || ext == ".dat" || ext == ".ifp" ? "anim/cuts" : "";
            if (IsInCollection(lower, settings.StockFiles())) {
                const std::string target = settings.StockFiles().Fetch(name)->sFullPath();
                EXPECT_EQ(ReadFile(target), bytes) << name;
            } else if (!base.empty() && !bytes.empty() && name.size() < kNameSize) {
                // The newest record of the name holds exactly the bytes, in whole blocks.
                const auto records = Records(base);
                const auto it = std::find_if(records.rbegin(), records.rend(), [&](const DirRecord& r) { return RecordName(r.sName) == name; });
                ASSERT_NE(it, records.rend()) << name;
                const Bytes img = ReadFile(game + base + ".img");
                EXPECT_GE(it->lOffset * std::int64_t{2048}, imgBefore[base]);
                EXPECT_EQ(Slice(img, static_cast<std::size_t>(it->lOffset) * 2048, static_cast<std::size_t>(it->lSize) * 2048), Blocks(bytes)) << name;
                ++archiveFiles[base];
            } else {
                refused.push_back(name);
            }
        }
        for (const auto& [base, before] : dirBefore)   // one record for each file, nothing more
            EXPECT_EQ(fs::FileLength(game + base + ".dir"), before + 32 * static_cast<std::int64_t>(archiveFiles[base])) << base;
        const bool anyInstalled = refused.size() < files.size();
        EXPECT_EQ(result, anyInstalled ? InstallResult::Installed : InstallResult::NothingInstalled);
        captions.push_back(anyInstalled ? "Mod installed!" : "No file installed");
        EXPECT_EQ(window.captions, captions);
        ASSERT_EQ(window.messages.size(), refused.size());
        for (std::size_t i = 0; i < refused.size(); ++i)
            EXPECT_NE(window.messages[i].text.find("The file " + refused[i] + " "), std::string::npos) << window.messages[i].text;
    }
}

// A stop asked for at any point where the install looks for one: the install says it stopped,
// the game folder is byte for byte as it was, no journal and no history record are left; the
// progress of a file larger than one slice is told in order. The points run out when the
// install gets through.
TEST_F(Install, AStopAtEveryPointLeavesTheGameFolderAsItWas)
{
    const Bytes big = Pattern(5 << 20, 7);   // three slices
    WritePackage(root / "mod", {{"default.dat", big}, {"notes.txt", ToBytes("refused")}, {"car.dff", Pattern(3000, 2)}});
    const Snapshot before = TakeSnapshot(game);

    struct StopAt : IInstallSink {
        int at = 0, asked = 0;
        std::vector<InstallEvent> events;
        void Report(const InstallEvent& event) override { events.push_back(event); }
        bool StopRequested() override { return ++asked == at; }
    };
    for (int at = 1;; ++at) {
        SCOPED_TRACE("stop at point " + std::to_string(at));
        StopAt sink;
        sink.at = at;
        const InstallOutcome outcome = InstallPackage(root / "mod.zpk", settings, sink, options);
        ASSERT_FALSE(sink.events.empty());
        EXPECT_EQ(sink.events.front().kind, InstallEvent::Kind::Started);
        EXPECT_EQ(sink.events.back().kind, InstallEvent::Kind::Finished);
        std::int64_t done = 0;   // of default.dat, told in order
        for (const InstallEvent& e : sink.events)
            if (e.kind == InstallEvent::Kind::FileProgress && e.name == "default.dat") {
                EXPECT_EQ(e.total, static_cast<std::int64_t>(big.size()));
                EXPECT_GT(e.done, done);
                done = e.done;
            }
        if (!outcome.stopped) {
            EXPECT_GT(at, 3);
            EXPECT_EQ(outcome.Result(), InstallResult::Installed);
            EXPECT_EQ(done, static_cast<std::int64_t>(big.size()));
            EXPECT_EQ(ReadFile(game + "data/default.dat"), big);
            break;
        }
        EXPECT_EQ(outcome.kind, InstallOutcome::Kind::LeftAsItWas);
        EXPECT_EQ(outcome.title, "Install stopped");
        EXPECT_TRUE(EndsWith(outcome.message, "was stopped.\r\nThe game folder was left as it was.")) << outcome.message;
        const Snapshot after = TakeSnapshot(game);
        ASSERT_EQ(after, before) << DescribeDifferences(before, after);
        EXPECT_EQ(Leftovers(options.journalFolder), std::vector<std::string>{});
        ASSERT_LT(at, 100) << "the install never got through";
    }
}

// Installs in sequence of random packages that write into all three archives in turn, some
// replacing entries (of the game, or added by an earlier install) and some replacing the .img or
// .dir of models\gta3 itself between its other files: after each install every archive and its
// .old is byte for byte what a model of appends and renames gives.
TEST_F(Install, ArchivesFollowAModelOverRandomPackages)
{
    struct Archive {
        Bytes img, dir;
    };
    std::map<std::string, Archive> model;   // "models/gta3", "models/gta3.old" (the first backups), ...
    for (const char* base : {"models/gta3", "models/txd", "anim/cuts"})
        model[base] = {ReadFile(game + base + ".img"), ReadFile(game + base + ".dir")};
    const auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const auto nameOf = [](const Bytes& dir, std::size_t at) {
        std::string name(reinterpret_cast<const char*>(dir.data() + at + 8), kNameSize);
        name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        return name;
    };
    // Where each name goes: an archive, or the stock .img or .dir of models\gta3.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"a.dff", "models/gta3"}, {"bike.dff", "models/gta3"}, {"car.dff", "models/gta3"}, {"gta3.a.dff", "models/gta3"},
        {"gta3.dir", "models/gta3.dir"}, {"gta3.e.dff", "models/gta3"}, {"gta3.img", "models/gta3.img"}, {"zz.dff", "models/gta3"},
        {"car.txd", "models/txd"}, {"new.txd", "models/txd"}, {"intro.dat", "anim/cuts"}, {"scene.dat", "anim/cuts"}};
    std::mt19937 random(2426);
    bool backedUp[2] = {false, false};
    for (int install = 0; install < 12; ++install) {
        SCOPED_TRACE("install " + std::to_string(install));
        std::vector<PackageEntry> entries;
        for (const auto& [name, where] : names) {
            if (random() % 2)
                continue;
            if (where == "models/gta3.dir") {
                // A directory of whole records, as a mod replacing the archive would bring.
                entries.push_back({name, Concat({Record(0, 1, "swapped" + std::to_string(install) + ".dff"), Record(1, 1, "car.dff")})});
            } else {
                entries.push_back({name, Pattern(1 + random() % 5000, static_cast<unsigned>(random()))});
            }
        }
        // The plan goes in ascending order of name.
        std::sort(entries.begin(), entries.end(), [&](const PackageEntry& a, const PackageEntry& b) { return lower(a.name) < lower(b.name); });
        for (const PackageEntry& e : entries) {
            const std::string where = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == e.name; })->second;
            if (where.ends_with(".img") || where.ends_with(".dir")) {
                Archive& a = model["models/gta3"];
                const bool img = where.ends_with(".img");
                Archive& old = model["models/gta3.old"];
                if (!backedUp[img])
                    (img ? old.img : old.dir) = img ? a.img : a.dir;   // the first time only, as for every stock file
                backedUp[img] = true;
                (img ? a.img : a.dir) = e.bytes;
                continue;
            }
            Archive& a = model[where];
            // In a streamed archive, data that would not start where the last record's ends
            // (a .img replaced whole, say) comes after a record of unused space over the
            // blocks at the .img's end that no record uses.
            const std::int64_t start = (static_cast<std::int64_t>(a.img.size()) + kBlockSize - 1) / kBlockSize;
            if (where != "anim/cuts" && !a.dir.empty()) {
                std::int64_t used = 0, lastEnd = 0;
                for (std::size_t at = 0; at + kRecordSize <= a.dir.size(); at += kRecordSize) {
                    const DirRecord r = DecodeRecord(std::span(a.dir).subspan(at, kRecordSize));
                    lastEnd = std::int64_t{r.lOffset} + r.lSize;
                    used = std::max(used, lastEnd);
                }
                if (lastEnd != start) {
                    used = std::min(used, start);
                    const Bytes gap = Record(static_cast<std::int32_t>(used), static_cast<std::int32_t>(start - used), "tessera.unused");
                    a.dir.insert(a.dir.end(), gap.begin(), gap.end());
                }
            }
            const Bytes added = Record(static_cast<std::int32_t>((a.img.size() + kBlockSize - 1) / kBlockSize),
                                       static_cast<std::int32_t>((e.bytes.size() + kBlockSize - 1) / kBlockSize), e.name);
            a.img.resize((a.img.size() + kBlockSize - 1) / kBlockSize * kBlockSize);
            const Bytes blocks = Blocks(e.bytes);
            a.img.insert(a.img.end(), blocks.begin(), blocks.end());
            for (std::size_t at = 0; at < a.dir.size(); at += kRecordSize) {
                if (lower(nameOf(a.dir, at)) != e.name)
                    continue;
                const std::string renamed = e.name + ".old" + std::string(kNameSize - e.name.size() - 4, ' ');
                std::copy(renamed.begin(), renamed.end(), reinterpret_cast<char*>(a.dir.data() + at + 8));
            }
            a.dir.insert(a.dir.end(), added.begin(), added.end());
        }
        window = RecordingWindowServices();
        ASSERT_EQ(Run(entries), entries.empty() ? InstallResult::Failed : InstallResult::Installed);
        for (const auto& [base, a] : model) {
            if (base.ends_with(".old")) {
                if (backedUp[1]) {
                    ASSERT_EQ(ReadFile(game + "models/gta3.img.old"), a.img);
                }
                if (backedUp[0]) {
                    ASSERT_EQ(ReadFile(game + "models/gta3.dir.old"), a.dir);
                }
                continue;
            }
            ASSERT_EQ(ReadFile(game + base + ".img"), a.img) << base;
            ASSERT_EQ(ReadFile(game + base + ".dir"), a.dir) << base;
        }
    }
}
