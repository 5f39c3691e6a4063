// The open-file dialog wrapper.
#include "modBrowseDir.h"

#include "Archive.h"
#include "Dialogs.h"
#include "FileSystem.h"
#include "Text.h"

namespace tessera {

std::string ShowOpenDialog(const std::string& title, const std::string& pattern, QWidget* owner,
                           const std::vector<FileFilter>& moreFilters)
{
    const std::string chosen = Dialogs().OpenFile(owner, title, "(" + pattern + ")", pattern, fs::ProgramFolder(), moreFilters);
    return CleanName(TrimSpaces(chosen));
}

} // namespace tessera
