// The main window in Qt: its controls and menus, mapped onto MainForm.
#include "frmMain.h"

#include "QtDialogs.h"
#include "FileSystem.h"
#include "Handlers.h"
#include "InstallDownload.h"
#include "InstallPackage.h"
#include "ModSource.h"
#include "Text.h"
#include "frmFolder.h"
#include "frmMods.h"
#include "frmOption.h"
#include "QtLayout.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <QEventLoop>

#include <exception>
#include <filesystem>
#include <thread>

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

frmMain::frmMain(ISettingsStore& store, QWidget* parent) : QMainWindow(parent), settings_(store), form_(settings_, *this)
{
    setObjectName(FromLayout(kMainLayout.objectName));
    setWindowTitle(FromLayout(kMainLayout.caption));
    setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kMainLayout.width, kMainLayout.height);
    setCentralWidget(client);
    BuildControls(*client, kMainLayout);
    lblSource = &Control<QLineEdit>(*client, "lblSource");
    cmdBrowseSource = &Control<QPushButton>(*client, "cmdBrowseSource");
    cmdInstall = &Control<QPushButton>(*client, "cmdInstall");
    cmdInstall->setEnabled(false);
    // The window's default button (see keyPressEvent); a focused Browse takes Enter itself.
    cmdBrowseSource->setAutoDefault(true);

    QMenu* menu = nullptr;
    for (const MenuLayout& row : kMainMenu) {
        if (row.id == kNoId) {
            menu = menuBar()->addMenu(FromLayout(row.text));
            menu->setObjectName(FromLayout(row.objectName));
        } else {
            QAction* item = menu->addAction(FromLayout(row.text));
            item->setObjectName(FromLayout(row.objectName));
            connect(item, &QAction::triggered, this, [this, click = row.click] { RunHandler(this, [this, click] { (form_.*click)(); }); });
        }
    }

    // The window keeps the size of its client area and menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    windowServices_ = std::make_unique<QtWindowServices>(*this, *cmdInstall, *cmdBrowseSource);

    setAcceptDrops(true);

    // lblSource's change is raised by the form logic, which alone sets the text.
    connect(cmdBrowseSource, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdBrowseSource_Click(); }); });
    connect(cmdInstall, &QPushButton::clicked, this, [this] { RunHandler(this, [this] { form_.cmdInstall_Click(); }); });
}

frmMain::~frmMain() = default;

void frmMain::ShowMessage(const std::string& text, const std::string& title)
{
    // Before the window is shown (the start-up's messages) the box stands on its own.
    Dialogs().MsgBox(isVisible() ? this : nullptr, text, title);
}

std::string frmMain::AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                             const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    return Dialogs().OpenFile(this, title, filterDescription, pattern, startFolder, moreFilters);
}

void frmMain::DoEvents() { windowServices_->DoEvents(); }
void frmMain::SetCaption(const std::string& caption) { windowServices_->SetCaption(caption); }
void frmMain::SetPointer(Pointer pointer) { windowServices_->SetPointer(pointer); }
void frmMain::SetButtonEnabled(Button button, bool enabled) { windowServices_->SetButtonEnabled(button, enabled); }

void frmMain::SetSourceText(const std::string& text)
{
    lblSource->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

bool frmMain::ShowOptions(modMain& settings, bool overMainWindow)
{
    // Not shown yet: the dialog centres itself on the screen.
    frmOption options(settings, overMainWindow ? this : nullptr);
    Dialogs().ShowModal(options);
    return options.Saved();
}

void frmMain::ShowMods(modMain& settings)
{
    frmMods mods(settings, this);
    Dialogs().ShowModal(mods);
}

bool frmMain::AskYesNo(const std::string& text, const std::string& title) { return Dialogs().AskYesNo(this, text, title); }

std::optional<std::size_t> frmMain::AskFolder(const std::string& text, const std::vector<std::string>& folders)
{
    frmFolder dialog(text, folders, this);
    Dialogs().ShowModal(dialog);
    return dialog.Chosen();
}

void frmMain::ShowWindow()
{
    adjustSize();
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
    show();
}

void frmMain::CloseWindow() { close(); }

bool frmMain::Ending() const { return FailureReported(); }

void frmMain::RunInBackground(const std::function<void()>& work, const std::function<void()>& pump)
{
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    const std::function<void()>* outer = pump_;
    pump_ = &pump;
    std::thread worker = StartWork(work, failure, [&] {
        done = true;
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    // Wakes that came before the loop runs are queued already; the loop ends once work has.
    while (!done)
        loop.exec();
    worker.join();
    pump_ = outer;
    if (failure)
        std::rethrow_exception(failure);
}

void frmMain::Wake()
{
    // One wake on its way is enough: its pump shows everything that came until it runs.
    if (wakePending_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            wakePending_ = false;
            if (pump_)
                RunHandler(this, [this] { (*pump_)(); });
        },
        Qt::QueuedConnection);
}

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
    if (form_.Installing() || DroppedFile(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event)
{
    const std::string dropped = DroppedFile(event->mimeData());
    // Checked again: the install may have started while the drag hovered.
    if (form_.Installing() || dropped.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Taken once the drop has finished: a message box inside the drop would hold up the program
    // the file came from.
    QMetaObject::invokeMethod(
        this,
        [this, dropped] {
            if (!form_.Installing())
                RunHandler(this, [&] { form_.TakeGivenFile(dropped); });
        },
        Qt::QueuedConnection);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!form_.QueryClose()) {
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
    window.TakeGivenFile(std::filesystem::absolute(arguments.front()).string());
}

} // namespace tessera
