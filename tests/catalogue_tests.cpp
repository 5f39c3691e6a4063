// Tests of the stock list, the catalogue built from it and the game-folder setting.
#include "modMain.h"

#include "FileSystem.h"
#include "UserSettingsStore.h"
#include "RecordingServices.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace tessera {
namespace {

[[maybe_unused]] testing::Environment* const kIsolatedHome = testing::AddGlobalTestEnvironment(new test::IsolatedHome("tessera-cat-home-"));

std::string ListText() { return std::string(reinterpret_cast<const char*>(StockListBytes().data()), StockListBytes().size()); }

std::vector<std::string> ListLines()
{
    const std::string text = ListText();
    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (;;) {
        const auto next = text.find("\r\n", pos);
        lines.push_back(text.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
        if (next == std::string::npos)
            return lines;
        pos = next + 2;
    }
}

std::string FolderOf(const std::string& line) { return GetFolder(line); }
std::string NameOf(const std::string& line) { return line.substr(GetFolder(line).size()); }

std::span<const std::byte> AsBytes(const std::string& s) { return std::as_bytes(std::span<const char>(s.data(), s.size())); }

std::vector<std::string> Keys(const StockCollection& c)
{
    std::vector<std::string> keys;
    for (const auto& f : c)
        keys.push_back(f->sFileName());
    return keys;
}

// --- The built-in list ------------------------------------------------------------------

TEST(StockList, IsCrLfSeparatedWithNoBreakAfterTheLastLine)
{
    const std::string text = ListText();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r')
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at byte " << i;
        else if (c == '\n')
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
        else
            ASSERT_TRUE(c > ' ' && c < 127) << "byte " << i << " is not printable ASCII";
    }
    EXPECT_EQ(ListLines().size(), kStockFileCount);
}

TEST(StockList, LinesAreLowerCaseRelativePathsWithUniqueNames)
{
    std::set<std::string> names;
    for (const auto& line : ListLines()) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line, LowerAscii(line));
        EXPECT_NE(line.front(), '\\');
        EXPECT_EQ(line.find("\\\\"), std::string::npos);
        EXPECT_FALSE(NameOf(line).empty());
        EXPECT_TRUE(names.insert(LowerAscii(NameOf(line))).second) << "name listed twice";
    }
    EXPECT_EQ(names.size(), kStockFileCount);
}

TEST(StockList, GoesFolderByFolderInOrderWithTheExpectedCounts)
{
    const std::vector<std::pair<std::string, int>> expected = {
        {"", 1},
        {"anim\\", 4},
        {"audio\\", 197},
        {"data\\", 24},
        {"data\\maps\\", 7},
        {"data\\maps\\comnbtm\\", 3},
        {"data\\maps\\comntop\\", 3},
        {"data\\maps\\comroad\\", 3},
        {"data\\maps\\comse\\", 3},
        {"data\\maps\\comsw\\", 3},
        {"data\\maps\\indroads\\", 3},
        {"data\\maps\\industne\\", 3},
        {"data\\maps\\industnw\\", 3},
        {"data\\maps\\industse\\", 3},
        {"data\\maps\\industsw\\", 3},
        {"data\\maps\\landne\\", 3},
        {"data\\maps\\landsw\\", 3},
        {"data\\maps\\making\\", 3},
        {"data\\maps\\subroads\\", 3},
        {"data\\maps\\temppart\\", 3},
        {"data\\paths\\", 20},
        {"icons\\", 3},
        {"models\\", 11},
        {"models\\coll\\", 7},
        {"models\\generic\\", 11},
        {"movies\\", 3},
        {"mss\\", 10},
        {"readme\\", 5},
        {"skins\\", 2},
        {"text\\", 6},
        {"txd\\", 32},
        {"website\\", 1},
    };
    std::vector<std::pair<std::string, int>> seen;
    std::string previousName;
    for (const auto& line : ListLines()) {
        const std::string folder = FolderOf(line);
        if (seen.empty() || seen.back().first != folder) {
            // Each folder appears once, after every folder that sorts before it.
            if (!seen.empty()) {
                EXPECT_LT(seen.back().first, folder) << line;
            }
            seen.emplace_back(folder, 0);
        } else {
            EXPECT_LT(previousName, NameOf(line)) << line;   // byte order: chase10 before chase2
        }
        ++seen.back().second;
        previousName = NameOf(line);
    }
    EXPECT_EQ(seen, expected);
    const auto lines = ListLines();
    EXPECT_EQ(lines.front(), "gta3.exe");
    EXPECT_EQ(lines.back(), "website\\website.url");
}

TEST(StockList, IsRegisteredAsBuiltInDataCustom101)
{
    MemorySettingsStore store;
    modMain m(store);
    m.LoadStockList();
    const auto bytes = LoadResData(101, "CUSTOM");
    EXPECT_EQ(bytes.data(), StockListBytes().data());
    EXPECT_EQ(bytes.size(), StockListBytes().size());
}

// --- The catalogue built under a game folder ---------------------------------------------

modMain Built(MemorySettingsStore& store, const std::string& folder)
{
    modMain m(store);
    m.sGTA3Path = folder;
    m.LoadStockList();
    return m;
}

TEST(Catalogue, UnderAFolderWithItsTrailingBackslash)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "C:\\Games\\GTA3\\");
    const auto& c = *m.colStockFiles;
    ASSERT_EQ(c.Count(), kStockFileCount);

    const auto lines = ListLines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const auto& f = *c[i];
        EXPECT_EQ(f.sFullPath(), "C:\\Games\\GTA3\\" + lines[i]);
        EXPECT_EQ(f.sPath(), "C:\\Games\\GTA3\\" + FolderOf(lines[i]));
        EXPECT_EQ(f.sFileName(), NameOf(lines[i]));
        EXPECT_EQ(f.sId(), f.sFullPath());
        EXPECT_EQ(c.Fetch(NameOf(lines[i])).get(), c[i].get());
    }

    const auto& first = *c[0];
    EXPECT_EQ(first.sFullPath(), "C:\\Games\\GTA3\\gta3.exe");
    EXPECT_EQ(first.sPath(), "C:\\Games\\GTA3\\");
    EXPECT_EQ(first.sFileName(), "gta3.exe");
    const auto& comse = *c.Fetch("comse.ipl");
    EXPECT_EQ(comse.sPath(), "C:\\Games\\GTA3\\data\\maps\\comse\\");
    EXPECT_EQ(comse.sFullPath(), "C:\\Games\\GTA3\\data\\maps\\comse\\comse.ipl");
    EXPECT_EQ(c[kStockFileCount - 1]->sFileName(), "website.url");
}

TEST(Catalogue, KeysMatchInAnyLetterCase)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "C:\\Games\\GTA3\\");
    const auto& c = *m.colStockFiles;
    for (const std::string key : {"default.dat", "DEFAULT.DAT", "Default.Dat"}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(IsInCollection(key, c));
        EXPECT_EQ(c.Fetch(key)->sFullPath(), "C:\\Games\\GTA3\\data\\default.dat");
    }
    EXPECT_EQ(c.Fetch("DEFAULT.DAT").get(), c.Fetch("default.dat").get());
    // A mod's own new file, a folder-qualified name, a near miss and the empty key are not stock files.
    for (const std::string key : {"mycar.txd", "data\\default.dat", "default.dat ", "default", ""}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(IsInCollection(key, c));
    }
    StockCollection empty;
    EXPECT_FALSE(IsInCollection("gta3.exe", empty));
}

TEST(Catalogue, FolderWithoutTrailingBackslashRunsFolderAndLineTogether)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "C:\\Games\\GTA3");
    const auto& c = *m.colStockFiles;
    ASSERT_EQ(c.Count(), kStockFileCount);
    const auto& first = *c[0];
    EXPECT_EQ(first.sFullPath(), "C:\\Games\\GTA3gta3.exe");
    EXPECT_EQ(first.sPath(), "C:\\Games\\");
    EXPECT_EQ(first.sFileName(), "GTA3gta3.exe");
    EXPECT_FALSE(IsInCollection("gta3.exe", c));
    EXPECT_TRUE(IsInCollection("gta3gta3.exe", c));
    EXPECT_EQ(c.Fetch("cuts.dir")->sFullPath(), "C:\\Games\\GTA3anim\\cuts.dir");
    EXPECT_EQ(c.Fetch("cuts.dir")->sPath(), "C:\\Games\\GTA3anim\\");
}

TEST(Catalogue, UnderAFolderWrittenWithSlashesTheTopLevelFileKeepsItsName)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "/home/u/gta3/");
    const auto& c = *m.colStockFiles;
    EXPECT_EQ(c[0]->sFileName(), "gta3.exe");
    EXPECT_EQ(c[0]->sPath(), "/home/u/gta3/");
    EXPECT_EQ(c.Fetch("comse.ipl")->sPath(), "/home/u/gta3/data\\maps\\comse\\");
}

TEST(Catalogue, UnderTheNotFoundMarker)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "[NOT FOUND]");
    const auto& c = *m.colStockFiles;
    ASSERT_EQ(c.Count(), kStockFileCount);
    EXPECT_EQ(c.Fetch("cuts.dir")->sFullPath(), "[NOT FOUND]anim\\cuts.dir");
    EXPECT_EQ(c[0]->sFullPath(), "[NOT FOUND]gta3.exe");
    EXPECT_EQ(c[0]->sPath(), "");
    EXPECT_EQ(c[0]->sFileName(), "[NOT FOUND]gta3.exe");
}

TEST(Catalogue, UnderAnEmptyFolderTextThePathsAreTheBareLines)
{
    MemorySettingsStore store;
    const modMain m = Built(store, "");
    const auto lines = ListLines();
    ASSERT_EQ(m.colStockFiles->Count(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ((*m.colStockFiles)[i]->sFullPath(), lines[i]);
    EXPECT_EQ(m.colStockFiles->Fetch("gta3.exe")->sPath(), "");
}

TEST(Catalogue, SecondBuildWithoutRenewingFailsOnTheFirstLine)
{
    MemorySettingsStore store;
    modMain m = Built(store, "C:\\Games\\GTA3\\");
    try {
        m.LoadStockList();
        FAIL() << "a second build was accepted";
    } catch (const TesseraError& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::DuplicateKey);
        EXPECT_NE(std::string(e.what()).find("line 1 (gta3.exe)"), std::string::npos) << e.what();
    }
    EXPECT_EQ(m.colStockFiles->Count(), kStockFileCount);
}

TEST(Catalogue, StartsEmptyOnFirstUse)
{
    MemorySettingsStore store;
    modMain m(store);
    EXPECT_EQ(m.StockFiles().Count(), 0u);
    EXPECT_FALSE(IsInCollection("gta3.exe", m.StockFiles()));
    ASSERT_TRUE(m.colStockFiles);
}

TEST(Catalogue, LinesAreTrimmedOfSpacesAndEmptyLinesSkipped)
{
    MemorySettingsStore store;
    modMain m(store);
    m.sGTA3Path = "G\\";
    m.LoadStockList(AsBytes("\r\n  a\\one.txt  \r\n   \r\nb\\Two.TXT\rthree\r\n"));
    EXPECT_EQ(Keys(*m.colStockFiles), (std::vector<std::string>{"one.txt", "Two.TXT", "three"}));
    EXPECT_EQ(m.colStockFiles->Fetch("one.txt")->sFullPath(), "G\\a\\one.txt");
    // Keys are kept as listed, not lower-cased.
    EXPECT_EQ(m.colStockFiles->Fetch("two.txt")->sFileName(), "Two.TXT");
    // Only spaces are trimmed.
    modMain t(store);
    t.LoadStockList(AsBytes("\tx\t"));
    EXPECT_EQ(Keys(*t.colStockFiles), (std::vector<std::string>{"\tx\t"}));
}

TEST(Catalogue, DuplicateNameInAListNamesTheLine)
{
    MemorySettingsStore store;
    modMain m(store);
    try {
        m.LoadStockList(AsBytes("a\\x.dat\r\nb\\X.DAT"));
        FAIL() << "a list naming a file twice was accepted";
    } catch (const TesseraError& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::DuplicateKey);
        EXPECT_NE(std::string(e.what()).find("line 2 (b\\X.DAT)"), std::string::npos) << e.what();
    }
}

// --- GetFolder ----------------------------------------------------------------------------

TEST(GetFolder, EdgeInputs)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"abc", ""},
        {"\\", "\\"},
        {"a\\b\\", "a\\b\\"},
        {"a\\b\\c.txt", "a\\b\\"},
        {"\\\\server\\share", "\\\\server\\"},
        {"a/b/c", "a/b/"},
        {"/home/u/gta3/gta3.exe", "/home/u/gta3/"},
        {"C:\\Games/GTA3\\x", "C:\\Games/GTA3\\"},
    };
    for (const auto& [path, folder] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFolder(path), folder);
    }
}

TEST(GetFolder, LongestTextStillWorksOneMoreOverflows)
{
    std::string path(32766, 'x');
    path = "\\" + path;
    ASSERT_EQ(path.size(), 32767u);
    EXPECT_EQ(GetFolder(path), "\\");
    path += 'y';
    try {
        GetFolder(path);
        FAIL() << "no overflow";
    } catch (const TesseraError& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Overflow);
    }
}

// --- Settings -------------------------------------------------------------------------------

TEST(Settings, NothingStoredGivesTheMarkerAndStillBuildsTheCatalogue)
{
    MemorySettingsStore store;
    modMain m(store);
    m.LoadSettings();
    EXPECT_EQ(m.sGTA3Path, kNotFound);
    ASSERT_EQ(m.colStockFiles->Count(), kStockFileCount);
    EXPECT_EQ(m.colStockFiles->Fetch("cuts.dir")->sFullPath(), "[NOT FOUND]anim\\cuts.dir");
    EXPECT_EQ(store.saveCount, 0);
}

TEST(Settings, StoredTextIsTakenUnchanged)
{
    // Only the exact marker means "no folder": an empty text and other letter cases are folders.
    // A folder without its trailing separator gets one, so its files are inside it.
    const std::string sep(1, fs::kSeparator);
    for (const auto& [stored, folder] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\Games\\GTA3\\", "C:\\Games\\GTA3\\"}, {"", ""}, {"[not found]", "[not found]" + sep},
             {"[NOT FOUND] ", "[NOT FOUND] " + sep}, {"D:\\no\\such", "D:\\no\\such" + sep}, {"/games/gta3/", "/games/gta3/"}}) {
        SCOPED_TRACE(stored);
        MemorySettingsStore store;
        store.values[{"Tessera", "Settings", "GTA3Path"}] = stored;
        modMain m(store);
        m.LoadSettings();
        EXPECT_EQ(m.sGTA3Path, folder);
        EXPECT_FALSE(m.sGTA3Path == kNotFound);
        EXPECT_EQ(m.colStockFiles->Fetch("gta3.dat")->sFullPath(), folder + "data\\gta3.dat");
    }
}

TEST(Settings, LoadSettingsRenewsTheCatalogueAndLeavesTheOldOneToItsHolders)
{
    MemorySettingsStore store;
    store.values[{"Tessera", "Settings", "GTA3Path"}] = "C:\\Old\\";
    modMain m(store);
    m.LoadSettings();
    const auto held = m.colStockFiles;
    store.values[{"Tessera", "Settings", "GTA3Path"}] = "C:\\New\\";
    m.LoadSettings();   // no duplicate-key failure: the collection is new
    EXPECT_NE(held.get(), m.colStockFiles.get());
    EXPECT_EQ(held->Fetch("ped.ifp")->sFullPath(), "C:\\Old\\anim\\ped.ifp");
    EXPECT_EQ(m.colStockFiles->Fetch("ped.ifp")->sFullPath(), "C:\\New\\anim\\ped.ifp");
    EXPECT_EQ(m.colStockFiles->Count(), kStockFileCount);
}

TEST(Settings, SaveWritesTheTextAndDoesNotRebuild)
{
    MemorySettingsStore store;
    modMain m(store);
    m.LoadSettings();
    const auto before = m.colStockFiles;
    m.sGTA3Path = "C:\\Games\\GTA3\\";
    m.SaveSettings();
    EXPECT_EQ(store.values.size(), 1u);
    EXPECT_EQ((store.values[{"Tessera", "Settings", "GTA3Path"}]), "C:\\Games\\GTA3\\");
    EXPECT_EQ(m.colStockFiles.get(), before.get());
    EXPECT_EQ(m.colStockFiles->Fetch("cuts.dir")->sFullPath(), "[NOT FOUND]anim\\cuts.dir");
}

TEST(Settings, FolderSurvivesARestartThroughTheUserStore)
{
    {
        UserSettingsStore store;
        modMain first(store);
        first.LoadSettings();
        EXPECT_EQ(first.sGTA3Path, kNotFound);
        first.sGTA3Path = "C:\\Games\\GTA3\\";
        first.SaveSettings();
    }
    UserSettingsStore store;
    modMain next(store);
    next.LoadSettings();
    EXPECT_EQ(next.sGTA3Path, "C:\\Games\\GTA3\\");
    EXPECT_EQ(next.colStockFiles->Fetch("gta3.exe")->sFullPath(), "C:\\Games\\GTA3\\gta3.exe");
#ifndef _WIN32
    const std::string conf = std::string(std::getenv("XDG_CONFIG_HOME")) + "/Tessera/Tessera.conf";
    EXPECT_NE(test::ReadText(conf).find("GTA3Path="), std::string::npos);
#endif
}

} // namespace
} // namespace tessera
