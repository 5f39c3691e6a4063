// Tests of the platform services: the folder listing, the user settings store, built-in data
// and the window-service stand-ins for the console and for tests.
#include "ConsoleServices.h"
#include "FileSystem.h"
#include "FileSystemInternal.h"
#include "QtSettingsStore.h"
#include "RecordingServices.h"
#include "Services.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tessera {
namespace {

[[maybe_unused]] testing::Environment* const kIsolatedHome = testing::AddGlobalTestEnvironment(new test::IsolatedHome("tessera-plat-home-"));

std::string ConfigFolder() { return std::string(std::getenv("XDG_CONFIG_HOME")) + "/Tessera/"; }

// --- Folder listing -------------------------------------------------------------------------

TEST(ListFiles, RegularFilesOnlyDotFilesIncludedCaseIgnoringOrder)
{
    test::TempDir dir;
    for (const std::string name : {"c.TXT", "B.txt", "a.txt", ".hidden", "_under", "Zeta", "10.dat", "9.dat"})
        test::WriteFile(dir / name, test::ToBytes(name));
    // Written natively: the case-resolving writer would land on a.txt.
    std::ofstream(dir / "A.TXT") << "upper";
    fs::CreateFolder(dir / "sub");
    fs::CreateFolder(dir / "Aaa");
    test::WriteFile(dir / "sub/inner.txt", test::ToBytes("x"));
    ASSERT_EQ(::symlink((dir / "a.txt").c_str(), (dir / "link-to-file").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "sub").c_str(), (dir / "link-to-folder").c_str()), 0);

    // '_' sorts before the letters once they are folded to lower case, "10" before "9", and names
    // equal but for case fall back to their bytes.
    const std::vector<std::string> expected = {".hidden", "10.dat", "9.dat", "_under", "A.TXT", "a.txt",
                                               "B.txt", "c.TXT", "link-to-file", "Zeta"};
    EXPECT_EQ(fs::ListFiles(dir.Path()), expected);
    // One reading gives the folders and the rest too: a link to a folder or to nothing, a pipe.
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "link-to-nothing").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const fs::FolderListing listing = fs::ListFolder(dir.Path());
    EXPECT_EQ(listing.files, expected);
    EXPECT_EQ(listing.folders, (std::vector<std::string>{"Aaa", "sub"}));
    EXPECT_EQ(listing.others, (std::vector<std::string>{"link-to-folder", "link-to-nothing", "pipe"}));
}

TEST(ListFiles, EmptyAndMissingFolders)
{
    test::TempDir dir;
    EXPECT_TRUE(fs::ListFiles(dir.Path()).empty());
    EXPECT_THROW(fs::ListFiles(dir / "missing\\"), TesseraError);
}

// Random ranges copied in the kernel and, between disks or through the buffer alone, by hand:
// the target holds exactly the source's bytes at the given place and keeps the rest; a range
// reaching past the source's end copies what is there and says so.
TEST(CopyRange, ByteExactWithinAndAcrossDisksAndThroughTheBuffer)
{
    test::TempDir disk;
    std::vector<std::string> targets = {disk / "target"};
    if (fs::FolderExists("/dev/shm/"))
        targets.push_back("/dev/shm/tessera-copyrange-" + std::to_string(::getpid()));
    const test::Bytes source = test::Pattern(300000, 9);
    test::WriteFile(disk / "source", source);
    std::mt19937 random(5);
    std::vector<std::byte> buffer(4096);
    for (const std::string& targetPath : targets) {
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(targetPath + ", round " + std::to_string(round));
            test::Bytes expected = test::Pattern(random() % 200000, 10 + round);
            test::WriteFile(targetPath, expected);
            const std::int64_t from = random() % source.size();
            const std::int64_t length = random() % 2 ? random() % 70000 : random() % source.size();
            const std::int64_t to = random() % (expected.size() + 1);
            const bool byHand = round % 3 == 0;
            fs::File in(disk / "source", fs::OpenMode::Read);
            fs::File out(targetPath, fs::OpenMode::ReadWrite);
            const std::int64_t copied = byHand ? fs::detail::CopyThroughBuffer(in, from, out, to, length, buffer)
                                               : fs::CopyRange(in, from, out, to, length, buffer);
            out.Close();
            const auto available = std::min<std::int64_t>(length, static_cast<std::int64_t>(source.size()) - from);
            ASSERT_EQ(copied, available);
            if (expected.size() < static_cast<std::size_t>(to + available))
                expected.resize(static_cast<std::size_t>(to + available));
            std::copy_n(source.begin() + from, available, expected.begin() + to);
            ASSERT_EQ(test::ReadFile(targetPath), expected);
        }
    }
    if (targets.size() > 1)
        fs::DeleteFile(targets.back());
}

// An existence test says "missing" only when the system says so; a question it cannot answer
// (here a link that loops) is an error, never an absence.
TEST(FileSystem, ExistenceTestsThatCannotTellThrow)
{
    test::TempDir dir;
    ASSERT_EQ(::symlink((dir / "loop").c_str(), (dir / "loop").c_str()), 0);
    EXPECT_THROW(fs::FileExists(dir / "loop"), TesseraError);
    EXPECT_THROW(fs::FolderExists(dir / "loop/inner"), TesseraError);
    EXPECT_THROW(fs::FileLength(dir / "loop"), TesseraError);
    EXPECT_EQ(fs::Lookup(dir / "loop"), fs::PathKind::Link);
    EXPECT_FALSE(fs::FileExists(dir / "missing"));
    EXPECT_FALSE(fs::PathExists(dir / "missing/below"));
    EXPECT_EQ(fs::Lookup(dir / "missing"), fs::PathKind::Missing);
}

// A lock is had once at a time, and its file goes when it is let go.
TEST(FileSystem, LocksAreExclusiveAndLeaveNoFile)
{
    test::TempDir dir;
    {
        const fs::ExclusiveLock first(dir / "x.lock");
        ASSERT_TRUE(first.Held());
        EXPECT_FALSE(fs::ExclusiveLock(dir / "x.lock").Held());
    }
    EXPECT_FALSE(fs::PathExists(dir / "x.lock"));
    test::WriteFile(dir / "y.lock", test::ToBytes(""));   // left by a process that died
    EXPECT_TRUE(fs::ExclusiveLock(dir / "y.lock").Held());
    EXPECT_FALSE(fs::PathExists(dir / "y.lock"));
}

// A folder's identity is the same for every spelling of it, and never that of a removed
// folder whose number the disk gave to a new one (journals and histories are keyed on it).
TEST(FileSystem, FolderIdentitiesFollowTheFolderNotItsSpelling)
{
    test::TempDir dir;
    fs::CreateFolder(dir / "Game");
    EXPECT_EQ(fs::FolderIdentity(dir / "Game"), fs::FolderIdentity(dir / "game/./"));
    EXPECT_NE(fs::FolderIdentity(dir / "Game"), fs::FolderIdentity(dir.Path()));
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        fs::CreateFolder(dir / "again");
        EXPECT_TRUE(seen.insert(fs::FolderIdentity(dir / "again")).second) << "folder " << i << " took a removed folder's identity";
        fs::RemoveFolder(dir / "again");
    }
}

// --- User settings store --------------------------------------------------------------------

TEST(FileSystem, PathsResolveIgnoringCaseAndNewFilesKeepTheirCase)
{
    test::TempDir dir;
    fs::CreateFolders(dir / "Models\\Sub");
    test::WriteFile(dir / "Models/Sub/Car.DFF", test::ToBytes("x"));
    EXPECT_EQ(fs::NativePath(dir / "models\\SUB\\car.dff"), dir / "Models/Sub/Car.DFF");
    EXPECT_TRUE(fs::FileExists(dir / "MODELS\\sub\\CAR.dff"));
    // A new file goes into the existing folder under the name given.
    test::WriteFile(dir / "models\\sub\\New.txd", test::ToBytes("y"));
    EXPECT_EQ(test::Tree(dir.Path()), (std::vector<std::string>{"Models/", "Models/Sub/", "Models/Sub/Car.DFF", "Models/Sub/New.txd"}));
    // A file standing where a folder is wanted is an error, not a silent success.
    EXPECT_THROW(fs::CreateFolders(dir / "Models/Sub/Car.DFF/inner"), TesseraError);
    // A spelling found before is tried first, and searched for anew once it has gone.
    ASSERT_EQ(::rename((dir / "Models").c_str(), (dir / "MODELS").c_str()), 0);
    EXPECT_EQ(fs::NativePath(dir / "models\\SUB\\car.dff"), dir / "MODELS/Sub/Car.DFF");
    EXPECT_TRUE(fs::FileExists(dir / "models\\sub\\New.TXD"));
    fs::DeleteFile(dir / "MODELS/Sub/New.txd");
    EXPECT_FALSE(fs::FileExists(dir / "models\\sub\\New.TXD"));
}

// A folder taken as Tessera's own spares the search for another spelling of a name missing in
// it, and only there: a folder reached under another spelling or through a link is not taken,
// nor is a path that leads out of it; a name in another letter case is still found outside it.
TEST(FileSystem, OnlyAFolderOfOurOwnAsSpelledSparesTheSearch)
{
    test::TempDir dir;
    fs::CreateFolders(dir / "Other");
    test::WriteFile(dir / "Other/X", test::ToBytes("x"));
    ASSERT_EQ(::symlink((dir / "Other").c_str(), (dir / "Linked").c_str()), 0);
    EXPECT_EQ(fs::LookupOwnFolder(dir / "other\\"), fs::PathKind::Folder);   // another spelling: not taken
    EXPECT_EQ(fs::LookupOwnFolder(dir / "Linked"), fs::PathKind::Link);
    EXPECT_EQ(fs::LookupOwnFolder(dir / "missing"), fs::PathKind::Missing);
    for (const std::string path : {"other/x", "Linked/x", "Other/x"})
        EXPECT_TRUE(fs::FileExists(dir / path)) << path;

    fs::CreateFolders(dir / "Data");
    test::WriteFile(dir / "Data/Y", test::ToBytes("y"));
    ASSERT_EQ(fs::LookupOwnFolder(dir / "Data/"), fs::PathKind::Folder);
    std::vector<std::string> searched;
    fs::faults::Observe([&](const std::string& what, const std::string& path, bool) {
        if (what == "search for another spelling in")
            searched.push_back(path);
    });
    EXPECT_FALSE(fs::FileExists(dir / "Data/y"));
    EXPECT_TRUE(fs::FileExists(dir / "Data/Y"));
    EXPECT_FALSE(fs::FolderExists(dir / "Data\\new\\"));
    fs::CreateFolder(dir / "Data/new");
    EXPECT_TRUE(fs::FolderExists(dir / "Data/new"));
    const std::vector<std::string> inside = searched;
    EXPECT_TRUE(fs::FileExists(dir / "Data/../other/x"));   // leads out: searched as anywhere
    fs::faults::Observe({});
    EXPECT_EQ(inside, std::vector<std::string>{});
    EXPECT_NE(searched, std::vector<std::string>{});
}

// What every settings store does with the game folder's value: the default while none is
// stored, then the value saved.
void ExpectDefaultThenRoundTrip(ISettingsStore& store, const std::string& value)
{
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), "[NOT FOUND]");
    store.SaveSetting("Tessera", "Settings", "GTA3Path", value);
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), value);
}

TEST(QtSettingsStore, DefaultThenRoundTripInTheUsersConfigFile)
{
    QtSettingsStore store;
    ExpectDefaultThenRoundTrip(store, "C:\\Games\\GTA3\\");
    // Another key of the same section is still missing.
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "Other", "dflt"), "dflt");

    const std::string conf = test::ReadText(ConfigFolder() + "Tessera.conf");
    const auto group = conf.find("[Settings]");
    ASSERT_NE(group, std::string::npos) << conf;
    EXPECT_NE(conf.find("GTA3Path=", group), std::string::npos) << conf;

    // Replacing the value and reading it through a new store, as after a restart.
    store.SaveSetting("Tessera", "Settings", "GTA3Path", "D:\\GTA3\\");
    EXPECT_EQ(QtSettingsStore().GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), "D:\\GTA3\\");
}

TEST(QtSettingsStore, TextsComeBackByteForByte)
{
    QtSettingsStore store;
    const std::vector<std::string> values = {
        "",                                  // stored empty is not missing
        "[not found]",
        "  spaced  ",
        "C:\\Spiele\\Grand Theft Auto III\\",
        "/home/u/j\xC3\xA9u/",               // UTF-8
        "C:\\caf\xE9\\",                     // a byte that is not UTF-8
        "a=b;c,d\"e'f#g[h]",
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string key = "Value" + std::to_string(i);
        store.SaveSetting("RoundTrip", "Settings", key, values[i]);
        EXPECT_EQ(store.GetSetting("RoundTrip", "Settings", key, "missing"), values[i]);
    }
}

// Values written by hand: one with commas (QSettings would split it into a list) comes back as
// the file has it; an escaped NUL stays in the text, and a message naming it shows it.
TEST(QtSettingsStore, HandWrittenValuesComeBackAsWritten)
{
    fs::CreateFolders(ConfigFolder());
    test::WriteFile(ConfigFolder() + "Hand.conf", test::ToBytes("[Other]\nGTA3Path=no\n[Settings]\nGTA3Path = C:\\\\Games\\\\GTA3,  Steam ,x\\\\\nQuoted=\"a, b\"\nNul=/g\\0x/\n"));
    QtSettingsStore store;
    EXPECT_EQ(store.GetSetting("Hand", "Settings", "GTA3Path", "missing"), "C:\\Games\\GTA3,  Steam ,x\\");
    EXPECT_EQ(store.GetSetting("Hand", "Settings", "Quoted", "missing"), "a, b");
    const std::string nul = store.GetSetting("Hand", "Settings", "Nul", "missing");
    EXPECT_EQ(nul, std::string("/g\0x/", 5));
    EXPECT_STREQ(TesseraError(ErrorKind::PathNotFound, "The folder " + nul + " was not found").what(), "The folder /g\\x00x/ was not found");
}

TEST(QtSettingsStore, ApplicationsAndSectionsAreSeparate)
{
    QtSettingsStore store;
    store.SaveSetting("AppOne", "Settings", "GTA3Path", "one\\");
    store.SaveSetting("AppOne", "Other", "GTA3Path", "other\\");
    EXPECT_EQ(store.GetSetting("AppTwo", "Settings", "GTA3Path", "none"), "none");
    EXPECT_EQ(store.GetSetting("AppOne", "Settings", "GTA3Path", "none"), "one\\");
    EXPECT_EQ(store.GetSetting("AppOne", "Other", "GTA3Path", "none"), "other\\");
    EXPECT_TRUE(fs::FileExists(ConfigFolder() + "AppOne.conf"));
}

TEST(QtSettingsStore, SaveThatCannotBeWrittenFails)
{
    // A folder where the file should be makes the write fail whatever the user's rights.
    fs::CreateFolder(std::string(std::getenv("XDG_CONFIG_HOME")) + "/");
    fs::CreateFolder(ConfigFolder());
    fs::CreateFolder(ConfigFolder() + "Blocked.conf");
    QtSettingsStore store;
    try {
        store.SaveSetting("Blocked", "Settings", "GTA3Path", "C:\\x\\");
        FAIL() << "the save reported no failure";
    } catch (const TesseraError& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::AccessDenied);
        EXPECT_NE(std::string(e.what()).find("Blocked.conf"), std::string::npos) << e.what();
    }
}

// A settings file that is a pipe or a folder is an error naming it, for reads and saves alike:
// QSettings would wait for ever on a pipe.
TEST(QtSettingsStore, SettingsFileThatIsNoRegularFileIsAnErrorNamingIt)
{
    fs::CreateFolders(ConfigFolder());
    const std::string conf = ConfigFolder() + "Odd.conf";
    for (const char* kind : {"pipe", "folder"}) {
        SCOPED_TRACE(kind);
        if (std::string(kind) == "pipe")
            ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
        else
            fs::CreateFolder(conf);
        QtSettingsStore store;
        for (const bool save : {false, true}) {
            try {
                if (save)
                    store.SaveSetting("Odd", "Settings", "GTA3Path", "C:\\x\\");
                else
                    store.GetSetting("Odd", "Settings", "GTA3Path", "none");
                FAIL() << (save ? "the save" : "the read") << " reported no failure";
            } catch (const TesseraError& e) {
                EXPECT_EQ(std::string(e.what()), "The settings file " + conf + " is not a regular file");
            }
        }
        if (std::string(kind) == "pipe")
            fs::DeleteFile(conf);
        else
            fs::RemoveFolder(conf);
    }
}

// --- Built-in data and program facts ---------------------------------------------------------

TEST(ResData, RegisteredItemsAreFoundByTypeAndIdentifier)
{
    static const std::byte data[] = {std::byte{1}, std::byte{2}, std::byte{3}};
    RegisterResData(7001, "TESTDATA", data);
    const auto bytes = LoadResData(7001, "TESTDATA");
    EXPECT_EQ(bytes.data(), data);
    EXPECT_EQ(bytes.size(), 3u);
    EXPECT_THROW(LoadResData(7002, "TESTDATA"), TesseraError);
    EXPECT_THROW(LoadResData(7001, "testdata"), TesseraError);
    EXPECT_EQ(kProgramTitle, "Tessera");
    EXPECT_EQ(kVersionMajor * 100 + kVersionMinor * 10 + kVersionRevision, 120);
    EXPECT_NE(fs::ProgramFolder().back(), '/');
}

// --- Window services ---------------------------------------------------------------------------

TEST(ConsoleWindowServices, MessagesGoToErrorsCaptionsToOutput)
{
    std::ostringstream out, err;
    ConsoleWindowServices console(out, err);
    console.SetCaption("Installing a.txd");
    console.MsgBox("You must specify your GTA3 Directory!\r\n\r\nGood bye!", "Need path");
    console.MsgBox("lone\rCR", "T");
    console.DoEvents();
    console.SetPointer(Pointer::Hourglass);
    console.SetButtonEnabled(Button::Install, false);
    console.SetCaption("Mod installed!");
    EXPECT_EQ(out.str(), "Installing a.txd\nMod installed!\n");
    EXPECT_EQ(err.str(), "Need path: You must specify your GTA3 Directory!\n\nGood bye!\nT: lone\rCR\n");

    std::ostringstream quietOut, quietErr;
    ConsoleWindowServices quiet(quietOut, quietErr, true);
    quiet.SetCaption("Installing a.txd");
    quiet.MsgBox("text", "Bad file");
    EXPECT_EQ(quietOut.str(), "");
    EXPECT_EQ(quietErr.str(), "Bad file: text\n");
}

TEST(RecordingWindowServices, RecordsInOrderAndRunsHooksWhileTheLogicWaits)
{
    RecordingWindowServices window;
    std::vector<std::string> seen;
    window.onDoEvents = [&] { seen.push_back("yield " + window.LastCaption()); };
    window.onMsgBox = [&](const RecordedMessage& m) { seen.push_back("box " + m.title); };

    EXPECT_EQ(window.LastCaption(), "");
    window.SetPointer(Pointer::Hourglass);
    window.SetButtonEnabled(Button::Install, false);
    window.SetButtonEnabled(Button::BrowseSource, false);
    window.DoEvents();
    window.SetCaption("Installing a.txd");
    window.DoEvents();
    window.MsgBox("first", "One");
    window.MsgBox("second", "Two");
    window.SetButtonEnabled(Button::Install, true);
    window.SetPointer(Pointer::Default);

    EXPECT_EQ(window.messages, (std::vector<RecordedMessage>{{"first", "One"}, {"second", "Two"}}));
    EXPECT_EQ(window.captions, std::vector<std::string>{"Installing a.txd"});
    EXPECT_EQ(window.pointers, (std::vector<Pointer>{Pointer::Hourglass, Pointer::Default}));
    EXPECT_EQ(window.doEventsCount, 2);
    EXPECT_TRUE(window.installEnabled);
    EXPECT_FALSE(window.browseEnabled);
    EXPECT_EQ(window.pointer, Pointer::Default);
    EXPECT_EQ(seen, (std::vector<std::string>{"yield ", "yield Installing a.txd", "box One", "box Two"}));

    // A hook that throws stops the caller at that point.
    window.onDoEvents = [] { throw TesseraError(ErrorKind::Io, "stopped"); };
    EXPECT_THROW(window.DoEvents(), TesseraError);
}

TEST(MemorySettingsStore, DefaultAndRoundTrip)
{
    MemorySettingsStore store;
    ExpectDefaultThenRoundTrip(store, "");
    EXPECT_EQ(store.GetSetting("Tessera", "settings", "GTA3Path", "[NOT FOUND]"), "[NOT FOUND]");
    EXPECT_EQ(store.saveCount, 1);
}

} // namespace
} // namespace tessera
