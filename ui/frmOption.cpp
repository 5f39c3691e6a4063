// The options dialog.
#include "frmOption.h"

#include "FileSystem.h"
#include "Handlers.h"
#include "modBrowseDir.h"
#include "Dialogs.h"
#include "Text.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>


namespace tessera {

frmOption::frmOption(modMain& settings, QWidget* owner) : QDialog(owner), settings_(settings)
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

    connect(cmdGTA3Browse, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { cmdGTA3Browse_Click(); }); });
    connect(cmdDone, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { cmdDone_Click(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { cmdCancel_Click(); }); });

    Form_Load();
}

void frmOption::Form_Load()
{
    if (settings_.sGTA3Path != kNotFound)
        SetPathText(settings_.sGTA3Path);
}

void frmOption::SetPathText(const std::string& text)
{
    pathText_ = text;
    lblGTA3Path->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

void frmOption::cmdGTA3Browse_Click()
{
    const std::string chosen = ShowOpenDialog("Please locate GTA3.exe", "Gta3.exe", this);
    if (TrimSpaces(chosen).empty())
        return;
    // Only the folder counts; whether it holds gta3.exe is tested on OK.
    const std::string folder = TrimSpaces(GetFolder(chosen));
    if (!fs::FolderExists(folder))
        return;
    SetPathText(folder);
}

void frmOption::cmdDone_Click()
{
    if (pathText_ == settings_.sGTA3Path) {
        accept();
        return;
    }
    // The folder text ends in a separator already; the doubled one reads as one.
    if (!fs::FileExists(pathText_ + "\\gta3.exe")) {
        Dialogs().MsgBox(this, "Please select your GTA3 directory", "Error");
        return;
    }
    settings_.sGTA3Path = pathText_;
    settings_.SaveSettings();
    saved_ = true;
    accept();
}

void frmOption::cmdCancel_Click() { reject(); }

void frmOption::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        cmdDone->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tessera
