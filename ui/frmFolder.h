// frmFolder, the "Choose a folder" dialog in Qt: a download holds one name in several folders,
// and the user picks the folder to install from, or cancels.
#pragma once

#include <QDialog>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class QListWidget;

namespace tessera {

class frmFolder : public QDialog {
public:
    frmFolder(const std::string& text, const std::vector<std::string>& folders, QWidget* owner);

    // The folder chosen with OK (or a double click); nothing after Cancel, Esc or the frame.
    std::optional<std::size_t> Chosen() const;

private:
    QListWidget* lstFolders;
};

} // namespace tessera
