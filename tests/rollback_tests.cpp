// The all-or-nothing promise under faults: every call of the file-system services failing in
// turn (once, or for good as when a drive goes away) during an install and during a recovery,
// every bit flip and truncation of a real journal, aliased spellings of one game folder and
// links planted where the install or extract writes. After each, the game folder is exactly as
// before or as after the install, or the journal is kept and a recovery then makes it so.
#include "FileSystem.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>

using namespace tessera;
using namespace tessera::test;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Symbolic links need a privilege on Windows: the cases that plant one run where links are plain.
#ifdef _WIN32
constexpr bool kLinks = false;
int MakeLink(const std::string&, const std::string&) { return -1; }
#else
constexpr bool kLinks = true;
int MakeLink(const std::string& target, const std::string& at) { return ::symlink(target.c_str(), at.c_str()); }
#endif

class Rollback : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Scratch folders that a fault keeps from being removed stay inside this test's folder.
        if (const char* tmp = std::getenv("TMPDIR"))
            savedTmp = tmp;
        fs::CreateFolder(root / "tmp");
        SetEnv("TMPDIR", (root / "tmp").c_str());
        fs::faults::SkipFlushes(true);
        options.journalFolder = root / "journal/";
        game = root / "game/";
        pristine = MakePristine();
        Restore(pristine);
        store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
        settings.LoadSettings();
    }

    void TearDown() override
    {
        fs::faults::Disarm();
        fs::faults::SkipFlushes(false);
        fs::faults::CopyThroughBufferOnly(false);
        SetEnv("TMPDIR", savedTmp.empty() ? nullptr : savedTmp.c_str());
    }

    // The small game folder, with a stock file named in upper case as CD installs leave them
    // and a stock file whose backup exists already.
    Snapshot MakePristine()
    {
        TempDir source;
        const std::string g = MakeGameFolder(source.Path());
        fs::CreateFolder(g + "AUDIO");
        WriteFile(g + "AUDIO/A1_A.WAV", ToBytes("stock a1_a.wav"));
        WriteFile(g + "models/hud.txd.old", ToBytes("earlier backup"));
        return TakeSnapshot(g);
    }

    // The game folder itself stays: its identity keys the journal.
    void Restore(const Snapshot& state) { PutBack(game, state); }

    std::string JournalFile() { return JournalPath(options.journalFolder, game); }
    bool JournalKept() { return fs::FileExists(JournalFile()); }
    std::vector<std::string> JournalFolderFiles()
    {
        return fs::FolderExists(options.journalFolder) ? fs::ListFiles(options.journalFolder) : std::vector<std::string>{};
    }

    InstallResult Install(RecordingWindowServices& window)
    {
        return InstallPackage(root / "mod.zpk", settings, window, options);
    }

    RecoveryReport Recover(RecordingWindowServices& window) { return RecoverInterruptedInstalls(window, game, options); }

    // The representative package: every kind of change an install makes. In the order of their
    // names, its files lie in the .zpk in the order the install copies them.
    void WriteRepresentativePackage(bool nameOrder = false)
    {
        std::vector<PackageEntry> entries = {
            {"a1_a.wav", Pattern(300, 9)},       // stock, named in upper case on the disk
            {"american.gxt", Pattern(700, 1)},   // stock, first backup
            {"car.dff", Pattern(3000, 2)},       // replaces an archive entry
            {"car.txd", Pattern(5000, 4)},       // second archive
            {"hud.txd", Pattern(20, 5)},         // stock with an existing .old
            {"new.dff", Pattern(10, 3)},         // new entry
            {"zz.ifp", Pattern(2048, 6)},
            {"handling.cfg", Pattern(30, 7)},        // stock with a .old, its name on disk in capitals
            {"readme.txt", Pattern(40, 8)},          // stock missing with its folder: made, nothing kept
            {"readme_french.txt", Pattern(50, 9)},   // the same folder, made once
        };
        if (nameOrder)
            std::sort(entries.begin(), entries.end(), [](const PackageEntry& a, const PackageEntry& b) { return a.name < b.name; });
        WritePackage(root / "mod", entries);
        WriteFile(game + "data/HANDLING.CFG", ToBytes("handling from a CD"));
        WriteFile(game + "data/handling.cfg.old", ToBytes("first handling"));
        pristine = TakeSnapshot(game);
    }

    // The state a persistent fault leaves midway through an install: the game folder half
    // changed, with the journal of the install.
    std::pair<Snapshot, Bytes> Interrupted()
    {
        RecordingWindowServices window;
        fs::faults::Arm(1'000'000, ErrorKind::Io);
        EXPECT_EQ(Install(window), InstallResult::Installed);
        const long calls = fs::faults::Counted();
        fs::faults::Disarm();
        Restore(pristine);
        fs::faults::Arm(calls * 3 / 4, ErrorKind::Io, fs::faults::Mode::Persistent);
        EXPECT_EQ(Install(window), InstallResult::Failed);
        fs::faults::Disarm();
        EXPECT_TRUE(JournalKept());
        const Snapshot half = TakeSnapshot(game);
        EXPECT_NE(DescribeDifferences(pristine, half), "");
        return {half, ReadFile(JournalFile())};
    }

    TempDir root;
    std::string savedTmp;
    std::string game;
    Snapshot pristine;
    MemorySettingsStore store;
    modMain settings{store};
    InstallOptions options;
};

const char* ModeName(fs::faults::Mode mode) { return mode == fs::faults::Mode::Once ? "once" : "persistent"; }

} // namespace

// Over every k, each call failing once and each failing for good: the install ends whole (the
// game folder as before, or installed), or it keeps its journal, says the folder still needs
// recovery, and a recovery without faults then ends whole. Never a third outcome.
TEST_F(Rollback, EveryFailurePointOfAnInstallEndsWholeOrRecoverable)
{
    WriteRepresentativePackage();
    RecordingWindowServices clean;
    ASSERT_EQ(Install(clean), InstallResult::Installed);
    const Snapshot installed = TakeSnapshot(game);
    // The first install names the backup and the new file as the stock list does, as a rename
    // and a copy do on Windows; an undo gives the game's version back its own name.
    EXPECT_EQ(installed.at("AUDIO/a1_a.wav.old"), ToBytes("stock a1_a.wav"));
    EXPECT_EQ(installed.at("AUDIO/a1_a.wav"), Pattern(300, 9));
    EXPECT_EQ(installed.count("AUDIO/A1_A.WAV"), 0u);
    EXPECT_EQ(installed.at("data/HANDLING.CFG"), Pattern(30, 7));
    EXPECT_EQ(installed.at("data/handling.cfg.old"), ToBytes("first handling"));
    EXPECT_EQ(installed.count("data/handling.cfg"), 0u);
    EXPECT_EQ(installed.at("readme/readme_french.txt"), Pattern(50, 9));
    EXPECT_EQ(installed.count("readme/readme.txt.old"), 0u);

    std::map<std::string, long> points;
    int recovered = 0;
    int lateSaid = 0;
    // Again with the copies through the buffer and the files in the order they are copied, where
    // the hashes come from the copies and the reads between them.
    for (const bool buffered : {false, true}) {
        if (buffered) {
            Restore(pristine);
            WriteRepresentativePackage(true);
            fs::faults::CopyThroughBufferOnly(true);
        }
        for (const auto mode : {fs::faults::Mode::Once, fs::faults::Mode::Persistent}) {
            for (long k = 1;; ++k) {
                ASSERT_LT(k, 5000) << "the install never got through";
                SCOPED_TRACE(std::string(ModeName(mode)) + (buffered ? " buffered" : "") + " failure at call " + std::to_string(k));
                Restore(pristine);
                RecordingWindowServices window;
                fs::faults::Arm(k, k % 3 == 0 ? ErrorKind::DiskFull : k % 3 == 1 ? ErrorKind::Io : ErrorKind::AccessDenied, mode);
                const InstallResult result = Install(window);
                const bool fired = fs::faults::Fired();
                fs::faults::Disarm();
                if (!fired) {
                    ASSERT_EQ(result, InstallResult::Installed);
                    ASSERT_EQ(DescribeDifferences(installed, TakeSnapshot(game)), "");
                    points[std::string(ModeName(mode)) + (buffered ? " buffered" : "")] = k - 1;
                    break;
                }
                const Snapshot after = TakeSnapshot(game);
                const std::string text = window.messages.empty() ? std::string() : window.messages.back().text;
                if (result == InstallResult::Failed) {
                    ASSERT_EQ(window.messages.back().title, "Install failed");
                    ASSERT_TRUE(window.installEnabled && window.browseEnabled);
                    if (JournalKept()) {
                        ASSERT_TRUE(Has(text, "still needs recovery")) << text;
                        ASSERT_FALSE(Has(text, "as it was")) << text;
                    } else {
                        ASSERT_TRUE(Has(text, "The game folder was left as it was.")) << text;
                        ASSERT_EQ(DescribeDifferences(pristine, after), "");
                    }
                } else if (!JournalKept()) {
                    ASSERT_EQ(DescribeDifferences(installed, after), "");
                } else {
                    // Installed with its clean-up left to the next run: said, naming what is left.
                    ASSERT_EQ(window.messages.back().title, "Clean-up left");
                    ASSERT_TRUE(text.starts_with("Mod installed; ") && Has(text, " next time.")) << text;
                    ++lateSaid;
                    for (const auto& [path, bytes] : after) {
                        if (EndsWith(path, ".tessera-former")) {
                            ASSERT_TRUE(Has(text, DisplayPath(path))) << text;
                        }
                    }
                }
                // Whatever is left in the journal folder, a recovery without faults finishes.
                if (!JournalFolderFiles().empty()) {
                    RecordingWindowServices again;
                    const RecoveryReport report = Recover(again);
                    ASSERT_TRUE(report.Clean()) << (again.messages.empty() ? "" : again.messages.back().text);
                    ASSERT_EQ(JournalFolderFiles(), std::vector<std::string>{});
                    const Snapshot now = TakeSnapshot(game);
                    if (result == InstallResult::Installed) {
                        ASSERT_EQ(DescribeDifferences(installed, now), "");
                    } else if (DescribeDifferences(installed, now) != "") {
                        ASSERT_EQ(DescribeDifferences(pristine, now), "");
                    }
                    ++recovered;
                }
            }
        }
    }
    std::cout << "[ faults   ] install: " << points["once"] << " calls failing once, " << points["persistent"]
              << " failing for good (through the buffer: " << points["once buffered"] << ", " << points["persistent buffered"] << "); " << recovered << " ended in a recovery, nothing lost; " << lateSaid
              << " installed with a clean-up left, said\n";
    EXPECT_GT(points["once"], 100);
    // Failures after the commit exist among the points, and each of them was said.
    EXPECT_GT(lateSaid, 0);
}

// The same over a recovery of a half-done install: it finishes, or keeps the journal and says
// so; an I/O failure never sets a journal aside as damaged.
TEST_F(Rollback, EveryFailurePointOfARecoveryEndsWholeOrRecoverable)
{
    WriteRepresentativePackage();
    const auto [half, journalBytes] = Interrupted();

    std::map<std::string, long> points;
    for (const auto mode : {fs::faults::Mode::Once, fs::faults::Mode::Persistent}) {
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 5000) << "the recovery never got through";
            SCOPED_TRACE(std::string(ModeName(mode)) + " failure at call " + std::to_string(k));
            Restore(half);
            WriteFile(JournalFile(), journalBytes);
            RecordingWindowServices window;
            fs::faults::Arm(k, k % 2 ? ErrorKind::Io : ErrorKind::AccessDenied, mode);
            RecoveryReport report;
            try {
                report = Recover(window);
            } catch (const TesseraError&) {
                report.pending = 1;   // the journal folder itself could not be looked at
            }
            const bool fired = fs::faults::Fired();
            fs::faults::Disarm();
            if (!fired) {
                ASSERT_EQ(report.rolledBack, 1);
                ASSERT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
                points[ModeName(mode)] = k - 1;
                break;
            }
            for (const std::string& name : JournalFolderFiles())
                ASSERT_FALSE(Has(name, "damaged")) << name;
            if (!JournalKept()) {
                ASSERT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
                ASSERT_EQ(report.rolledBack, 1);
                continue;
            }
            ASSERT_FALSE(report.Clean());
            for (const auto& m : window.messages)
                ASSERT_FALSE(Has(m.text, "as it was")) << m.text;
            RecordingWindowServices again;
            ASSERT_EQ(Recover(again).rolledBack, 1) << (again.messages.empty() ? "" : again.messages.back().text) << "\nfirst: "
                                                    << (window.messages.empty() ? "" : window.messages.back().text);
            ASSERT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
            ASSERT_FALSE(JournalKept());
        }
    }
    std::cout << "[ faults   ] recovery: " << points["once"] << " calls failing once, " << points["persistent"]
              << " failing for good, nothing lost\n";
    EXPECT_GT(points["once"], 20);
}

// Every single-bit flip and every truncation of a real journal: the recovery restores the
// game folder exactly, or refuses the journal, sets it aside and changes nothing.
TEST_F(Rollback, DamagedJournalsAreNeverApplied)
{
    WritePackage(root / "mod", {{"a1_a.wav", Pattern(300, 9)}, {"car.dff", Pattern(3000, 2)}});
    const auto [half, journalBytes] = Interrupted();

    int flips = 0, cuts = 0, restored = 0;
    Restore(half);
    auto attempt = [&](const Bytes& journal, const std::string& what) {
        SCOPED_TRACE(what);
        WriteFile(JournalFile(), journal);
        RecordingWindowServices window;
        const RecoveryReport report = Recover(window);
        const Snapshot after = TakeSnapshot(game);
        const std::vector<std::string> left = JournalFolderFiles();
        if (report.rolledBack == 1) {
            ++restored;
            ASSERT_EQ(DescribeDifferences(pristine, after), "");
            ASSERT_TRUE(left.empty());
            Restore(half);
            return;
        }
        ASSERT_EQ(report.refused, 1);
        ASSERT_EQ(DescribeDifferences(half, after), "");
        ASSERT_EQ(left, std::vector<std::string>{BaseName(JournalFile()) + ".damaged"});
        ASSERT_TRUE(Has(window.messages.at(0).text, "was not applied")) << window.messages.at(0).text;
        fs::DeleteFile(options.journalFolder + left[0]);
    };
    for (std::size_t bit = 0; bit < journalBytes.size() * 8; ++bit, ++flips) {
        Bytes flipped = journalBytes;
        flipped[bit / 8] ^= static_cast<std::byte>(1u << (bit % 8));
        attempt(flipped, "bit " + std::to_string(bit) + " flipped");
        if (HasFatalFailure())
            return;
    }
    for (std::size_t length = 0; length < journalBytes.size(); ++length, ++cuts) {
        attempt(Slice(journalBytes, 0, length), "cut to " + std::to_string(length) + " bytes");
        if (HasFatalFailure())
            return;
    }
    std::cout << "[ faults   ] journal: " << flips << " bit flips and " << cuts << " truncations, " << restored
              << " restored exactly, the rest refused with nothing changed\n";
}

// Journals whose checksums hold but whose paths lead out of the game folder, or through a link
// in it, or that name another folder's identity: refused whole, nothing outside touched; also
// when the folder was renamed since and the recovery is given its new path.
TEST_F(Rollback, JournalsThatLeadOutsideAreRefusedWhole)
{
    fs::CreateFolder(root / "outside");
    WriteFile(root / "outside/victim.img", Pattern(4096, 1));
    WriteFile(root / "outside/victim.dir", Pattern(64, 2));
    WriteFile(root / "outside/victim.txt.old", ToBytes("not the game's"));
    fs::CreateFolder(root / "outside/empty");
    const Snapshot outside = TakeSnapshot(root / "outside/");
    struct Case {
        const char* why;
        JournalOp op;
        std::function<void()> plant;
    };
    JournalOp up;
    up.path = game + "../outside/victim.txt";
    JournalOp archiveUp;
    archiveUp.kind = JournalOp::Kind::Archive;
    archiveUp.path = game + "models/../../outside/victim";
    JournalOp notAnArchive = archiveUp;
    notAnArchive.path = game + "data/default";
    JournalOp throughLink = archiveUp;
    throughLink.path = game + "models\\gta3";
    JournalOp madeElsewhere;   // a new file whose "made" folder is not above it
    madeElsewhere.path = game + "readme/x.txt";
    madeElsewhere.hadOld = madeElsewhere.existed = false;
    madeElsewhere.madeFolders = {game + "readme/", game + "empty/"};
    JournalOp stock;
    stock.path = game + "data/default.dat";
    JournalOp madeUp = madeElsewhere;
    madeUp.madeFolders = {game + "readme/../../outside/empty/"};
    const std::vector<Case> cases = {
        {"a stock path that climbs out", up, [] {}},
        {"a made folder that is not above its file", madeElsewhere, [&] { fs::CreateFolders(game + "empty/"); }},
        {"a made folder that climbs out", madeUp, [] {}},
        {"an archive path that climbs out", archiveUp, [] {}},
        {"an archive that is no game archive", notAnArchive, [] {}},
        {"a game archive that is a link to a file outside", throughLink, [&] {
             fs::DeleteFile(game + "models/gta3.img");
             ASSERT_EQ(MakeLink(root / "outside/victim.img", game + "models/gta3.img"), 0);
         }},
        {"a game folder that is a link to a folder outside", throughLink, [&] {
             fs::RemoveTree(game + "models");
             ASSERT_EQ(MakeLink(root / "outside", game + "models"), 0);
         }},
        {"a journal kept under the folder's identity that records another identity", stock, [] {}},
    };
    const std::string moved = root / "moved/";
    for (const Case& c : cases) {
        for (const bool move : {false, true}) {
            SCOPED_TRACE(std::string(c.why) + (move ? ", the folder renamed" : ""));
            if (!kLinks && Has(c.why, "link"))
                continue;
            Restore(pristine);
            c.plant();
            const Snapshot before = TakeSnapshot(game);
            Journal journal;
            journal.gameFolder = game;
            if (Has(c.why, "another identity"))
                journal.identity = "dev 1 inode 1";
            journal.ops.push_back(c.op);
            fs::CreateFolders(options.journalFolder);
            WriteJournal(JournalFile(), journal);
            if (move)
                std::filesystem::rename(fs::NativePath(root / "game"), fs::NativePath(root / "moved"));
            RecordingWindowServices window;
            EXPECT_EQ(RecoverInterruptedInstalls(window, move ? moved : game, options).refused, 1);
            EXPECT_EQ(DescribeDifferences(outside, TakeSnapshot(root / "outside/")), "");
            EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(move ? moved : game)), "");
            if (move)
                std::filesystem::rename(fs::NativePath(root / "moved"), fs::NativePath(root / "game"));
            fs::RemoveTree(options.journalFolder);
            if (std::filesystem::is_symlink(root / "game/models"))
                std::filesystem::remove(root / "game/models");   // else the next start is written through it
        }
    }
}

// One lock and one journal per folder, whatever its spelling: an install through any other
// spelling of a folder being installed into is refused, and changes nothing.
TEST_F(Rollback, AliasedSpellingsShareOneLock)
{
    fs::CreateFolder(root / "tmp/inner");
    if (kLinks) {
        ASSERT_EQ(MakeLink(root / "game", root / "alias"), 0);
    }
    const std::string journal = JournalFile();
    fs::CreateFolders(options.journalFolder);
    const fs::ExclusiveLock running(journal + ".lock");
    ASSERT_TRUE(running.Held());
    WritePackage(root / "mod", {{"default.dat", ToBytes("new")}});
    for (const std::string& spelling : {game + "./", root.Path() + "/game/", root / "tmp/../game/", root / "tmp/inner/../../game",
                                        root / "alias/", root / "GAME/"}) {
        SCOPED_TRACE(spelling);
        if (!fs::FolderExists(spelling))
            continue;   // letter case is resolved only where the disk has no exact match
        EXPECT_EQ(JournalPath(options.journalFolder, spelling), journal);
        store.SaveSetting("Tessera", "Settings", "GTA3Path", spelling);
        settings.LoadSettings();
        RecordingWindowServices window;
        EXPECT_EQ(Install(window), InstallResult::Failed);
        EXPECT_TRUE(Has(window.messages.at(0).text, "is running")) << window.messages.at(0).text;
        EXPECT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
    }
}

// Links planted where an install or extract creates a file are never written through: the
// step fails, the file the link points at is untouched and the game folder is as it was.
TEST_F(Rollback, PlantedLinksAreNeverWrittenThrough)
{
    if (!kLinks)
        GTEST_SKIP() << "no symbolic links without a privilege";
    WriteFile(root / "victim", ToBytes("precious"));
    WritePackage(root / "mod", {{"default.dat", ToBytes("evil")}, {"car.dff", ToBytes("evil car")}});
    ASSERT_EQ(MakeLink(root / "victim", game + "data/default.dat.tessera-new"), 0);
    const Snapshot before = TakeSnapshot(game);
    RecordingWindowServices window;
    EXPECT_EQ(Install(window), InstallResult::Failed);
    EXPECT_TRUE(Has(window.messages.at(0).text, "link")) << window.messages.at(0).text;
    EXPECT_EQ(ReadText(root / "victim"), "precious");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");

    // A plain leftover of a dead install is no obstacle: it is removed and the install goes on.
    fs::DeleteFile(game + "data/default.dat.tessera-new");
    WriteFile(game + "data/default.dat.tessera-new", ToBytes("leftover"));
    EXPECT_EQ(Install(window), InstallResult::Installed);
    EXPECT_EQ(ReadText(game + "data/default.dat"), "evil");
    EXPECT_FALSE(fs::PathExists(game + "data/default.dat.tessera-new"));

    // extract: a link in the output folder named like an entry.
    fs::CreateFolder(root / "out");
    ASSERT_EQ(MakeLink(root / "victim", root / "out/car.dff"), 0);
    modArchive archive;
    archive.ReadDirectory(root / "mod");
    EXPECT_THROW(for (const auto& entry : archive.colImgFiles()) archive.ExtractEntry(*entry, root / "out/"), TesseraError);
    EXPECT_EQ(ReadText(root / "victim"), "precious");
}

// The data folder and a history folder that are links are refused, never followed: nothing is
// written where they lead, nothing changes in the game folder, and the refusal names the link.
TEST_F(Rollback, LinkedDataAndHistoryFoldersAreRefused)
{
    if (!kLinks)
        GTEST_SKIP() << "no symbolic links without a privilege";
    WritePackage(root / "mod", {{"default.dat", ToBytes("new default")}, {"car.dff", ToBytes("new car")}});
    fs::CreateFolder(root / "elsewhere");
    const std::string journals = options.journalFolder;
    const std::string history = HistoryFolderOfJournal(JournalFile());
    struct Case {
        const char* what;
        std::string link;
    };
    for (const Case& c : {Case{"data folder", journals}, Case{"history folder", history}}) {
        SCOPED_TRACE(c.what);
        fs::RemoveTree(journals);
        if (c.link == history)
            fs::CreateFolder(journals);
        const std::string at = c.link.substr(0, c.link.size() - 1);
        ASSERT_EQ(MakeLink(root / "elsewhere", at), 0);
        const Snapshot before = TakeSnapshot(game);
        RecordingWindowServices window;
        EXPECT_EQ(Install(window), InstallResult::Failed);
        const std::string text = window.messages.at(0).text;
        EXPECT_TRUE(Has(text, "The " + std::string(c.what) + " " + at + " is a link")) << text;
        EXPECT_TRUE(Has(text, "The game folder was left as it was.")) << text;
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
        EXPECT_EQ(Tree(root / "elsewhere"), std::vector<std::string>{});
        RecordingWindowServices again;
        EXPECT_FALSE(Recover(again).Clean());
        ASSERT_FALSE(again.messages.empty());
        EXPECT_TRUE(Has(again.messages.back().text, "is a link")) << again.messages.back().text;
        EXPECT_EQ(Tree(root / "elsewhere"), std::vector<std::string>{});
        fs::DeleteFile(at);
    }
}

// The first backup never replaces: a .old that a look missed stays the game's original.
TEST_F(Rollback, FirstBackupNeverReplacesAnOriginal)
{
    WriteFile(root / "a", ToBytes("game"));
    WriteFile(root / "a.old", ToBytes("original"));
    try {
        fs::RenameNoReplace(root / "a", root / "a.old");
        FAIL() << "the rename replaced the backup";
    } catch (const TesseraError& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::AlreadyExists);
    }
    EXPECT_EQ(ReadText(root / "a.old"), "original");
    EXPECT_EQ(ReadText(root / "a"), "game");
}

// A game folder given relative to the working folder: the journal and the history hold it
// absolute, so an install interrupted there is recovered exactly by a program started elsewhere.
TEST_F(Rollback, ARelativeGameFolderIsRecoveredFromAnotherWorkingFolder)
{
    struct WorkingFolder {
        std::filesystem::path saved = std::filesystem::current_path();
        ~WorkingFolder() { std::filesystem::current_path(saved); }
    } working;
    WriteRepresentativePackage();
    std::filesystem::current_path(root.Path());
    store.SaveSetting("Tessera", "Settings", "GTA3Path", "game/");
    settings.LoadSettings();
    Interrupted();
    const Journal kept = ReadJournal(JournalFile());
    ASSERT_TRUE(std::filesystem::path(kept.gameFolder).is_absolute()) << kept.gameFolder;
    EXPECT_EQ(fs::FolderIdentity(kept.gameFolder), fs::FolderIdentity(game));

    fs::CreateFolder(root / "elsewhere");
    std::filesystem::current_path(root / "elsewhere");
    RecordingWindowServices window;
    EXPECT_EQ(RecoverInterruptedInstalls(window, {}, options).rolledBack, 1);
    EXPECT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
    EXPECT_FALSE(JournalKept());
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "An install into " + DisplayPath(kept.gameFolder) + " was interrupted.\r\n"
                  + "It has been rolled back: the game folder is as it was before that install.");

    // A finished install from there records its files under the absolute folder too.
    std::filesystem::current_path(root.Path());
    ASSERT_EQ(Install(window), InstallResult::Installed);
    const auto history = ReadHistory(HistoryFolder(options.journalFolder, game));
    ASSERT_FALSE(history.empty());
    for (const HistoryFile& f : history.front().files) {
        if (f.kind != HistoryFile::Kind::Refused) {
            EXPECT_EQ(f.path.rfind(kept.gameFolder, 0), 0u) << f.path;
        }
    }
}

// One install of a package with stock files, a missing one among them, and entries for every
// archive, into a data folder that holds another game folder's history: each path is looked at,
// opened and listed (a search for another spelling of a name included) at most once, but for
// those named below with the reason they need more. A repeat is a call the install could have
// saved.
TEST_F(Rollback, AnInstallLooksAtOpensAndListsEachPathOnce)
{
    WriteRepresentativePackage();
    {
        PutBack(root / "other/", pristine);
        MemorySettingsStore otherStore;
        otherStore.SaveSetting("Tessera", "Settings", "GTA3Path", root / "other/");
        modMain other{otherStore};
        other.LoadSettings();
        RecordingWindowServices window;
        ASSERT_EQ(InstallPackage(root / "mod.zpk", other, window, options), InstallResult::Installed);
    }
    // The path as inside root, one spelling for each: separators, trailing ones and letter case
    // folded, the journal's key left out (this game folder's, and the other one's).
    const std::string mine = BaseName(JournalFile()).substr(0, 24);
    const std::regex key("install-[0-9a-f]{16}");
    const auto folded = [](std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return LowerAscii(path);
    };
    const std::string inside = folded(root.Path());
    const auto normal = [&](std::string path) {
        path = folded(path);
        path = path.substr(path.starts_with(inside) ? inside.size() : 0);
        if (const auto at = path.find(mine); at != std::string::npos)
            path.replace(at, mine.size(), "install-*");
        path = std::regex_replace(path, key, "install-other");
        while (!path.empty() && path.back() == '/')
            path.pop_back();
        return path;
    };
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> calls;   // (kind, path) -> what each call did
    fs::faults::Observe([&](const std::string& what, const std::string& path, bool openFile) {
        const bool open = what.starts_with("open") || what == "create" || what == "lock";
        const bool look = what == "look for" || what == "read the length of" || what == "find the disk of";
        // The game folder is the user's, where a name may be spelled in another letter case;
        // the data folder's names are Tessera's own, and spelled as it spells them.
        const bool search = what == "search for another spelling in" && normal(path).starts_with("journal");
        if (!openFile && (open || look || what == "list the folder" || search))
            calls[{open ? "open" : look ? "look at" : "list", normal(path)}].push_back(what);
    });
    RecordingWindowServices window;
    const InstallResult result = Install(window);
    fs::faults::Observe({});
    ASSERT_EQ(result, InstallResult::Installed);

    const char* linkThenDisk = ": looked at for a link without following one, then for its disk";
    const std::map<std::pair<std::string, std::string>, std::pair<int, std::string>> allowed = {
        {{"look at", "game/anim"}, {2, linkThenDisk}},
        {{"look at", "game/audio"}, {2, linkThenDisk}},
        {{"look at", "game/data"}, {2, linkThenDisk}},
        {{"look at", "game/models"}, {2, linkThenDisk}},
        {{"look at", "game/text"}, {2, linkThenDisk}},
        {{"look at", "game"}, {2, ": resolved to one spelling, then its identity taken for the journal with its disk for the free space"}},
        {{"look at", "game/readme"}, {4, std::string(linkThenDisk) + ", found missing for the journal, which makes it, and again as it is made"}},
        {{"open", "journal/install-*.history/1.pending"}, {2, ": made empty first, so a failure leaves nothing of the record behind, then written"}},
    };
    for (const auto& [call, whats] : calls) {
        const auto it = allowed.find(call);
        const int n = static_cast<int>(whats.size());
        std::string said;
        for (const std::string& what : whats)
            said += " (" + what + ")";
        EXPECT_EQ(n, it == allowed.end() ? 1 : it->second.first) << call.first << " " << call.second << ":" << said;
    }
}
