// The behaviour of frmMain, frmOption and frmMods.
#include "FormLogic.h"

#include "Archive.h"
#include "Error.h"
#include "FileSystem.h"
#include "InstallDownload.h"
#include "InstallPackage.h"
#include "ModSource.h"
#include "Text.h"
#include "modBrowseDir.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace tessera {

namespace {

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\r\n") + line;
    return text;
}

// What finishing an interrupted install tells, shown by a form's view: its messages.
class FormMessages : public IInstallSink {
public:
    explicit FormMessages(IFormView& view) : view_(view) {}
    void Report(const InstallEvent& event) override
    {
        if (!event.text.empty())
            view_.ShowMessage(event.text, event.title);
    }

private:
    IFormView& view_;
};

} // namespace

std::string FailureTitle(const std::exception& failure)
{
    std::string title(kProgramTitle);
    if (const auto* error = dynamic_cast<const TesseraError*>(&failure))
        title += std::string(" - ") + KindName(error->Kind());
    return title;
}

// --- frmOption -------------------------------------------------------------------------------

void OptionForm::SetPathText(const std::string& text)
{
    pathText_ = text;
    view_.SetPathText(text);
}

void OptionForm::Form_Load()
{
    if (settings_.sGTA3Path != kNotFound)
        SetPathText(settings_.sGTA3Path);
}

void OptionForm::cmdGTA3Browse_Click()
{
    const std::string chosen = ShowOpenDialog("Please locate GTA3.exe", "Gta3.exe", view_, StartFolder({}));
    if (TrimSpaces(chosen).empty())
        return;
    // Only the folder counts; whether it holds gta3.exe is tested on OK.
    const std::string folder = TrimSpaces(GetFolder(chosen));
    if (!fs::FolderExists(folder))
        return;
    SetPathText(folder);
}

void OptionForm::cmdDone_Click()
{
    if (pathText_ == settings_.sGTA3Path) {
        view_.CloseDialog(true);
        return;
    }
    // The folder text ends in a separator already; the doubled one reads as one.
    if (!fs::VisibleFileExists(pathText_ + "\\gta3.exe")) {
        view_.ShowMessage("Please select your GTA3 directory", "Error");
        return;
    }
    settings_.sGTA3Path = pathText_;
    settings_.SaveSettings();
    saved_ = true;
    view_.CloseDialog(true);
}

void OptionForm::cmdCancel_Click() { view_.CloseDialog(false); }

// --- frmMods ---------------------------------------------------------------------------------

namespace {

// Digits of text from at, count of them; -1 when any is not a digit.
int DigitsAt(const std::string& text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Sets busy for the life of a handler (which may run within another).
class BusyHandler {
public:
    explicit BusyHandler(bool& busy) : busy_(busy), was_(busy) { busy_ = true; }
    ~BusyHandler() { busy_ = was_; }
    BusyHandler(const BusyHandler&) = delete;
    BusyHandler& operator=(const BusyHandler&) = delete;

private:
    bool& busy_;
    bool was_;
};

} // namespace

std::string LocalDateText(const std::string& recorded)
{
    // The record's text comes from a file on disk: anything but the exact form is shown as is.
    static constexpr std::string_view form = "0000-00-00 00:00:00 UTC";
    if (recorded.size() != form.size())
        return recorded;
    for (std::size_t i = 0; i < form.size(); ++i)
        if (form[i] != '0' && recorded[i] != form[i])
            return recorded;
    const int year = DigitsAt(recorded, 0, 4), month = DigitsAt(recorded, 5, 2), day = DigitsAt(recorded, 8, 2);
    const int hour = DigitsAt(recorded, 11, 2), minute = DigitsAt(recorded, 14, 2), second = DigitsAt(recorded, 17, 2);
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (year < 1970 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return recorded;
    const auto utc = std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) + std::chrono::seconds(second);
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::time_point_cast<std::chrono::system_clock::duration>(utc));
    const std::tm* local = std::localtime(&t);   // the window's thread alone converts dates
    char text[32] = {};
    if (!local || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) == 0)
        return recorded;
    return text;
}

std::vector<std::string> ModsRowCells(const HistoryRecord& r)
{
    return {std::to_string(r.id), LocalDateText(r.date), r.package, std::to_string(r.Added()), std::to_string(r.Replaced()),
            std::to_string(r.Refused())};
}

void ModsForm::Form_Load() { Refresh(false); }

void ModsForm::Form_Activate()
{
    if (!busy_)
        Refresh(true);
}

void ModsForm::Refresh(bool onActivation)
{
    const BusyHandler busy(busy_);
    std::vector<HistoryRecord> read;
    try {
        FormMessages messages(view_);
        const LockedHistory locked(settings_.sGTA3Path, messages);
        read = locked.History();
    } catch (const std::exception& failure) {
        // Unread is not empty: the list says so, and nothing can be chosen.
        history_.clear();
        rows_.clear();
        read_ = false;
        selected_ = -1;
        detailsShown_ = false;
        view_.SetListRows({}, -1, std::string(kHistoryUnreadText));
        view_.SetCommandsEnabled(false);
        view_.SetDetailsText(onActivation ? failure.what() : std::string());
        if (!onActivation)
            view_.ShowMessage(failure.what(), std::string(kModsCaption));
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const HistoryRecord& r : read)
        rows.push_back(ModsRowCells(r));
    if (onActivation && read_ && rows == rows_)
        return;
    const int keep = onActivation && selected_ >= 0 ? history_[static_cast<std::size_t>(selected_)].id : -1;
    history_ = std::move(read);
    rows_ = std::move(rows);
    read_ = true;
    selected_ = history_.empty() ? -1 : 0;
    for (std::size_t i = 0; i < history_.size(); ++i)
        if (history_[i].id == keep)
            selected_ = static_cast<int>(i);
    view_.SetListRows(rows_, selected_, history_.empty() ? std::string(kNoHistoryText) : std::string());
    view_.SetCommandsEnabled(selected_ >= 0);
    // The details of the install still chosen are told again: later installs may have changed it.
    if (detailsShown_ && keep >= 0 && history_[static_cast<std::size_t>(selected_)].id == keep)
        ShowDetails();
    else {
        detailsShown_ = false;
        view_.SetDetailsText({});
    }
}

void ModsForm::lstMods_Click(int index)
{
    selected_ = index >= 0 && static_cast<std::size_t>(index) < history_.size() ? index : -1;
    detailsShown_ = false;
    view_.SetDetailsText({});
    view_.SetCommandsEnabled(selected_ >= 0);
}

void ModsForm::ShowDetails()
{
    detailsShown_ = true;
    view_.SetDetailsText(JoinLines(HistoryDetails(history_, history_[static_cast<std::size_t>(selected_)], settings_.sGTA3Path)));
}

void ModsForm::cmdDetails_Click()
{
    if (selected_ >= 0)
        ShowDetails();
}

void ModsForm::cmdUninstall_Click()
{
    if (selected_ < 0)
        return;
    const BusyHandler busy(busy_);
    const int id = history_[static_cast<std::size_t>(selected_)].id;
    std::vector<std::string> told;
    const HistoryTell tell = [&](const std::string& line, bool) { told.push_back(line); };
    try {
        // Held from the question to the end, so what the user agreed to is what is taken back.
        FormMessages messages(view_);
        const LockedHistory locked(settings_.sGTA3Path, messages);
        const auto chain = UninstallChain(locked.History(), id, true, settings_.sGTA3Path, tell);
        if (!chain.empty()) {
            std::string question = "Take back install " + HistoryLabel(*chain.back()) + "?";
            if (chain.size() > 1) {
                question += "\r\n\r\nLater installs changed what it wrote; they are taken back first, newest first:";
                for (std::size_t i = 0; i + 1 < chain.size(); ++i)
                    question += "\r\n" + HistoryLabel(*chain[i]);
            }
            if (!view_.AskYesNo(question, std::string(kUninstallTitle)))
                return;
            TakeBackChain(locked, chain, false, tell);
        }
    } catch (const std::exception& failure) {
        told.emplace_back(failure.what());
    }
    if (!told.empty())
        view_.ShowMessage(JoinLines(told), std::string(kUninstallTitle));
    Refresh(false);
}

// --- frmMain ---------------------------------------------------------------------------------

std::string AboutText()
{
    return "Tessera " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "\r\n" +
           "\r\n" +
           "Written by Orlen\r\n" +
           "\r\n" +
           "Copyright (C) 2002 Orlen\r\n" +
           std::string(kContactAddress);
}

bool MainForm::Form_Load()
{
    settings_.LoadSettings();
    if (settings_.sGTA3Path == kNotFound) {
        view_.ShowOptions(settings_, false);
        // The settings store failed while saving: the program ends after its report.
        if (view_.Ending()) {
            view_.CloseWindow();
            return false;
        }
        if (settings_.sGTA3Path == kNotFound) {
            view_.ShowMessage("You must specify your GTA3 Directory!\r\n\r\nGood bye!", "Need path");
            view_.CloseWindow();
            return false;
        }
        settings_.LoadSettings();
    }
    // An install that was killed or lost its power midway is undone before anything else.
    WindowPresenter presenter(view_);
    InstallOptions options;
    options.gameFolderNow = settings_.sGTA3Path;
    RecoverInterruptedInstalls(presenter, {}, options);
    view_.ShowWindow();
    return true;
}

void MainForm::cmdBrowseSource_Click()
{
    std::vector<FileFilter> downloads;
    if (DownloadsSupported())
        downloads.push_back({"Mod archives (*.zip *.7z *.rar)", "*.zip *.7z *.rar"});
    const std::string chosen = ShowOpenDialog("Select a .zpk to extract", "*.zpk", view_, StartFolder(browseFolder_), downloads);
    if (!chosen.empty())
        browseFolder_ = ChosenFolder(chosen);
    TakePackage(chosen);
}

void MainForm::TakePackage(const std::string& chosen)
{
    // A download as it was shipped needs no .dir; its install reads it whole.
    if (IsModArchiveName(chosen)) {
        SetSource(chosen);
        return;
    }
    // The ending in any letter case, as the dialog lists and the install takes it.
    if (chosen.size() < 4 || !EqualsIgnoreCase(std::string_view(chosen).substr(chosen.size() - 4), ".zpk"))
        return;
    const std::string directory = chosen.substr(0, chosen.size() - 4) + ".dir";
    if (!fs::VisibleFileExists(directory)) {
        view_.ShowMessage("The associated .dir was not found.\r\n"
                          "Please specify a .zpk with a .dir of the same name in the same folder.",
                          "File not found");
        return;
    }
    SetSource(chosen);
}

void MainForm::TakeGivenFile(const std::string& path)
{
    const std::string name = BaseName(path);
    const bool package = path.size() >= 4 && EqualsIgnoreCase(std::string_view(path).substr(path.size() - 4), ".zpk");
    if (!package && !IsModArchiveName(path)) {
        view_.ShowMessage(name + " is not a mod package (.zpk) or a mod archive (.zip, .7z, .rar).", std::string(kNotAPackageTitle));
        return;
    }
    // Checked before its .dir, which would otherwise be named as the missing one.
    if (!fs::PathExists(path)) {
        view_.ShowMessage(name + " does not exist.", "File not found");
        return;
    }
    TakePackage(path);
}

void MainForm::SetSource(const std::string& text)
{
    // A package just chosen has not been installed, whatever the last install's caption said.
    view_.SetCaption(std::string(kMainCaption));
    // Only a different text is a change of lblSource.
    if (text == sourceText_)
        return;
    sourceText_ = text;
    view_.SetSourceText(text);
    lblSource_Change();
}

void MainForm::lblSource_Change() { view_.SetButtonEnabled(Button::Install, true); }

std::optional<std::string> MainForm::ChooseDownloadFolder()
{
    if (!IsModArchiveName(sourceText_))
        return std::string();
    std::vector<std::string> folders;
    std::string clash;
    // Reading the download's list of files takes a moment for a large one.
    view_.SetPointer(Pointer::Hourglass);
    try {
        ListModSource(sourceText_);
    } catch (const SameNameError& error) {
        folders = error.Folders();
        clash = error.what();
    } catch (const std::exception&) {
        // Any other refusal is the install's to tell, as it always has been.
    }
    view_.SetPointer(Pointer::Default);
    if (folders.empty())
        return std::string();
    const auto chosen = view_.AskFolder(clash + "\r\nChoose the folder to install from:", folders);
    if (!chosen || *chosen >= folders.size())
        return std::nullopt;
    return folders[*chosen];
}

bool MainForm::ConfirmEarlierInstalls(const std::string& from)
{
    std::vector<HistoryRecord> history;
    std::vector<std::string> notes;
    try {
        history = ReadHistoryOf(settings_.sGTA3Path);
    } catch (const std::exception& failure) {
        notes.push_back(std::string("The record of earlier installs could not be read: ") + failure.what());
    }
    if (!history.empty()) {
        // Planning reads the package and hashes it: a large one takes a moment.
        view_.SetPointer(Pointer::Hourglass);
        try {
            const bool download = IsModArchiveName(sourceText_);
            const InstallPlan plan = download ? PlanDownload(sourceText_, settings_, from).plan : PlanInstall(sourceText_, settings_);
            // An install that would fail before its first change tells why itself, as it always has.
            if (plan.problem.empty())
                notes = EarlierInstallNotes(history, plan.files, download ? nullptr : EarlierInstallOfPackage(history, sourceText_));
        } catch (const std::exception&) {
            // A package that cannot be read: the same.
            notes.clear();
        }
        view_.SetPointer(Pointer::Default);
    }
    if (notes.empty())
        return true;
    return view_.AskYesNo(JoinLines(notes) + "\r\n\r\nInstall it anyway?", std::string(kEarlierInstallsTitle));
}

std::thread StartWork(const std::function<void()>& work, std::exception_ptr& failure, const std::function<void()>& ended)
{
    return std::thread([&work, &failure, ended] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        ended();
    });
}

InstallChannel::InstallChannel(IMainView& view) : view_(view), presenter_(view, false), windowThread_(std::this_thread::get_id()) {}

void InstallChannel::Report(const InstallEvent& event)
{
    if (OnWindowThread()) {
        presenter_.Report(event);
        return;
    }
    std::unique_lock lock(mutex_);
    if (event.kind == InstallEvent::Kind::FileProgress && !queue_.empty() && queue_.back().kind == InstallEvent::Kind::FileProgress)
        queue_.back() = event;
    else {
        queue_.push_back(event);
        ++queued_;
    }
    const std::uint64_t mine = queued_;
    lock.unlock();
    view_.Wake();
    // Started waits too, so the window is busy before anything else happens.
    const bool waits = !event.text.empty() || event.kind == InstallEvent::Kind::Started || event.kind == InstallEvent::Kind::Finished;
    if (!waits)
        return;
    lock.lock();
    changed_.wait(lock, [&] { return shown_ >= mine; });
}

bool InstallChannel::StopRequested()
{
    std::unique_lock lock(mutex_);
    if (!OnWindowThread())
        changed_.wait(lock, [&] { return !asking_; });
    return stop_;
}

void InstallChannel::Pump()
{
    // A message shown here runs the window's events, which may call again: the outer call
    // shows what comes meanwhile.
    if (pumping_)
        return;
    pumping_ = true;
    try {
        for (;;) {
            std::unique_lock lock(mutex_);
            if (queue_.empty())
                break;
            const InstallEvent event = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            presenter_.Report(event);
            lock.lock();
            ++shown_;
            changed_.notify_all();
        }
    } catch (...) {
        pumping_ = false;
        throw;
    }
    pumping_ = false;
}

void InstallChannel::BeginAsking()
{
    const std::lock_guard lock(mutex_);
    asking_ = true;
}

void InstallChannel::EndAsking(bool stop)
{
    const std::lock_guard lock(mutex_);
    asking_ = false;
    stop_ = stop_ || stop;
    changed_.notify_all();
}

void MainForm::cmdInstall_Click()
{
    const std::optional<std::string> from = ChooseDownloadFolder();
    if (!from || !ConfirmEarlierInstalls(*from))
        return;
    installing_ = true;
    // The install runs on its own thread, the window going on meanwhile. It works on the game
    // folder and catalogue it starts with, whatever the options dialog stores meanwhile.
    InstallChannel channel(view_);
    channel_ = &channel;
    modMain settings(settings_);
    settings.StockFiles();
    const std::string source = sourceText_;
    try {
        // A failed install reports itself and returns the window to idle.
        view_.RunInBackground(
            [&] {
                if (IsModArchiveName(source))
                    InstallDownload(source, settings, channel, {}, DownloadChoice{*from, {}});
                else
                    InstallPackage(source, settings, channel);
            },
            [&] { channel.Pump(); });
        channel.Pump();
    } catch (...) {
        channel_ = nullptr;
        installing_ = false;
        throw;
    }
    channel_ = nullptr;
    installing_ = false;
    if (closePending_) {
        closePending_ = false;
        view_.CloseWindow();
    }
}

void MainForm::mnuQuit_Click()
{
    if (QueryClose())
        view_.CloseWindow();
}

void MainForm::mnuOption_Click()
{
    // Stock files and game archives must lie in the same game folder, so a new folder brings
    // its own catalogue.
    if (view_.ShowOptions(settings_, true))
        settings_.LoadSettings();
}

void MainForm::mnuMods_Click()
{
    // The running install holds the game folder until it has returned.
    if (installing_) {
        view_.ShowMessage("An install is running. The installed mods can be seen once it has finished.", std::string(kModsCaption));
        return;
    }
    const auto before = RecordedInstalls();
    view_.ShowMods(settings_);
    // An install taken back there may be the one the caption says was installed. A history
    // unread either time counts as changed: the program's own caption claims nothing.
    const auto after = RecordedInstalls();
    const bool tookBack = !before || !after || std::ranges::any_of(*before, [&](int id) { return std::ranges::find(*after, id) == after->end(); });
    if (tookBack)
        view_.SetCaption(std::string(kMainCaption));
}

std::optional<std::vector<int>> MainForm::RecordedInstalls() const
{
    try {
        std::vector<int> ids;
        for (const HistoryRecord& record : ReadHistoryOf(settings_.sGTA3Path))
            ids.push_back(record.id);
        return ids;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void MainForm::mnuAbout_Click() { view_.ShowMessage(AboutText(), "About..."); }

bool MainForm::QueryClose()
{
    if (!installing_)
        return true;
    if (!channel_) {
        closePending_ = true;
        return false;
    }
    // A second close while the question is open is the same close.
    if (askingStop_)
        return false;
    askingStop_ = true;
    channel_->BeginAsking();
    bool stop = false;
    try {
        stop = view_.AskYesNo(std::string(kStopQuestion), std::string(kStopTitle));
    } catch (...) {
        askingStop_ = false;
        channel_->EndAsking(false);
        throw;
    }
    askingStop_ = false;
    channel_->EndAsking(stop);
    if (stop)
        closePending_ = true;
    return false;
}

} // namespace tessera
