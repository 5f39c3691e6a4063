// The desktop windows driven as a user would: widgets found by name and clicked, every modal
// window (message box, open-file dialog, options dialog) answered at once by a scripted double.
#include "Archive.h"
#include "AtSpiGuard.h"
#include "DownloadSupport.h"
#include "FileSystem.h"
#include "Handlers.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "Layouts.h"
#include "QtDialogs.h"
#include "QtLayout.h"
#include "QtSettingsStore.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"
#include "frmMain.h"
#include "frmMods.h"
#include "frmOption.h"
#include "modBrowseDir.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDBusMessage>
#include <QDialog>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// Failure messages show byte texts as they are.
namespace QTest {
template <>
inline char* toString(const std::string& text)
{
    return qstrdup(text.c_str());
}
} // namespace QTest

using namespace tessera;
using namespace tessera::test;

namespace {

const std::string kNeedPath = "You must specify your GTA3 Directory!\r\n\r\nGood bye!";
const std::string kNoDir = "The associated .dir was not found.\r\n"
                           "Please specify a .zpk with a .dir of the same name in the same folder.";
const std::string kPathKeyApp = "Tessera";

struct Message {
    QWidget* owner;
    std::string text;
    std::string title;
};

struct OpenCall {
    QWidget* owner;
    QString ownerTitle;   // the owner may be gone when the test looks
    std::string title, description, pattern, startFolder;
    std::vector<FileFilter> more;
};

// Answers every modal window at once: message boxes are recorded, the open-file dialog returns
// the next scripted path (none left: the user cancelled), and a dialog is shown without a modal
// loop while its script clicks through it.
class ScriptedDialogs : public IDialogs {
public:
    void MsgBox(QWidget* owner, const std::string& text, const std::string& title) override
    {
        messages.push_back({owner, text, title});
        if (onMessage)
            onMessage(messages.back());
    }

    bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title) override
    {
        questions.push_back({owner, text, title});
        // A question no script answers would wait for a user.
        if (answers.empty()) {
            ++leftOpen;
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }

    std::string OpenFile(QWidget* owner, const std::string& title, const std::string& description,
                         const std::string& pattern, const std::string& startFolder,
                         const std::vector<FileFilter>& more) override
    {
        openCalls.push_back({owner, owner ? owner->windowTitle() : QString(), title, description, pattern, startFolder, more});
        if (paths.empty())
            return {};
        std::string path = paths.front();
        paths.pop_front();
        return path;
    }

    void ShowModal(QDialog& dialog) override
    {
        modalTitles.push_back(dialog.windowTitle());
        modalOwners.push_back(dialog.parentWidget());
        dialog.show();
        if (!scripts.empty()) {
            auto script = std::move(scripts.front());
            scripts.pop_front();
            script(dialog);
        }
        // A dialog its script left open would block the real program; close it and tell.
        if (dialog.isVisible()) {
            ++leftOpen;
            dialog.reject();
        }
    }

    void Reset() { *this = ScriptedDialogs(); }

    std::vector<Message> messages;
    std::vector<Message> questions;
    std::deque<bool> answers;
    std::vector<OpenCall> openCalls;
    std::deque<std::string> paths;
    std::deque<std::function<void(QDialog&)>> scripts;
    std::vector<QString> modalTitles;
    std::vector<QWidget*> modalOwners;
    int leftOpen = 0;
    // Called with each message box while it is open.
    std::function<void(const Message&)> onMessage;
};

template <class T>
T* Child(QObject& parent, const char* name)
{
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

void Click(QObject& parent, const char* name)
{
    QTest::mouseClick(Child<QAbstractButton>(parent, name), Qt::LeftButton);
}

std::string Text(QObject& parent, const char* name)
{
    if (auto* edit = parent.findChild<QLineEdit*>(QString::fromLatin1(name)))
        return edit->text().toStdString();
    return Child<QLabel>(parent, name)->text().toStdString();
}

// The next widget that Tab moves to.
QWidget* NextTabStop(QWidget* widget)
{
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() && next->isVisibleTo(widget->window())))
        next = next->nextInFocusChain();
    return next;
}

bool Enabled(QObject& parent, const char* name) { return Child<QWidget>(parent, name)->isEnabled(); }

std::string StoredPath(MemorySettingsStore& store)
{
    const auto it = store.values.find({kPathKeyApp, "Settings", "GTA3Path"});
    return it == store.values.end() ? std::string("(nothing)") : it->second;
}

// A game archive base + ".dir"/".img" holding one entry of 2048 bytes.
void WriteArchive(const std::string& base, const std::string& entryName)
{
    WriteFile(base + ".dir", Record(0, 1, entryName));
    WriteFile(base + ".img", Pattern(static_cast<std::size_t>(kBlockSize), 7));
}

// Packages to choose in mods: car.zpk (car.dff, with its .dir) and lonely.zpk, whose .dir is missing.
void WriteCarAndLonely(const TempDir& mods)
{
    WritePackage(mods / "car", {{"car.dff", Pattern(100)}});
    WriteFile(mods / "lonely.zpk", Pattern(10));
}

// A small game folder: gta3.exe, the three game archives and one stock file.
struct GameFolder {
    TempDir dir;
    std::string path = dir.Path();
    GameFolder()
    {
        WriteFile(path + "gta3.exe", ToBytes("MZ"));
        fs::CreateFolder(path + "models");
        fs::CreateFolder(path + "anim");
        fs::CreateFolder(path + "data");
        WriteArchive(path + "models/gta3", "car.dff");
        WriteArchive(path + "models/txd", "car.txd");
        WriteArchive(path + "anim/cuts", "intro.dat");
        WriteFile(path + "data/default.dat", ToBytes("stock default.dat"));
    }
};

std::vector<std::string> ArchiveNames(const std::string& dirPath)
{
    std::vector<std::string> names;
    for (const DirRecord& record : ParseDirectory(ReadFile(dirPath)))
        names.push_back(TrimSpaces(RecordName(record.sName)));
    return names;
}

// A settings store whose every save fails, as a full or read-only disk makes it.
class FailingSettingsStore : public MemorySettingsStore {
public:
    void SaveSetting(const std::string&, const std::string&, const std::string&, const std::string&) override
    {
        throw TesseraError(ErrorKind::AccessDenied, "The setting Settings\\GTA3Path could not be saved");
    }
};

// Records every change of a widget's enabled state.
class EnabledRecorder : public QObject {
public:
    explicit EnabledRecorder(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }
    std::vector<bool> states;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget_ && event->type() == QEvent::EnabledChange)
            states.push_back(widget_->isEnabled());
        return false;
    }

private:
    QWidget* widget_;
};

// Drags local files onto a widget and drops them there; returns whether the drag was taken (by
// the widget or, as Qt passes it on, by its window). The drop is taken once the event loop runs.
bool DropFiles(QWidget& target, const std::vector<std::string>& paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    data.setUrls(urls);
    const QPoint at = target.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted();
}


// One accessible object as an assistive tool reads it.
struct Accessible {
    QString objectName;
    QAccessible::Role role;
    QString name;
    QString text;   // what its text interface holds
    QRect rect;     // its place in its window's client area
};

// Walks the accessibility tree of window as a screen reader does, child by child from the
// window down; checks that every child is valid and knows its parent and its index there, and
// that every one has a name but the containers (the client area, menu bar and menus, which are
// read by their items) and the scroll bars of lists and text panes (read by their direction). Returns the objects found by their widgets' names.
std::map<QString, Accessible> WalkAccessibilityTree(QWidget& window)
{
    std::map<QString, Accessible> found;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node, int depth) {
        QVERIFY(node && node->isValid());
        QVERIFY(depth < 10);
        const QString objectName = node->object() ? node->object()->objectName() : QString();
        const QAccessible::Role role = node->role();
        const QString name = node->text(QAccessible::Name);
        // A table's cell is read by its text, which may be empty (or covered by a line across the
        // table); Qt gives a table the corner where its headers meet, a pane of no widget, even
        // with the row headers hidden.
        const bool unnamed = role == QAccessible::Client || role == QAccessible::MenuBar || role == QAccessible::PopupMenu ||
                               role == QAccessible::Window || role == QAccessible::Dialog || role == QAccessible::ScrollBar ||
                               role == QAccessible::Cell || (role == QAccessible::Pane && !node->object());
        if (!unnamed && name.isEmpty())
            QFAIL(qPrintable(QStringLiteral("no accessible name: %1 (role %2)").arg(objectName).arg(int(role))));
        QString text;
        if (QAccessibleTextInterface* textInterface = node->textInterface())
            text = textInterface->text(0, textInterface->characterCount());
        QRect rect;
        if (auto* widget = qobject_cast<QWidget*>(node->object()))
            rect = widget->geometry();
        if (!objectName.isEmpty())
            found[objectName] = {objectName, role, name, text, rect};
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            QVERIFY(child);
            QCOMPARE(child->parent(), node);
            QCOMPARE(node->indexOfChild(child), i);
            walk(child, depth + 1);
        }
    };
    walk(QAccessible::queryAccessibleInterface(&window), 0);
    return found;
}

QAccessible::Role QtRole(AccessibleRole role)
{
    switch (role) {
    case AccessibleRole::Text:
        return QAccessible::EditableText;
    case AccessibleRole::PushButton:
        return QAccessible::Button;
    case AccessibleRole::StaticText:
        return QAccessible::StaticText;
    case AccessibleRole::List:
        return QAccessible::List;
    case AccessibleRole::Table:
        return QAccessible::Table;
    }
    return QAccessible::NoRole;
}

// Every control of layout in window's tree: its role, its name (the table's, or else its caption
// or text), its text, and its place.
void CheckAccessibleControls(QWidget& window, const WindowLayout& layout)
{
    const std::map<QString, Accessible> found = WalkAccessibilityTree(window);
    if (QTest::currentTestFailed())
        return;
    for (const ControlLayout& row : layout.controls) {
        const QString objectName = QString::fromLatin1(row.objectName.data(), static_cast<qsizetype>(row.objectName.size()));
        const auto it = found.find(objectName);
        if (it == found.end())
            QFAIL(qPrintable(QStringLiteral("not in the accessibility tree: ") + objectName));
        const Accessible& control = it->second;
        auto* widget = window.findChild<QWidget*>(objectName);
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(widget))
            shown = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            shown = button->text();
        else if (auto* field = qobject_cast<QLineEdit*>(widget))
            shown = field->text();
        else if (auto* pane = qobject_cast<QPlainTextEdit*>(widget))
            shown = pane->toPlainText();
        const QString name = row.accessibleName.empty() ? shown : QString::fromLatin1(row.accessibleName.data(), static_cast<qsizetype>(row.accessibleName.size()));
        QCOMPARE(control.role, QtRole(row.role));
        QCOMPARE(control.name, name);
        if (row.kind == ControlKind::Field || row.kind == ControlKind::TextPane)
            QCOMPARE(control.text, shown);
        if (row.kind != ControlKind::HiddenList)
            QCOMPARE(control.rect, QRect(row.rect.left, row.rect.top, row.rect.width, row.rect.height));
    }
}
} // namespace

class UiTests : public QObject {
    Q_OBJECT

private:
    ScriptedDialogs dialogs;

    // A main window loaded with gameFolder stored, shown and idle.
    std::unique_ptr<frmMain> LoadedWindow(MemorySettingsStore& store, const std::string& gameFolder)
    {
        store.values[{kPathKeyApp, "Settings", "GTA3Path"}] = gameFolder;
        auto window = std::make_unique<frmMain>(store);
        window->Form_Load();
        return window;
    }

private slots:
    void initTestCase()
    {
        // No test may end the test run by closing its last window.
        QApplication::setQuitOnLastWindowClosed(false);
        SetDialogs(&dialogs);
    }

    void init() { dialogs.Reset(); }

    void cleanup() { QCOMPARE(dialogs.leftOpen, 0); }

    void cleanupTestCase() { SetDialogs(nullptr); }

    // The window's fixed size, its start state and its tab order; the dialog's default button.
    void windowsStartIdle()
    {
        MemorySettingsStore store;
        GameFolder game;
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Orlen's Tessera"));
        QCOMPARE(w.centralWidget()->size(), QSize(544, 79));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(Text(w, "lblSource"), std::string("[Select a .zpk]"));
        QVERIFY(!Enabled(w, "cmdInstall"));
        QVERIFY(!Child<QListWidget>(w, "fileList")->isVisible());
        Child<QPushButton>(w, "cmdInstall")->setEnabled(true);
        QCOMPARE(NextTabStop(Child<QWidget>(w, "lblSource")), Child<QWidget>(w, "cmdBrowseSource"));
        QCOMPARE(NextTabStop(Child<QWidget>(w, "cmdBrowseSource")), Child<QWidget>(w, "cmdInstall"));

        frmOption options(w.Settings(), &w);
        QCOMPARE(options.minimumSize(), options.maximumSize());
        QCOMPARE(Text(options, "lblGTA3Path"), game.path);
        QVERIFY(Child<QPushButton>(options, "cmdDone")->isDefault());
    }

    // An install killed midway is rolled back when the program starts, and the user is told;
    // also when the game folder was renamed since and is set under its new name.
    void startRollsBackInterruptedInstall()
    {
        for (const bool renamed : {false, true}) {
            dialogs.Reset();
            MemorySettingsStore store;
            GameFolder game;
            const Snapshot before = TakeSnapshot(game.path);
            Journal journal;
            journal.gameFolder = game.path;
            JournalOp stock;
            stock.path = game.path + "data\\default.dat";
            journal.ops.push_back(stock);
            fs::CreateFolders(fs::UserDataFolder());
            WriteJournal(JournalPath(fs::UserDataFolder(), game.path), journal);
            fs::RenameFile(game.path + "data/default.dat", game.path + "data/default.dat.old");
            WriteFile(game.path + "data/default.dat", ToBytes("half a mod"));
            const std::string old = game.path.substr(0, game.path.size() - 1), now = renamed ? old + " renamed/" : game.path;
            if (renamed)
                std::filesystem::rename(fs::NativePath(old), fs::NativePath(old + " renamed"));

            auto window = LoadedWindow(store, now);
            QVERIFY(window->isVisible());
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].title, std::string("Install rolled back"));
            QCOMPARE(dialogs.messages[0].text.find("moved or renamed") != std::string::npos, renamed);
            QCOMPARE(DescribeDifferences(before, TakeSnapshot(now)), std::string());
            if (renamed)
                std::filesystem::rename(fs::NativePath(old + " renamed"), fs::NativePath(old));
        }
    }

    // First start with nothing stored: the options dialog comes first; leaving it without a
    // folder (Cancel or the frame's close) ends the program before the main window shows.
    void firstStartWithoutFolderEnds()
    {
        for (const bool byFrame : {false, true}) {
            dialogs.Reset();
            MemorySettingsStore store;
            dialogs.scripts.push_back([byFrame](QDialog& d) {
                QCOMPARE(Text(d, "lblGTA3Path"), std::string());
                if (byFrame)
                    d.close();
                else
                    Click(d, "cmdCancel");
            });
            frmMain w(store);
            w.Form_Load();
            QCOMPARE(dialogs.modalTitles, std::vector<QString>{QStringLiteral("Options")});
            // Nothing is shown yet, so the dialog stands over the screen.
            QCOMPARE(dialogs.modalOwners, std::vector<QWidget*>{nullptr});
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].text, kNeedPath);
            QCOMPARE(dialogs.messages[0].title, std::string("Need path"));
            QVERIFY(!w.isVisible());
            QCOMPARE(store.saveCount, 0L);
            QCOMPARE(w.Settings().sGTA3Path, std::string(kNotFound));
        }
    }

    // First start, keys only: the focus is on Cancel, so Space leaves without a folder ("Need
    // path"), while Enter and Esc mean OK, which finds no gta3.exe and keeps the dialog open.
    void firstStartKeys()
    {
        const bool rootHasGame = fs::FileExists("/gta3.exe");
        struct Row {
            Qt::Key key;
            std::vector<std::string> titles;
        };
        for (const Row& row : {Row{Qt::Key_Space, {"Need path"}}, Row{Qt::Key_Return, {"Error", "Need path"}},
                               Row{Qt::Key_Escape, {"Error", "Need path"}}}) {
            if (rootHasGame && row.key != Qt::Key_Space)
                continue;
            dialogs.Reset();
            MemorySettingsStore store;
            dialogs.scripts.push_back([&](QDialog& d) {
                QCOMPARE(d.focusWidget(), Child<QWidget>(d, "cmdCancel"));
                QTest::keyClick(d.focusWidget(), row.key);
                d.close();
            });
            frmMain w(store);
            w.Form_Load();
            std::vector<std::string> titles;
            for (const Message& m : dialogs.messages)
                titles.push_back(m.title);
            QCOMPARE(titles, row.titles);
            QVERIFY(!w.isVisible());
            QCOMPARE(store.saveCount, 0L);
        }
    }

    // First start where the settings store fails on OK: its report, then the program ends
    // without the main window ever showing.
    void firstStartStoreFailureEnds()
    {
        GameFolder game;
        FailingSettingsStore store;
        dialogs.paths = {game.path + "gta3.exe"};
        dialogs.scripts.push_back([](QDialog& d) {
            Click(d, "cmdGTA3Browse");
            Click(d, "cmdDone");
        });
        frmMain w(store);
        w.Form_Load();
        const bool reported = FailureReported();
        ClearFailureReport();
        // The exit request stays pending and would end every later event loop at once; an
        // application loop takes it.
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        QVERIFY(reported);
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].title, std::string("Tessera - Access denied"));
        QVERIFY(dialogs.messages[0].text.find("could not be saved") != std::string::npos);
        QVERIFY(!w.isVisible());
    }

    // First start: the user browses to gta3.exe and confirms; the folder is stored through the
    // real settings store, the catalogue is built under it, and the next start goes straight to
    // the main window.
    void firstStartStoresChosenFolder()
    {
        GameFolder game;
        const std::string exe = game.path + "gta3.exe";
        dialogs.paths = {exe};
        dialogs.scripts.push_back([&](QDialog& d) {
            Click(d, "cmdGTA3Browse");
            QCOMPARE(Text(d, "lblGTA3Path"), game.path);
            Click(d, "cmdDone");
        });
        {
            QtSettingsStore store;
            frmMain w(store);
            w.Form_Load();
            QVERIFY(w.isVisible());
            QCOMPARE(dialogs.messages.size(), std::size_t{0});
            QCOMPARE(dialogs.openCalls.size(), std::size_t{1});
            const OpenCall& call = dialogs.openCalls[0];
            QCOMPARE(call.title, std::string("Please locate GTA3.exe"));
            QCOMPARE(call.description, std::string("(Gta3.exe)"));
            QCOMPARE(call.pattern, std::string("Gta3.exe"));
            QCOMPARE(call.startFolder, fs::ProgramFolder());
            QCOMPARE(call.ownerTitle, QStringLiteral("Options"));
            QCOMPARE(w.Settings().sGTA3Path, game.path);
            QCOMPARE(w.Settings().StockFiles().Fetch("default.dat")->sFullPath(), game.path + "data\\default.dat");
            QCOMPARE(QtSettingsStore().GetSetting("Tessera", "Settings", "GTA3Path", "?"), game.path);
        }
        dialogs.Reset();
        QtSettingsStore store;
        frmMain again(store);
        again.Form_Load();
        QVERIFY(again.isVisible());
        QVERIFY(dialogs.modalTitles.empty());
        QCOMPARE(again.Settings().sGTA3Path, game.path);
    }

    void optionsDialogConfirms()
    {
        GameFolder game;
        TempDir other;
        WriteFile(other / "readme.txt", ToBytes("text"));
        MemorySettingsStore store;
        modMain settings(store);
        settings.sGTA3Path = std::string(kNotFound);
        const bool rootHasGame = fs::FileExists("/gta3.exe");

        // Nothing known: OK at once tests gta3.exe in the root folder alone.
        if (!rootHasGame) {
            frmOption d(settings, nullptr);
            d.show();
            Click(d, "cmdDone");
            QVERIFY(d.isVisible());
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].text, std::string("Please select your GTA3 directory"));
            QCOMPARE(dialogs.messages[0].title, std::string("Error"));
            QCOMPARE(dialogs.messages[0].owner, static_cast<QWidget*>(&d));
            QCOMPARE(store.saveCount, 0L);
        }
        dialogs.Reset();
        // Browsing to any other file takes its folder; OK tests that folder for gta3.exe.
        {
            frmOption d(settings, nullptr);
            d.show();
            dialogs.paths = {other / "readme.txt"};
            Click(d, "cmdGTA3Browse");
            QCOMPARE(Text(d, "lblGTA3Path"), other.Path());
            Click(d, "cmdDone");
            QVERIFY(d.isVisible());
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].title, std::string("Error"));
            // Browse cancelled, or a file in a folder that does not exist: the text stays.
            Click(d, "cmdGTA3Browse");
            dialogs.paths = {other / "missing/gta3.exe"};
            Click(d, "cmdGTA3Browse");
            QCOMPARE(Text(d, "lblGTA3Path"), other.Path());
            QCOMPARE(settings.sGTA3Path, std::string(kNotFound));
            QCOMPARE(store.saveCount, 0L);
        }
        dialogs.Reset();
        // A folder holding gta3.exe in any letter case is stored exactly as shown.
        {
            std::filesystem::rename(game.path + "gta3.exe", game.path + "GTA3.EXE");
            frmOption d(settings, nullptr);
            d.show();
            dialogs.paths = {game.path + "GTA3.EXE"};
            Click(d, "cmdGTA3Browse");
            Click(d, "cmdDone");
            QVERIFY(!d.isVisible());
            QVERIFY(d.Saved());
            QCOMPARE(dialogs.messages.size(), std::size_t{0});
            QCOMPARE(settings.sGTA3Path, game.path);
            QCOMPARE(StoredPath(store), game.path);
            QCOMPARE(store.saveCount, 1L);
        }
        // Stored folder, OK at once: closed without a test even though gta3.exe has gone.
        {
            fs::DeleteFile(game.path + "GTA3.EXE");
            frmOption d(settings, nullptr);
            d.show();
            QCOMPARE(Text(d, "lblGTA3Path"), game.path);
            Click(d, "cmdDone");
            QVERIFY(!d.isVisible());
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QVERIFY(!d.Saved());
            QCOMPARE(dialogs.messages.size(), std::size_t{0});
            QCOMPARE(store.saveCount, 1L);
        }
    }

    // The same folder in other letters counts as changed: it is tested and stored again.
    void optionsDialogStoresCaseChangedFolder()
    {
        TempDir parent;
        fs::CreateFolder(parent / "game");
        WriteFile(parent / "game/gta3.exe", ToBytes("MZ"));
        MemorySettingsStore store;
        modMain settings(store);
        settings.sGTA3Path = parent / "game/";
        frmOption d(settings, nullptr);
        d.show();
        dialogs.paths = {parent / "GAME/gta3.exe"};
        Click(d, "cmdGTA3Browse");
        QCOMPARE(Text(d, "lblGTA3Path"), parent / "GAME/");
        Click(d, "cmdDone");
        QVERIFY(d.Saved());
        QCOMPARE(settings.sGTA3Path, parent / "GAME/");
        QCOMPARE(store.saveCount, 1L);
    }

    // Esc confirms like OK; the frame's close leaves without storing.
    void optionsDialogKeys()
    {
        GameFolder game;
        TempDir empty;
        MemorySettingsStore store;
        modMain settings(store);
        settings.sGTA3Path = std::string(kNotFound);
        {
            frmOption d(settings, nullptr);
            d.show();
            dialogs.paths = {empty / "gta3.exe"};
            Click(d, "cmdGTA3Browse");
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(d.isVisible());
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].title, std::string("Error"));
        }
        {
            frmOption d(settings, nullptr);
            d.show();
            dialogs.paths = {game.path + "gta3.exe"};
            Click(d, "cmdGTA3Browse");
            d.close();
            QVERIFY(!d.isVisible());
            QVERIFY(!d.Saved());
            QCOMPARE(settings.sGTA3Path, std::string(kNotFound));
        }
        {
            frmOption d(settings, nullptr);
            d.show();
            dialogs.paths = {game.path + "gta3.exe"};
            Click(d, "cmdGTA3Browse");
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(!d.isVisible());
            QVERIFY(d.Saved());
            QCOMPARE(settings.sGTA3Path, game.path);
        }
        QCOMPARE(store.saveCount, 1L);
    }

    void browseChoosesPackage()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        WriteCarAndLonely(mods);
        WritePackage(mods / "BIG", {{"big.dff", Pattern(100)}});
        std::filesystem::rename(mods / "BIG.zpk", mods / "BIG.ZPK");
        std::filesystem::rename(mods / "BIG.dir", mods / "BIG.DIR");
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;

        // Cancelled: nothing changes.
        Click(w, "cmdBrowseSource");
        QCOMPARE(dialogs.openCalls.size(), std::size_t{1});
        const OpenCall& call = dialogs.openCalls[0];
        QCOMPARE(call.owner, static_cast<QWidget*>(&w));
        QCOMPARE(call.title, std::string("Select a .zpk to extract"));
        QCOMPARE(call.description, std::string("(*.zpk)"));
        QCOMPARE(call.pattern, std::string("*.zpk"));
        QCOMPARE(call.startFolder, fs::ProgramFolder());
        QCOMPARE(Text(w, "lblSource"), std::string("[Select a .zpk]"));
        QVERIFY(!Enabled(w, "cmdInstall"));

        // Another ending is ignored; a capital .ZPK with its .DIR beside it is a package.
        dialogs.paths = {mods / "car.dir", mods / "BIG.ZPK"};
        Click(w, "cmdBrowseSource");
        QCOMPARE(Text(w, "lblSource"), std::string("[Select a .zpk]"));
        QVERIFY(!Enabled(w, "cmdInstall"));
        Click(w, "cmdBrowseSource");
        QCOMPARE(Text(w, "lblSource"), mods / "BIG.ZPK");
        QVERIFY(Enabled(w, "cmdInstall"));
        QCOMPARE(dialogs.messages.size(), std::size_t{0});

        // A package with its directory: the path as the dialog gave it, cleaned of padding.
        dialogs.paths = {"  " + (mods / "car.zpk") + std::string(1, '\0') + "   "};
        Click(w, "cmdBrowseSource");
        QCOMPARE(Text(w, "lblSource"), mods / "car.zpk");
        QVERIFY(Enabled(w, "cmdInstall"));

        // No directory beside it: the message, and the earlier choice stays.
        dialogs.paths = {mods / "lonely.zpk"};
        Click(w, "cmdBrowseSource");
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text, kNoDir);
        QCOMPARE(dialogs.messages[0].title, std::string("File not found"));
        QCOMPARE(dialogs.messages[0].owner, static_cast<QWidget*>(&w));
        QCOMPARE(Text(w, "lblSource"), mods / "car.zpk");
        QVERIFY(Enabled(w, "cmdInstall"));
    }

    // A path given on the command line takes Browse's way once start-up is done: relative paths
    // are made absolute, a missing directory gives the same message, and nothing is taken when
    // start-up ends for want of a game folder.
    void argumentTakenAfterStartUp()
    {
        GameFolder game;
        TempDir mods;
        WriteCarAndLonely(mods);
        const auto here = std::filesystem::current_path();
        std::filesystem::current_path(mods.Path());
        struct Row {
            const char* argument;
            bool stored;                  // a game folder is stored; else the first-run dialog
            bool confirm;                 // first run: the user confirms the game folder
            std::string source;           // lblSource afterwards ("" the window never showed)
            std::vector<std::string> titles;   // the message boxes, in order
            std::string text;             // the first one's text, if the window showed
        };
        const std::string notPackage = "notes.txt is not a mod package (.zpk) or a mod archive (.zip, .7z, .rar).";
        const Row rows[] = {
            {"car.zpk", true, false, mods / "car.zpk", {}, ""},
            {"lonely.zpk", true, false, "[Select a .zpk]", {"File not found"}, kNoDir},
            {"notes.txt", true, false, "[Select a .zpk]", {"Not a mod package"}, notPackage},
            {"nothere.zpk", true, false, "[Select a .zpk]", {"File not found"}, "nothere.zpk does not exist."},
            {"nothere.zip", true, false, "[Select a .zpk]", {"File not found"}, "nothere.zip does not exist."},
            {"car.zpk", false, true, mods / "car.zpk", {}, ""},
            {"lonely.zpk", false, false, "", {"Need path"}, ""},
        };
        for (const Row& row : rows) {
            dialogs.Reset();
            MemorySettingsStore store;
            if (row.stored)
                store.values[{kPathKeyApp, "Settings", "GTA3Path"}] = game.path;
            dialogs.scripts.push_back([&](QDialog& d) {
                if (!row.confirm)
                    return Click(d, "cmdCancel");
                dialogs.paths = {game.path + "gta3.exe"};
                Click(d, "cmdGTA3Browse");
                Click(d, "cmdDone");
            });
            frmMain w(store);
            StartProgram(w, {row.argument});
            QCOMPARE(dialogs.modalTitles.size(), std::size_t{row.stored ? 0u : 1u});
            std::vector<std::string> titles;
            for (const Message& m : dialogs.messages)
                titles.push_back(m.title);
            QCOMPARE(titles, row.titles);
            QCOMPARE(w.isVisible(), !row.source.empty());
            if (row.source.empty())
                continue;
            QCOMPARE(Text(w, "lblSource"), row.source);
            QCOMPARE(Enabled(w, "cmdInstall"), row.source != "[Select a .zpk]");
            if (!dialogs.messages.empty()) {
                QCOMPARE(dialogs.messages[0].text, row.text);
                QCOMPARE(dialogs.messages[0].owner, static_cast<QWidget*>(&w));
            }
        }
        std::filesystem::current_path(here);
    }

    // A file dropped on the window takes Browse's way; several files, or any drop while an
    // install runs, are refused.
    void dropTakesPackage()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        WriteCarAndLonely(mods);
        WritePackage(mods / "bike", {{"bike.dff", Pattern(100)}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;

        WriteFile(mods / "notes.txt", Pattern(10));
        QVERIFY(!DropFiles(w, {mods / "car.zpk", mods / "car.dir"}));
        QVERIFY(DropFiles(w, {mods / "lonely.zpk"}));
        QVERIFY(DropFiles(w, {mods / "notes.txt"}));
        QCOMPARE(dialogs.messages.size(), std::size_t{2});
        QCOMPARE(dialogs.messages[0].text, kNoDir);
        QCOMPARE(dialogs.messages[0].title, std::string("File not found"));
        QCOMPARE(dialogs.messages[1].text, std::string("notes.txt is not a mod package (.zpk) or a mod archive (.zip, .7z, .rar)."));
        QCOMPARE(dialogs.messages[1].title, std::string("Not a mod package"));
        QCOMPARE(Text(w, "lblSource"), std::string("[Select a .zpk]"));
        QVERIFY(!Enabled(w, "cmdInstall"));

        // Dropped on the field, where a user would aim.
        QVERIFY(DropFiles(*Child<QWidget>(w, "lblSource"), {mods / "car.zpk"}));
        QCOMPARE(Text(w, "lblSource"), mods / "car.zpk");
        QVERIFY(Enabled(w, "cmdInstall"));

        std::optional<bool> takenDuringInstall;
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(w.Installing());
            takenDuringInstall = DropFiles(w, {mods / "bike.zpk"});
        });
        Click(w, "cmdInstall");
        QCoreApplication::processEvents();
        QCOMPARE(takenDuringInstall, std::optional<bool>(false));
        QCOMPARE(Text(w, "lblSource"), mods / "car.zpk");
        QCOMPARE(w.windowTitle(), QStringLiteral("Mod installed!"));
        QCOMPARE(dialogs.messages.size(), std::size_t{2});
    }

    // A full install from the window: captions file by file, both buttons off meanwhile, the
    // game folder changed, then the window idle again with "Mod installed!".
    void installFromWindow()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        const Bytes model = Pattern(3000, 3);
        const Bytes stock = ToBytes("modded default.dat");
        WritePackage(mods / "pack", {{"car.dff", model}, {"default.dat", stock}, {"notes.txt", ToBytes("hi")}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        dialogs.paths = {mods / "pack.zpk"};
        Click(w, "cmdBrowseSource");

        std::vector<QString> captions;
        connect(&w, &QWidget::windowTitleChanged, this, [&](const QString& title) { captions.push_back(title); });
        EnabledRecorder install(Child<QWidget>(w, "cmdInstall"));
        EnabledRecorder browse(Child<QWidget>(w, "cmdBrowseSource"));
        bool hourglassSeen = false;
        bool menusUsable = true;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            hourglassSeen = hourglassSeen || (w.testAttribute(Qt::WA_SetCursor) && w.cursor().shape() == Qt::WaitCursor);
            menusUsable = menusUsable && Child<QAction>(w, "mnuOption")->isEnabled() && Child<QAction>(w, "mnuAbout")->isEnabled();
        });
        probe.start(0);
        Click(w, "cmdInstall");
        probe.stop();

        QCOMPARE(captions, (std::vector<QString>{QStringLiteral("Installing pack.zpk"), QStringLiteral("Installing car.dff"), QStringLiteral("Installing default.dat"),
                                                 QStringLiteral("Installing notes.txt"), QStringLiteral("Mod installed!")}));
        QCOMPARE(install.states, (std::vector<bool>{false, true}));
        QCOMPARE(browse.states, (std::vector<bool>{false, true}));
        QVERIFY(hourglassSeen);
        QVERIFY(menusUsable);
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text, BadFileMessage("notes.txt"));
        QCOMPARE(dialogs.messages[0].title, std::string("Bad file"));
        QCOMPARE(Text(w, "lblSource"), mods / "pack.zpk");

        // What reached the game folder.
        QCOMPARE(ReadFile(game.path + "data/default.dat"), stock);
        QCOMPARE(ReadText(game.path + "data/default.dat.old"), std::string("stock default.dat"));
        const auto names = ArchiveNames(game.path + "models/gta3.dir");
        QCOMPARE(names.size(), std::size_t{2});
        QCOMPARE(std::count(names.begin(), names.end(), "car.dff"), 1L);
        QCOMPARE(std::count(names.begin(), names.end(), "car.dff.old"), 1L);
        QCOMPARE(ArchiveNames(game.path + "models/txd.dir"), std::vector<std::string>{"car.txd"});

        // Install again on the same package: asked first, as a reinstall, then it runs again.
        captions.clear();
        dialogs.answers = {true};
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.questions.size(), std::size_t{1});
        QCOMPARE(dialogs.questions[0].title, std::string("Earlier installs"));
        QVERIFY(dialogs.questions[0].text.starts_with("A reinstall: this package is install 1 (pack.zpk, "));
        QCOMPARE(captions.back(), QStringLiteral("Mod installed!"));
    }

    // A download is chosen under Browse's second filter and needs no .dir; it installs with the
    // same captions, naming the download, and tells the skipped files in one message at the end.
    // A damaged one is refused and leaves the window idle.
    void installDownloadFromWindow()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        const Bytes model = Pattern(3000, 3);
        MakeDownload(mods / "car.ZIP", Format::Zip, {{"Car/car.dff", model}, {"Car/readme.txt", ToBytes("hi")}, {"Car/shot1.jpg", model}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        dialogs.paths = {mods / "car.ZIP"};
        Click(w, "cmdBrowseSource");
        QCOMPARE(dialogs.openCalls.size(), std::size_t{1});
        QCOMPARE(dialogs.openCalls[0].description, std::string("(*.zpk)"));
        QCOMPARE(dialogs.openCalls[0].more.size(), std::size_t{1});
        QCOMPARE(dialogs.openCalls[0].more[0].description, std::string("Mod archives (*.zip *.7z *.rar)"));
        QCOMPARE(dialogs.openCalls[0].more[0].pattern, std::string("*.zip *.7z *.rar"));
        QCOMPARE(Text(w, "lblSource"), mods / "car.ZIP");
        QVERIFY(Enabled(w, "cmdInstall"));
        QCOMPARE(dialogs.messages.size(), std::size_t{0});

        std::vector<QString> captions;
        connect(&w, &QWidget::windowTitleChanged, this, [&](const QString& title) { captions.push_back(title); });
        Click(w, "cmdInstall");
        QCOMPARE(captions, (std::vector<QString>{QStringLiteral("Installing car.ZIP"), QStringLiteral("Installing car.dff"), QStringLiteral("Mod installed!")}));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text, std::string("Skipped, not game files: Car/readme.txt, Car/shot1.jpg"));
        QCOMPARE(dialogs.messages[0].title, std::string("Skipped files"));
        QCOMPARE(ArchiveNames(game.path + "models/gta3.dir"), (std::vector<std::string>{"car.dff.old", "car.dff"}));
        QCOMPARE(Slice(ReadFile(game.path + "models/gta3.img"), 2048, model.size()), model);

        WriteFile(mods / "bad.7z", Pattern(100));
        dialogs.paths = {mods / "bad.7z"};
        Click(w, "cmdBrowseSource");
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.messages.size(), std::size_t{2});
        QCOMPARE(dialogs.messages[1].title, std::string("Install failed"));
        QCOMPARE(dialogs.messages[1].text, "The package " + mods / "bad.7z" + " could not be installed.\r\n" + mods / "bad.7z"
                     + " is not a .zip, .7z or .rar archive\r\nThe game folder was left as it was.");
        QCOMPARE(w.windowTitle(), QStringLiteral("Orlen's Tessera"));
        QVERIFY(Enabled(w, "cmdInstall"));
        QVERIFY(Enabled(w, "cmdBrowseSource"));
    }

    // A download with one name in two folders: the window asks which folder to install from in
    // its "Choose a folder" dialog; Cancel changes nothing, OK installs that folder's file.
    void installDownloadAsksForTheFolder()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        const Bytes chrome = Pattern(700, 5);
        const Bytes classic = Pattern(900, 6);
        MakeDownload(mods / "wheels.zip", Format::Zip, {{"Chrome/hud.txd", chrome}, {"Classic/HUD.txd", classic}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        dialogs.paths = {mods / "wheels.zip"};
        Click(w, "cmdBrowseSource");
        const Snapshot before = TakeSnapshot(game.path);
        const auto answer = [&](int row, const char* button) {
            dialogs.scripts.push_back([=](QDialog& d) {
                QCOMPARE(d.windowTitle(), QStringLiteral("Choose a folder"));
                auto& list = Control<QListWidget>(d, "lstFolders");
                QCOMPARE(list.count(), 2);
                QCOMPARE(list.item(0)->text(), QStringLiteral("Chrome"));
                QCOMPARE(list.item(1)->text(), QStringLiteral("Classic"));
                QCOMPARE(list.currentRow(), 0);
                QVERIFY(Control<QLabel>(d, "lblFolderQuestion").text().endsWith(QStringLiteral("Choose the folder to install from:")));
                list.setCurrentRow(row);
                Control<QPushButton>(d, button).click();
            });
        };
        answer(1, "cmdFolderCancel");
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.modalTitles, (std::vector<QString>{QStringLiteral("Choose a folder")}));
        QCOMPARE(dialogs.messages.size(), std::size_t{0});
        QCOMPARE(DescribeDifferences(before, TakeSnapshot(game.path)), std::string());
        QCOMPARE(w.windowTitle(), QStringLiteral("Orlen's Tessera"));
        QVERIFY(Enabled(w, "cmdInstall"));
        QVERIFY(Enabled(w, "cmdBrowseSource"));

        answer(1, "cmdFolderOk");
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.messages.size(), std::size_t{0});
        QCOMPARE(w.windowTitle(), QStringLiteral("Mod installed!"));
        QCOMPARE(ReadFile(game.path + "models/hud.txd"), classic);
    }

    // An install that fails tells the user and leaves the window idle under its own caption,
    // also after an earlier install succeeded.
    void failedInstallReturnsToIdle()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        WritePackage(mods / "pack", {{"car.dff", Pattern(100)}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        dialogs.paths = {mods / "pack.zpk"};
        Click(w, "cmdBrowseSource");
        Click(w, "cmdInstall");
        QCOMPARE(w.windowTitle(), QStringLiteral("Mod installed!"));
        fs::DeleteFile(game.path + "models/gta3.img");
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].title, std::string("Install failed"));
        QVERIFY(Enabled(w, "cmdInstall"));
        QVERIFY(Enabled(w, "cmdBrowseSource"));
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(w.windowTitle(), QStringLiteral("Orlen's Tessera"));
    }

    // Quit while an install runs: the window stays until the install has returned.
    // The install runs off the window's thread: while its message is open the window handles its
    // events, Quit asks whether to stop, and Yes rolls the install back, says so and closes.
    void quitDuringInstallAsksAndYesStops()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        WritePackage(mods / "pack", {{"car.dff", Pattern(100)}, {"notes.txt", Pattern(10)}, {"car.txd", Pattern(100)}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        dialogs.paths = {mods / "pack.zpk"};
        Click(w, "cmdBrowseSource");
        const auto txdBefore = ArchiveNames(game.path + "models/txd.dir");
        const auto gta3Before = ArchiveNames(game.path + "models/gta3.dir");

        std::optional<bool> visibleAfterQuit;
        dialogs.answers = {true};
        dialogs.onMessage = [&](const Message& m) {
            if (m.title != "Bad file")
                return;
            QVERIFY(w.Installing());
            QVERIFY(!Child<QPushButton>(w, "cmdInstall")->isEnabled());
            QVERIFY(!Child<QPushButton>(w, "cmdBrowseSource")->isEnabled());
            Child<QAction>(w, "mnuQuit")->trigger();
            visibleAfterQuit = w.isVisible();
        };
        Click(w, "cmdInstall");
        dialogs.onMessage = nullptr;
        QCOMPARE(visibleAfterQuit, std::optional<bool>(true));
        QCOMPARE(dialogs.questions.size(), std::size_t{1});
        QCOMPARE(dialogs.questions[0].text, std::string(kStopQuestion));
        QCOMPARE(dialogs.messages.back().title, std::string("Install stopped"));
        QVERIFY(dialogs.messages.back().text.ends_with("The game folder was left as it was."));
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Installing());
        QCOMPARE(w.windowTitle(), QStringLiteral("Orlen's Tessera"));
        QCOMPARE(ArchiveNames(game.path + "models/txd.dir"), txdBefore);
        QCOMPARE(ArchiveNames(game.path + "models/gta3.dir"), gta3Before);
    }

    // Setup, Options: the dialog over the main window; a new folder is stored and brings its
    // own catalogue, leaving the window as it was.
    void optionsFromMenu()
    {
        MemorySettingsStore store;
        GameFolder first;
        GameFolder second;
        auto window = LoadedWindow(store, first.path);
        frmMain& w = *window;
        const auto before = w.Settings().colStockFiles;

        dialogs.scripts.push_back([](QDialog& d) { Click(d, "cmdCancel"); });
        Child<QAction>(w, "mnuOption")->trigger();
        QCOMPARE(dialogs.modalOwners, std::vector<QWidget*>{&w});
        QCOMPARE(w.Settings().colStockFiles, before);

        dialogs.paths = {second.path + "gta3.exe"};
        dialogs.scripts.push_back([&](QDialog& d) {
            QCOMPARE(Text(d, "lblGTA3Path"), first.path);
            Click(d, "cmdGTA3Browse");
            Click(d, "cmdDone");
        });
        Child<QAction>(w, "mnuOption")->trigger();
        QCOMPARE(w.Settings().sGTA3Path, second.path);
        QCOMPARE(StoredPath(store), second.path);
        QCOMPARE(w.Settings().StockFiles().Fetch("default.dat")->sFullPath(), second.path + "data\\default.dat");
        QCOMPARE(Text(w, "lblSource"), std::string("[Select a .zpk]"));
        QVERIFY(w.isVisible());
    }

    // Setup, Installed mods: a modal window over the main window listing the history newest
    // first; Details fills in where each file went; Uninstall asks and takes the mod out.
    void installedModsFromMenu()
    {
        MemorySettingsStore store;
        GameFolder game;
        TempDir mods;
        WritePackage(mods / "one", {{"default.dat", ToBytes("one default.dat")}});
        WritePackage(mods / "two", {{"new.dff", Pattern(100, 2)}});
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        const QList<QAction*> setup = Child<QMenu>(w, "mnuSetup")->actions();
        QCOMPARE(setup.size(), 2);
        QCOMPARE(setup[0], Child<QAction>(w, "mnuOption"));
        QCOMPARE(setup[1], Child<QAction>(w, "mnuMods"));
        QCOMPARE(setup[1]->text(), QStringLiteral("Installed &mods..."));

        // Empty, it says so across the table. An install made meanwhile by the console appears
        // when the window comes to the front again.
        dialogs.scripts.push_back([&](QDialog& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Installed mods"));
            auto* list = Child<QTableWidget>(d, "lstMods");
            QStringList headings;
            for (int c = 0; c < list->columnCount(); ++c)
                headings << list->horizontalHeaderItem(c)->text();
            QCOMPARE(headings, (QStringList{"No.", "Date", "Package", "Added", "Replaced", "Refused"}));
            QCOMPARE(list->rowCount(), 1);
            QCOMPARE(list->item(0, 0)->text(), QStringLiteral("No install is recorded for this game folder."));
            QCOMPARE(list->columnSpan(0, 0), list->columnCount());
            QVERIFY(!(list->item(0, 0)->flags() & Qt::ItemIsSelectable));
            QVERIFY(!Enabled(d, "cmdDetails"));
            QVERIFY(!Enabled(d, "cmdUninstall"));

            RecordingWindowServices console;
            QCOMPARE(InstallPackage(mods / "one.zpk", w.Settings(), console), InstallResult::Installed);
            QCOMPARE(list->rowCount(), 1);
            QEvent activated(QEvent::WindowActivate);
            QApplication::sendEvent(&d, &activated);
            QCOMPARE(list->rowCount(), 1);
            QCOMPARE(list->columnSpan(0, 0), 1);
            QCOMPARE(list->item(0, 0)->text(), QStringLiteral("1"));
            QCOMPARE(list->item(0, 2)->text(), QStringLiteral("one.zpk"));
            QCOMPARE(list->currentRow(), 0);
            QVERIFY(Enabled(d, "cmdDetails") && Enabled(d, "cmdUninstall"));
            Click(d, "cmdClose");
        });
        Child<QAction>(w, "mnuMods")->trigger();

        dialogs.paths = {mods / "two.zpk"};
        Click(w, "cmdBrowseSource");
        Click(w, "cmdInstall");
        QCOMPARE(dialogs.questions.size(), std::size_t{0});
        dialogs.answers = {true};
        dialogs.scripts.push_back([&](QDialog& d) {
            auto* list = Child<QTableWidget>(d, "lstMods");
            const auto row = [&](int r) {
                QStringList cells;
                for (int c = 0; c < list->columnCount(); ++c)
                    cells << list->item(r, c)->text();
                return cells;
            };
            QCOMPARE(list->rowCount(), 2);
            const QRegularExpression date(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
            QVERIFY2(date.match(row(0)[1]).hasMatch() && date.match(row(1)[1]).hasMatch(), qPrintable(row(0)[1] + " " + row(1)[1]));
            QCOMPARE(row(0), (QStringList{"2", row(0)[1], "two.zpk", "1", "0", "0"}));
            QCOMPARE(row(1), (QStringList{"1", row(1)[1], "one.zpk", "0", "1", "0"}));
            QCOMPARE(list->currentRow(), 0);
            QVERIFY(Enabled(d, "cmdDetails") && Enabled(d, "cmdUninstall"));
            // Neither the table nor the details scroll sideways.
            QApplication::processEvents();
            QVERIFY2(list->horizontalHeader()->length() <= list->viewport()->width(),
                     qPrintable(QString::number(list->horizontalHeader()->length()) + " > " + QString::number(list->viewport()->width())));
            list->setCurrentCell(1, 2);
            Click(d, "cmdDetails");
            auto* pane = Child<QPlainTextEdit>(d, "txtDetails");
            QApplication::processEvents();
            QCOMPARE(pane->horizontalScrollBar()->maximum(), 0);
            // Coming to the front with nothing new keeps the choice and the details.
            QEvent activated(QEvent::WindowActivate);
            QApplication::sendEvent(&d, &activated);
            QCOMPARE(list->currentRow(), 1);
            const QString details = pane->toPlainText();
            QVERIFY2(details.startsWith(QStringLiteral("Install 1: one.zpk, ")) && details.contains(QStringLiteral("\n  default.dat: replaced "))
                         && details.endsWith(QStringLiteral("\nNo later install has changed its files.")),
                     qPrintable(details));
            Click(d, "cmdUninstall");
            QCOMPARE(dialogs.questions.size(), std::size_t{1});
            QCOMPARE(dialogs.questions[0].owner, static_cast<QWidget*>(&d));
            QVERIFY(dialogs.questions[0].text.starts_with("Take back install 1 (one.zpk, "));
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QVERIFY(dialogs.messages[0].text.starts_with("Took back install 1 (one.zpk, "));
            QCOMPARE(list->rowCount(), 1);
            QCOMPARE(list->item(0, 0)->text(), QStringLiteral("2"));
            Click(d, "cmdClose");
        });
        Child<QAction>(w, "mnuMods")->trigger();
        QCOMPARE(dialogs.modalOwners, (std::vector<QWidget*>{&w, &w}));
        QCOMPARE(ReadText(game.path + "data/default.dat"), std::string("stock default.dat"));
        QVERIFY(!fs::FileExists(game.path + "data/default.dat.old"));
        QCOMPARE(ArchiveNames(game.path + "models/gta3.dir"), (std::vector<std::string>{"car.dff", "new.dff"}));
    }

    void aboutAndQuit()
    {
        MemorySettingsStore store;
        GameFolder game;
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        Child<QAction>(w, "mnuAbout")->trigger();
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].title, std::string("About..."));
        QCOMPARE(dialogs.messages[0].owner, static_cast<QWidget*>(&w));
        const QStringList lines = QString::fromStdString(dialogs.messages[0].text).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QStringLiteral("Tessera 1.2"));
        QVERIFY(lines[1].isEmpty() && lines[3].isEmpty());
        QVERIFY(!lines[2].isEmpty());
        QVERIFY(lines[4].contains(QStringLiteral("2002")));
        QCOMPARE(lines[5].toStdString(), std::string(kContactAddress));

        Child<QAction>(w, "mnuQuit")->trigger();
        QVERIFY(!w.isVisible());
    }

    // Each window's accessibility tree, walked as a screen reader walks it: every control of its
    // layout table there with its role, name, text and place; the menu's items by their captions.
    void accessibilityTrees()
    {
        MemorySettingsStore store;
        GameFolder game;
        auto window = LoadedWindow(store, game.path);
        frmMain& w = *window;
        CheckAccessibleControls(w, kMainLayout);
        const std::map<QString, Accessible> main = WalkAccessibilityTree(w);
        for (const MenuLayout& row : kMainMenu) {
            // A menu is read by its item in the menu bar.
            if (row.id == kNoId)
                continue;
            const auto it = main.find(QString::fromLatin1(row.objectName.data(), static_cast<qsizetype>(row.objectName.size())));
            QVERIFY(it != main.end());
            QCOMPARE(it->second.name, QString::fromLatin1(row.text.data(), static_cast<qsizetype>(row.text.size())).remove(QLatin1Char('&')));
        }

        frmOption options(w.Settings(), &w);
        options.show();
        CheckAccessibleControls(options, kOptionLayout);
        options.reject();

        frmMods mods(w.Settings(), &w);
        mods.show();
        CheckAccessibleControls(mods, kModsLayout);
        mods.reject();
    }

    // Calls to accessible objects reach Qt's AT-SPI bridge with as many arguments as it may read
    // (a GetAll has one, and the bridge reads two); what they had comes first, unchanged. Other
    // calls and signals pass as they came.
    void atSpiCallsPadded()
    {
        struct Row {
            const char* path;
            const char* interface;
            const char* member;
            QList<QVariant> arguments;
            bool signal;
            qsizetype count;
        };
        const Row rows[] = {
            {"/org/a11y/atspi/accessible/root", "org.freedesktop.DBus.Properties", "GetAll", {QStringLiteral("org.a11y.atspi.Accessible")}, false, 8},
            {"/org/a11y/atspi/accessible/2147483654", "org.a11y.atspi.Accessible", "GetChildAtIndex", {}, false, 8},
            {"/org/a11y/atspi/accessible/2147483654", "org.freedesktop.DBus.Properties", "Get",
             {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")}, false, 8},
            {"/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties", "GetAll", {QStringLiteral("x")}, false, 1},
            {"/org/a11y/atspi/accessible/root", "org.a11y.atspi.Event.Object", "StateChanged", {QStringLiteral("active")}, true, 1},
        };
        for (const Row& row : rows) {
            QDBusMessage message = row.signal ? QDBusMessage::createSignal(QLatin1String(row.path), QLatin1String(row.interface), QLatin1String(row.member))
                                              : QDBusMessage::createMethodCall(QStringLiteral(":1.0"), QLatin1String(row.path),
                                                                               QLatin1String(row.interface), QLatin1String(row.member));
            message.setArguments(row.arguments);
            PadAccessibleCall(message);
            const QList<QVariant> arguments = message.arguments();
            QCOMPARE(arguments.size(), row.count);
            QCOMPARE(arguments.mid(0, row.arguments.size()), row.arguments);
            for (qsizetype i = row.arguments.size(); i < arguments.size(); ++i)
                QCOMPARE(arguments[i].toString(), QString());
        }
    }

    // The Qt message box: no icon, one OK button, the title and text as given.
    void qtMessageBox()
    {
        std::optional<QString> seen;
        std::function<void()> answer = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                QTimer::singleShot(10, answer);
                return;
            }
            seen = box->windowTitle() + QLatin1Char('|') + box->text();
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->buttons().size(), qsizetype{1});
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        };
        QTimer::singleShot(0, answer);
        QtDialogs().MsgBox(nullptr, "first line\r\nsecond line", "Need path");
        QCOMPARE(seen, std::optional<QString>(QStringLiteral("Need path|first line\nsecond line")));
    }

    // Qt's open-file dialog lists names matching the pattern in any letter case and shows the
    // pattern in parentheses as the only filter.
    void qtOpenDialogFilter()
    {
        TempDir folder;
        // Created past the game-style file layer, which would take GTA3.EXE for gta3.exe.
        for (const char* name : {"gta3.exe", "GTA3.EXE", "Gta3.exe.bak", "readme.txt", "car.zpk", "CAR.ZPK", "car.dir", "mod.zip", "MOD.7Z", "x.rar"})
            std::ofstream(folder / name) << "x";
        struct Row {
            const char* pattern;
            std::vector<QString> listed;
        };
        for (const Row& row : {Row{"Gta3.exe", {QStringLiteral("GTA3.EXE"), QStringLiteral("gta3.exe")}},
                               Row{"*.zpk", {QStringLiteral("CAR.ZPK"), QStringLiteral("car.zpk")}}}) {
            const std::string pattern = row.pattern;
            auto dialog = MakeOpenDialog(nullptr, "Pick", "(" + pattern + ")", pattern, folder.Path());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Pick"));
            dialog->show();
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(types);
            QCOMPARE(types->count(), 1);
            QCOMPARE(types->itemText(0), QStringLiteral("(%1)").arg(QString::fromStdString(pattern)));
            auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
            QVERIFY(view);
            auto listed = [&] {
                std::vector<QString> names;
                const QModelIndex root = view->rootIndex();
                for (int r = 0; r < view->model()->rowCount(root); ++r) {
                    const QModelIndex index = view->model()->index(r, 0, root);
                    if (index.flags() & Qt::ItemIsEnabled)
                        names.push_back(index.data().toString());
                }
                std::sort(names.begin(), names.end());
                return names;
            };
            QTRY_COMPARE(listed(), row.listed);
            dialog->reject();
        }
        // Browse's second entry lists downloads in any letter case.
        auto dialog = MakeOpenDialog(nullptr, "Pick", "(*.zpk)", "*.zpk", folder.Path(), {{"Mod archives (*.zip *.7z *.rar)", "*.zip *.7z *.rar"}});
        dialog->show();
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        QCOMPARE(types->count(), 2);
        QCOMPARE(types->itemText(1), QStringLiteral("Mod archives (*.zip *.7z *.rar)"));
        dialog->selectNameFilter(dialog->nameFilters().at(1));
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 3);
        dialog->reject();
    }
};

int main(int argc, char** argv)
{
    // The user's own settings and home stay out of reach.
    TempDir home;
    for (const char* sub : {"config", "data", "runtime"})
        fs::CreateFolder(home / sub);
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    qputenv("HOME", QByteArray::fromStdString(home.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / "config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home / "data"));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(home / "runtime"));
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    UiTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "ui_tests.moc"
