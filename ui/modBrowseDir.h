// modBrowseDir: the program's one wrapper around the open-file dialog, toolkit-free; the
// window that owns the dialog shows it.
#pragma once

#include "Dialogs.h"

#include <string>
#include <vector>

namespace tessera {

class IFormView;

// A modal single-file open dialog over owner with the given title and one filter entry,
// described as the pattern in parentheses, starting in the program folder. Returns the chosen
// full path with the dialog's padding and NUL dropped, or empty text when the user cancelled.
// moreFilters follow that entry.
std::string ShowOpenDialog(const std::string& title, const std::string& pattern, IFormView& owner,
                           const std::vector<FileFilter>& moreFilters = {});

} // namespace tessera
