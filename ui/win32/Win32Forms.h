// The Win32 views of frmMain, frmOption and frmMods: native windows whose controls sit at the design's
// positions (pixels at 96 dpi, scaled by the system's dpi). They map the form logic's calls
// onto their controls and forward their events to it; the behaviour lives in FormLogic.
#pragma once
#ifdef _WIN32

#include "FormLogic.h"
#include "Win32Text.h"

#include <string>

namespace tessera::win32ui {

// Control identifiers; they also let tests and scripts find the controls.
enum ControlId : int {
    kLblSource = 101,
    kCmdBrowseSource = 102,
    kLabel3 = 103,
    kCmdInstall = 104,
    kMnuQuit = 201,
    kMnuOption = 202,
    kMnuAbout = 203,
    kMnuMods = 204,
    kCmdCancel = 301,
    kCmdDone = 302,
    kLblGTA3Path = 303,
    kCmdGTA3Browse = 304,
    kLabel1 = 305,
    kLstMods = 401,
    kTxtDetails = 402,
    kCmdDetails = 403,
    kCmdUninstall = 404,
    kCmdClose = 405,
};

// Registers the window classes and reads the system's dpi; call once before any window.
void Initialise(HINSTANCE instance);

// Runs the message loop until the last window has closed; returns the program's exit code.
int RunMessageLoop();

// The main window's view. Its form logic is made by the caller and given with Attach.
class frmMainView : public IMainView {
public:
    frmMainView();
    ~frmMainView() override;
    void Attach(MainForm& form) { form_ = &form; }
    HWND Handle() const noexcept { return hwnd_; }

    // IFormView
    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    // IWindowServices
    void DoEvents() override;
    void SetCaption(const std::string& caption) override;
    void SetPointer(Pointer pointer) override;
    void SetButtonEnabled(Button button, bool enabled) override;
    // IMainView
    void SetSourceText(const std::string& text) override;
    bool ShowOptions(modMain& settings, bool overMainWindow) override;
    void ShowMods(modMain& settings) override;
    bool AskYesNo(const std::string& text, const std::string& title) override;
    void ShowWindow() override;
    void CloseWindow() override;
    // A failure report ends the process at once.
    bool Ending() const override { return false; }

    // The window procedure of the window class; forwards to the view the window belongs to.
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    MainForm* form_ = nullptr;
    bool hourglass_ = false;
    std::string droppedFile_;
};

// The options dialog's view, shown modally by ShowModal.
class frmOptionView : public IOptionView {
public:
    // Shows the dialog for settings modally over owner (centred on the screen when owner is
    // null) and returns whether it stored a new game folder.
    static bool ShowModal(modMain& settings, HWND owner);

    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    void SetPathText(const std::string& text) override;
    void CloseDialog(bool confirmed) override;

    // The window procedure of the window class; forwards to the view the window belongs to.
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    OptionForm* form_ = nullptr;
    bool closed_ = false;
};

// The "Installed mods" window's view, shown modally by ShowModal.
class frmModsView : public IModsView {
public:
    static void ShowModal(modMain& settings, HWND owner);

    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    void SetListLines(const std::vector<std::string>& lines, int selected) override;
    void SetDetailsText(const std::string& text) override;
    void SetCommandsEnabled(bool enabled) override;
    bool AskYesNo(const std::string& text, const std::string& title) override;
    void CloseDialog() override;

    // The window procedure of the window class; forwards to the view the window belongs to.
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    ModsForm* form_ = nullptr;
    bool closed_ = false;
};

} // namespace tessera::win32ui

#endif
