// Shared between the POSIX file-system sources (FileSystemPosix.cpp, FilePosix.cpp).
#pragma once

#ifndef _WIN32

#include <cerrno>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

namespace tessera::fs::posix {

// Throws the failure errno names for an operation ("open", "create the folder") on path, with
// this platform's separators in the message.
[[noreturn]] void ThrowErrno(const char* what, const std::string& path, int err = errno);
// The one answer that means "missing"; any other failure means the system cannot tell.
bool IsAbsence(int err);
// lstat of a native path: false when it is missing, a throw when the system cannot tell.
bool Exists(const std::string& native);
// Starts (keep) or stops keeping the listing of a folder this process owns (MakeScratchFolder
// with keepListing), and keeps it up to date with a name made or removed there.
void KeepListing(const std::string& folder, bool keep);
void NoteName(const std::string& native, bool made);
// Takes a folder, spelled as on disk without a trailing separator, as one only Tessera names
// things in; whether a path text is one or lies inside one (a name missing there is missing in
// every letter case).
void TakeAsOwnFolder(const std::string& text);
bool InOwnFolder(const std::string& text);
// The next entry of an open listing; null at its end. readdir tells its end and its errors apart
// only by errno: a listing cut short by an error is not the whole folder (the listing is closed
// and the error thrown).
const dirent* NextEntry(DIR* dir, const std::string& folder);
// folder and name with one separator between.
std::string Join(const std::string& folder, const std::string& name);
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
