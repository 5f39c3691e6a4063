// The behaviour of frmMain and frmOption.
#include "FormLogic.h"

#include "Error.h"
#include "FileSystem.h"
#include "InstallDownload.h"
#include "InstallPackage.h"
#include "ModSource.h"
#include "Text.h"
#include "modBrowseDir.h"

namespace tessera {

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
    if (!fs::FileExists(pathText_ + "\\gta3.exe")) {
        view_.ShowMessage("Please select your GTA3 directory", "Error");
        return;
    }
    settings_.sGTA3Path = pathText_;
    settings_.SaveSettings();
    saved_ = true;
    view_.CloseDialog(true);
}

void OptionForm::cmdCancel_Click() { view_.CloseDialog(false); }

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
    RecoverInterruptedInstalls(view_);
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
    if (!fs::FileExists(directory)) {
        view_.ShowMessage("The associated .dir was not found.\r\n"
                          "Please specify a .zpk with a .dir of the same name in the same folder.",
                          "File not found");
        return;
    }
    SetSource(chosen);
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

void MainForm::cmdInstall_Click()
{
    installing_ = true;
    // A failed install reports itself and returns the window to idle.
    if (IsModArchiveName(sourceText_))
        InstallDownload(sourceText_, settings_, view_);
    else
        InstallPackage(sourceText_, settings_, view_);
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

void MainForm::mnuAbout_Click() { view_.ShowMessage(AboutText(), "About..."); }

bool MainForm::QueryClose()
{
    if (installing_) {
        closePending_ = true;
        return false;
    }
    return true;
}

} // namespace tessera
