// POSIX implementation of the file-system services: Windows path semantics on a case-sensitive
// file system (backslash separators, letter case resolved as PosixSpelling.cpp resolves it),
// folders, names and listings. Open files are FilePosix.cpp's.
#ifndef _WIN32

#include "FileSystem.h"
#include "FileSystemInternal.h"
#include "PosixInternal.h"
#include "Text.h"

#include <algorithm>
#include <climits>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <pwd.h>
#include <vector>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tessera::fs {

using posix::Exists;
using posix::InOwnFolder;
using posix::IsAbsence;
using posix::Join;
using posix::NextEntry;
using posix::NoteName;
using posix::StatOf;
using posix::ThrowErrno;

const char kSeparator = '/';

namespace {

ErrorKind KindOfErrno(int err)
{
    switch (err) {
    case ENOENT: return ErrorKind::FileNotFound;
    case ENOTDIR: return ErrorKind::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR: return ErrorKind::AccessDenied;
    case ENOSPC:
    case EDQUOT: return ErrorKind::DiskFull;
    case EFBIG: return ErrorKind::Overflow;
    case EEXIST: return ErrorKind::AlreadyExists;
    default: return ErrorKind::Io;
    }
}

} // namespace

[[noreturn]] void posix::ThrowErrno(const char* what, const std::string& path, int err)
{
    const ErrorKind kind = KindOfErrno(err);
    std::string reason;
    switch (kind) {
    case ErrorKind::FileNotFound: reason = "file not found"; break;
    case ErrorKind::PathNotFound: reason = "path not found"; break;
    case ErrorKind::AccessDenied: reason = "access denied"; break;
    case ErrorKind::DiskFull: reason = "disk full"; break;
    case ErrorKind::AlreadyExists: reason = "something of that name is already there"; break;
    default: reason = std::strerror(err); break;
    }
    // Messages show one kind of separator: this platform's.
    std::string shown = std::string("Cannot ") + what + " " + path;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    throw TesseraError(kind, shown + ": " + reason, path);
}

bool posix::IsAbsence(int err) { return err == ENOENT || err == ENOTDIR; }

namespace {

// One call of the system on a path text (look(native) true when it succeeded, errno telling why
// not); false when the path is missing, a throw saying what was being done when that cannot be
// told. The path as spelled is tried first: a path that is there needs no search for another
// spelling, and one call instead of a look and the call.
template <class Look>
bool OnPath(const std::string& path, const char* what, Look look)
{
    std::string text = path;
    std::replace(text.begin(), text.end(), '\\', '/');
    if (!text.empty() && look(text))
        return true;
    if (!text.empty() && !IsAbsence(errno))
        ThrowErrno(what, path);
    // Missing as spelled: only another spelling is left to look for, if there is one.
    const int missed = errno;
    const std::string other = text.empty() ? NativePath(path) : posix::ResolveMissing(text);
    if (other == text) {
        errno = text.empty() ? ENOENT : missed;
        return false;
    }
    if (look(other))
        return true;
    if (!IsAbsence(errno))
        ThrowErrno(what, path);
    return false;
}


} // namespace

bool posix::StatOf(const std::string& path, struct stat& st, bool followLink, const char* what)
{
    return OnPath(path, what, [&](const std::string& native) { return (followLink ? ::stat(native.c_str(), &st) : ::lstat(native.c_str(), &st)) == 0; });
}

int posix::OpenPath(const std::string& path, int flags)
{
    std::string text = path;
    std::replace(text.begin(), text.end(), '\\', '/');
    const int fd = text.empty() ? -1 : ::open(text.c_str(), flags);
    if (fd >= 0 || (!text.empty() && !IsAbsence(errno)))
        return fd;
    const int missed = errno;
    const std::string other = text.empty() ? NativePath(path) : ResolveMissing(text);
    if (!text.empty() && other == text) {
        errno = missed;
        return -1;
    }
    return ::open(other.c_str(), flags);
}

bool FileExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    struct stat st {};
    return StatOf(path, st) && S_ISREG(st.st_mode);
}

bool VisibleFileExists(const std::string& path) { return FileExists(path); }

bool FolderExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    struct stat st {};
    return StatOf(path, st) && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    struct stat st {};
    return StatOf(path, st, false);
}

namespace {

PathKind KindOf(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return PathKind::Link;
    return S_ISREG(st.st_mode) ? PathKind::File : S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::Other;
}

} // namespace

PathKind Lookup(const std::string& path)
{
    detail::CountOperation("look for", path);
    struct stat st {};
    return StatOf(path, st, false) ? KindOf(st) : PathKind::Missing;
}

PathKind LookupOwnFolder(const std::string& path, std::string* disk)
{
    detail::CountOperation("look for", path);
    std::string text = path;
    std::replace(text.begin(), text.end(), '\\', '/');
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    if (text.empty())
        return PathKind::Missing;
    struct stat st {};
    if (::lstat(text.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            posix::TakeAsOwnFolder(text);
            if (disk)
                *disk = std::to_string(static_cast<unsigned long long>(st.st_dev));
        }
        return KindOf(st);
    }
    if (!IsAbsence(errno))
        ThrowErrno("look for", path);
    // Not there as spelled: a folder of another spelling is the user's doing, not taken as ours.
    const std::string other = posix::ResolveMissing(text);
    if (other == text)
        return PathKind::Missing;
    if (::lstat(other.c_str(), &st) == 0)
        return KindOf(st);
    if (!IsAbsence(errno))
        ThrowErrno("look for", path);
    return PathKind::Missing;
}

std::string FolderIdentity(const std::string& path, std::string* disk)
{
    detail::CountOperation("look for", path);
    const auto notFolder = [&](const char* why) { return TesseraError(ErrorKind::PathNotFound, "Cannot reach the folder " + path + ": " + why, path); };
#ifdef STATX_BTIME
    // A removed folder's inode number is soon given to a new one: its birth time tells them
    // apart, where the file system keeps one. One call reads it with the rest. A failure throws
    // rather than giving another identity, since the journal's name depends on it.
    struct statx sx {};
    if (!OnPath(path, "look for", [&](const std::string& native) { return ::statx(AT_FDCWD, native.c_str(), 0, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) == 0; }))
        throw notFolder("path not found");
    if (!S_ISDIR(sx.stx_mode))
        throw notFolder("it is not a folder");
    const std::string device = std::to_string(static_cast<unsigned long long>(makedev(sx.stx_dev_major, sx.stx_dev_minor)));
    if (disk)
        *disk = device;
    std::string identity = "dev " + device + " inode " + std::to_string(static_cast<unsigned long long>(sx.stx_ino));
    if (sx.stx_mask & STATX_BTIME)
        identity += " born " + std::to_string(sx.stx_btime.tv_sec) + "." + std::to_string(sx.stx_btime.tv_nsec);
    return identity;
#else
    struct stat st {};
    if (!StatOf(path, st))
        throw notFolder("path not found");
    if (!S_ISDIR(st.st_mode))
        throw notFolder("it is not a folder");
    if (disk)
        *disk = std::to_string(static_cast<unsigned long long>(st.st_dev));
    return "dev " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + " inode " + std::to_string(static_cast<unsigned long long>(st.st_ino));
#endif
}

std::string ResolvedFolder(const std::string& path)
{
    detail::CountOperation("look for", path);
    char* resolved = nullptr;
    if (!OnPath(path, "reach the folder", [&](const std::string& native) { return (resolved = ::realpath(native.c_str(), nullptr)) != nullptr; }))
        ThrowErrno("reach the folder", path);
    std::string r = resolved;
    std::free(resolved);
    struct stat st {};
    if (!StatOf(r, st))
        throw TesseraError(ErrorKind::PathNotFound, "Cannot reach the folder " + path + ": path not found", path);
    if (!S_ISDIR(st.st_mode))
        throw TesseraError(ErrorKind::PathNotFound, "Cannot reach the folder " + path + ": it is not a folder", path);
    return WithTrailingSeparator(r);
}

std::int64_t FileLength(const std::string& path)
{
    detail::CountOperation("read the length of", path);
    struct stat st {};
    if (!StatOf(path, st, true, "read the length of"))
        ThrowErrno("read the length of", path);
    return static_cast<std::int64_t>(st.st_size);
}

void CreateFolder(const std::string& path)
{
    detail::CountOperation("create the folder", path);
    faults::Suspend quiet;
    // Inside a folder of Tessera's own a new name is rarely taken: made at once, looked at only
    // when something has it.
    std::string text = path;
    std::replace(text.begin(), text.end(), '\\', '/');
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    if (InOwnFolder(text) && ::mkdir(text.c_str(), 0755) == 0) {
        NoteName(text, true);
        return;
    }
    if (FolderExists(path))
        return;
    const std::string native = NativePath(path);
    if (::mkdir(native.c_str(), 0755) != 0) {
        if (errno != EEXIST)
            ThrowErrno("create the folder", path);
        if (!FolderExists(path))
            throw TesseraError(ErrorKind::PathNotFound, "Cannot create the folder " + path + ": a file has that name", path);
    }
    NoteName(native, true);
}

void RemoveFolder(const std::string& path)
{
    detail::CountOperation("remove the folder", path);
    if (::rmdir(NativePath(path).c_str()) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST)
            detail::ThrowFolderNotEmpty(path);
        ThrowErrno("remove the folder", path);
    }
}

void RemoveTree(const std::string& path)
{
    detail::CountOperation("remove", path);
    faults::Suspend quiet;
    const std::string native = NativePath(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) {
        if (IsAbsence(errno))
            return;
        ThrowErrno("remove", path);
    }
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = ::opendir(native.c_str())) {
            std::vector<std::string> names;
            while (const dirent* e = NextEntry(dir, path)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            ::closedir(dir);
            for (const auto& name : names)
                RemoveTree(Join(native, name));
        }
        if (::rmdir(native.c_str()) != 0)
            ThrowErrno("remove the folder", path);
        posix::KeepListing(native.back() == '/' ? native.substr(0, native.size() - 1) : native, false);
    } else if (::unlink(native.c_str()) != 0) {
        ThrowErrno("delete", path);
    }
    NoteName(native, false);
}

void DeleteFile(const std::string& path)
{
    detail::CountOperation("delete", path);
    const std::string native = NativePath(path);
    if (::unlink(native.c_str()) != 0)
        ThrowErrno("delete", path);
    NoteName(native, false);
}

void RenameFile(const std::string& from, const std::string& to)
{
    detail::CountOperation("rename", from);
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (::rename(source.c_str(), target.c_str()) != 0)
        ThrowErrno(("rename to " + to + ":").c_str(), from);
    NoteName(source, false);
    NoteName(target, true);
}

void RenameNoReplace(const std::string& from, const std::string& to)
{
    detail::CountOperation("rename", from);
    const std::string what = "rename to " + to + ":";
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            ThrowErrno(what.c_str(), from);
        // The file system cannot rename that way: a second name, which cannot replace either,
        // then the first one removed.
        if (::link(source.c_str(), target.c_str()) == 0) {
            if (::unlink(source.c_str()) != 0)
                ThrowErrno(what.c_str(), from);
        } else {
            if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
                ThrowErrno(what.c_str(), from);
            // Nor links (FAT): looked at, then renamed; only this process writes these names.
            if (Exists(target))
                ThrowErrno(what.c_str(), from, EEXIST);
            if (::rename(source.c_str(), target.c_str()) != 0)
                ThrowErrno(what.c_str(), from);
        }
    }
    NoteName(source, false);
    NoteName(target, true);
}

// The names in a folder by what they are: regular files (links followed), folders (links not
// followed) and the rest. The kind the listing gives saves a look at each name; only a link, or
// a name of a kind the file system does not tell, is looked at.
FolderListing detail::ListNames(const std::string& folder)
{
    detail::CountOperation("list the folder", folder);
    const std::string native = NativePath(folder);
    DIR* dir = ::opendir(native.c_str());
    if (!dir)
        ThrowErrno("list the folder", folder);
    FolderListing listing;
    while (const dirent* e = NextEntry(dir, folder)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = e->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN || type == DT_LNK) {
            const std::string path = Join(native, name);
            int rc = ::lstat(path.c_str(), &st);
            if (rc == 0 && S_ISLNK(st.st_mode)) {
                type = DT_LNK;
                rc = ::stat(path.c_str(), &st);
            } else if (rc == 0) {
                type = S_ISDIR(st.st_mode) ? DT_DIR : DT_UNKNOWN;
            }
            if (rc != 0 && !IsAbsence(errno)) {
                // A file that cannot be looked at is not a file that is not there.
                const int err = errno;
                ::closedir(dir);
                ThrowErrno("list the folder", folder, err);
            }
            if (rc != 0 && type != DT_LNK)
                continue;   // gone since the listing
            if (rc != 0)
                st.st_mode = 0;   // a link to nothing
        } else {
            st.st_mode = type == DT_REG ? S_IFREG : 0;
        }
        if (type == DT_DIR)
            listing.folders.push_back(name);
        else if (S_ISREG(st.st_mode))
            listing.files.push_back(name);
        else
            listing.others.push_back(name);
    }
    ::closedir(dir);
    for (auto* names : {&listing.files, &listing.folders, &listing.others})
        std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) { return LessIgnoreCase(a, b); });
    return listing;
}

std::optional<std::string> TooLongForTheSystem(const std::string& path)
{
    // The limits every Linux file system shares: the whole with its end mark, and each name.
    if (path.size() >= PATH_MAX)
        return "its path has " + std::to_string(path.size()) + " characters, and the system takes at most " + std::to_string(PATH_MAX - 1);
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        if (end - start > NAME_MAX)
            return "its part " + path.substr(start, 32) + "... has " + std::to_string(end - start) + " characters, and the system takes at most "
                + std::to_string(NAME_MAX);
        start = end + 1;
    }
    return std::nullopt;
}

std::int64_t FreeSpace(const std::string& path)
{
    detail::CountOperation("read the free space of", path);
    struct statvfs st {};
    if (!OnPath(path, "read the free space of", [&](const std::string& native) { return ::statvfs(native.c_str(), &st) == 0; }))
        ThrowErrno("read the free space of", path);
    return detail::LimitedFreeSpace(static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize));
}

std::string DiskOf(const std::string& path)
{
    detail::CountOperation("find the disk of", path);
    struct stat st {};
    if (!StatOf(path, st, true, "find the disk of"))
        ThrowErrno("find the disk of", path);
    return std::to_string(static_cast<unsigned long long>(st.st_dev));
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || IsSeparator(path.front()))
        return path;
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            ThrowErrno("find the current folder for", path);
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    std::string absolute = WithTrailingSeparator(cwd);
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        const std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".")
            absolute += part + (end < path.size() ? std::string(1, path[end]) : std::string());
        start = end + 1;
    }
    return absolute;
}

std::string TempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return WithTrailingSeparator(tmp && *tmp ? tmp : "/tmp");
}

std::string UserDataFolder()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = TempFolder();
    return WithTrailingSeparator(base) + "Tessera/";
}

std::string ProgramFolder()
{
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0)
        return ".";
    buffer.resize(static_cast<std::size_t>(n));
    const auto slash = buffer.find_last_of('/');
    return slash == 0 ? "/" : buffer.substr(0, slash);
}

std::string DocumentsFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    // No HOME: the account's own entry names it.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir && *found->pw_dir == '/')
        return found->pw_dir;
    return "/";
}

bool CanWriteIn(const std::string& folder)
{
    // Making a file there takes writing to the folder and searching it.
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string MakeScratchFolder(const std::string& prefix, bool keepListing)
{
    detail::CountOperation("create a folder in", TempFolder());
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string base = TempFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = base + prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + std::to_string(random() % 1000000);
        if (::mkdir(name.c_str(), 0700) == 0) {
            if (keepListing)
                posix::KeepListing(name, true);   // empty, and only this process writes into it
            return name + "/";
        }
        if (errno != EEXIST)
            ThrowErrno("create the folder", name);
    }
    throw TesseraError(ErrorKind::Io, "Cannot create a scratch folder under " + base, base);
}

} // namespace tessera::fs

#endif
