// Builds the Qt widgets of a window from its layout table.
#include "QtLayout.h"

#include <QDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <vector>

namespace tessera {

namespace {

QWidget* MakeWidget(QWidget& parent, const ControlLayout& row, bool isDefault)
{
    const QString text = FromLayout(row.text);
    switch (row.kind) {
    case ControlKind::Field: {
        auto* field = new QLineEdit(text, &parent);
        field->setReadOnly(true);
        return field;
    }
    case ControlKind::Button: {
        auto* button = new QPushButton(text, &parent);
        button->setDefault(isDefault);
        return button;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(text, &parent);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::List: {
        auto* list = new QListWidget(&parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        return list;
    }
    case ControlKind::Table: {
        auto* table = new QTableWidget(&parent);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setShowGrid(false);
        table->setWordWrap(false);
        table->verticalHeader()->hide();
        table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return table;
    }
    case ControlKind::TextPane: {
        auto* pane = new QPlainTextEdit(text, &parent);
        pane->setReadOnly(true);
        // Paths have no spaces to break at: a long one breaks anywhere rather than scroll sideways.
        pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        pane->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return pane;
    }
    case ControlKind::HiddenList: {
        auto* list = new QListWidget(&parent);
        list->setFocusPolicy(Qt::NoFocus);
        list->hide();
        return list;
    }
    }
    throw std::logic_error("unknown control kind");
}

} // namespace

void SetColumns(QTableWidget& table, std::span<const ColumnLayout> columns)
{
    table.setColumnCount(static_cast<int>(columns.size()));
    QHeaderView& header = *table.horizontalHeader();
    header.setHighlightSections(false);
    header.setSectionsClickable(false);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const ColumnLayout& column = columns[static_cast<std::size_t>(i)];
        auto* title = new QTableWidgetItem(FromLayout(column.title));
        title->setTextAlignment(Qt::AlignVCenter | (column.numeric ? Qt::AlignRight : Qt::AlignLeft));
        table.setHorizontalHeaderItem(i, title);
        if (column.width == 0) {
            header.setSectionResizeMode(i, QHeaderView::Stretch);
        } else {
            header.setSectionResizeMode(i, QHeaderView::Fixed);
            table.setColumnWidth(i, column.width);
        }
    }
}

void BuildControls(QWidget& parent, const WindowLayout& layout)
{
    std::vector<std::pair<int, QWidget*>> focusable;
    for (const ControlLayout& row : layout.controls) {
        QWidget* widget = MakeWidget(parent, row, row.id == layout.defaultButton);
        widget->setObjectName(FromLayout(row.objectName));
        if (row.kind != ControlKind::HiddenList)
            widget->setGeometry(row.rect.left, row.rect.top, row.rect.width, row.rect.height);
        if (!row.accessibleName.empty())
            widget->setAccessibleName(FromLayout(row.accessibleName));
        if (TakesFocus(row.kind))
            focusable.emplace_back(row.tabOrder, widget);
    }
    std::stable_sort(focusable.begin(), focusable.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i - 1].second, focusable[i].second);
}

void BuildDialog(QDialog& dialog, const WindowLayout& layout)
{
    dialog.setObjectName(FromLayout(layout.objectName));
    dialog.setWindowTitle(FromLayout(layout.caption));
    dialog.setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));
    dialog.setModal(true);
    dialog.setFixedSize(layout.width, layout.height);
    dialog.setSizeGripEnabled(false);
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    BuildControls(dialog, layout);
}

} // namespace tessera
