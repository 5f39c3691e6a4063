// The open-file dialog wrapper.
#include "modBrowseDir.h"

#include "Archive.h"
#include "FileSystem.h"
#include "FormLogic.h"
#include "Text.h"

namespace tessera {

std::string ShowOpenDialog(const std::string& title, const std::string& pattern, IFormView& owner,
                           const std::vector<FileFilter>& moreFilters)
{
    const std::string chosen = owner.AskFile(title, "(" + pattern + ")", pattern, fs::ProgramFolder(), moreFilters);
    return CleanName(TrimSpaces(chosen));
}

} // namespace tessera
