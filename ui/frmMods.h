// frmMods, the "Installed mods" window in Qt: the view of ModsForm, which holds its behaviour
// (the history of the game folder, the details of one install, taking one back out).
#pragma once

#include "FormLogic.h"
#include "modMain.h"

#include <QDialog>

#include <string>
#include <vector>

class QTableWidget;
class QPlainTextEdit;
class QPushButton;

namespace tessera {

class frmMods : public QDialog, public IModsView {
public:
    // Loads the window for settings' game folder, modal over owner.
    frmMods(modMain& settings, QWidget* owner);

    // IModsView
    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    void SetListRows(const std::vector<std::vector<std::string>>& rows, int selected, const std::string& note) override;
    void SetDetailsText(const std::string& text) override;
    void SetCommandsEnabled(bool enabled) override;
    bool AskYesNo(const std::string& text, const std::string& title) override;
    void CloseDialog() override { accept(); }

protected:
    // Coming to the front lists what was installed meanwhile.
    bool event(QEvent* event) override;

private:
    ModsForm form_;
    bool listing_ = false;   // the list is being filled: its selection changes are not the user's

    QTableWidget* lstMods;
    QPlainTextEdit* txtDetails;
    QPushButton* cmdDetails;
    QPushButton* cmdUninstall;
    QPushButton* cmdClose;
};

} // namespace tessera
