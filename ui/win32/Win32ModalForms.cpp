// The Win32 views of the modal windows: frmOption, frmMods and the choice of a folder.
#ifdef _WIN32

#include "Win32Forms.h"
#include "Win32Shared.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tessera::win32ui {

// --- what the modal windows share ------------------------------------------------------------

template <class View, class Form>
void ModalView<View, Form>::ShowMessage(const std::string& text, const std::string& title)
{
    ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_OK);
}

template <class View, class Form>
std::string ModalView<View, Form>::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                                           const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return OpenFileDialog(hwnd_, title, filterDescription, pattern, startFolder, moreFilters);
}

template <class View, class Form>
void ModalView<View, Form>::RunModalWith(Form& form, HWND owner, ControlId focus)
{
    form_ = &form;
    RunHandler(owner, [&] { form.Form_Load(); });
    const std::optional<int> quit = RunModal(hwnd_, owner, Item(focus), closed_);
    form_ = nullptr;
    EndModal(hwnd_, quit);
}

template <class View, class Form>
void ModalView<View, Form>::Hide()
{
    closed_ = true;
    ::ShowWindow(hwnd_, SW_HIDE);
}

// --- frmOption -------------------------------------------------------------------------------

bool frmOptionView::ShowModal(modMain& settings, HWND owner)
{
    frmOptionView view;
    view.Create(owner, nullptr);
    OptionForm form(settings, view);
    view.RunModalWith(form, owner, kCmdCancel);
    return form.Saved();
}

void frmOptionView::SetPathText(const std::string& text) { ::SetDlgItemTextA(hwnd_, kLblGTA3Path, text.c_str()); }

void frmOptionView::Command(int id, int)
{
    if (!form_ || closed_)
        return;
    OptionForm& form = *form_;
    switch (id) {
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
}

void frmOptionView::CloseRequested()
{
    if (form_ && !closed_)
        RunHandler(hwnd_, [&] { form_->Frame_Closed(); });
}

// --- frmMods ---------------------------------------------------------------------------------

void frmModsView::ShowModal(modMain& settings, HWND owner)
{
    frmModsView view;
    view.Create(owner, nullptr);
    view.MakeColumns();
    // Paths and names line up in a fixed-pitch font, as the console shows them.
    ::SendMessageA(view.Item(kTxtDetails), WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(ANSI_FIXED_FONT)), FALSE);

    ModsForm form(settings, view);
    view.RunModalWith(form, owner, kLstMods);
}

void frmModsView::MakeColumns()
{
    const HWND list = Item(kLstMods);
    ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // The column of width 0 takes what the others and a vertical scroll bar leave, so that the
    // list never scrolls sideways.
    RECT client{};
    ::GetClientRect(list, &client);
    int rest = client.right - client.left - ::GetSystemMetrics(SM_CXVSCROLL);
    for (const ColumnLayout& column : kModsColumns)
        rest -= Scale(column.width);
    for (std::size_t i = 0; i < kModsColumns.size(); ++i) {
        const ColumnLayout& column = kModsColumns[i];
        std::string title(column.title);
        LVCOLUMNA made{};
        made.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        // The first column of a list view is always left-aligned.
        made.fmt = column.numeric && i > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        made.cx = column.width == 0 ? std::max(rest, Scale(40)) : Scale(column.width);
        made.pszText = title.data();
        made.iSubItem = static_cast<int>(i);
        ::SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&made));
        if (column.width == 0)
            noteColumn_ = static_cast<int>(i);
    }
}

void frmModsView::SetListRows(const std::vector<std::vector<std::string>>& rows, int selected, const std::string& note)
{
    const HWND list = Item(kLstMods);
    listing_ = true;
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    const auto setCell = [list](int row, int column, const std::string& text) {
        std::string cell = text;
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = column;
        item.pszText = cell.data();
        if (column == 0)
            ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        else
            ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    };
    for (std::size_t row = 0; row < rows.size(); ++row)
        for (std::size_t column = 0; column < rows[row].size() && column < kModsColumns.size(); ++column)
            setCell(static_cast<int>(row), static_cast<int>(column), rows[row][column]);
    // A list with nothing to choose says why in its widest column.
    if (rows.empty() && !note.empty()) {
        setCell(0, 0, {});
        setCell(0, noteColumn_, note);
    }
    if (selected >= 0) {
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
        ::SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
    }
    // The selection set here is not the user's: its notifications do not reach the logic.
    listing_ = false;
}

void frmModsView::SetDetailsText(const std::string& text) { ::SetDlgItemTextA(hwnd_, kTxtDetails, text.c_str()); }

void frmModsView::SetCommandsEnabled(bool enabled)
{
    ::EnableWindow(Item(kCmdDetails), enabled ? TRUE : FALSE);
    ::EnableWindow(Item(kCmdUninstall), enabled ? TRUE : FALSE);
}

bool frmModsView::AskYesNo(const std::string& text, const std::string& title)
{
    return ::MessageBoxA(hwnd_, text.c_str(), title.c_str(), MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void frmModsView::Command(int id, int)
{
    if (!form_ || closed_)
        return;
    ModsForm& form = *form_;
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
}

void frmModsView::CloseRequested()
{
    if (form_ && !closed_)
        RunHandler(hwnd_, [&] { form_->cmdClose_Click(); });
}

std::optional<LRESULT> frmModsView::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!form_ || closed_)
        return std::nullopt;
    ModsForm& form = *form_;
    switch (message) {
    case WM_ACTIVATE:
        // Coming to the front lists what was installed meanwhile; the system still sets the focus.
        if (LOWORD(wParam) != WA_INACTIVE)
            RunHandler(hwnd_, [&] { form.Form_Activate(); });
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != kLstMods || header->code != LVN_ITEMCHANGED || listing_)
            break;
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (!(change->uChanged & LVIF_STATE) || !((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
            break;
        const auto index = static_cast<int>(::SendMessageA(Item(kLstMods), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        if (index != form.Selected())
            RunHandler(hwnd_, [&] { form.lstMods_Click(index); });
        return 0;
    }
    default:
        break;
    }
    return std::nullopt;
}

// --- frmFolder -------------------------------------------------------------------------------

std::optional<std::size_t> frmFolderView::ShowModal(const std::string& text, const std::vector<std::string>& folders, HWND owner)
{
    frmFolderView view;
    view.Create(owner, nullptr);
    ::SetDlgItemTextA(view.hwnd_, kLblFolderQuestion, text.c_str());
    const HWND list = view.Item(kLstFolders);
    for (const std::string& folder : folders)
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    ::SendMessageA(list, LB_SETCURSEL, 0, 0);
    const std::optional<int> quit = RunModal(view.hwnd_, owner, list, view.closed_);
    EndModal(view.hwnd_, quit);
    return quit ? std::nullopt : view.chosen_;
}

void frmFolderView::Command(int id, int code)
{
    if (closed_)
        return;
    switch (id) {
    case kLstFolders:
        if (code != LBN_DBLCLK)
            break;
        [[fallthrough]];
    case kCmdFolderOk:
    case IDOK: {
        const LRESULT index = ::SendMessageA(Item(kLstFolders), LB_GETCURSEL, 0, 0);
        if (index != LB_ERR)
            chosen_ = static_cast<std::size_t>(index);
        closed_ = true;
        ::ShowWindow(hwnd_, SW_HIDE);
        break;
    }
    case kCmdFolderCancel:
    case IDCANCEL:   // Esc
        closed_ = true;
        ::ShowWindow(hwnd_, SW_HIDE);
        break;
    default:
        break;
    }
}

} // namespace tessera::win32ui

#endif
