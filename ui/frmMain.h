// frmMain, the main window: choose a mod package and install it; the menus give Quit, the
// options dialog, the installed mods and the About box. Loading it runs the start-up of the settings.
#pragma once

#include "FormLogic.h"
#include "QtWindowServices.h"
#include "modMain.h"

#include <QMainWindow>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QLineEdit;
class QPushButton;

namespace tessera {

// The main window in Qt: the view of MainForm, which holds its behaviour.
class frmMain : public QMainWindow, public IMainView {
public:
    explicit frmMain(ISettingsStore& store, QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up: settings, the options dialog while no game folder is known, recovery of an
    // interrupted install, then the window is shown. When the user gives no folder the window
    // is closed without ever showing and the program is to end.
    void Form_Load() { form_.Form_Load(); }

    // What Browse does with the path the user chose; a path given on the command line or
    // dropped on the window takes the same way.
    void TakePackage(const std::string& chosen) { form_.TakePackage(chosen); }
    void TakeGivenFile(const std::string& path) { form_.TakeGivenFile(path); }

    modMain& Settings() noexcept { return settings_; }
    bool Installing() const noexcept { return form_.Installing(); }

    // IFormView
    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    // IWindowServices
    void DoEvents() override;
    void SetCaption(const std::string& caption) override;
    void SetPointer(Pointer pointer) override;
    void SetButtonEnabled(Button button, bool enabled) override;
    // IMainView
    void SetSourceText(const std::string& text) override;
    bool ShowOptions(modMain& settings, bool overMainWindow) override;
    void ShowMods(modMain& settings) override;
    bool AskYesNo(const std::string& text, const std::string& title) override;
    std::optional<std::size_t> AskFolder(const std::string& text, const std::vector<std::string>& folders) override;
    void ShowWindow() override;
    void CloseWindow() override;
    bool Ending() const override;
    void RunInBackground(const std::function<void()>& work, const std::function<void()>& pump) override;
    void Wake() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A close while an install runs waits for the install to return.
    void closeEvent(QCloseEvent* event) override;
    // One dropped file is taken as if chosen with Browse; nothing is taken while an install runs.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    modMain settings_;
    MainForm form_;

    QLineEdit* lblSource;
    QPushButton* cmdBrowseSource;
    QPushButton* cmdInstall;

    std::unique_ptr<QtWindowServices> windowServices_;
    // The running RunInBackground's: its pump, and whether a wake is on its way.
    const std::function<void()>* pump_ = nullptr;
    std::atomic<bool> wakePending_{false};
};

// The start-up with the program's arguments (Qt's own already removed): loads the window and,
// once it is up, takes the first argument as a package path, made absolute, as if chosen with
// Browse.
void StartProgram(frmMain& window, const std::vector<std::string>& arguments);

} // namespace tessera
