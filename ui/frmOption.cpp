// The options dialog in Qt: its controls, mapped onto OptionForm.
#include "frmOption.h"

#include "FileSystem.h"
#include "Handlers.h"
#include "QtDialogs.h"
#include "QtLayout.h"
#include "Text.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>


namespace tessera {

frmOption::frmOption(modMain& settings, QWidget* owner) : QDialog(owner), form_(settings, *this)
{
    BuildDialog(*this, kOptionLayout);
    auto* cmdCancel = &Control<QPushButton>(*this, "cmdCancel");
    auto* cmdDone = &Control<QPushButton>(*this, "cmdDone");
    auto* cmdGTA3Browse = &Control<QPushButton>(*this, "cmdGTA3Browse");
    lblGTA3Path = &Control<QLabel>(*this, "lblGTA3Path");
    // Focused first, Cancel takes Space; Enter still goes to OK, which a focused auto-default
    // button would take over.
    cmdCancel->setAutoDefault(false);
    // The first in tab order has the focus; unasked, Qt would move it to the default button.
    cmdCancel->setFocus();

    connect(cmdGTA3Browse, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdGTA3Browse_Click(); }); });
    connect(cmdDone, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdDone_Click(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdCancel_Click(); }); });

    RunHandler(this, [this] { form_.Form_Load(); });
}

void frmOption::ShowMessage(const std::string& text, const std::string& title) { Dialogs().MsgBox(this, text, title); }

std::string frmOption::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                               const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return Dialogs().OpenFile(this, title, filterDescription, pattern, startFolder, moreFilters);
}

void frmOption::SetPathText(const std::string& text)
{
    lblGTA3Path->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

void frmOption::CloseDialog(bool confirmed)
{
    closing_ = true;
    if (confirmed)
        accept();
    else
        reject();
}

void frmOption::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        RunHandler(this, [this] { form_.Escape_Pressed(); });
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmOption::closeEvent(QCloseEvent* event)
{
    // The frame's close button leaves like Cancel.
    if (!closing_)
        RunHandler(this, [this] { form_.Frame_Closed(); });
    QDialog::closeEvent(event);
}

} // namespace tessera
