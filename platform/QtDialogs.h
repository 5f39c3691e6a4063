// The Qt answers to IDialogs: QMessageBox without an icon, Qt's own open-file dialog with a
// filter that ignores letter case, and QDialog::exec.
#pragma once

#include "Dialogs.h"

#include <memory>
#include <string>
#include <string_view>

class QFileDialog;

namespace tessera {

class QtDialogs : public IDialogs {
public:
    void MsgBox(QWidget* owner, const std::string& text, const std::string& title) override;
    bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title) override;
    std::string OpenFile(QWidget* owner, const std::string& title, const std::string& filterDescription,
                         const std::string& pattern, const std::string& startFolder,
                         const std::vector<FileFilter>& moreFilters = {}) override;
    void ShowModal(QDialog& dialog) override;
};

// The wildcard pattern with every ASCII letter widened to both cases ("Gta3.exe" gives
// "[Gg][Tt][Aa]3.[Ee][Xx][Ee]"), for file dialogs whose name filters follow the file system's case.
std::string AnyCaseWildcard(std::string_view pattern);

// The open-file dialog as OpenFile shows it, not yet shown.
std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* owner, const std::string& title,
                                            const std::string& filterDescription, const std::string& pattern,
                                            const std::string& startFolder, const std::vector<FileFilter>& moreFilters = {});

} // namespace tessera
