// The "Installed mods" window in Qt: its controls, mapped onto ModsForm.
#include "frmMods.h"

#include "QtDialogs.h"
#include "Handlers.h"
#include "QtLayout.h"

#include <QFontDatabase>
#include <QIcon>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

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
    lstMods = &Control<QListWidget>(*this, "lstMods");
    txtDetails = &Control<QPlainTextEdit>(*this, "txtDetails");
    cmdDetails = &Control<QPushButton>(*this, "cmdDetails");
    cmdUninstall = &Control<QPushButton>(*this, "cmdUninstall");
    cmdClose = &Control<QPushButton>(*this, "cmdClose");
    // Paths and names line up in a fixed-pitch font, as the console shows them.
    txtDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Enter presses Close even while Details or Uninstall has the focus.
    cmdDetails->setAutoDefault(false);
    cmdUninstall->setAutoDefault(false);

    connect(lstMods, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!listing_)
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

void frmMods::SetListLines(const std::vector<std::string>& lines, int selected)
{
    listing_ = true;
    lstMods->clear();
    for (const std::string& line : lines) {
        auto* item = new QListWidgetItem(FromBytes(line), lstMods);
        // A list with nothing to choose says why in a line that cannot be chosen.
        if (selected < 0)
            item->setFlags(Qt::ItemIsEnabled);
    }
    lstMods->setCurrentRow(selected);
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
