// The windows' behaviour without any toolkit: the form logic driven through scripted views,
// checked for what the user sees and what reaches the settings store and the game folder.
#include "FileSystem.h"
#include "FormLogic.h"
#include "InstallPackage.h"
#include "Layouts.h"
#include "ModSource.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#ifdef TESSERA_TEST_DOWNLOADS
#include "DownloadSupport.h"
#endif
#include "modBrowseDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <ctime>
#include <optional>
#include <random>
#include <set>
#include <thread>

using namespace tessera;
using namespace tessera::test;

namespace tessera {
// Failures show the message itself.
void PrintTo(const RecordedMessage& message, std::ostream* out) { *out << message.title << ": " << message.text; }
} // namespace tessera

namespace {

// The history lives in the user's data folder: a private one for this program.
[[maybe_unused]] testing::Environment* const kIsolatedHome = testing::AddGlobalTestEnvironment(new IsolatedHome("tessera-forms-home-"));

const RecordedMessage kNeedPath{"You must specify your GTA3 Directory!\r\n\r\nGood bye!", "Need path"};
const RecordedMessage kSelectFolder{"Please select your GTA3 directory", "Error"};
const RecordedMessage kNoDir{"The associated .dir was not found.\r\n"
                             "Please specify a .zpk with a .dir of the same name in the same folder.",
                             "File not found"};

// A user at the options dialog: each step acts once the dialog is loaded; answers to the
// open-file dialog are taken in order (nullopt: Cancel).
struct OptionScript {
    enum Step { Browse, Ok, Escape, Cancel, FrameClose };
    std::vector<Step> steps;
    std::deque<std::optional<std::string>> files;
};

class ScriptedOptionView : public IOptionView {
public:
    ScriptedOptionView(OptionScript& script, std::vector<RecordedMessage>& messages) : script_(script), messages_(messages) {}
    void ShowMessage(const std::string& text, const std::string& title) override { messages_.push_back({text, title}); }
    std::string AskFile(const std::string& title, const std::string& description, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override
    {
        EXPECT_EQ(title, "Please locate GTA3.exe");
        EXPECT_TRUE(moreFilters.empty());
        EXPECT_EQ(description, "(Gta3.exe)");
        EXPECT_EQ(pattern, "Gta3.exe");
        EXPECT_EQ(startFolder, fs::ProgramFolder());
        if (script_.files.empty())
            return {};
        const auto file = script_.files.front();
        script_.files.pop_front();
        // As GetOpenFileNameA leaves its buffer: the path, a NUL, the rest of the padding.
        return file ? *file + '\0' + std::string(40, ' ') : std::string();
    }
    void SetPathText(const std::string& text) override { shown = text; }
    void CloseDialog(bool byOk) override
    {
        closed = true;
        confirmed = byOk;
    }

    std::string shown;
    bool closed = false;
    bool confirmed = false;

private:
    OptionScript& script_;
    std::vector<RecordedMessage>& messages_;
};

// Runs the dialog as a modal window would: load, then the user's steps until it closes.
bool RunOptions(modMain& settings, OptionScript& script, std::vector<RecordedMessage>& messages, std::string* shown = nullptr)
{
    ScriptedOptionView view(script, messages);
    OptionForm form(settings, view);
    form.Form_Load();
    for (const auto step : script.steps) {
        if (view.closed)
            break;
        switch (step) {
        case OptionScript::Browse: form.cmdGTA3Browse_Click(); break;
        case OptionScript::Ok: form.cmdDone_Click(); break;
        case OptionScript::Escape: form.Escape_Pressed(); break;
        case OptionScript::Cancel: form.cmdCancel_Click(); break;
        case OptionScript::FrameClose: form.Frame_Closed(); break;
        }
    }
    EXPECT_EQ(form.PathText(), view.shown);
    // Only OK stores, and OK closes only once it has stored or found nothing changed.
    if (form.Saved()) {
        EXPECT_TRUE(view.confirmed);
    }
    if (shown)
        *shown = view.shown;
    // A dialog the user left open would block the program.
    EXPECT_TRUE(view.closed);
    return form.Saved();
}

// A user at a window's message boxes: messages recorded, yes/no questions answered from a
// script (a question it does not expect fails the test and is answered No).
struct ScriptedBoxes {
    void Message(const std::string& text, const std::string& title)
    {
        messages.push_back({text, title});
        if (onBox)
            onBox();
    }
    bool Answer(const std::string& text, const std::string& title)
    {
        questions.push_back({text, title});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }

    std::vector<RecordedMessage> messages, questions;
    std::deque<bool> answers;
    std::function<void()> onBox;   // runs as a message box closes
};

class ScriptedMainView : public IMainView, public ScriptedBoxes {
public:
    void ShowMessage(const std::string& text, const std::string& title) override { Message(text, title); }
    std::string AskFile(const std::string& title, const std::string& description, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override
    {
        startFolders.push_back(startFolder);
        EXPECT_EQ(title, "Select a .zpk to extract");
        EXPECT_EQ(moreFilters.size(), DownloadsSupported() ? 1u : 0u);
        EXPECT_EQ(description, "(*.zpk)");
        EXPECT_EQ(pattern, "*.zpk");
        return file;
    }
    void DoEvents() override
    {
        if (onDoEvents)
            onDoEvents();
    }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetPointer(Pointer p) override { pointer = p; }
    void SetButtonEnabled(Button button, bool enabled) override { (button == Button::Install ? install : browse) = enabled; }
    void SetSourceText(const std::string& text) override
    {
        source = text;
        ++sourceChanges;
    }
    bool ShowOptions(modMain& settings, bool overMainWindow) override
    {
        EXPECT_EQ(overMainWindow, shown);
        ++optionsShown;
        return RunOptions(settings, options, messages);
    }
    void ShowMods(modMain& settings) override
    {
        ++modsShown;
        if (onMods)
            onMods(settings);
    }
    bool AskYesNo(const std::string& text, const std::string& title) override { return Answer(text, title); }
    std::optional<std::size_t> AskFolder(const std::string& text, const std::vector<std::string>& offered) override
    {
        folderQuestions.push_back(text);
        folders = offered;
        if (folderAnswers.empty()) {
            ADD_FAILURE() << "unexpected folder question: " << text;
            return std::nullopt;
        }
        const auto answer = folderAnswers.front();
        folderAnswers.pop_front();
        return answer;
    }
    void ShowWindow() override { shown = true; }
    void CloseWindow() override { closed = true; }
    bool Ending() const override { return false; }
    // As the windows run it: work on a thread of its own, this thread pumping after each wake and
    // then acting as the user (onDoEvents) while work goes on.
    void RunInBackground(const std::function<void()>& work, const std::function<void()>& pump) override
    {
        bool done = false;
        std::exception_ptr failure;
        std::thread worker = StartWork(work, failure, [&] {
            const std::lock_guard lock(wakeMutex_);
            done = true;
            wakeChanged_.notify_all();
        });
        for (;;) {
            std::unique_lock lock(wakeMutex_);
            wakeChanged_.wait(lock, [&] { return wakes_ > 0 || done; });
            wakes_ = 0;
            const bool ended = done;
            lock.unlock();
            pump();
            if (ended)
                break;
            if (onDoEvents)
                onDoEvents();
        }
        worker.join();
        if (failure)
            std::rethrow_exception(failure);
    }
    void Wake() override
    {
        const std::lock_guard lock(wakeMutex_);
        ++wakes_;
        wakeChanged_.notify_all();
    }

    std::string file;
    std::vector<std::string> startFolders;   // of each open dialog
    OptionScript options;
    std::string caption{kMainCaption};
    std::string source{kNoPackageText};
    int sourceChanges = 0;
    Pointer pointer = Pointer::Default;
    bool install = false;
    bool browse = true;
    bool shown = false;
    bool closed = false;
    int optionsShown = 0;
    int modsShown = 0;
    std::vector<std::string> folderQuestions;
    std::vector<std::string> folders;                     // offered by the last one
    std::deque<std::optional<std::size_t>> folderAnswers;   // nullopt: Cancel
    std::function<void()> onDoEvents;
    std::function<void(modMain&)> onMods;

private:
    std::mutex wakeMutex_;
    std::condition_variable wakeChanged_;
    int wakes_ = 0;
};

class Forms : public ::testing::Test {
protected:
    void SetUp() override { game = MakeGameFolder(root.Path()); }
    // The history goes with its game folder: where the disk gives a removed folder's number to
    // the next one (Wine's file index is the inode), a later test's folder would inherit it.
    void TearDown() override { fs::RemoveTree(HistoryFolder(JournalFolder({}), game)); }

    TempDir root;
    std::string game;
    MemorySettingsStore store;
    modMain settings{store};
    ScriptedMainView view;
    MainForm form{settings, view};

    std::optional<std::string> Stored()
    {
        const auto it = store.values.find({"Tessera", "Settings", "GTA3Path"});
        return it == store.values.end() ? std::nullopt : std::optional(it->second);
    }
};

} // namespace

TEST_F(Forms, StartUpAsksForTheFolderUntilOneIsStored)
{
    struct Row {
        const char* name;
        std::optional<std::string> stored;   // before the start
        OptionScript options;
        bool shown;
        std::vector<RecordedMessage> messages;
        std::optional<std::string> storedAfter;
    };
    const std::string gameExe = game + "gta3.exe";
    const std::vector<Row> rows = {
        {"cancel", std::nullopt, {{OptionScript::Cancel}, {}}, false, {kNeedPath}, std::nullopt},
        {"frame close", std::nullopt, {{OptionScript::FrameClose}, {}}, false, {kNeedPath}, std::nullopt},
        {"ok at once tests the root folder", std::nullopt, {{OptionScript::Ok, OptionScript::Cancel}, {}}, false,
         {kSelectFolder, kNeedPath}, std::nullopt},
        {"browse then ok", std::nullopt, {{OptionScript::Browse, OptionScript::Ok}, {gameExe}}, true, {}, game},
        {"browse then esc", std::nullopt, {{OptionScript::Browse, OptionScript::Escape}, {gameExe}}, true, {}, game},
        {"browse cancelled", std::nullopt, {{OptionScript::Browse, OptionScript::Cancel}, {std::nullopt}}, false, {kNeedPath},
         std::nullopt},
        {"marker stored", std::string("[NOT FOUND]"), {{OptionScript::Cancel}, {}}, false, {kNeedPath}, "[NOT FOUND]"},
        {"folder stored", game, {}, true, {}, game},
        {"marker in other case is a folder", std::string("[not found]"), {}, true, {}, "[not found]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemorySettingsStore rowStore;
        if (row.stored)
            rowStore.values[{"Tessera", "Settings", "GTA3Path"}] = *row.stored;
        modMain rowSettings(rowStore);
        ScriptedMainView rowView;
        rowView.options = row.options;
        MainForm rowForm(rowSettings, rowView);
        EXPECT_EQ(rowForm.Form_Load(), row.shown);
        EXPECT_EQ(rowView.shown, row.shown);
        EXPECT_EQ(rowView.closed, !row.shown);
        EXPECT_EQ(rowView.messages, row.messages);
        const auto it = rowStore.values.find({"Tessera", "Settings", "GTA3Path"});
        EXPECT_EQ(it == rowStore.values.end() ? std::nullopt : std::optional(it->second), row.storedAfter);
        if (row.shown) {
            EXPECT_EQ(rowView.source, kNoPackageText);
            EXPECT_FALSE(rowView.install);
        }
        // The catalogue is the one of the folder in use.
        if (rowSettings.sGTA3Path == game) {
            EXPECT_EQ(rowSettings.colStockFiles->Fetch("gta3.exe")->sFullPath(), game + "gta3.exe");
        }
    }
}

TEST_F(Forms, OptionsDialogTestsOnlyAChangedFolderAndStoresExactlyIt)
{
    fs::CreateFolder(root / "other\\");
    WriteFile(root / "other\\readme.txt", ToBytes("x"));
    struct Row {
        const char* name;
        std::string current;   // sGTA3Path when the dialog opens
        OptionScript script;
        std::string shown;     // lblGTA3Path at the end
        std::vector<RecordedMessage> messages;
        bool saved;
    };
    const std::vector<Row> rows = {
        {"stored folder shown, ok closes untested", root / "gone\\", {{OptionScript::Ok}, {}}, root / "gone\\", {}, false},
        {"nothing stored shows nothing", "[NOT FOUND]", {{OptionScript::Cancel}, {}}, "", {}, false},
        {"any file picks its folder", "[NOT FOUND]", {{OptionScript::Browse, OptionScript::Ok, OptionScript::Cancel}, {root / "other\\readme.txt"}},
         root / "other\\", {kSelectFolder}, false},
        {"a folder that does not exist is ignored", game, {{OptionScript::Browse, OptionScript::Ok}, {root / "missing\\gta3.exe"}}, game, {},
         false},
        {"padding and spaces trimmed", "[NOT FOUND]", {{OptionScript::Browse, OptionScript::Ok}, {"  " + game + "gta3.exe"}}, game, {}, true},
        {"a name without a folder is ignored", game, {{OptionScript::Browse, OptionScript::Cancel}, {"gta3.exe"}}, game, {}, false},
        {"cancel after browsing stores nothing", "[NOT FOUND]", {{OptionScript::Browse, OptionScript::Cancel}, {game + "gta3.exe"}}, game, {},
         false},
        {"esc confirms", "[NOT FOUND]", {{OptionScript::Browse, OptionScript::Escape}, {game + "gta3.exe"}}, game, {}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemorySettingsStore rowStore;
        modMain rowSettings(rowStore);
        rowSettings.sGTA3Path = row.current;
        OptionScript script = row.script;
        std::vector<RecordedMessage> messages;
        std::string shown;
        EXPECT_EQ(RunOptions(rowSettings, script, messages, &shown), row.saved);
        EXPECT_EQ(shown, row.shown);
        EXPECT_EQ(messages, row.messages);
        EXPECT_EQ(rowSettings.sGTA3Path, row.saved ? row.shown : row.current);
        EXPECT_EQ(rowStore.saveCount, row.saved ? 1 : 0);
    }

    // A folder differing only in letter case counts as changed: tested and stored again.
    settings.sGTA3Path = UpperAscii(game);
    view.options = {{OptionScript::Browse, OptionScript::Ok}, {game + "gta3.exe"}};
    std::vector<RecordedMessage> messages;
    EXPECT_TRUE(RunOptions(settings, view.options, messages));
    EXPECT_EQ(Stored(), game);
}

TEST_F(Forms, BrowseTakesOnlyAPackageWithItsDirectory)
{
    WritePackage(root / "car", {{"car.dff", ToBytes("car")}});
    WritePackage(root / "CAPS", {{"a.txd", ToBytes("a")}});
    fs::RenameFile(root / "CAPS.zpk", root / "CAPS.ZPK");
    fs::RenameFile(root / "CAPS.dir", root / "CAPS.DIR");
    WriteFile(root / "lonely.zpk", ToBytes("x"));
    struct Row {
        std::string file;   // what the dialog returns
        std::string source;
        bool install;
        std::vector<RecordedMessage> messages;
    };
    const std::string car = root / "car.zpk";
    const std::vector<Row> rows = {
        {"", std::string(kNoPackageText), false, {}},
        {root / "car.dir", std::string(kNoPackageText), false, {}},
        {root / "lonely.zpk", std::string(kNoPackageText), false, {kNoDir}},
        {root / "CAPS.ZPK", root / "CAPS.ZPK", true, {}},
        {car + '\0' + "   ", car, true, {}},
        {root / "lonely.zpk", car, true, {kNoDir}},   // a chosen package stays
        {root / "missing.zpk", car, true, {kNoDir}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        view.messages.clear();
        view.file = row.file;
        form.cmdBrowseSource_Click();
        EXPECT_EQ(view.source, row.source);
        EXPECT_EQ(form.SourceText(), row.source);
        EXPECT_EQ(view.install, row.install);
        EXPECT_EQ(view.messages, row.messages);
    }
    // The same package again is no change of the field.
    const int changes = view.sourceChanges;
    view.file = car;
    form.cmdBrowseSource_Click();
    EXPECT_EQ(view.sourceChanges, changes);
}

TEST_F(Forms, InstallRunsOffTheWindowThreadWithButtonsDisabledAndAQuitAsksFirst)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    WritePackage(root / "mod", {{"default.dat", ToBytes("new default")}, {"notes.txt", ToBytes("refused")}});
    view.file = root / "mod.zpk";
    form.cmdBrowseSource_Click();
    ASSERT_TRUE(view.install);

    // The install waits while its message is open; the user acts meanwhile.
    bool quitAsked = false;
    view.onBox = [&] {
        if (quitAsked)
            return;
        quitAsked = true;
        EXPECT_EQ(view.messages.back().title, "Bad file");
        EXPECT_TRUE(form.Installing());
        EXPECT_FALSE(view.install);
        EXPECT_FALSE(view.browse);
        EXPECT_EQ(view.pointer, Pointer::Hourglass);
        // The installed mods wait for the install, which holds the game folder.
        form.mnuMods_Click();
        EXPECT_EQ(view.modsShown, 0);
        EXPECT_EQ(view.messages.back().title, "Installed mods");
        // The menus stay usable; No to the question lets the install go on, and the window stays.
        view.answers = {false};
        form.mnuQuit_Click();
        EXPECT_FALSE(view.closed);
    };
    form.cmdInstall_Click();
    EXPECT_TRUE(quitAsked);
    EXPECT_EQ(view.questions, (std::vector<RecordedMessage>{{std::string(kStopQuestion), std::string(kStopTitle)}}));
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(view.caption, "Mod installed!");
    EXPECT_TRUE(view.install);
    EXPECT_TRUE(view.browse);
    EXPECT_EQ(view.pointer, Pointer::Default);
    EXPECT_FALSE(form.Installing());
    EXPECT_EQ(ReadFile(game + "data/default.dat"), ToBytes("new default"));
    EXPECT_EQ(ReadFile(game + "data/default.dat.old"), ToBytes("stock default.dat"));
    EXPECT_EQ(view.messages.size(), 2u);
    form.mnuMods_Click();
    EXPECT_EQ(view.modsShown, 1);
}

// Yes to the question stops the install where it stands, rolls it back, says so and closes the
// window: from a message of the install itself, from Quit and from the frame alike.
TEST_F(Forms, StoppingAnInstallLeavesTheGameFolderAsItWasAndCloses)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    WritePackage(root / "mod", {{"default.dat", ToBytes("new default")}, {"notes.txt", ToBytes("refused")}, {"car.dff", ToBytes("new car")}});
    view.file = root / "mod.zpk";
    form.cmdBrowseSource_Click();
    const Snapshot before = TakeSnapshot(game);
    // The install waits while its message is open: the user closes the window meanwhile.
    view.answers = {true};
    view.onBox = [&] {
        if (view.messages.back().title == "Bad file") {
            EXPECT_FALSE(form.QueryClose());
            EXPECT_FALSE(view.closed);
        }
    };
    form.cmdInstall_Click();
    EXPECT_EQ(view.questions.size(), 1u);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].title, "Install stopped");
    EXPECT_NE(view.messages[1].text.find("was stopped.\r\nThe game folder was left as it was."), std::string::npos) << view.messages[1].text;
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(view.caption, kMainCaption);
    EXPECT_EQ(view.pointer, Pointer::Default);
    const Snapshot after = TakeSnapshot(game);
    EXPECT_EQ(after, before) << DescribeDifferences(before, after);
    EXPECT_TRUE(ReadHistory(HistoryFolder(JournalFolder({}), game)).empty());
}

TEST_F(Forms, MenusOptionsRebuildTheCatalogueAndAboutShowsTheVersion)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    fs::CreateFolder(root / "second");
    const std::string other = MakeGameFolder(root / "second");
    view.options = {{OptionScript::Browse, OptionScript::Ok}, {other + "gta3.exe"}};
    form.mnuOption_Click();
    EXPECT_EQ(view.optionsShown, 1);
    EXPECT_EQ(Stored(), other);
    EXPECT_EQ(settings.colStockFiles->Fetch("gta3.exe")->sFullPath(), other + "gta3.exe");

    form.mnuAbout_Click();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].title, "About...");
    EXPECT_EQ(view.messages[0].text.rfind("Tessera 1.2\r\n\r\n", 0), 0u) << view.messages[0].text;
    EXPECT_TRUE(view.messages[0].text.ends_with("\r\n" + std::string(kContactAddress))) << view.messages[0].text;
    EXPECT_TRUE(form.QueryClose());
}

namespace {

class ScriptedModsView : public IModsView, public ScriptedBoxes {
public:
    void ShowMessage(const std::string& text, const std::string& title) override { Message(text, title); }
    std::string AskFile(const std::string&, const std::string&, const std::string&, const std::string&, const std::vector<FileFilter>&) override
    {
        ADD_FAILURE() << "the window asks for no file";
        return {};
    }
    void SetListRows(const std::vector<std::vector<std::string>>& shown, int chosen, const std::string& why) override
    {
        EXPECT_TRUE(shown.empty() != why.empty()) << "rows or a note, never both";
        rows = shown;
        note = why;
        selected = chosen;
        ++listings;
    }
    void SetDetailsText(const std::string& text) override { details = text; }
    void SetCommandsEnabled(bool enabled) override { commands = enabled; }
    bool AskYesNo(const std::string& text, const std::string& title) override
    {
        const bool yes = Answer(text, title);
        if (onBox)
            onBox();
        return yes;
    }
    void CloseDialog() override { closed = true; }

    std::vector<std::vector<std::string>> rows;
    std::string note;
    int listings = 0;
    int selected = -2;
    std::string details;
    bool commands = true;
    bool closed = false;
};

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

// The window lists the history newest first; Details names where each file went and who changed
// it since; Uninstall asks, naming the later installs that go first, and No changes nothing,
// a file changed outside Tessera stops it, Yes gives back the game folder's exact bytes.
TEST_F(Forms, InstalledModsListsDetailsAndTakesBackOnlyWhenConfirmed)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    settings.LoadSettings();
    const Snapshot start = TakeSnapshot(game);
    RecordingWindowServices window;
    WritePackage(root / "lang", {{"american.gxt", ToBytes("modded text")}});
    WritePackage(root / "first", {{"default.dat", ToBytes("first default")}, {"car.dff", Pattern(700, 3)}});
    WritePackage(root / "second", {{"default.dat", ToBytes("second default")}});
    ASSERT_EQ(InstallPackage(root / "lang.zpk", settings, window), InstallResult::Installed);
    const Snapshot afterLang = TakeSnapshot(game);
    ASSERT_EQ(InstallPackage(root / "first.zpk", settings, window), InstallResult::Installed);
    ASSERT_EQ(InstallPackage(root / "second.zpk", settings, window), InstallResult::Installed);
    const Snapshot installed = TakeSnapshot(game);

    ScriptedModsView mods;
    ModsForm modsForm(settings, mods);
    modsForm.Form_Load();
    ASSERT_EQ(mods.rows.size(), 3u);
    const auto& history = modsForm.History();
    EXPECT_EQ(mods.rows[0], (std::vector<std::string>{"3", LocalDateText(history[0].date), "second.zpk", "0", "1", "0"}));
    EXPECT_EQ(mods.rows[1], (std::vector<std::string>{"2", LocalDateText(history[1].date), "first.zpk", "0", "2", "0"}));
    EXPECT_EQ(mods.rows[2], (std::vector<std::string>{"1", LocalDateText(history[2].date), "lang.zpk", "0", "1", "0"}));
    EXPECT_EQ(mods.selected, 0);
    EXPECT_TRUE(mods.commands);
    const std::string second = "3 (second.zpk, " + modsForm.History()[0].date + ")";
    const std::string first = "2 (first.zpk, " + modsForm.History()[1].date + ")";
    const std::string lang = "1 (lang.zpk, " + modsForm.History()[2].date + ")";

    modsForm.lstMods_Click(1);
    modsForm.cmdDetails_Click();
    EXPECT_TRUE(StartsWith(mods.details, "Install 2: first.zpk, ")) << mods.details;
    EXPECT_TRUE(Holds(mods.details, "\r\n  default.dat: replaced " + ShownPath(game + "data/default.dat") + " (the game's version kept as .old)"))
        << mods.details;
    EXPECT_TRUE(Holds(mods.details, "\r\n  car.dff: added to " + ShownPath("models/gta3") + " as entry 2")) << mods.details;
    EXPECT_TRUE(Holds(mods.details, "\r\n  car.dff: entry 0 of " + ShownPath("models/gta3") + " set aside as car.dff.old")) << mods.details;
    EXPECT_TRUE(Holds(mods.details, "\r\nChanged since by: " + second)) << mods.details;
    modsForm.lstMods_Click(1);   // another choice clears the details
    EXPECT_EQ(mods.details, "");

    // No: nothing changes, not even the list.
    mods.answers = {false};
    modsForm.cmdUninstall_Click();
    ASSERT_EQ(mods.questions.size(), 1u);
    EXPECT_EQ(mods.questions[0], (RecordedMessage{"Take back install " + first + "?\r\n\r\nLater installs changed what it wrote; they are taken "
                                                  "back first, newest first:\r\n" + second,
                                                  "Uninstall"}));
    EXPECT_TRUE(mods.messages.empty());
    EXPECT_EQ(DescribeDifferences(installed, TakeSnapshot(game)), "");
    EXPECT_EQ(modsForm.Selected(), 1);

    // A file changed outside Tessera since: named, and nothing changes.
    WriteFile(game + "data/default.dat", ToBytes("edited by hand"));
    const Snapshot edited = TakeSnapshot(game);
    mods.answers = {true};
    modsForm.cmdUninstall_Click();
    ASSERT_EQ(mods.messages.size(), 1u);
    EXPECT_EQ(mods.messages[0], (RecordedMessage{"The game file " + ShownPath(game + "data/default.dat") +
                                                     " was changed outside Tessera since install " + second + ".\r\nNothing was changed.",
                                                 "Uninstall"}));
    EXPECT_EQ(DescribeDifferences(edited, TakeSnapshot(game)), "");
    EXPECT_EQ(mods.rows.size(), 3u);

    // Yes: the later install goes first, then the chosen one; the game folder is byte for byte
    // as before them, and the list shows what is left.
    WriteFile(game + "data/default.dat", ToBytes("second default"));
    mods.messages.clear();
    mods.answers = {true};
    modsForm.lstMods_Click(1);
    modsForm.cmdUninstall_Click();
    EXPECT_EQ(mods.messages, (std::vector<RecordedMessage>{{"Took back install " + second + "\r\nTook back install " + first, "Uninstall"}}));
    EXPECT_EQ(DescribeDifferences(afterLang, TakeSnapshot(game)), "");
    ASSERT_EQ(mods.rows.size(), 1u);
    EXPECT_EQ(mods.rows[0][0], "1");
    EXPECT_EQ(mods.selected, 0);

    // The last one alone: no later install to name. Then the list says there is none and
    // its commands are off.
    mods.messages.clear();
    mods.answers = {true};
    modsForm.cmdUninstall_Click();
    EXPECT_EQ(mods.questions.back(), (RecordedMessage{"Take back install " + lang + "?", "Uninstall"}));
    EXPECT_EQ(mods.messages, (std::vector<RecordedMessage>{{"Took back install " + lang, "Uninstall"}}));
    EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");
    EXPECT_TRUE(mods.rows.empty());
    EXPECT_EQ(mods.note, "No install is recorded for this game folder.");
    EXPECT_EQ(mods.selected, -1);
    EXPECT_FALSE(mods.commands);
    const std::size_t asked = mods.questions.size();
    modsForm.lstMods_Click(0);
    modsForm.cmdUninstall_Click();
    modsForm.cmdDetails_Click();
    EXPECT_EQ(mods.questions.size(), asked);
    EXPECT_EQ(mods.details, "");
    EXPECT_FALSE(mods.commands);
    modsForm.cmdClose_Click();
    EXPECT_TRUE(mods.closed);
}

// The window while the console changes the history behind it. Over a random run of installs
// (made as tessera-cli makes them), choices, Details and uninstalls in the window, each
// activation lists exactly the recorded installs, newest first; the chosen install stays chosen
// while it is there (else the newest), and its details stay shown. An unchanged history is not
// listed again. Message boxes bring the window to the front midway: that changes nothing.
TEST_F(Forms, InstalledModsFollowTheHistoryOnActivation)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    settings.LoadSettings();
    RecordingWindowServices window;
    ScriptedModsView mods;
    ModsForm modsForm(settings, mods);
    mods.onBox = [&] { modsForm.Form_Activate(); };   // a box closing brings the window to the front
    modsForm.Form_Load();
    std::vector<int> ids;   // the model: installs newest first, the chosen one, its details shown
    int chosen = -1;
    bool details = false;
    int next = 1;
    std::mt19937 random(23);
    for (int step = 0; step < 48; ++step) {
        const unsigned action = random() % 4;
        SCOPED_TRACE("step " + std::to_string(step) + ", action " + std::to_string(action));
        bool changed = false;
        if (action == 0) {
            const std::string name = "m" + std::to_string(next);
            WritePackage(root / name, {{name + ".dff", Pattern(64 + static_cast<std::size_t>(next), static_cast<unsigned>(next))}});
            ASSERT_EQ(InstallPackage(root / (name + ".zpk"), settings, window), InstallResult::Installed);
            ids.insert(ids.begin(), next++);
            changed = true;
        } else if (action == 1 && !ids.empty()) {
            const std::size_t row = random() % ids.size();
            modsForm.lstMods_Click(static_cast<int>(row));
            chosen = ids[row];
            details = false;
        } else if (action == 2 && chosen >= 0) {
            modsForm.cmdDetails_Click();
            details = true;
        } else if (action == 3 && chosen >= 0) {
            mods.answers = {true};
            modsForm.cmdUninstall_Click();
            ASSERT_TRUE(mods.answers.empty());
            ids.erase(std::find(ids.begin(), ids.end(), chosen));
            chosen = -1;   // the list starts again from the newest
        }
        if (std::find(ids.begin(), ids.end(), chosen) == ids.end()) {
            chosen = ids.empty() ? -1 : ids.front();
            details = false;
        }
        const int listings = mods.listings;
        modsForm.Form_Activate();
        EXPECT_EQ(mods.listings, listings + (changed ? 1 : 0));
        std::vector<std::string> listed;
        for (const auto& cells : mods.rows)
            listed.push_back(cells.at(0));
        std::vector<std::string> expected;
        for (int id : ids)
            expected.push_back(std::to_string(id));
        ASSERT_EQ(listed, expected);
        EXPECT_EQ(mods.note, ids.empty() ? "No install is recorded for this game folder." : "");
        const auto at = std::find(ids.begin(), ids.end(), chosen);
        EXPECT_EQ(modsForm.Selected(), chosen < 0 ? -1 : static_cast<int>(at - ids.begin()));
        EXPECT_TRUE(!changed || mods.selected == modsForm.Selected());
        EXPECT_EQ(mods.commands, chosen >= 0);
        if (details) {
            EXPECT_TRUE(StartsWith(mods.details, "Install " + std::to_string(chosen) + ": ")) << mods.details;
        } else {
            EXPECT_EQ(mods.details, "");
        }
    }
    EXPECT_GE(next, 6);
}

// A recorded date shows in local time; anything else a record holds shows as it stands.
TEST(InstalledModsRows, DatesInLocalTime)
{
    for (const std::time_t t : {std::time_t{1700000000}, std::time_t{1709164800}, std::time_t{0}}) {
        char utc[32] = {};
        char local[32] = {};
        std::strftime(utc, sizeof utc, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&t));
        std::strftime(local, sizeof local, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
        EXPECT_EQ(LocalDateText(utc), local) << utc;
    }
    const std::vector<std::string> notDates = {"", "unknown date", "2023-11-14 22:13:20", "2023-11-14 22:13:20 GMT", "2023-11-14 22:13:20 UTC ", "2023-02-29 10:00:00 UTC",
          "2023-13-01 10:00:00 UTC", "2023-00-10 10:00:00 UTC", "2023-11-14 24:00:00 UTC", "2023-11-14 22:60:00 UTC",
          "2023-1a-14 22:13:20 UTC", "+023-11-14 22:13:20 UTC", "2023-11-14T22:13:20 UTC", "1969-12-31 23:59:59 UTC",
          std::string("2023-11-14 22:13:2\0 UTC", 23), "0000-00-00 00:00:00 UTC"};
    for (const std::string& recorded : notDates)
        EXPECT_EQ(LocalDateText(recorded), recorded) << recorded;
}

// Before an install that replaces what a recorded install wrote, or installs a package again,
// one question comes before any change; No leaves the game folder and the window as they were.
// With nothing to say the install runs exactly as before, without a question.
TEST_F(Forms, InstallAsksBeforeReplacingWhatEarlierInstallsWrote)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    WritePackage(root / "first", {{"default.dat", ToBytes("first default")}, {"car.dff", Pattern(700, 3)}});
    WritePackage(root / "other", {{"default.dat", ToBytes("other default")}, {"car.dff", Pattern(900, 4)}, {"hud.txd", ToBytes("hud")}});
    WritePackage(root / "fresh", {{"ped.ifp", ToBytes("new walk")}, {"new.dff", Pattern(100, 5)}});
    struct Row {
        const char* package;
        std::optional<bool> answer;        // nullopt: no question expected
        std::vector<std::string> notes;    // the question's lines before "Install it anyway?", {date} for the first install's
        bool installs;
    };
    const std::vector<Row> rows = {
        {"first", std::nullopt, {}, true},     // nothing recorded yet
        {"fresh", std::nullopt, {}, true},     // touches nothing the first one wrote
        {"other", false, {"car.dff: it replaces what install 1 (first.zpk, {date}) wrote",
                          "default.dat: it replaces what install 1 (first.zpk, {date}) wrote"}, false},
        {"first", false, {"A reinstall: this package is install 1 (first.zpk, {date}).",
                          "car.dff: it replaces what install 1 (first.zpk, {date}) wrote",
                          "default.dat: it replaces what install 1 (first.zpk, {date}) wrote"}, false},
        {"other", true, {"car.dff: it replaces what install 1 (first.zpk, {date}) wrote",
                         "default.dat: it replaces what install 1 (first.zpk, {date}) wrote"}, true},
    };
    std::string firstDate;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.package) + (row.answer ? (*row.answer ? " yes" : " no") : ""));
        view.file = root / (std::string(row.package) + ".zpk");
        form.cmdBrowseSource_Click();
        view.messages.clear();
        view.questions.clear();
        view.caption = "(before)";
        if (row.answer)
            view.answers = {*row.answer};
        const Snapshot before = TakeSnapshot(game);
        form.cmdInstall_Click();
        if (firstDate.empty()) {
            const auto history = ReadHistory(HistoryFolder(JournalFolder({}), game));
            ASSERT_EQ(history.size(), 1u);
            firstDate = history[0].date;
        }
        if (row.answer) {
            std::string text;
            for (std::string note : row.notes)
                text += note.replace(note.find("{date}"), 6, firstDate) + "\r\n";
            EXPECT_EQ(view.questions, (std::vector<RecordedMessage>{{text + "\r\nInstall it anyway?", "Earlier installs"}}));
        } else {
            EXPECT_TRUE(view.questions.empty());
        }
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.caption, row.installs ? "Mod installed!" : "(before)");
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)).empty(), !row.installs);
        EXPECT_TRUE(view.install);
        EXPECT_TRUE(view.browse);
        EXPECT_EQ(view.pointer, Pointer::Default);
    }
    EXPECT_EQ(ReadFile(game + "data/default.dat"), ToBytes("other default"));
}

// A history that cannot be read is never shown as empty: the window says so with the reason and
// offers nothing to choose, and an install asks before going on without it.
TEST_F(Forms, UnreadableHistoryIsSaidNotShownAsEmpty)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    WritePackage(root / "mod", {{"default.dat", ToBytes("mod default")}});
    view.file = root / "mod.zpk";
    form.cmdBrowseSource_Click();
    form.cmdInstall_Click();
    ASSERT_EQ(view.caption, "Mod installed!");
    const std::string record = HistoryFolder(JournalFolder({}), game) + "1.record";
    const Bytes recorded = ReadFile(record);
    struct Row {
        const char* name;
        std::function<void()> spoil;
        std::string reason;
    };
    std::optional<fs::ExclusiveLock> otherInstall;
    const std::vector<Row> rows = {
        {"record cut short", [&] { WriteFile(record, Slice(recorded, 0, recorded.size() / 2)); }, "The history record " + record + " is damaged"},
        {"record not a record", [&] { WriteFile(record, ToBytes("tessera-history 1\nid 1\nstock zz\nend\n")); },
         "The history record " + record + " is damaged"},
        {"another install holds the folder", [&] { otherInstall.emplace(JournalPath(JournalFolder({}), game) + ".lock"); },
         "Another install into " + DisplayPath(game) + " is running"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(record, recorded);
        otherInstall.reset();
        row.spoil();
        ScriptedModsView mods;
        ModsForm modsForm(settings, mods);
        modsForm.Form_Load();
        EXPECT_TRUE(mods.rows.empty());
        EXPECT_EQ(mods.note, "The history of installs could not be read.");
        EXPECT_EQ(mods.selected, -1);
        EXPECT_FALSE(mods.commands);
        EXPECT_EQ(mods.messages, (std::vector<RecordedMessage>{{row.reason, "Installed mods"}}));
        modsForm.cmdUninstall_Click();
        EXPECT_TRUE(mods.questions.empty());
        // Coming to the front says it in the details, not in a box, whose closing would bring the
        // window to the front again; once the history reads, it is listed.
        modsForm.Form_Activate();
        EXPECT_EQ(mods.messages.size(), 1u);
        EXPECT_EQ(mods.details, row.reason);
        EXPECT_FALSE(mods.commands);
        WriteFile(record, recorded);
        otherInstall.reset();
        modsForm.Form_Activate();
        EXPECT_EQ(mods.rows.size(), 1u);
        EXPECT_EQ(mods.selected, 0);
        EXPECT_EQ(mods.details, "");
        EXPECT_TRUE(mods.commands);
    }
    otherInstall.reset();

    // The install asks, naming the damaged record; No changes nothing.
    rows[0].spoil();
    const Snapshot before = TakeSnapshot(game);
    view.answers = {false};
    view.caption = "(before)";
    form.cmdInstall_Click();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].text, "The record of earlier installs could not be read: The history record " + record +
                                          " is damaged\r\n\r\nInstall it anyway?");
    EXPECT_EQ(view.caption, "(before)");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
}

// Browse starts where the mods are: the folder chosen last during this run, else the program's
// folder if the user may write there (players keep mods beside it), else the documents folder.
TEST_F(Forms, BrowseStartsInTheFolderLastChosenElseAWritableProgramFolderElseDocuments)
{
    struct Row {
        std::string last, program;
        bool writable;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"", "/usr/bin", false, "/home/me"},
        {"", "C:\\Games\\Tessera", true, "C:\\Games\\Tessera"},
        {"/home/me/mods/", "/usr/bin", false, "/home/me/mods/"},
        {"D:\\mods\\", "C:\\Games\\Tessera", true, "D:\\mods\\"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(StartFolder(row.last, row.program, row.writable, "/home/me"), row.expected) << row.last << " " << row.program;
    for (const auto& [chosen, folder] : std::vector<std::pair<std::string, std::string>>{
             {"/home/me/mods/car.zpk", "/home/me/mods/"}, {"C:\\mods\\car.zpk", "C:\\mods\\"}, {"C:\\car.zpk", "C:\\"}, {"car.zpk", ""}})
        EXPECT_EQ(ChosenFolder(chosen), folder);
    EXPECT_TRUE(fs::CanWriteIn(root.Path()));
    EXPECT_FALSE(fs::CanWriteIn(root / "missing"));
    EXPECT_FALSE(fs::CanWriteIn(""));

    // Through the window: a choice is remembered even when refused; Cancel forgets nothing.
    fs::CreateFolder(root / "mods");
    WriteFile(root / "mods/lonely.zpk", ToBytes("x"));
    view.file = "";
    form.cmdBrowseSource_Click();
    view.file = root / "mods/lonely.zpk";
    form.cmdBrowseSource_Click();
    view.file = "";
    form.cmdBrowseSource_Click();
    const std::string first = StartFolder({}, fs::ProgramFolder(), fs::CanWriteIn(fs::ProgramFolder()), fs::DocumentsFolder());
    EXPECT_EQ(view.startFolders, (std::vector<std::string>{first, first, ChosenFolder(root / "mods/lonely.zpk")}));
    EXPECT_EQ(view.startFolders.back(), root / "mods/");
}

#ifdef TESSERA_TEST_DOWNLOADS
// A download with one name in several folders: the window offers the folders that hold those
// files; Cancel leaves the game folder and the window as they were, a choice installs that
// folder's files as the console's --from does. A download without such names asks nothing.
TEST_F(Forms, DownloadWithOneNameInTwoFoldersAsksWhichFolder)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    const Bytes chrome = Pattern(700, 5), classic = Pattern(900, 6), car = Pattern(300, 7);
    MakeDownload(root / "wheels.zip", Format::Zip,
                 {{"Wheels/Chrome/hud.txd", chrome}, {"Wheels/Classic/HUD.txd", classic}, {"Wheels/Classic/car.dff", car}, {"hud.txd", car}});
    MakeDownload(root / "plain.zip", Format::Zip, {{"Plain/hud.txd", chrome}});
    struct Row {
        const char* name;
        std::string download;
        std::optional<std::size_t> answer;   // of the folder question, if one is expected
        bool asked;
        std::optional<Bytes> hud;            // models/hud.txd after it; nothing: as before
    };
    const std::vector<Row> rows = {
        {"cancel", root / "wheels.zip", std::nullopt, true, std::nullopt},
        {"the second folder", root / "wheels.zip", 1, true, classic},
        {"the first folder", root / "wheels.zip", 0, true, chrome},
        {"no clash asks nothing", root / "plain.zip", std::nullopt, false, chrome},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        view.file = row.download;
        form.cmdBrowseSource_Click();
        view.folderQuestions.clear();
        view.messages.clear();
        view.answers = {true};   // a reinstall asks first
        if (row.asked)
            view.folderAnswers = {row.answer};
        const Snapshot before = TakeSnapshot(game);
        const Bytes hudBefore = ReadFile(game + "models/hud.txd");
        const std::size_t recordsBefore = ReadFile(game + "models/gta3.dir").size() / 32;
        view.caption = "(before)";
        form.cmdInstall_Click();
        EXPECT_TRUE(view.folderAnswers.empty());
        EXPECT_EQ(view.folderQuestions.size(), row.asked ? 1u : 0u);
        if (row.asked) {
            EXPECT_EQ(view.folders, (std::vector<std::string>{"Wheels/Chrome", "Wheels/Classic"}));
            EXPECT_TRUE(view.folderQuestions[0].ends_with(". Tessera cannot tell which one to install.\r\nChoose the folder to install from:"))
                << view.folderQuestions[0];
        }
        EXPECT_EQ(ReadFile(game + "models/hud.txd"), row.hud ? *row.hud : hudBefore);
        if (!row.hud) {
            EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
            EXPECT_EQ(view.caption, "(before)");
        } else {
            EXPECT_EQ(view.caption, "Mod installed!");
        }
        // Only the chosen folder's files: the top one and the other folder's stay out, so
        // models/gta3 gains the record of car.dff from Classic alone.
        EXPECT_EQ(ReadFile(game + "models/gta3.dir").size() / 32, recordsBefore + (row.answer == std::optional<std::size_t>(1) ? 1u : 0u));
        EXPECT_TRUE(view.install);
        EXPECT_TRUE(view.browse);
        EXPECT_EQ(view.pointer, Pointer::Default);
    }
}
#endif

// "Mod installed!" is said of the package that was installed: choosing another, by any way in,
// or taking an install back in the Installed mods window, gives the plain caption again; what
// chooses nothing and what takes nothing back leaves the caption alone.
TEST_F(Forms, CaptionSaysModInstalledOnlyOfAPackageStillInstalled)
{
    store.values[{"Tessera", "Settings", "GTA3Path"}] = game;
    ASSERT_TRUE(form.Form_Load());
    WritePackage(root / "first", {{"default.dat", ToBytes("first default")}});
    WritePackage(root / "second", {{"car.dff", ToBytes("car")}});
    WriteFile(root / "notes.txt", ToBytes("notes"));
    const std::string installed = "Mod installed!";
    struct Row {
        const char* name;
        std::function<void()> act;
        bool plain;   // the caption after it is "Orlen's Tessera"
    };
    const auto browse = [&](const std::string& file) {
        return [&, file] {
            view.file = file;
            form.cmdBrowseSource_Click();
        };
    };
    const auto given = [&](const std::string& file) { return [&, file] { form.TakeGivenFile(file); }; };
    const auto mods = [&](std::optional<bool> answer) {
        return [&, answer] {
            view.onMods = [answer](modMain& modsSettings) {
                ScriptedModsView modsView;
                ModsForm modsForm(modsSettings, modsView);
                modsForm.Form_Load();
                if (answer) {
                    modsView.answers = {*answer};
                    modsForm.cmdUninstall_Click();
                }
            };
            form.mnuMods_Click();
        };
    };
    const std::vector<Row> rows = {
        {"browse cancelled", browse(""), false},
        {"browse to a package without its directory", browse(root / "missing.zpk"), false},
        {"a given file that is no package", given(root / "notes.txt"), false},
        {"a given package that does not exist", given(root / "nothere.zpk"), false},
        {"mods window only looked at", mods(std::nullopt), false},
        {"take back answered No", mods(false), false},
        {"browse to another package", browse(root / "second.zpk"), true},
        {"browse to the same package again", browse(root / "first.zpk"), true},
        {"a package given or dropped", given(root / "second.zpk"), true},
        {"take back answered Yes", mods(true), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Each time from a real install of first.zpk.
        view.file = root / "first.zpk";
        form.cmdBrowseSource_Click();
        view.answers = {true};   // a reinstall asks first
        form.cmdInstall_Click();
        view.answers.clear();
        ASSERT_EQ(view.caption, installed);
        view.messages.clear();
        row.act();
        EXPECT_EQ(view.caption, row.plain ? std::string(kMainCaption) : installed);
    }
}

// What both toolkits build the windows from: each control once by name and id, the rows in tab
// order (the Win32 view makes them in that order, which Tab follows), the default button one of
// the window's buttons, every control inside the client area, and a name for screen readers on
// every control that has no caption of its own to be read by.
TEST(Layouts, EveryWindowTableIsWhole)
{
    std::set<int> ids;
    for (const WindowLayout* layout : {&kMainLayout, &kOptionLayout, &kModsLayout, &kFolderLayout}) {
        SCOPED_TRACE(std::string(layout->objectName));
        std::set<std::string_view> names;
        int lastTab = -1;
        for (const ControlLayout& row : layout->controls) {
            SCOPED_TRACE(std::string(row.objectName));
            EXPECT_TRUE(names.insert(row.objectName).second);
            EXPECT_TRUE(row.id == kNoId || ids.insert(row.id).second);
            EXPECT_GT(row.tabOrder, lastTab);
            lastTab = row.tabOrder;
            EXPECT_GE(row.rect.left, 0);
            EXPECT_GE(row.rect.top, 0);
            EXPECT_LE(row.rect.left + row.rect.width, layout->width);
            EXPECT_LE(row.rect.top + row.rect.height, layout->height);
            const bool captioned = row.kind == ControlKind::Button || row.kind == ControlKind::Label;
            EXPECT_EQ(row.accessibleName.empty(), captioned);
            EXPECT_EQ(row.role == AccessibleRole::PushButton, row.kind == ControlKind::Button);
            EXPECT_EQ(row.role == AccessibleRole::StaticText, row.kind == ControlKind::Label);
        }
        const ControlLayout& defaultButton = ControlNamed(*layout, [&] {
            for (const ControlLayout& row : layout->controls)
                if (row.id == layout->defaultButton)
                    return row.objectName;
            return std::string_view("(none)");
        }());
        EXPECT_EQ(defaultButton.kind, ControlKind::Button);
    }
    EXPECT_THROW(ControlNamed(kMainLayout, "cmdDone"), std::logic_error);
    // The menu: a menu first; every item has a handler and an id of its own.
    ASSERT_FALSE(kMainMenu.empty());
    EXPECT_EQ(kMainMenu.front().id, kNoId);
    for (const MenuLayout& row : kMainMenu) {
        SCOPED_TRACE(std::string(row.objectName));
        EXPECT_EQ(row.id == kNoId, row.click == nullptr);
        EXPECT_TRUE(row.id == kNoId || ids.insert(row.id).second);
    }
}
