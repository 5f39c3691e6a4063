// frmOption, the options dialog: the user browses to gta3.exe and OK stores its folder as the
// game folder.
#pragma once

#include "modMain.h"

#include <QDialog>

#include <string>

class QKeyEvent;
class QLabel;
class QPushButton;

namespace tessera {

class frmOption : public QDialog {
public:
    // Loads the dialog for settings' game folder; owner null centres it on the screen.
    frmOption(modMain& settings, QWidget* owner);

    // Whether OK stored a new game folder.
    bool Saved() const noexcept { return saved_; }

protected:
    // Esc confirms like OK instead of cancelling.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();
    void cmdGTA3Browse_Click();
    void cmdDone_Click();
    void cmdCancel_Click();
    void SetPathText(const std::string& text);

    modMain& settings_;
    // The folder that OK would store, as bytes; lblGTA3Path shows it.
    std::string pathText_;
    bool saved_ = false;

    QPushButton* cmdCancel;
    QPushButton* cmdDone;
    QLabel* lblGTA3Path;
    QPushButton* cmdGTA3Browse;
    QLabel* Label1;
};

} // namespace tessera
