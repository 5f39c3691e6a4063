// The main window.
#include "frmMain.h"

#include "Dialogs.h"
#include "FileSystem.h"
#include "Handlers.h"
#include "InstallDownload.h"
#include "InstallPackage.h"
#include "ModSource.h"
#include "Text.h"
#include "frmOption.h"
#include "modBrowseDir.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <filesystem>

namespace tessera {

namespace {

// The local file a drag carries, as bytes of the local encoding; empty unless it carries
// exactly one.
std::string DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile())
        return {};
    return data->urls().front().toLocalFile().toLocal8Bit().toStdString();
}

} // namespace

frmMain::frmMain(ISettingsStore& store, QWidget* parent) : QMainWindow(parent), settings_(store)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kMainCaption.data(), static_cast<qsizetype>(kMainCaption.size())));
    setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(544, 79);
    setCentralWidget(client);

    lblSource = new QLineEdit(QStringLiteral("[Select a .zpk]"), client);
    lblSource->setObjectName(QStringLiteral("lblSource"));
    lblSource->setGeometry(4, 20, 437, 21);
    lblSource->setReadOnly(true);
    sourceText_ = "[Select a .zpk]";

    cmdBrowseSource = new QPushButton(QStringLiteral("Browse..."), client);
    cmdBrowseSource->setObjectName(QStringLiteral("cmdBrowseSource"));
    cmdBrowseSource->setGeometry(444, 20, 97, 23);

    Label3 = new QLabel(QStringLiteral("Source :"), client);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(4, 4, 137, 13);

    cmdInstall = new QPushButton(QStringLiteral("Install the MOD"), client);
    cmdInstall->setObjectName(QStringLiteral("cmdInstall"));
    cmdInstall->setGeometry(224, 52, 97, 23);
    cmdInstall->setEnabled(false);
    // The window's default button (see keyPressEvent); a focused Browse takes Enter itself.
    cmdInstall->setDefault(true);
    cmdBrowseSource->setAutoDefault(true);

    // Never shown: the install lists the scratch folder itself.
    fileList = new QListWidget(client);
    fileList->setObjectName(QStringLiteral("fileList"));
    fileList->setFocusPolicy(Qt::NoFocus);
    fileList->hide();

    setTabOrder(lblSource, cmdBrowseSource);
    setTabOrder(cmdBrowseSource, cmdInstall);

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuQuit = mnuFile->addAction(QStringLiteral("&Quit"));
    mnuQuit->setObjectName(QStringLiteral("mnuQuit"));
    mnuSetup = menuBar()->addMenu(QStringLiteral("&Setup"));
    mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
    mnuOption = mnuSetup->addAction(QStringLiteral("&Options..."));
    mnuOption->setObjectName(QStringLiteral("mnuOption"));
    mnuQuestion = menuBar()->addMenu(QStringLiteral("&?"));
    mnuQuestion->setObjectName(QStringLiteral("mnuQuestion"));
    mnuAbout = mnuQuestion->addAction(QStringLiteral("&About..."));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    // The window keeps the size of its client area and menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    windowServices_ = std::make_unique<QtWindowServices>(*this, *cmdInstall, *cmdBrowseSource);

    setAcceptDrops(true);

    connect(cmdBrowseSource, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { cmdBrowseSource_Click(); }); });
    connect(lblSource, &QLineEdit::textChanged, this, [this] { RunHandler(this, [this] { lblSource_Change(); }); });
    connect(cmdInstall, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { cmdInstall_Click(); }); });
    connect(mnuQuit, &QAction::triggered, this, [this] { RunHandler(this, [this] { mnuQuit_Click(); }); });
    connect(mnuOption, &QAction::triggered, this, [this] { RunHandler(this, [this] { mnuOption_Click(); }); });
    connect(mnuAbout, &QAction::triggered, this, [this] { RunHandler(this, [this] { mnuAbout_Click(); }); });
}

frmMain::~frmMain() = default;

void frmMain::Form_Load()
{
    settings_.LoadSettings();
    if (settings_.sGTA3Path == kNotFound) {
        // Not shown yet: the dialog centres itself on the screen.
        frmOption options(settings_, nullptr);
        Dialogs().ShowModal(options);
        // The settings store failed while saving: the program ends after its report.
        if (FailureReported()) {
            close();
            return;
        }
        if (settings_.sGTA3Path == kNotFound) {
            Dialogs().MsgBox(nullptr, "You must specify your GTA3 Directory!\r\n\r\nGood bye!", "Need path");
            close();
            return;
        }
        settings_.LoadSettings();
    }
    // An install that was killed or lost its power midway is undone before anything else.
    RecoverInterruptedInstalls(*windowServices_);

    adjustSize();
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
    show();
}

void frmMain::SetSourceText(const std::string& text)
{
    sourceText_ = text;
    lblSource->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

void frmMain::cmdBrowseSource_Click()
{
    TakePackage(ShowOpenDialog("Select a .zpk to extract", "*.zpk", this, {{"Mod archives (*.zip *.7z *.rar)", "*.zip *.7z *.rar"}}));
}

void frmMain::TakePackage(const std::string& chosen)
{
    // A download as it was shipped needs no .dir; its install reads it whole.
    if (IsModArchiveName(chosen)) {
        SetSourceText(chosen);
        return;
    }
    // The ending in any letter case, as the dialog lists and the install takes it.
    if (chosen.size() < 4 || !EqualsIgnoreCase(std::string_view(chosen).substr(chosen.size() - 4), ".zpk"))
        return;
    const std::string directory = chosen.substr(0, chosen.size() - 4) + ".dir";
    if (!fs::FileExists(directory)) {
        Dialogs().MsgBox(this,
                         "The associated .dir was not found.\r\n"
                         "Please specify a .zpk with a .dir of the same name in the same folder.",
                         "File not found");
        return;
    }
    SetSourceText(chosen);
}

void frmMain::lblSource_Change() { cmdInstall->setEnabled(true); }

void frmMain::cmdInstall_Click()
{
    installing_ = true;
    // A failed install reports itself and returns the window to idle.
    if (IsModArchiveName(sourceText_))
        InstallDownload(sourceText_, settings_, *windowServices_);
    else
        InstallPackage(sourceText_, settings_, *windowServices_);
    installing_ = false;
    if (closePending_)
        close();
}

void frmMain::mnuQuit_Click() { close(); }

void frmMain::mnuOption_Click()
{
    frmOption options(settings_, this);
    Dialogs().ShowModal(options);
    // Stock files and game archives must lie in the same game folder, so a new folder brings
    // its own catalogue.
    if (options.Saved())
        settings_.LoadSettings();
}

void frmMain::mnuAbout_Click() { Dialogs().MsgBox(this, AboutText(), "About..."); }

void frmMain::keyPressEvent(QKeyEvent* event)
{
    // Enter that no focused button took presses the default button; outside dialogs Qt leaves
    // that to the window.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && cmdInstall->isEnabled()) {
        cmdInstall->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (installing_ || DroppedFile(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event)
{
    const std::string dropped = DroppedFile(event->mimeData());
    // Checked again: the install may have started while the drag hovered.
    if (installing_ || dropped.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Taken once the drop has finished: a message box inside the drop would hold up the program
    // the file came from.
    QMetaObject::invokeMethod(
        this,
        [this, dropped] {
            if (!installing_)
                RunHandler(this, [&] { TakePackage(dropped); });
        },
        Qt::QueuedConnection);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (installing_) {
        closePending_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void StartProgram(frmMain& window, const std::vector<std::string>& arguments)
{
    window.Form_Load();
    // No game folder given: the program ends without the window.
    if (!window.isVisible() || arguments.empty() || arguments.front().empty())
        return;
    window.TakePackage(std::filesystem::absolute(arguments.front()).string());
}

} // namespace tessera
