// frmOption, the options dialog in Qt: the view of OptionForm, which holds its behaviour (the
// user browses to gta3.exe and OK stores its folder as the game folder).
#pragma once

#include "FormLogic.h"
#include "modMain.h"

#include <QDialog>

#include <string>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QPushButton;

namespace tessera {

class frmOption : public QDialog, public IOptionView {
public:
    // Loads the dialog for settings' game folder; owner null centres it on the screen.
    frmOption(modMain& settings, QWidget* owner);

    // Whether OK stored a new game folder.
    bool Saved() const noexcept { return form_.Saved(); }

    // IOptionView
    void ShowMessage(const std::string& text, const std::string& title) override;
    std::string AskFile(const std::string& title, const std::string& filterDescription, const std::string& pattern,
                        const std::string& startFolder, const std::vector<FileFilter>& moreFilters) override;
    void SetPathText(const std::string& text) override;
    void CloseDialog(bool confirmed) override;

protected:
    // Esc confirms like OK instead of cancelling.
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    OptionForm form_;
    bool closing_ = false;

    QLabel* lblGTA3Path;
};

} // namespace tessera
