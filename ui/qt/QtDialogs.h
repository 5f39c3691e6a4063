// The modal windows of the Qt desktop program: message boxes, the open-file dialog and any
// dialog window shown modally. The windows reach them only through IDialogs, so tests answer them
// at once with a recording double instead of waiting on a modal loop. QtDialogs answers with
// QMessageBox without an icon, Qt's own open-file dialog with a filter that ignores letter case,
// and QDialog::exec.
#pragma once

#include "Dialogs.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QDialog;
class QFileDialog;
class QWidget;

namespace tessera {

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Shows text (lines separated by CR LF) under title with one OK button and no icon, modal to
    // owner (or to the application when owner is null); returns when the user has closed it.
    virtual void MsgBox(QWidget* owner, const std::string& text, const std::string& title) = 0;
    // The same with Yes and No buttons, No the default; true when the user answered Yes.
    virtual bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title) = 0;
    // A modal single-file open dialog over owner, starting in startFolder, with one filter entry
    // shown as filterDescription that lists the names matching pattern in any letter case. The
    // user may type a name that does not exist. Returns the chosen full path, or empty text.
    // moreFilters follow the first entry in the filter list.
    virtual std::string OpenFile(QWidget* owner, const std::string& title, const std::string& filterDescription,
                                 const std::string& pattern, const std::string& startFolder,
                                 const std::vector<FileFilter>& moreFilters = {}) = 0;
    // Shows dialog modally and returns when it has closed.
    virtual void ShowModal(QDialog& dialog) = 0;
};

// The dialogs in use: the Qt ones unless a test has put its own in place.
IDialogs& Dialogs();
// Puts dialogs in place (not owned); null restores the Qt ones.
void SetDialogs(IDialogs* dialogs);

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
