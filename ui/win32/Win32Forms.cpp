// The Win32 view of frmMain, and what every window shares.
#ifdef _WIN32

#include "Win32Forms.h"
#include "Win32Shared.h"

#include <commctrl.h>
#include <commdlg.h>
#include <oleacc.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace tessera::win32ui {

namespace {

constexpr const char* kWindowClass = "TesseraWindow";
constexpr int kIconId = 1;
// Posted after a drop, so the file is taken once the program it came from is free again.
constexpr UINT kTakeDroppedFile = WM_APP + 1;
// Posted by a job's thread: the window shows what the job told.
constexpr UINT kJobWake = WM_APP + 2;

HINSTANCE gInstance = nullptr;
int gDpi = 96;
HFONT gFont = nullptr;

} // namespace

int Scale(int pixels) { return ::MulDiv(pixels, gDpi, 96); }

namespace {

// The window class, styles and extended styles of a control of kind; the layout's default
// button is a default push button.
struct ControlClass {
    const char* windowClass;
    DWORD style;
    DWORD exStyle;
};

ControlClass ClassOf(ControlKind kind, bool isDefault)
{
    switch (kind) {
    case ControlKind::Field:
        return {"EDIT", WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::Button:
        return {"BUTTON", static_cast<DWORD>(WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)), 0};
    case ControlKind::Label:
        return {"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::List:
        return {"LISTBOX", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE};
    case ControlKind::Table:
        return {WC_LISTVIEWA, WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, WS_EX_CLIENTEDGE};
    case ControlKind::TextPane:
        // Without a horizontal scroll bar the edit control wraps its lines at its width.
        return {"EDIT", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::HiddenList:
        break;
    }
    return {nullptr, 0, 0};
}

// Gives control the name a screen reader reads for it, where it has no caption of its own to be
// read by (dynamic annotation). Without the system's annotation service it keeps none.
void NameForScreenReaders(HWND control, std::string_view name)
{
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  reinterpret_cast<void**>(&services))))
        return;
    const std::wstring wide = win32::Wide(std::string(name));
    services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, wide.c_str());
    services->Release();
}

void ForgetScreenReaderName(HWND control)
{
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  reinterpret_cast<void**>(&services))))
        return;
    MSAAPROPID name = PROPID_ACC_NAME;
    services->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name, 1);
    services->Release();
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

// Whether window is the options dialog, where Enter presses OK whichever button has the focus.
bool EnterPressesOk(HWND window)
{
    // Its caption never changes; every window shares one class.
    char caption[32] = {};
    return ::GetWindowTextA(window, caption, sizeof caption) > 0 && std::string_view(caption) == kOptionLayout.caption;
}

// One message: Tab, Enter and Esc work as in dialogs in whichever window is active.
void Dispatch(MSG& message)
{
    const HWND active = ::GetActiveWindow();
    // The dialog manager would press a focused Cancel.
    if (active && message.message == WM_KEYDOWN && message.wParam == VK_RETURN && EnterPressesOk(active)) {
        ::SendMessageA(active, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
    }
    if (active && ::IsDialogMessageA(active, &message))
        return;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
}

} // namespace

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
        // The dialog separates the patterns of one entry with semicolons, and the description
        // shows them so: "Mod archives (*.zip;*.7z;*.rar)".
        std::string patterns = more.pattern;
        std::replace(patterns.begin(), patterns.end(), ' ', ';');
        std::string description = more.description;
        if (const auto at = description.find(more.pattern); at != std::string::npos)
            description.replace(at, more.pattern.size(), patterns);
        filter += description;
        filter += '\0';
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


void Initialise(HINSTANCE instance)
{
    gInstance = instance;
    // The screen readers' name service is a COM object; the open-file dialog wants COM too.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::SetProcessDPIAware();
    const INITCOMMONCONTROLSEX commonControls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&commonControls);
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
    windowClass.lpfnWndProc = &WindowView::WndProc;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExA(&windowClass);
}

int RunMessageLoop()
{
    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        Dispatch(message);
    return static_cast<int>(message.wParam);
}

// --- what the windows share ------------------------------------------------------------------

WindowView::~WindowView()
{
    if (hwnd_ && ::IsWindow(hwnd_)) {
        ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

void WindowView::Create(HWND owner, HMENU menu)
{
    // A fixed-size window whose client area has the layout's size at 96 dpi.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(layout_.width), Scale(layout_.height)};
    ::AdjustWindowRectEx(&frame, style, menu != nullptr, 0);
    ::CreateWindowExA(0, kWindowClass, std::string(layout_.caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, owner, menu, gInstance, this);
    // Made in tab order, which Tab follows; static texts take no focus.
    for (const ControlLayout& row : layout_.controls) {
        const ControlClass made = ClassOf(row.kind, row.id == layout_.defaultButton);
        if (!made.windowClass || row.id == kNoId)
            continue;
        const HWND control = ::CreateWindowExA(made.exStyle, made.windowClass, std::string(row.text).c_str(), WS_CHILD | WS_VISIBLE | made.style,
                                               Scale(row.rect.left), Scale(row.rect.top), Scale(row.rect.width), Scale(row.rect.height),
                                               hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), gInstance, nullptr);
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(gFont), FALSE);
        if (!row.accessibleName.empty())
            NameForScreenReaders(control, row.accessibleName);
    }
}

LRESULT CALLBACK WindowView::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<WindowView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<WindowView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return self ? self->OnMessage(message, wParam, lParam) : ::DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT WindowView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DM_GETDEFID:
        return MAKELRESULT(layout_.defaultButton, DC_HASDEFID);
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        CloseRequested();
        return 0;
    case WM_CTLCOLORSTATIC:
        // A read-only field or pane keeps the background of an editable one, not the window's grey.
        for (const ControlLayout& row : layout_.controls)
            if ((row.kind == ControlKind::Field || row.kind == ControlKind::TextPane) && reinterpret_cast<HWND>(lParam) == Item(row.id)) {
                const HDC dc = reinterpret_cast<HDC>(wParam);
                ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            }
        break;
    case WM_DESTROY:
        for (const ControlLayout& row : layout_.controls)
            if (!row.accessibleName.empty() && row.id != kNoId)
                ForgetScreenReaderName(Item(row.id));
        break;
    default:
        break;
    }
    if (const std::optional<LRESULT> handled = Message(message, wParam, lParam))
        return *handled;
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

// --- frmMain ---------------------------------------------------------------------------------

frmMainView::frmMainView() : WindowView(kMainLayout)
{
    const HMENU bar = ::CreateMenu();
    HMENU menu = nullptr;
    for (const MenuLayout& row : kMainMenu) {
        if (row.id == kNoId) {
            menu = ::CreatePopupMenu();
            ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), std::string(row.text).c_str());
        } else {
            ::AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(row.id), std::string(row.text).c_str());
        }
    }
    Create(nullptr, bar);
    ::EnableWindow(Item(kCmdInstall), FALSE);
    ::DragAcceptFiles(hwnd_, TRUE);
}

frmMainView::~frmMainView() = default;

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

void frmMainView::RunInBackground(const std::function<void()>& work, const std::function<void()>& pump)
{
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    const std::function<void()>* outer = pump_;
    pump_ = &pump;
    std::thread worker = StartWork(work, failure, [&] {
        done = true;
        wakePending_ = false;
        Wake();
    });
    // The window's messages run as in the program's own loop until the job has ended; a quit
    // asked for meanwhile is passed on afterwards.
    std::optional<int> quit;
    MSG message{};
    while (!done) {
        if (::GetMessageA(&message, nullptr, 0, 0) <= 0) {
            // The job may be waiting for its message to be shown: the loop goes on until it ends.
            quit = static_cast<int>(message.wParam);
            continue;
        }
        Dispatch(message);
    }
    worker.join();
    pump_ = outer;
    if (quit)
        ::PostQuitMessage(*quit);
    if (failure)
        std::rethrow_exception(failure);
}

void frmMainView::Wake()
{
    // One wake on its way is enough: its pump shows everything that came until it runs.
    if (!wakePending_.exchange(true))
        ::PostMessageA(hwnd_, kJobWake, 0, 0);
}

void frmMainView::SetCaption(const std::string& caption) { ::SetWindowTextA(hwnd_, caption.c_str()); }

void frmMainView::SetPointer(Pointer pointer)
{
    hourglass_ = pointer == Pointer::Hourglass;
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(hourglass_ ? 32514 : 32512)));   // IDC_WAIT, IDC_ARROW
}

void frmMainView::SetButtonEnabled(Button button, bool enabled)
{
    ::EnableWindow(Item(button == Button::Install ? kCmdInstall : kCmdBrowseSource), enabled ? TRUE : FALSE);
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

std::optional<std::size_t> frmMainView::AskFolder(const std::string& text, const std::vector<std::string>& folders)
{
    return frmFolderView::ShowModal(text, folders, hwnd_);
}

void frmMainView::ShowWindow()
{
    Centre(hwnd_, nullptr);
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    ::SetFocus(Item(kLblSource));
}

void frmMainView::CloseWindow()
{
    if (hwnd_ && ::IsWindow(hwnd_))
        ::DestroyWindow(hwnd_);
}

void frmMainView::Command(int id, int code)
{
    if (!form_ || (code != BN_CLICKED && code != 0))
        return;
    MainForm& form = *form_;
    // Enter comes as IDOK: the default button, when it takes clicks.
    if ((id == kCmdInstall || id == IDOK) && ::IsWindowEnabled(Item(kCmdInstall))) {
        RunHandler(hwnd_, [&] { form.cmdInstall_Click(); });
    } else if (id == kCmdBrowseSource && ::IsWindowEnabled(Item(kCmdBrowseSource))) {
        RunHandler(hwnd_, [&] { form.cmdBrowseSource_Click(); });
    } else {
        for (const MenuLayout& row : kMainMenu)
            if (row.id != kNoId && row.id == id)
                RunHandler(hwnd_, [&] { (form.*row.click)(); });
    }
}

void frmMainView::CloseRequested()
{
    if (!form_ || form_->QueryClose())
        ::DestroyWindow(hwnd_);
}

std::optional<LRESULT> frmMainView::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETCURSOR:
        if (hourglass_ && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
            return TRUE;
        }
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
            RunHandler(hwnd_, [&] { form_->TakeGivenFile(dropped); });
        }
        return 0;
    case kJobWake:
        wakePending_ = false;
        if (pump_)
            RunHandler(hwnd_, [&] { (*pump_)(); });
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace tessera::win32ui

#endif
