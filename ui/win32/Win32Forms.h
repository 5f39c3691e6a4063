// The Win32 views of frmMain, frmOption and frmMods: native windows whose controls sit at the design's
// positions (pixels at 96 dpi, scaled by the system's dpi). They map the form logic's calls
// onto their controls and forward their events to it; the behaviour lives in FormLogic.
#pragma once
#ifdef _WIN32

#include "FormLogic.h"
#include "Layouts.h"
#include "Win32Text.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessera::win32ui {

// Registers the window class and reads the system's dpi; call once before any window.
void Initialise(HINSTANCE instance);

// Runs the message loop until the last window has closed; returns the program's exit code.
int RunMessageLoop();

// What the three windows share: a window made from its layout table (buttons and static texts
// named for screen readers by their captions, the other controls by the table), and the one
// window procedure, which finds the view in the window's user data and hands it the messages.
class WindowView {
public:
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;
    HWND Handle() const noexcept { return hwnd_; }

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    explicit WindowView(const WindowLayout& layout) : layout_(layout) {}
    ~WindowView();

    // Makes the window, owned by owner, with menu (or none) and the layout's controls.
    void Create(HWND owner, HMENU menu);
    HWND Item(ControlId id) const { return ::GetDlgItem(hwnd_, id); }

    // A click or notification code from control or menu item id; Enter comes as IDOK, Esc as
    // IDCANCEL.
    virtual void Command(int id, int code) = 0;
    // The frame's close button or Alt+F4.
    virtual void CloseRequested() = 0;
    // What a window handles beyond those; nothing: the system's default.
    virtual std::optional<LRESULT> Message(UINT, WPARAM, LPARAM) { return std::nullopt; }

    HWND hwnd_ = nullptr;

private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    const WindowLayout& layout_;
};

// The main window's view. Its form logic is made by the caller and given with Attach.
class frmMainView : public WindowView, public IMainView {
public:
    frmMainView();
    ~frmMainView() override;
    void Attach(MainForm& form) { form_ = &form; }

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
    std::optional<std::size_t> AskFolder(const std::string& text, const std::vector<std::string>& folders) override;
    void ShowWindow() override;
    void CloseWindow() override;
    // A failure report ends the process at once.
    bool Ending() const override { return false; }
    void RunInBackground(const std::function<void()>& work, const std::function<void()>& pump) override;
    void Wake() override;

private:
    void Command(int id, int code) override;
    void CloseRequested() override;
    std::optional<LRESULT> Message(UINT message, WPARAM wParam, LPARAM lParam) override;

    MainForm* form_ = nullptr;
    bool hourglass_ = false;
    std::string droppedFile_;
    // The running RunInBackground's: its pump, and whether a wake is on its way.
    const std::function<void()>* pump_ = nullptr;
    std::atomic<bool> wakePending_{false};
};

// What the two modal windows share: their logic while shown, message boxes and the open dialog
// over the window, and hiding when the logic closes it (the window goes once its ShowModal has
// let go of the logic). Defined where the two windows are.
template <class View, class Form>
class ModalView : public WindowView, public View {
public:
    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;

protected:
    explicit ModalView(const WindowLayout& layout) : WindowView(layout) {}
    // Loads form, shows the window modal over owner with the focus on focus until the logic
    // closes it, and lets go of form.
    void RunModalWith(Form& form, HWND owner, ControlId focus);
    void Hide();

    Form* form_ = nullptr;
    bool closed_ = false;
};

// The options dialog's view, shown modally by ShowModal.
class frmOptionView : public ModalView<IOptionView, OptionForm> {
public:
    // Shows the dialog for settings modally over owner (centred on the screen when owner is
    // null) and returns whether it stored a new game folder.
    static bool ShowModal(modMain& settings, HWND owner);

    void SetPathText(const std::string& text) override;
    void CloseDialog(bool) override { Hide(); }

private:
    frmOptionView() : ModalView(kOptionLayout) {}
    void Command(int id, int code) override;
    void CloseRequested() override;
};

// The "Installed mods" window's view, shown modally by ShowModal.
class frmModsView : public ModalView<IModsView, ModsForm> {
public:
    static void ShowModal(modMain& settings, HWND owner);

    void SetListRows(const std::vector<std::vector<std::string>>& rows, int selected, const std::string& note) override;
    void SetDetailsText(const std::string& text) override;
    void SetCommandsEnabled(bool enabled) override;
    bool AskYesNo(const std::string& text, const std::string& title) override;
    void CloseDialog() override { Hide(); }

private:
    frmModsView() : ModalView(kModsLayout) {}
    // lstMods' columns, sized so that it never scrolls sideways.
    void MakeColumns();
    void Command(int id, int code) override;
    void CloseRequested() override;
    // Activation (the history is read again) and lstMods' selection changes.
    std::optional<LRESULT> Message(UINT message, WPARAM wParam, LPARAM lParam) override;

    bool listing_ = false;   // lstMods is being filled: its selection changes are not the user's
    int noteColumn_ = 0;     // where a list without installs says why
};

// The "Choose a folder" dialog's view: which folder of a download to install from.
class frmFolderView : public WindowView {
public:
    // Shows text above the folders, the first one chosen, modally over owner; the folder chosen
    // with OK (or a double click), nothing after Cancel, Esc or the frame's close.
    static std::optional<std::size_t> ShowModal(const std::string& text, const std::vector<std::string>& folders, HWND owner);

private:
    frmFolderView() : WindowView(kFolderLayout) {}
    void Command(int id, int code) override;
    void CloseRequested() override { closed_ = true; }

    std::optional<std::size_t> chosen_;
    bool closed_ = false;
};

} // namespace tessera::win32ui

#endif
