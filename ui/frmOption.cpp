// The options dialog in Qt: its controls, mapped onto OptionForm.
#include "frmOption.h"

#include "FileSystem.h"
#include "Handlers.h"
#include "QtDialogs.h"
#include "Text.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>


namespace tessera {

frmOption::frmOption(modMain& settings, QWidget* owner) : QDialog(owner), form_(settings, *this)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));
    setModal(true);
    setFixedSize(493, 88);
    setSizeGripEnabled(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(164, 56, 77, 29);
    // Focused first, Cancel takes Space; Enter still goes to OK, which a focused auto-default
    // button would take over.
    cmdCancel->setAutoDefault(false);

    cmdDone = new QPushButton(QStringLiteral("OK"), this);
    cmdDone->setObjectName(QStringLiteral("cmdDone"));
    cmdDone->setGeometry(252, 56, 77, 29);
    cmdDone->setDefault(true);

    lblGTA3Path = new QLabel(this);
    lblGTA3Path->setObjectName(QStringLiteral("lblGTA3Path"));
    lblGTA3Path->setGeometry(4, 24, 417, 21);
    lblGTA3Path->setTextFormat(Qt::PlainText);
    lblGTA3Path->setFrameShape(QFrame::NoFrame);

    cmdGTA3Browse = new QPushButton(QStringLiteral("Browse"), this);
    cmdGTA3Browse->setObjectName(QStringLiteral("cmdGTA3Browse"));
    cmdGTA3Browse->setGeometry(428, 24, 57, 21);

    Label1 = new QLabel(QStringLiteral("GTA3 Path :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(4, 8, 121, 17);

    setTabOrder(cmdCancel, cmdDone);
    setTabOrder(cmdDone, cmdGTA3Browse);
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
