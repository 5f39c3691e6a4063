// The Windows services under Windows (or Wine): the registry settings store, the file
// services' sharing, which decides whether a reader elsewhere can make an install fail, and the
// dialogs' file tests, which do not see hidden and system files.
#include "Compact.h"
#include "FileSystem.h"
#include "FormLogic.h"
#include "GameFolderTest.h"
#include "HistoryStore.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "RegistrySettingsStore.h"
#include "TestSupport.h"
#include "Text.h"
#include "Uninstall.h"
#include "Win32Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

using namespace tessera;
using namespace tessera::test;

namespace {

[[maybe_unused]] testing::Environment* const kIsolatedHome = testing::AddGlobalTestEnvironment(new IsolatedHome("tessera-win-home-"));

// --- Registry settings store ---------------------------------------------------------------

// The value as the registry holds it, read without the store.
std::optional<std::wstring> RawValue(const std::wstring& key, const std::wstring& name, DWORD* type = nullptr)
{
    wchar_t buffer[512] = {};
    DWORD bytes = sizeof buffer;
    DWORD t = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_ANY, &t, buffer, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    if (type)
        *type = t;
    return std::wstring(buffer);
}

TEST(RegistrySettingsStore, DefaultRoundTripAtQtsKeyAndNoOtherAddressIsTouched)
{
    RegistrySettingsStore store;
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), "[NOT FOUND]");
    store.SaveSetting("Tessera", "Settings", "GTA3Path", "C:\\Games\\GTA3\\");
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), "C:\\Games\\GTA3\\");

    // Where a Qt build on Windows would look: organization and application "Tessera".
    DWORD type = 0;
    EXPECT_EQ(RawValue(L"Software\\Tessera\\Tessera\\Settings", L"GTA3Path", &type), L"C:\\Games\\GTA3\\");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // Other keys, sections and applications stay missing; an empty text is a value, not missing.
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "Other", "d"), "d");
    EXPECT_EQ(store.GetSetting("Tessera", "Other", "GTA3Path", "d"), "d");
    EXPECT_EQ(store.GetSetting("Another", "Settings", "GTA3Path", "d"), "d");
    store.SaveSetting("Tessera", "Settings", "GTA3Path", "");
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "d"), "");

    // A long path and the bytes of the ANSI code page come back unchanged.
    const std::string longPath = std::string(300, 'x') + "\\";
    store.SaveSetting("Tessera", "Settings", "GTA3Path", longPath);
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "d"), longPath);
    const std::string accented = win32::Narrow(L"C:\\Spiele\\Gr\u00fc\u00dfe\\");
    store.SaveSetting("Tessera", "Settings", "GTA3Path", accented);
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "d"), accented);
}

TEST(RegistrySettingsStore, AValueThatIsNoTextIsAnErrorNotTheDefault)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tessera\\Tessera\\Settings", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    const DWORD number = 7;
    ::RegSetValueExW(key, L"GTA3Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    ::RegCloseKey(key);
    RegistrySettingsStore store;
    try {
        store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]");
        FAIL() << "a number was read as a folder or as missing";
    } catch (const TesseraError& e) {
        EXPECT_NE(std::string(e.what()).find("GTA3Path"), std::string::npos) << e.what();
    }
    // Saving replaces it with a text.
    store.SaveSetting("Tessera", "Settings", "GTA3Path", "D:\\GTA3\\");
    EXPECT_EQ(store.GetSetting("Tessera", "Settings", "GTA3Path", "[NOT FOUND]"), "D:\\GTA3\\");
}

// --- Sharing ---------------------------------------------------------------------------------

// A handle opened natively with the given sharing, as another program would hold the file.
struct ForeignHandle {
    ForeignHandle(const std::string& path, DWORD access, DWORD sharing)
        : h(::CreateFileW(win32::Wide(path).c_str(), access, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~ForeignHandle()
    {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    HANDLE h;
};

// While one of our readers holds a file, every other service still works on it: another
// process's install writes, renames and deletes its journal while recovery or a user reads it.
TEST(Sharing, AReaderNeverStopsWritesRenamesOrDeletes)
{
    TempDir dir;
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> operations = {
        {"read", [](const std::string& p) { fs::File f(p, fs::OpenMode::Read); }},
        {"open for writing and write", [](const std::string& p) {
             fs::File f(p, fs::OpenMode::ReadWrite);
             f.WriteAt(f.Length(), ToBytes("more"));
             f.Flush();
         }},
        {"flush", [](const std::string& p) { fs::FlushFile(p); }},
        {"copy from", [&](const std::string& p) { fs::CopyFile(p, dir / "copy"); }},
        {"rename", [&](const std::string& p) { fs::RenameFile(p, dir / "renamed"); }},
        {"delete", [](const std::string& p) { fs::DeleteFile(p); }},
    };
    for (const auto& [what, operation] : operations) {
        SCOPED_TRACE(what);
        const std::string path = dir / "journal";
        WriteFile(path, ToBytes("contents"));
        {
            const fs::File reader(path, fs::OpenMode::Read);
            EXPECT_NO_THROW(operation(path));
            // The reader still reads what it opened.
            std::byte first{};
            EXPECT_EQ(reader.ReadAt(0, std::span(&first, 1)), 1u);
        }
        for (const char* name : {"journal", "renamed", "copy"})
            if (fs::FileExists(dir / name))
                fs::DeleteFile(dir / name);
    }
}

TEST(Sharing, AFileHeldByAnotherProgramIsReportedInUseAndLeftAlone)
{
    TempDir dir;
    const std::string path = dir / "gta3.img";
    WriteFile(path, ToBytes("archive"));
    auto holder = std::make_unique<ForeignHandle>(path, GENERIC_READ, 0);
    ASSERT_NE(holder->h, INVALID_HANDLE_VALUE);
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"read", [&] { fs::File f(path, fs::OpenMode::Read); }},
        {"write", [&] { fs::File f(path, fs::OpenMode::ReadWrite); }},
        {"create", [&] { fs::File f(path, fs::OpenMode::Create); }},
        {"rename", [&] { fs::RenameFile(path, dir / "other"); }},
        {"delete", [&] { fs::DeleteFile(path); }},
    };
    for (const auto& [what, operation] : operations) {
        SCOPED_TRACE(what);
        try {
            operation();
            ADD_FAILURE() << "succeeded on a file another program holds";
        } catch (const TesseraError& e) {
            EXPECT_EQ(e.Kind(), ErrorKind::AccessDenied);
            EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    holder.reset();
    EXPECT_EQ(ReadFile(path), ToBytes("archive"));
    EXPECT_EQ(fs::ListFiles(dir.Path()), std::vector<std::string>{"gta3.img"});
}

class SharingInstall : public GameFolderTest {
protected:
    void SetUp() override
    {
        GameFolderTest::SetUp();
        options.journalFolder = root / "journal\\";
        WritePackage(root / "mod", {{"car.dff", Pattern(3000, 5)}, {"default.dat", ToBytes("new default")}});
    }

    std::string JournalFile() const
    {
        for (const std::string& name : fs::ListFiles(options.journalFolder))
            if (EndsWith(name, ".journal"))
                return options.journalFolder + name;
        return {};
    }
};

// Someone reads the journal while the install runs and commits: the install stands.
TEST_F(SharingInstall, AReaderOfTheJournalDoesNotUndoTheInstall)
{
    std::optional<fs::File> reader;
    window.onDoEvents = [&] {
        if (!reader && !JournalFile().empty())
            reader.emplace(JournalFile(), fs::OpenMode::Read);
    };
    EXPECT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Installed);
    ASSERT_TRUE(reader.has_value()) << "the install wrote no journal";
    reader.reset();
    EXPECT_EQ(ReadFile(game + "data\\default.dat"), ToBytes("new default"));
    EXPECT_EQ(window.LastCaption(), "Mod installed!");
    EXPECT_TRUE(window.messages.empty()) << window.messages.front().text;
}

// A program that reads the journal without sharing writing (a backup or a virus scanner) tries
// it before every file and, once in, would hold it past the commit, longer than any retry: it
// never gets in, and the install commits and removes its journal.
TEST_F(SharingInstall, AReaderThatSharesNoWritingCannotHoldTheJournalAgainstTheCommit)
{
    std::unique_ptr<ForeignHandle> reader;
    int refused = 0;
    window.onDoEvents = [&] {
        const std::string journal = JournalFile();
        if (reader || journal.empty())
            return;
        reader = std::make_unique<ForeignHandle>(journal, GENERIC_READ, FILE_SHARE_READ);
        if (reader->h == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            reader.reset();
            ++refused;
        }
    };
    EXPECT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Installed)
        << (window.messages.empty() ? "" : window.messages.back().text);
    EXPECT_FALSE(reader) << "a reader that shares no writing opened the journal";
    EXPECT_GE(refused, 1);
    reader.reset();
    EXPECT_EQ(JournalFile(), "");
    EXPECT_EQ(ReadFile(game + "data\\default.dat"), ToBytes("new default"));
    EXPECT_EQ(window.LastCaption(), "Mod installed!");
}

// Uninstall and compaction hold their journals as an install does: a reader that shares no
// writing, trying the journal before every file call and holding it once in, never gets in, and
// both finish and remove their journals.
TEST_F(SharingInstall, UninstallAndCompactionHoldTheirJournalsAgainstAReaderThatSharesNoWriting)
{
    const Bytes stock = ReadFile(game + "data\\default.dat");
    WritePackage(root / "bike", {{"bike.dff", Pattern(5000, 6)}});
    ASSERT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Installed);
    ASSERT_EQ(InstallPackage(root / "bike.zpk", settings, window, options), InstallResult::Installed);
    const std::string journal = JournalPath(options.journalFolder, game);
    const std::string folder = HistoryFolder(options.journalFolder, game);
    const std::vector<HistoryRecord> history = ReadHistory(folder);
    ASSERT_EQ(history.size(), 2u);

    std::unique_ptr<ForeignHandle> reader;
    int refused = 0;
    fs::faults::Watch([&](const std::string&) {
        if (reader)
            return;
        reader = std::make_unique<ForeignHandle>(journal, GENERIC_READ, FILE_SHARE_READ);
        if (reader->h == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_SHARING_VIOLATION) << error;
            refused += error == ERROR_SHARING_VIOLATION;
            reader.reset();
        }
    });
    struct StopWatching {
        ~StopWatching() { fs::faults::Watch({}); }
    } stopWatching;

    // The first install, under the second: its record leaves the middle of models/gta3.
    const auto first = std::min_element(history.begin(), history.end(), [](const HistoryRecord& a, const HistoryRecord& b) { return a.id < b.id; });
    EXPECT_NO_THROW(TakeBack(folder, journal, *first));
    EXPECT_FALSE(reader) << "a reader that shares no writing opened the uninstall's journal";
    EXPECT_GE(refused, 1);
    reader.reset();
    EXPECT_FALSE(fs::FileExists(journal));
    EXPECT_EQ(ReadFile(game + "data\\default.dat"), stock);
    ASSERT_EQ(ReadHistory(folder).size(), 1u);

    refused = 0;
    const std::vector<ArchiveCompaction> plan = PlanCompaction(game);
    ASSERT_TRUE(std::any_of(plan.begin(), plan.end(), [](const ArchiveCompaction& a) { return a.needed; }));
    EXPECT_NO_THROW(Compact(folder, journal, game, plan));
    EXPECT_FALSE(reader) << "a reader that shares no writing opened the compaction's journal";
    EXPECT_GE(refused, 1);
    reader.reset();
    EXPECT_FALSE(fs::FileExists(journal));
    fs::faults::Watch({});
    const std::vector<ArchiveCompaction> after = PlanCompaction(game);
    EXPECT_TRUE(std::none_of(after.begin(), after.end(), [](const ArchiveCompaction& a) { return a.needed; }));
}

// Recovery started while an install is writing: it says the install is running and leaves it.
TEST_F(SharingInstall, RecoveryDuringAnInstallSaysItIsStillRunning)
{
    std::optional<RecoveryReport> recovered;
    RecordingWindowServices other;
    window.onDoEvents = [&] {
        if (!recovered && !JournalFile().empty())
            recovered = RecoverInterruptedInstalls(other, game, options);
    };
    EXPECT_EQ(InstallPackage(root / "mod.zpk", settings, window, options), InstallResult::Installed);
    ASSERT_TRUE(recovered.has_value());
    EXPECT_EQ(recovered->rolledBack, 0);
    ASSERT_EQ(other.messages.size(), 1u);
    EXPECT_EQ(other.messages[0].title, "Install running");
    EXPECT_NE(other.messages[0].text.find("still running"), std::string::npos) << other.messages[0].text;
    EXPECT_EQ(ReadFile(game + "data\\default.dat"), ToBytes("new default"));
}

// --- The dialogs' file tests ---------------------------------------------------------------

// The options dialog, whose file dialog gives chosen, recording its messages and whether it
// closed.
class OptionView : public IOptionView {
public:
    void ShowMessage(const std::string& text, const std::string&) override { messages.push_back(text); }
    std::string AskFile(const std::string&, const std::string&, const std::string&, const std::string&,
                        const std::vector<FileFilter>&) override
    {
        return chosen;
    }
    std::string chosen;
    void SetPathText(const std::string&) override {}
    void CloseDialog(bool) override { closed = true; }
    std::vector<std::string> messages;
    bool closed = false;
};

// A hidden or system gta3.exe, or .dir beside a package, is not there for the dialogs, whatever
// else the file is; the install's own tests still see it.
TEST(DialogFileTests, HiddenAndSystemFilesAreNotThere)
{
    const struct {
        const char* what;
        DWORD attributes;
        bool seen;
    } rows[] = {
        {"a plain file", FILE_ATTRIBUTE_NORMAL, true},
        {"a read-only file", FILE_ATTRIBUTE_READONLY, true},
        {"an archived file", FILE_ATTRIBUTE_ARCHIVE, true},
        {"a hidden file", FILE_ATTRIBUTE_HIDDEN, false},
        {"a system file", FILE_ATTRIBUTE_SYSTEM, false},
        {"a hidden read-only system file", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string game = dir / "game\\";
        fs::CreateFolder(game);
        WriteFile(game + "gta3.exe", ToBytes("exe"));
        WriteFile(dir / "car.dir", {});
        for (const std::string& path : {game + "gta3.exe", dir / "car.dir"})
            ASSERT_TRUE(::SetFileAttributesW(win32::Wide(path).c_str(), row.attributes));
        EXPECT_EQ(fs::VisibleFileExists(dir / "car.dir"), row.seen);
        EXPECT_TRUE(fs::FileExists(dir / "car.dir"));

        // OK in the options dialog stores the folder only when it sees gta3.exe there.
        MemorySettingsStore store;
        modMain settings(store);
        settings.LoadSettings();
        OptionView view;
        view.chosen = game + "gta3.exe";
        OptionForm form(settings, view);
        form.Form_Load();
        form.cmdGTA3Browse_Click();
        form.cmdDone_Click();
        EXPECT_EQ(form.Saved(), row.seen);
        EXPECT_EQ(view.closed, row.seen);
        EXPECT_EQ(settings.sGTA3Path, row.seen ? game : std::string("[NOT FOUND]"));
        EXPECT_EQ(view.messages, row.seen ? std::vector<std::string>{} : std::vector<std::string>{"Please select your GTA3 directory"});
        for (const std::string& path : {game + "gta3.exe", dir / "car.dir"})
            ::SetFileAttributesW(win32::Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_FALSE(fs::VisibleFileExists(TempDir().Path()));   // a folder is no file
}

} // namespace
