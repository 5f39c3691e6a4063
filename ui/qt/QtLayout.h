// The Qt views' side of the layout tables: the widgets of a window built from its table.
#pragma once

#include "Layouts.h"

#include <QString>
#include <QTableWidget>
#include <QWidget>

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

class QDialog;

namespace tessera {

inline QString FromLayout(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

// Makes parent's controls of layout, each a widget named as its row, at its place, with its
// accessible name, and chains those that take the focus in tab order. Kinds map to QLineEdit
// (read-only), QPushButton (layout's default button the default), QLabel (plain text),
// QTableWidget (one row chosen at a time, no sideways scrolling), QPlainTextEdit (read-only,
// wrapped) and a hidden QListWidget that takes no focus.
void BuildControls(QWidget& parent, const WindowLayout& layout);
// Gives table its columns: their titles and widths, a column of width 0 taking the rest.
void SetColumns(QTableWidget& table, std::span<const ColumnLayout> columns);
// Makes dialog the layout's window: its name, caption and the program icon, modal, fixed at the
// layout's size without a help button; then its controls, as BuildControls.
void BuildDialog(QDialog& dialog, const WindowLayout& layout);

// The control of parent called name, of widget class T.
template <class T>
T& Control(QWidget& parent, std::string_view name)
{
    T* control = parent.findChild<T*>(FromLayout(name));
    if (!control)
        throw std::logic_error("no control " + std::string(name));
    return *control;
}

} // namespace tessera
