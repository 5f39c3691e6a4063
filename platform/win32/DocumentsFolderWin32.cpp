// The user's Documents folder, in a file of its own: it is the one service that needs the shell
// (SHELL32, which brings USER32 and GDI32 with it, and under Wine their start-up, which reads
// every installed font). Only the desktop program's folder dialog asks for it: the console
// program never does, so the linker leaves this file, and the shell, out of it.
#ifdef _WIN32

#include "FileSystem.h"
#include "Win32Text.h"

#include <shlobj.h>

#include <cstdlib>

namespace tessera::fs {

std::string DocumentsFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, buffer)) && buffer[0])
        return win32::Narrow(buffer);
    const wchar_t* profile = ::_wgetenv(L"USERPROFILE");
    return profile && *profile ? win32::Narrow(profile) : ProgramFolder();
}

} // namespace tessera::fs

#endif
