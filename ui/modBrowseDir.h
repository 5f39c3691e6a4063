// modBrowseDir: the program's one wrapper around the open-file dialog, toolkit-free; the
// window that owns the dialog shows it.
#pragma once

#include "Dialogs.h"

#include <string>
#include <vector>

namespace tessera {

class IFormView;

// A modal single-file open dialog over owner with the given title and one filter entry,
// described as the pattern in parentheses, starting in startFolder. Returns the chosen full
// path with the dialog's padding and NUL dropped, or empty text when the user cancelled.
// moreFilters follow that entry.
std::string ShowOpenDialog(const std::string& title, const std::string& pattern, IFormView& owner, const std::string& startFolder,
                           const std::vector<FileFilter>& moreFilters = {});

// Where an open dialog starts: the folder last chosen during this run (empty: none yet); else
// the program's folder, where players have always kept their mods, when the user may write
// there (a program installed system-wide sits among the system's programs); else the user's
// documents folder.
std::string StartFolder(const std::string& lastChosen, const std::string& programFolder, bool programFolderWritable,
                        const std::string& documents);
// The same, with the program's and documents folders as this system has them.
std::string StartFolder(const std::string& lastChosen);
// The folder part of a chosen path, for the next dialog to start in; empty when it has none.
std::string ChosenFolder(const std::string& chosen);

} // namespace tessera
