// The open-file dialog wrapper.
#include "modBrowseDir.h"

#include "Archive.h"
#include "FileSystem.h"
#include "FormLogic.h"
#include "Text.h"

namespace tessera {

std::string ShowOpenDialog(const std::string& title, const std::string& pattern, IFormView& owner, const std::string& startFolder,
                           const std::vector<FileFilter>& moreFilters)
{
    const std::string chosen = owner.AskFile(title, "(" + pattern + ")", pattern, startFolder, moreFilters);
    return CleanName(TrimSpaces(chosen));
}

std::string StartFolder(const std::string& lastChosen, const std::string& programFolder, bool programFolderWritable,
                        const std::string& documents)
{
    if (!lastChosen.empty())
        return lastChosen;
    return programFolderWritable ? programFolder : documents;
}

std::string StartFolder(const std::string& lastChosen)
{
    if (!lastChosen.empty())
        return lastChosen;
    const std::string program = fs::ProgramFolder();
    // The folder a package manager installed the program into (/usr/bin for the .deb) is no place
    // of mods, even for an administrator who may write there.
#ifdef TESSERA_INSTALLED_BINDIR
    const bool installed = program == TESSERA_INSTALLED_BINDIR;
#else
    const bool installed = false;
#endif
    return StartFolder({}, program, !installed && fs::CanWriteIn(program), fs::DocumentsFolder());
}

std::string ChosenFolder(const std::string& chosen)
{
    // The separator stays: without it a drive's root ("C:") would name the drive's current folder.
    std::size_t end = chosen.size();
    while (end > 0 && !fs::IsSeparator(chosen[end - 1]))
        --end;
    return chosen.substr(0, end);
}

} // namespace tessera
