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
    const std::string chosen = ShowOpenDialog("Please locate GTA3.exe", "Gta3.exe", view_);
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

void ModsForm::Form_Load() { Refresh(); }

void ModsForm::Refresh()
{
    history_.clear();
    selected_ = -1;
    view_.SetDetailsText({});
    try {
        FormMessages messages(view_);
        const LockedHistory locked(settings_.sGTA3Path, messages);
        history_ = locked.History();
    } catch (const std::exception& failure) {
        // Unread is not empty: the list says so, and nothing can be chosen.
        view_.SetListLines({"The history of installs could not be read."}, -1);
        view_.SetCommandsEnabled(false);
        view_.ShowMessage(failure.what(), std::string(kModsCaption));
        return;
    }
    std::vector<std::string> lines;
    for (const HistoryRecord& r : history_)
        lines.push_back(HistoryListLine(r));
    if (lines.empty())
        lines.emplace_back(kNoHistoryText);
    else
        selected_ = 0;
    view_.SetListLines(lines, selected_);
    view_.SetCommandsEnabled(selected_ >= 0);
}

void ModsForm::lstMods_Click(int index)
{
    selected_ = index >= 0 && static_cast<std::size_t>(index) < history_.size() ? index : -1;
    view_.SetDetailsText({});
    view_.SetCommandsEnabled(selected_ >= 0);
}

void ModsForm::cmdDetails_Click()
{
    if (selected_ < 0)
        return;
    view_.SetDetailsText(JoinLines(HistoryDetails(history_, history_[static_cast<std::size_t>(selected_)], settings_.sGTA3Path)));
}

void ModsForm::cmdUninstall_Click()
{
    if (selected_ < 0)
        return;
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
    Refresh();
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
    RecoverInterruptedInstalls(presenter);
    view_.ShowWindow();
    return true;
}

void MainForm::cmdBrowseSource_Click()
{
    std::vector<FileFilter> downloads;
    if (DownloadsSupported())
        downloads.push_back({"Mod archives (*.zip *.7z *.rar)", "*.zip *.7z *.rar"});
    TakePackage(ShowOpenDialog("Select a .zpk to extract", "*.zpk", view_, downloads));
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
    // Only a different text is a change of lblSource.
    if (text == sourceText_)
        return;
    sourceText_ = text;
    view_.SetSourceText(text);
    lblSource_Change();
}

void MainForm::lblSource_Change() { view_.SetButtonEnabled(Button::Install, true); }

bool MainForm::ConfirmEarlierInstalls()
{
    std::vector<HistoryRecord> history;
    std::vector<std::string> notes;
    try {
        history = ReadHistory(HistoryFolder(JournalFolder({}), settings_.sGTA3Path));
    } catch (const std::exception& failure) {
        notes.push_back(std::string("The record of earlier installs could not be read: ") + failure.what());
    }
    if (!history.empty()) {
        // Planning reads the package and hashes it: a large one takes a moment.
        view_.SetPointer(Pointer::Hourglass);
        try {
            const bool download = IsModArchiveName(sourceText_);
            const InstallPlan plan = download ? PlanDownload(sourceText_, settings_).plan : PlanInstall(sourceText_, settings_);
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
    if (!ConfirmEarlierInstalls())
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
                    InstallDownload(source, settings, channel);
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
    view_.ShowMods(settings_);
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
