// The behaviour of the windows, toolkit-free: what each event handler of frmMain, frmOption and
// frmMods does, driving a small view interface. The Qt windows and the Win32 windows are views
// only: they map these calls onto their controls and forward their events here.
#pragma once

#include "Dialogs.h"
#include "History.h"
#include "InstallEvents.h"
#include "Services.h"
#include "modMain.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tessera {

// What every window of the program offers its logic.
class IFormView {
public:
    virtual ~IFormView() = default;
    // A message box over this window: text (lines separated by CR LF), title, one OK button, no
    // icon; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
    // The platform's modal single-file open dialog over this window, with one filter entry
    // (description and pattern) and moreFilters after it, starting in startFolder. Returns the
    // file text as the dialog gave it back (padding and a terminating NUL may follow the path),
    // or empty on Cancel.
    virtual std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                                const std::string& startFolder, const std::vector<FileFilter>& moreFilters) = 0;
};

// The title and text of the report of a failure that no routine handled.
std::string FailureTitle(const std::exception& failure);

// --- frmOption -------------------------------------------------------------------------------

class IOptionView : public IFormView {
public:
    virtual void SetPathText(const std::string& text) = 0;   // lblGTA3Path
    // Closes the dialog, confirmed by OK (whether or not anything was stored) or left.
    virtual void CloseDialog(bool confirmed) = 0;
};

class OptionForm {
public:
    OptionForm(modMain& settings, IOptionView& view) : settings_(settings), view_(view) {}

    void Form_Load();
    void cmdGTA3Browse_Click();
    void cmdDone_Click();
    void cmdCancel_Click();
    // Esc confirms like OK; the frame's close button leaves like Cancel.
    void Escape_Pressed() { cmdDone_Click(); }
    void Frame_Closed() { cmdCancel_Click(); }

    const std::string& PathText() const noexcept { return pathText_; }
    bool Saved() const noexcept { return saved_; }

private:
    void SetPathText(const std::string& text);

    modMain& settings_;
    IOptionView& view_;
    std::string pathText_;   // what lblGTA3Path shows: the folder that OK would store
    bool saved_ = false;
};

// --- frmMods ---------------------------------------------------------------------------------

// The "Installed mods" window: the history of the game folder, newest first; the details of
// one install; taking one back out.
class IModsView : public IFormView {
public:
    // lstMods: its rows, a cell per column, and the one selected (-1: none). Without rows, note
    // says why in a line that cannot be chosen.
    virtual void SetListRows(const std::vector<std::vector<std::string>>& rows, int selected, const std::string& note) = 0;
    virtual void SetDetailsText(const std::string& text) = 0;    // txtDetails, lines by CR LF
    virtual void SetCommandsEnabled(bool enabled) = 0;           // cmdDetails and cmdUninstall
    // A message box with Yes and No (No the default) and no icon; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
    virtual void CloseDialog() = 0;
};

inline constexpr std::string_view kModsCaption = "Installed mods";
inline constexpr std::string_view kUninstallTitle = "Uninstall";
inline constexpr std::string_view kHistoryUnreadText = "The history of installs could not be read.";

// The date of an install as recorded ("YYYY-MM-DD hh:mm:ss UTC") in this computer's local time,
// "YYYY-MM-DD hh:mm:ss"; a text that is no such date is shown as recorded.
std::string LocalDateText(const std::string& recorded);
// One install as a row of lstMods: number, local date, package, added, replaced, refused.
std::vector<std::string> ModsRowCells(const HistoryRecord& record);

class ModsForm {
public:
    ModsForm(modMain& settings, IModsView& view) : settings_(settings), view_(view) {}

    // Reads the history (finishing what an interrupted install or uninstall left) and lists it
    // with the newest install selected.
    void Form_Load();
    // The window came to the front: the history is read again, so that installs made meanwhile
    // (by the console program) are listed. An unchanged history leaves the choice and details;
    // otherwise the chosen install stays chosen while it is still there. A failure to read is
    // said in the details, not in a message box, whose closing would activate the window again.
    // Ignored while another handler of the window runs (its message boxes activate it too).
    void Form_Activate();
    void lstMods_Click(int index);
    void cmdDetails_Click();
    // Asks, naming the install and the later ones that must go first, then takes them back
    // newest first, all or nothing each, and lists the history again.
    void cmdUninstall_Click();
    void cmdClose_Click() { view_.CloseDialog(); }

    const std::vector<HistoryRecord>& History() const noexcept { return history_; }
    int Selected() const noexcept { return selected_; }

private:
    void Refresh(bool onActivation);
    void ShowDetails();

    modMain& settings_;
    IModsView& view_;
    std::vector<HistoryRecord> history_;
    std::vector<std::vector<std::string>> rows_;   // what lstMods shows of history_
    bool read_ = false;                            // history_ was read, not merely empty
    int selected_ = -1;
    bool detailsShown_ = false;
    bool busy_ = false;                            // a handler runs
};

// --- frmMain ---------------------------------------------------------------------------------

// The main window's view: the install's window services (caption, pointer, the two buttons,
// message boxes, the event loop) and the rest of the window.
class IMainView : public IFormView, public IWindowServices {
public:
    virtual void SetSourceText(const std::string& text) = 0;   // lblSource
    // Shows the options dialog modally over the main window, or centred on the screen while the
    // main window is not shown yet; returns whether it stored a new game folder.
    virtual bool ShowOptions(modMain& settings, bool overMainWindow) = 0;
    // Shows the "Installed mods" window modally over the main window.
    virtual void ShowMods(modMain& settings) = 0;
    // A message box with Yes and No (No the default) and no icon; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
    // The "Choose a folder" dialog, modal over the main window: text above the list of folders,
    // the first one chosen, OK and Cancel. The index of the folder chosen, nothing on Cancel.
    virtual std::optional<std::size_t> AskFolder(const std::string& text, const std::vector<std::string>& folders) = 0;
    virtual void ShowWindow() = 0;     // centred on the screen, not modal
    virtual void CloseWindow() = 0;    // the program ends with its last window
    // Whether a failure was reported and the program is ending (a toolkit that ends the process
    // at once never gets to answer true).
    virtual bool Ending() const = 0;
    // Runs work on a thread of its own while the window goes on handling its events (it
    // repaints, its menus open, its close is asked for), calling pump on the window's thread
    // after each Wake; returns once work has returned, passing on what it threw.
    virtual void RunInBackground(const std::function<void()>& work, const std::function<void()>& pump) = 0;
    // Has the window's thread call the running RunInBackground's pump soon. Called from any thread.
    virtual void Wake() = 0;

    void MsgBox(const std::string& text, const std::string& title) override { ShowMessage(text, title); }
};

inline constexpr std::string_view kNoPackageText = "[Select a .zpk]";
inline constexpr std::string_view kStopQuestion = "Stop the install? The game folder will be left as it was.";
inline constexpr std::string_view kStopTitle = "Install running";
inline constexpr std::string_view kNotAPackageTitle = "Not a mod package";
inline constexpr std::string_view kFolderCaption = "Choose a folder";

// Starts work on a thread of its own for RunInBackground: what work throws is kept in failure,
// and ended runs on that thread once work has returned.
std::thread StartWork(const std::function<void()>& work, std::exception_ptr& failure, const std::function<void()>& ended);

// Carries an install's events from its thread to the window's, where they are shown as the main
// window always has. The install waits while a message of its own is open, so messages come in
// their order and nothing goes on behind them; progress is passed on newest only. While the user
// is asked whether to stop, the install waits at its next point where it could.
class InstallChannel : public IInstallSink {
public:
    explicit InstallChannel(IMainView& view);
    // The install's thread.
    void Report(const InstallEvent& event) override;
    bool StopRequested() override;
    // The window's thread: shows what has come.
    void Pump();
    void BeginAsking();
    void EndAsking(bool stop);

private:
    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

    IMainView& view_;
    WindowPresenter presenter_;
    const std::thread::id windowThread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<InstallEvent> queue_;
    std::uint64_t queued_ = 0;   // events queued so far
    std::uint64_t shown_ = 0;    // events shown so far
    bool asking_ = false;
    bool stop_ = false;
    bool pumping_ = false;       // the window's thread only
};
inline constexpr std::string_view kEarlierInstallsTitle = "Earlier installs";

// The About box text: version, credit, copyright and contact, lines joined by CR LF.
std::string AboutText();

class MainForm {
public:
    MainForm(modMain& settings, IMainView& view) : settings_(settings), view_(view) {}

    // The start-up: settings, the options dialog while no game folder is known, recovery of
    // an interrupted install, then the window is shown. Returns false when the user gave no
    // folder: the window was closed without ever showing and the program is to end.
    bool Form_Load();
    void cmdBrowseSource_Click();
    // What Browse does with the path the user chose: a download (.zip, .7z, .rar) or a name
    // ending in ".zpk" whose directory lies beside it goes into lblSource; a missing directory
    // is reported. A path given on the command line or dropped on the window takes the same way.
    void TakePackage(const std::string& chosen);
    // A file given on the command line or dropped on the window: one that is neither a package
    // nor a download, or that does not exist, is said so plainly; anything else is taken as
    // Browse takes it.
    void TakeGivenFile(const std::string& path);
    void lblSource_Change();
    void cmdInstall_Click();
    void mnuQuit_Click();
    void mnuOption_Click();
    void mnuMods_Click();
    void mnuAbout_Click();
    // A close asked for from the frame or Quit: true when the window may close now. While an
    // install runs the user is asked whether to stop it: Yes stops it, rolls it back and closes
    // the window after its message; No lets it go on.
    bool QueryClose();

    const std::string& SourceText() const noexcept { return sourceText_; }
    bool Installing() const noexcept { return installing_; }
    modMain& Settings() noexcept { return settings_; }

private:
    void SetSource(const std::string& text);
    // Before anything changes: what the install would replace that recorded installs wrote,
    // and whether the package is one of them again, asked as one question. True when there is
    // nothing to say or the user answered Yes.
    bool ConfirmEarlierInstalls(const std::string& from);
    // A download with one name in several folders: the folder the user picks to install from,
    // as the console's --from takes it. Empty: the whole download; nothing: the user cancelled.
    std::optional<std::string> ChooseDownloadFolder();
    // The ids of the game folder's recorded installs; nothing when the history cannot be read.
    std::optional<std::vector<int>> RecordedInstalls() const;

    modMain& settings_;
    IMainView& view_;
    std::string sourceText_{kNoPackageText};
    std::string browseFolder_;   // where Browse last chose a file during this run
    bool installing_ = false;
    bool closePending_ = false;
    bool askingStop_ = false;
    InstallChannel* channel_ = nullptr;   // the running install's, while there is one
};

} // namespace tessera
