// The Win32 views of frmMain, frmOption and frmMods.
#ifdef _WIN32

#include "Win32Forms.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

namespace tessera::win32ui {

namespace {

constexpr const char* kMainClass = "TesseraMain";
constexpr const char* kOptionClass = "TesseraOptions";
constexpr const char* kModsClass = "TesseraMods";
constexpr int kIconId = 1;
// Posted after a drop, so the file is taken once the program it came from is free again.
constexpr UINT kTakeDroppedFile = WM_APP + 1;

HINSTANCE gInstance = nullptr;
int gDpi = 96;
HFONT gFont = nullptr;

int Scale(int pixels) { return ::MulDiv(pixels, gDpi, 96); }

// Exceptions must not cross the system's window procedures: a failure that no routine handled
// is reported and ends the program.
template <class Handler>
void RunHandler(HWND owner, Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        ::MessageBoxA(owner && ::IsWindowVisible(owner) ? owner : nullptr, failure.what(), FailureTitle(failure).c_str(), MB_OK);
        ::ExitProcess(1);
    }
}

HWND MakeControl(HWND parent, const char* windowClass, const char* text, DWORD style, DWORD exStyle, int id, int left, int top,
                 int width, int height)
{
    const HWND control = ::CreateWindowExA(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, Scale(left), Scale(top),
                                           Scale(width), Scale(height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                           gInstance, nullptr);
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(gFont), FALSE);
    return control;
}

// A fixed-size window whose client area is width x height at 96 dpi.
HWND MakeWindow(const char* windowClass, const char* caption, HWND owner, HMENU menu, int width, int height, void* self)
{
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(width), Scale(height)};
    ::AdjustWindowRectEx(&frame, style, menu != nullptr, 0);
    return ::CreateWindowExA(0, windowClass, caption, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                             frame.bottom - frame.top, owner, menu, gInstance, self);
}

// Centres window over owner, or over the screen's work area when owner is null.
void Centre(HWND window, HWND owner)
{
    RECT area{};
    if (owner)
        ::GetWindowRect(owner, &area);
    else
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT frame{};
    ::GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// One message: Tab, Enter and Esc work as in dialogs in whichever window is active.
void Dispatch(MSG& message)
{
    const HWND active = ::GetActiveWindow();
    if (active && ::IsDialogMessageA(active, &message))
        return;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
}

// Shows window modal over owner, the focus on focus, and runs messages until closed is set.
// Returns the quit code when the program was asked to end meanwhile, for EndModal to pass on.
std::optional<int> RunModal(HWND window, HWND owner, HWND focus, const bool& closed)
{
    Centre(window, owner && ::IsWindowVisible(owner) ? owner : nullptr);
    if (owner)
        ::EnableWindow(owner, FALSE);
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetFocus(focus);

    MSG message{};
    std::optional<int> quit;
    while (!closed) {
        if (::GetMessageA(&message, nullptr, 0, 0) <= 0) {
            quit = static_cast<int>(message.wParam);
            break;
        }
        Dispatch(message);
    }
    if (owner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    return quit;
}

// Destroys a modal window once its view has let go of its form, and passes on a quit request.
void EndModal(HWND window, std::optional<int> quit)
{
    ::DestroyWindow(window);
    if (quit)
        ::PostQuitMessage(*quit);
}

// The program folder's open-file dialog: the 76-byte OPENFILENAME record of the design (its
// pre-Windows-2000 form), Flags 0, a 255-character file buffer padded with spaces.
std::string OpenFileDialog(HWND owner, const std::string& title, const std::string& filterDescription, const std::string& pattern,
                           const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    std::string filter = filterDescription;
    filter += '\0';
    filter += pattern;
    filter += '\0';
    for (const FileFilter& more : moreFilters) {
        filter += more.description;
        filter += '\0';
        // The dialog separates the patterns of one entry with semicolons.
        std::string patterns = more.pattern;
        std::replace(patterns.begin(), patterns.end(), ' ', ';');
        filter += patterns;
        filter += '\0';
    }
    filter += '\0';
    char file[255];
    std::memset(file, ' ', 254);
    file[254] = '\0';
    char fileTitle[255];
    std::memset(fileTitle, ' ', 254);
    fileTitle[254] = '\0';
    OPENFILENAMEA record{};
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.hwndOwner = owner;
    record.hInstance = gInstance;
    record.lpstrFilter = filter.c_str();
    record.lpstrFile = file;
    record.nMaxFile = 255;
    record.lpstrFileTitle = fileTitle;
    record.nMaxFileTitle = 255;
    record.lpstrInitialDir = startFolder.c_str();
    record.lpstrTitle = title.c_str();
    record.Flags = 0;
    if (!::GetOpenFileNameA(&record))
        return {};
    // The path, its NUL, and the padding the dialog left.
    return std::string(file, 254);
}

} // namespace

void Initialise(HINSTANCE instance)
{
    gInstance = instance;
    ::SetProcessDPIAware();
    const HDC screen = ::GetDC(nullptr);
    gDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        gFont = ::CreateFontIndirectA(&metrics.lfMessageFont);
    if (!gFont)
        gFont = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));

    const HICON icon = ::LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));   // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpfnWndProc = &frmMainView::WndProc;
    windowClass.lpszClassName = kMainClass;
    ::RegisterClassExA(&windowClass);
    windowClass.lpfnWndProc = &frmOptionView::WndProc;
    windowClass.lpszClassName = kOptionClass;
    ::RegisterClassExA(&windowClass);
    windowClass.lpfnWndProc = &frmModsView::WndProc;
    windowClass.lpszClassName = kModsClass;
    ::RegisterClassExA(&windowClass);
}

int RunMessageLoop()
{
    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        Dispatch(message);
    return static_cast<int>(message.wParam);
}

// --- frmMain ---------------------------------------------------------------------------------

frmMainView::frmMainView()
{
    const HMENU bar = ::CreateMenu();
    const HMENU file = ::CreatePopupMenu();
    ::AppendMenuA(file, MF_STRING, kMnuQuit, "&Quit");
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    const HMENU setup = ::CreatePopupMenu();
    ::AppendMenuA(setup, MF_STRING, kMnuOption, "&Options...");
    ::AppendMenuA(setup, MF_STRING, kMnuMods, "Installed &mods...");
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(setup), "&Setup");
    const HMENU question = ::CreatePopupMenu();
    ::AppendMenuA(question, MF_STRING, kMnuAbout, "&About...");
    ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(question), "&?");

    hwnd_ = MakeWindow(kMainClass, std::string(kMainCaption).c_str(), nullptr, bar, 544, 79, this);
    // In tab order: creation order, static texts taking no focus.
    MakeControl(hwnd_, "EDIT", std::string(kNoPackageText).c_str(), WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                kLblSource, 4, 20, 437, 21);
    MakeControl(hwnd_, "BUTTON", "Browse...", WS_TABSTOP | BS_PUSHBUTTON, 0, kCmdBrowseSource, 444, 20, 97, 23);
    MakeControl(hwnd_, "STATIC", "Source :", SS_LEFT, 0, kLabel3, 4, 4, 137, 13);
    const HWND install = MakeControl(hwnd_, "BUTTON", "Install the MOD", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kCmdInstall, 224, 52, 97, 23);
    ::EnableWindow(install, FALSE);
    ::DragAcceptFiles(hwnd_, TRUE);
}

frmMainView::~frmMainView()
{
    if (hwnd_ && ::IsWindow(hwnd_)) {
        ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

void frmMainView::ShowMessage(const std::string& text, const std::string& title)
{
    ::MessageBoxA(::IsWindowVisible(hwnd_) ? hwnd_ : nullptr, text.c_str(), title.c_str(), MB_OK);
}

std::string frmMainView::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                                 const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return OpenFileDialog(hwnd_, title, filterDescription, pattern, startFolder, moreFilters);
}

void frmMainView::DoEvents()
{
    MSG message{};
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        Dispatch(message);
    }
}

void frmMainView::SetCaption(const std::string& caption) { ::SetWindowTextA(hwnd_, caption.c_str()); }

void frmMainView::SetPointer(Pointer pointer)
{
    hourglass_ = pointer == Pointer::Hourglass;
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(hourglass_ ? 32514 : 32512)));   // IDC_WAIT, IDC_ARROW
}

void frmMainView::SetButtonEnabled(Button button, bool enabled)
{
    ::EnableWindow(::GetDlgItem(hwnd_, button == Button::Install ? kCmdInstall : kCmdBrowseSource), enabled ? TRUE : FALSE);
}

void frmMainView::SetSourceText(const std::string& text) { ::SetDlgItemTextA(hwnd_, kLblSource, text.c_str()); }

bool frmMainView::ShowOptions(modMain& settings, bool overMainWindow)
{
    return frmOptionView::ShowModal(settings, overMainWindow ? hwnd_ : nullptr);
}

void frmMainView::ShowMods(modMain& settings) { frmModsView::ShowModal(settings, hwnd_); }

bool frmMainView::AskYesNo(const std::string& text, const std::string& title)
{
    return ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void frmMainView::ShowWindow()
{
    Centre(hwnd_, nullptr);
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    ::SetFocus(::GetDlgItem(hwnd_, kLblSource));
}

void frmMainView::CloseWindow()
{
    if (hwnd_ && ::IsWindow(hwnd_))
        ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmMainView::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<frmMainView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<frmMainView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return self ? self->Handle(message, wParam, lParam) : ::DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT frmMainView::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DM_GETDEFID:
        return MAKELRESULT(kCmdInstall, DC_HASDEFID);
    case WM_COMMAND: {
        if (!form_)
            break;
        const int id = LOWORD(wParam);
        const bool clicked = HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == 0;
        MainForm& form = *form_;
        if (!clicked)
            break;
        // Enter comes as IDOK: the default button, when it takes clicks.
        if ((id == kCmdInstall || id == IDOK) && ::IsWindowEnabled(::GetDlgItem(hwnd_, kCmdInstall)))
            RunHandler(hwnd_, [&] { form.cmdInstall_Click(); });
        else if (id == kCmdBrowseSource && ::IsWindowEnabled(::GetDlgItem(hwnd_, kCmdBrowseSource)))
            RunHandler(hwnd_, [&] { form.cmdBrowseSource_Click(); });
        else if (id == kMnuQuit)
            RunHandler(hwnd_, [&] { form.mnuQuit_Click(); });
        else if (id == kMnuOption)
            RunHandler(hwnd_, [&] { form.mnuOption_Click(); });
        else if (id == kMnuMods)
            RunHandler(hwnd_, [&] { form.mnuMods_Click(); });
        else if (id == kMnuAbout)
            RunHandler(hwnd_, [&] { form.mnuAbout_Click(); });
        return 0;
    }
    case WM_SETCURSOR:
        if (hourglass_ && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
        // The read-only field keeps a white background like an editable one.
        if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(hwnd_, kLblSource))
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
        break;
    case WM_DROPFILES: {
        // One file, taken as if chosen with Browse; nothing is taken while an install runs.
        const HDROP drop = reinterpret_cast<HDROP>(wParam);
        if (form_ && !form_->Installing() && ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
            std::vector<char> path(::DragQueryFileA(drop, 0, nullptr, 0) + 1, '\0');
            ::DragQueryFileA(drop, 0, path.data(), static_cast<UINT>(path.size()));
            droppedFile_ = path.data();
            ::PostMessageA(hwnd_, kTakeDroppedFile, 0, 0);
        }
        ::DragFinish(drop);
        return 0;
    }
    case kTakeDroppedFile:
        if (form_ && !form_->Installing() && !droppedFile_.empty()) {
            const std::string dropped = droppedFile_;
            droppedFile_.clear();
            RunHandler(hwnd_, [&] { form_->TakePackage(dropped); });
        }
        return 0;
    case WM_CLOSE:
        if (!form_ || form_->QueryClose())
            ::DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

// --- frmOption -------------------------------------------------------------------------------

bool frmOptionView::ShowModal(modMain& settings, HWND owner)
{
    frmOptionView view;
    view.hwnd_ = MakeWindow(kOptionClass, "Options", owner, nullptr, 493, 88, &view);
    const HWND cancel = MakeControl(view.hwnd_, "BUTTON", "Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, kCmdCancel, 164, 56, 77, 29);
    MakeControl(view.hwnd_, "BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kCmdDone, 252, 56, 77, 29);
    MakeControl(view.hwnd_, "STATIC", "", SS_LEFT | SS_NOPREFIX, 0, kLblGTA3Path, 4, 24, 417, 21);
    MakeControl(view.hwnd_, "BUTTON", "Browse", WS_TABSTOP | BS_PUSHBUTTON, 0, kCmdGTA3Browse, 428, 24, 57, 21);
    MakeControl(view.hwnd_, "STATIC", "GTA3 Path :", SS_LEFT, 0, kLabel1, 4, 8, 121, 17);

    OptionForm form(settings, view);
    view.form_ = &form;
    RunHandler(owner, [&] { form.Form_Load(); });

    const std::optional<int> quit = RunModal(view.hwnd_, owner, cancel, view.closed_);
    view.form_ = nullptr;
    EndModal(view.hwnd_, quit);
    return form.Saved();
}

void frmOptionView::ShowMessage(const std::string& text, const std::string& title)
{
    ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_OK);
}

std::string frmOptionView::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                                   const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return OpenFileDialog(hwnd_, title, filterDescription, pattern, startFolder, moreFilters);
}

void frmOptionView::SetPathText(const std::string& text) { ::SetDlgItemTextA(hwnd_, kLblGTA3Path, text.c_str()); }

void frmOptionView::CloseDialog(bool)
{
    closed_ = true;
    ::ShowWindow(hwnd_, SW_HIDE);
}

LRESULT CALLBACK frmOptionView::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<frmOptionView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<frmOptionView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return self ? self->Handle(message, wParam, lParam) : ::DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT frmOptionView::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DM_GETDEFID:
        return MAKELRESULT(kCmdDone, DC_HASDEFID);
    case WM_COMMAND: {
        if (!form_ || closed_)
            return 0;
        OptionForm& form = *form_;
        switch (LOWORD(wParam)) {
        case kCmdDone:
        case IDOK:
            RunHandler(hwnd_, [&] { form.cmdDone_Click(); });
            break;
        case IDCANCEL:   // Esc: the dialog's cancel button is OK
            RunHandler(hwnd_, [&] { form.Escape_Pressed(); });
            break;
        case kCmdCancel:
            RunHandler(hwnd_, [&] { form.cmdCancel_Click(); });
            break;
        case kCmdGTA3Browse:
            RunHandler(hwnd_, [&] { form.cmdGTA3Browse_Click(); });
            break;
        default:
            break;
        }
        return 0;
    }
    case WM_CLOSE:
        if (form_ && !closed_)
            RunHandler(hwnd_, [&] { form_->Frame_Closed(); });
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

// --- frmMods ---------------------------------------------------------------------------------

void frmModsView::ShowModal(modMain& settings, HWND owner)
{
    frmModsView view;
    view.hwnd_ = MakeWindow(kModsClass, std::string(kModsCaption).c_str(), owner, nullptr, 600, 360, &view);
    const HWND list = MakeControl(view.hwnd_, "LISTBOX", "", WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                                  WS_EX_CLIENTEDGE, kLstMods, 4, 4, 592, 150);
    // Wide enough for its longest line to scroll into view.
    ::SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(Scale(1200)), 0);
    MakeControl(view.hwnd_, "BUTTON", "Details", WS_TABSTOP | BS_PUSHBUTTON, 0, kCmdDetails, 353, 326, 77, 29);
    MakeControl(view.hwnd_, "BUTTON", "Uninstall", WS_TABSTOP | BS_PUSHBUTTON, 0, kCmdUninstall, 436, 326, 77, 29);
    MakeControl(view.hwnd_, "BUTTON", "Close", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kCmdClose, 519, 326, 77, 29);
    const HWND details = MakeControl(view.hwnd_, "EDIT", "",
                                     WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                     WS_EX_CLIENTEDGE, kTxtDetails, 4, 160, 592, 160);
    // Paths and names line up in a fixed-pitch font, as the console shows them.
    ::SendMessageA(details, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(ANSI_FIXED_FONT)), FALSE);

    ModsForm form(settings, view);
    view.form_ = &form;
    RunHandler(owner, [&] { form.Form_Load(); });

    const std::optional<int> quit = RunModal(view.hwnd_, owner, list, view.closed_);
    view.form_ = nullptr;
    EndModal(view.hwnd_, quit);
}

void frmModsView::ShowMessage(const std::string& text, const std::string& title)
{
    ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_OK);
}

std::string frmModsView::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                                 const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return OpenFileDialog(hwnd_, title, filterDescription, pattern, startFolder, moreFilters);
}

void frmModsView::SetListLines(const std::vector<std::string>& lines, int selected)
{
    const HWND list = ::GetDlgItem(hwnd_, kLstMods);
    ::SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : lines)
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    // A selection set here sends no LBN_SELCHANGE: only the user's choices reach the logic.
    ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void frmModsView::SetDetailsText(const std::string& text) { ::SetDlgItemTextA(hwnd_, kTxtDetails, text.c_str()); }

void frmModsView::SetCommandsEnabled(bool enabled)
{
    ::EnableWindow(::GetDlgItem(hwnd_, kCmdDetails), enabled ? TRUE : FALSE);
    ::EnableWindow(::GetDlgItem(hwnd_, kCmdUninstall), enabled ? TRUE : FALSE);
}

bool frmModsView::AskYesNo(const std::string& text, const std::string& title)
{
    return ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void frmModsView::CloseDialog()
{
    closed_ = true;
    ::ShowWindow(hwnd_, SW_HIDE);
}

LRESULT CALLBACK frmModsView::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<frmModsView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<frmModsView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return self ? self->Handle(message, wParam, lParam) : ::DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT frmModsView::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DM_GETDEFID:
        return MAKELRESULT(kCmdClose, DC_HASDEFID);
    case WM_COMMAND: {
        if (!form_ || closed_)
            return 0;
        ModsForm& form = *form_;
        const int id = LOWORD(wParam);
        if (id == kLstMods) {
            if (HIWORD(wParam) == LBN_SELCHANGE) {
                const auto index = static_cast<int>(::SendMessageA(::GetDlgItem(hwnd_, kLstMods), LB_GETCURSEL, 0, 0));
                RunHandler(hwnd_, [&] { form.lstMods_Click(index); });
            }
            return 0;
        }
        switch (id) {
        case kCmdDetails:
            RunHandler(hwnd_, [&] { form.cmdDetails_Click(); });
            break;
        case kCmdUninstall:
            RunHandler(hwnd_, [&] { form.cmdUninstall_Click(); });
            break;
        case kCmdClose:
        case IDOK:
        case IDCANCEL:   // Esc
            RunHandler(hwnd_, [&] { form.cmdClose_Click(); });
            break;
        default:
            break;
        }
        return 0;
    }
    case WM_CLOSE:
        if (form_ && !closed_)
            RunHandler(hwnd_, [&] { form_->cmdClose_Click(); });
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

} // namespace tessera::win32ui

#endif
