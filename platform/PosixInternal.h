// Shared between the POSIX file-system sources (FileSystemPosix.cpp, FilePosix.cpp).
#pragma once

#ifndef _WIN32

#include <cerrno>
#include <string>

namespace tessera::fs::posix {

// Throws the failure errno names for an operation ("open", "create the folder") on path, with
// this platform's separators in the message.
[[noreturn]] void ThrowErrno(const char* what, const std::string& path, int err = errno);
// The one answer that means "missing"; any other failure means the system cannot tell.
bool IsAbsence(int err);
// Keeps the listing of a folder this process owns (MakeScratchFolder with keepListing) up to
// date with a name made or removed there.
void NoteName(const std::string& native, bool made);

} // namespace tessera::fs::posix

#endif
