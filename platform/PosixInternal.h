// Shared between the POSIX file-system sources (FileSystemPosix.cpp, FilePosix.cpp).
#pragma once

#ifndef _WIN32

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace tessera::fs::posix {

// Throws the failure errno names for an operation ("open", "create the folder") on path, with
// this platform's separators in the message.
[[noreturn]] void ThrowErrno(const char* what, const std::string& path, int err = errno);
// The one answer that means "missing"; any other failure means the system cannot tell.
bool IsAbsence(int err);
// Keeps the listing of a folder this process owns (MakeScratchFolder with keepListing) up to
// date with a name made or removed there.
void NoteName(const std::string& native, bool made);
// stat (lstat without followLink) of a path, spelled as given first and with its letter case
// resolved only on a miss: false when it is missing, a throw saying what was being done when
// the system cannot tell.
bool StatOf(const std::string& path, struct stat& st, bool followLink = true, const char* what = "look for");
// NativePath of a path text (its separators '/') known to be missing as spelled: another
// spelling is looked for, component by component.
std::string ResolveMissing(const std::string& text);
// open of a path as StatOf looks at it, its letter case resolved only on a miss: -1 when it
// fails, errno saying why.
int OpenPath(const std::string& path, int flags);

} // namespace tessera::fs::posix

#endif
