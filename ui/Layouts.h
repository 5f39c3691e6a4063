// The windows' layouts: one table per window of its controls (and the main window's menu),
// from which both the Qt view and the Win32 view build their windows.
#pragma once

#include "FormLogic.h"

#include <span>
#include <string_view>

namespace tessera {

// Win32 control and menu ids; they also let tests and scripts find the controls.
enum ControlId : int {
    kNoId = 0,
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
    kLblFolderQuestion = 501,
    kLstFolders = 502,
    kCmdFolderOk = 503,
    kCmdFolderCancel = 504,
};

// What a control is; each view maps a kind to a widget or window class of its own.
enum class ControlKind {
    Field,        // single-line text field, read-only for the user
    Button,       // push button
    Label,        // static text
    List,         // lines, one of which is chosen
    Table,        // rows of cells under column headings (the window's column table), one row chosen at a time
    TextPane,     // lines of text, read-only, wrapped at the pane's width and scrolled up and down
    HiddenList,   // the main window's file list, never shown (the install lists the scratch folder itself)
};

// What an assistive tool announces a control as.
enum class AccessibleRole { Text, PushButton, StaticText, List, Table };

// Pixels at 96 dpi, from the top left of the window's client area.
struct LayoutRect {
    int left, top, width, height;
};

struct ControlLayout {
    std::string_view objectName;
    ControlId id;                     // kNoId: no Win32 control
    ControlKind kind;
    std::string_view text;            // caption, or initial text
    LayoutRect rect;
    int tabOrder;                     // static texts and the hidden list take no focus
    // What a screen reader calls the control; empty: its caption or text, as for buttons and
    // static texts, whose text says what they are.
    std::string_view accessibleName;
    AccessibleRole role;
};

struct WindowLayout {
    std::string_view objectName;
    std::string_view caption;
    int width, height;                // the client area
    ControlId defaultButton;          // pressed by Enter
    std::span<const ControlLayout> controls;   // in tab order
};

// The main window's menu bar: each menu, followed by its items.
struct MenuLayout {
    std::string_view objectName;
    ControlId id;                     // kNoId for a menu
    std::string_view text;            // "&" marks the access key
    void (MainForm::*click)();        // an item's handler
};

extern const WindowLayout kMainLayout;
extern const WindowLayout kOptionLayout;
extern const WindowLayout kModsLayout;
// lstMods' columns, in the order of the cells of ModsRowCells.
struct ColumnLayout {
    std::string_view title;
    int width;                        // pixels at 96 dpi; 0: what the others leave of the table's width
    bool numeric;                     // right-aligned
};
extern const std::span<const ColumnLayout> kModsColumns;
extern const WindowLayout kFolderLayout;
extern const std::span<const MenuLayout> kMainMenu;

// Whether the control can take the focus with Tab.
constexpr bool TakesFocus(ControlKind kind) { return kind != ControlKind::Label && kind != ControlKind::HiddenList; }

// The control of layout with that name; throws std::logic_error when there is none.
const ControlLayout& ControlNamed(const WindowLayout& layout, std::string_view objectName);

} // namespace tessera
