// The "Installed mods" window in Qt: its controls, mapped onto ModsForm.
#include "frmMods.h"

#include "QtDialogs.h"
#include "Handlers.h"
#include "QtLayout.h"

#include <QEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

namespace tessera {

namespace {

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

frmMods::frmMods(modMain& settings, QWidget* owner) : QDialog(owner), form_(settings, *this)
{
    setObjectName(FromLayout(kModsLayout.objectName));
    setWindowTitle(FromLayout(kModsLayout.caption));
    setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));
    setModal(true);
    setFixedSize(kModsLayout.width, kModsLayout.height);
    setSizeGripEnabled(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    BuildControls(*this, kModsLayout);
    lstMods = &Control<QTableWidget>(*this, "lstMods");
    SetColumns(*lstMods, kModsColumns);
    txtDetails = &Control<QPlainTextEdit>(*this, "txtDetails");
    cmdDetails = &Control<QPushButton>(*this, "cmdDetails");
    cmdUninstall = &Control<QPushButton>(*this, "cmdUninstall");
    cmdClose = &Control<QPushButton>(*this, "cmdClose");
    // Paths and names line up in a fixed-pitch font, as the console shows them.
    txtDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Enter presses Close even while Details or Uninstall has the focus.
    cmdDetails->setAutoDefault(false);
    cmdUninstall->setAutoDefault(false);

    connect(lstMods, &QTableWidget::currentCellChanged, this, [this](int row, int, int previousRow, int) {
        if (!listing_ && row != previousRow)
            RunHandler(this, [&] { form_.lstMods_Click(row); });
    });
    connect(cmdDetails, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdDetails_Click(); }); });
    connect(cmdUninstall, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdUninstall_Click(); }); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdClose_Click(); }); });

    RunHandler(this, [this] { form_.Form_Load(); });
    if (lstMods->focusPolicy() == Qt::NoFocus)
        cmdClose->setFocus();
    else
        lstMods->setFocus();
}

void frmMods::ShowMessage(const std::string& text, const std::string& title) { Dialogs().MsgBox(this, text, title); }

std::string frmMods::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                             const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return Dialogs().OpenFile(this, title, filterDescription, pattern, startFolder, moreFilters);
}

bool frmMods::AskYesNo(const std::string& text, const std::string& title) { return Dialogs().AskYesNo(this, text, title); }

bool frmMods::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && isVisible())
        RunHandler(this, [this] { form_.Form_Activate(); });
    return handled;
}

void frmMods::SetListRows(const std::vector<std::vector<std::string>>& rows, int selected, const std::string& note)
{
    listing_ = true;
    lstMods->clearSpans();
    lstMods->setRowCount(0);
    for (const std::vector<std::string>& cells : rows) {
        const int row = lstMods->rowCount();
        lstMods->insertRow(row);
        for (int column = 0; column < static_cast<int>(cells.size()) && column < lstMods->columnCount(); ++column) {
            auto* item = new QTableWidgetItem(FromBytes(cells[static_cast<std::size_t>(column)]));
            const bool numeric = kModsColumns[static_cast<std::size_t>(column)].numeric;
            item->setTextAlignment(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
            // A long package name is cut off in its column; the whole shows on hover.
            if (!numeric)
                item->setToolTip(item->text());
            lstMods->setItem(row, column, item);
        }
    }
    // A list with nothing to choose says why in a line across the table that cannot be chosen.
    if (rows.empty() && !note.empty()) {
        lstMods->insertRow(0);
        auto* item = new QTableWidgetItem(FromBytes(note));
        item->setFlags(Qt::ItemIsEnabled);
        lstMods->setItem(0, 0, item);
        lstMods->setSpan(0, 0, 1, lstMods->columnCount());
    }
    if (selected >= 0)
        lstMods->setCurrentCell(selected, 0);
    else
        lstMods->setCurrentIndex(QModelIndex());
    // Nor does the list take the focus then: Enter closes the window.
    lstMods->setFocusPolicy(selected < 0 ? Qt::NoFocus : Qt::StrongFocus);
    if (selected < 0 && lstMods->hasFocus())
        cmdClose->setFocus();
    listing_ = false;
}

void frmMods::SetDetailsText(const std::string& text)
{
    txtDetails->setPlainText(FromBytes(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void frmMods::SetCommandsEnabled(bool enabled)
{
    cmdDetails->setEnabled(enabled);
    cmdUninstall->setEnabled(enabled);
}

} // namespace tessera
