// The windows' layout tables.
#include "Layouts.h"

#include "Services.h"

#include <stdexcept>
#include <string>

namespace tessera {

namespace {

using K = ControlKind;
using R = AccessibleRole;

constexpr ControlLayout kMainControls[] = {
    {"lblSource", kLblSource, K::Field, kNoPackageText, {4, 20, 437, 21}, 0, "Source", R::Text},
    {"cmdBrowseSource", kCmdBrowseSource, K::Button, "Browse...", {444, 20, 97, 23}, 1, "", R::PushButton},
    {"Label3", kLabel3, K::Label, "Source :", {4, 4, 137, 13}, 2, "", R::StaticText},
    {"cmdInstall", kCmdInstall, K::Button, "Install the MOD", {224, 52, 97, 23}, 3, "", R::PushButton},
    {"fileList", kNoId, K::HiddenList, "", {0, 0, 0, 0}, 4, "Files", R::List},
};

constexpr ControlLayout kOptionControls[] = {
    {"cmdCancel", kCmdCancel, K::Button, "Cancel", {164, 56, 77, 29}, 0, "", R::PushButton},
    {"cmdDone", kCmdDone, K::Button, "OK", {252, 56, 77, 29}, 1, "", R::PushButton},
    // Read as the folder it shows, after the label above it.
    {"lblGTA3Path", kLblGTA3Path, K::Label, "", {4, 24, 417, 21}, 2, "", R::StaticText},
    {"cmdGTA3Browse", kCmdGTA3Browse, K::Button, "Browse", {428, 24, 57, 21}, 3, "", R::PushButton},
    {"Label1", kLabel1, K::Label, "GTA3 Path :", {4, 8, 121, 17}, 4, "", R::StaticText},
};

constexpr ControlLayout kModsControls[] = {
    {"lstMods", kLstMods, K::Table, "", {4, 4, 592, 150}, 0, kModsCaption, R::Table},
    {"cmdDetails", kCmdDetails, K::Button, "Details", {353, 326, 77, 29}, 1, "", R::PushButton},
    {"cmdUninstall", kCmdUninstall, K::Button, "Uninstall", {436, 326, 77, 29}, 2, "", R::PushButton},
    {"cmdClose", kCmdClose, K::Button, "Close", {519, 326, 77, 29}, 3, "", R::PushButton},
    {"txtDetails", kTxtDetails, K::TextPane, "", {4, 160, 592, 160}, 4, "Install details", R::Text},
};

// The package column takes the rest, so the table never scrolls sideways.
constexpr ColumnLayout kModsColumnItems[] = {
    {"No.", 36, true}, {"Date", 130, false}, {"Package", 0, false}, {"Added", 56, true}, {"Replaced", 70, true}, {"Refused", 62, true},
};

// The question of a download with one name in several folders: which folder to install from.
constexpr ControlLayout kFolderControls[] = {
    {"lblFolderQuestion", kLblFolderQuestion, K::Label, "", {4, 4, 412, 80}, 0, "", R::StaticText},
    {"lstFolders", kLstFolders, K::List, "", {4, 88, 412, 120}, 1, "Folders", R::List},
    {"cmdFolderOk", kCmdFolderOk, K::Button, "OK", {256, 214, 77, 29}, 2, "", R::PushButton},
    {"cmdFolderCancel", kCmdFolderCancel, K::Button, "Cancel", {339, 214, 77, 29}, 3, "", R::PushButton},
};

constexpr MenuLayout kMainMenuItems[] = {
    {"mnuFile", kNoId, "&File", nullptr},
    {"mnuQuit", kMnuQuit, "&Quit", &MainForm::mnuQuit_Click},
    {"mnuSetup", kNoId, "&Setup", nullptr},
    {"mnuOption", kMnuOption, "&Options...", &MainForm::mnuOption_Click},
    {"mnuMods", kMnuMods, "Installed &mods...", &MainForm::mnuMods_Click},
    {"mnuQuestion", kNoId, "&?", nullptr},
    {"mnuAbout", kMnuAbout, "&About...", &MainForm::mnuAbout_Click},
};

} // namespace

const WindowLayout kMainLayout{"frmMain", kMainCaption, 544, 79, kCmdInstall, kMainControls};
const WindowLayout kOptionLayout{"frmOption", "Options", 493, 88, kCmdDone, kOptionControls};
const WindowLayout kModsLayout{"frmMods", kModsCaption, 600, 360, kCmdClose, kModsControls};
const std::span<const ColumnLayout> kModsColumns{kModsColumnItems};
const WindowLayout kFolderLayout{"frmFolder", kFolderCaption, 420, 247, kCmdFolderOk, kFolderControls};
const std::span<const MenuLayout> kMainMenu{kMainMenuItems};

const ControlLayout& ControlNamed(const WindowLayout& layout, std::string_view objectName)
{
    for (const ControlLayout& control : layout.controls)
        if (control.objectName == objectName)
            return control;
    throw std::logic_error("no control " + std::string(objectName) + " in " + std::string(layout.objectName));
}

} // namespace tessera
