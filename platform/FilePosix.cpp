// POSIX implementation of open files: reading and writing at a position, locks, copies and
// flushes. Names and folders are FileSystemPosix.cpp's.
#ifndef _WIN32

#include "FileSystem.h"
#include "FileSystemInternal.h"
#include "PosixInternal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::fs {

using posix::IsAbsence;
using posix::NoteName;
using posix::ThrowErrno;

namespace {

// One call that reads or writes, made again when a signal cuts it off before any byte moved.
template <class Call>
std::size_t Uninterrupted(const char* what, const std::string& path, Call call)
{
    for (;;) {
        const ssize_t n = call();
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            ThrowErrno(what, path);
    }
}

} // namespace

File::File(const std::string& path, OpenMode mode) : path_(path)
{
    // Not blocking: opening a pipe for reading would otherwise wait for a writer for ever.
    int flags = O_CLOEXEC | O_NONBLOCK;
    const char* what = "open";
    switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::ReadWrite: flags |= O_RDWR; what = "open for writing"; break;
    case OpenMode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        what = "create";
        break;
    case OpenMode::CreateNew:
    case OpenMode::Replace:
    case OpenMode::Held:
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        what = "create";
        break;
    }
    detail::CountOperation(what, path);
    // Renaming or removing a file does not depend on who holds it open here: Held is Replace.
    if (mode == OpenMode::Held)
        mode = OpenMode::Replace;
    const bool creates = mode == OpenMode::Create || mode == OpenMode::CreateNew || mode == OpenMode::Replace;
    // An existing file spelled as it is on disk opens at once; only a miss needs the letter
    // case resolved, and a new file always does, so that it takes an existing file's place.
    if (!creates) {
        std::string direct = path;
        std::replace(direct.begin(), direct.end(), '\\', '/');
        handle_ = ::open(direct.c_str(), flags);
        if (handle_ < 0 && errno != ENOENT)
            ThrowErrno(what, path);
    }
    if (handle_ < 0) {
        const std::string native = NativePath(path);
        if (mode == OpenMode::Replace) {
            // A plain file of that name goes (its name is kept for the new one); a link stays
            // and the creation below fails, so nothing is written through it.
            struct stat st {};
            if (::lstat(native.c_str(), &st) == 0) {
                if (!S_ISREG(st.st_mode))
                    throw TesseraError(ErrorKind::AccessDenied, "Cannot create " + path + ": a link or folder has that name", path);
                if (::unlink(native.c_str()) != 0)
                    ThrowErrno("replace", path);
                NoteName(native, false);
            } else if (!IsAbsence(errno)) {
                ThrowErrno("look for", path);
            }
        }
        handle_ = ::open(native.c_str(), flags, 0644);
        if (handle_ < 0) {
            if (errno == ELOOP || (errno == EEXIST && mode == OpenMode::Replace))
                throw TesseraError(ErrorKind::AccessDenied, "Cannot create " + path + ": a link or folder has that name", path);
            ThrowErrno(what, path);
        }
        if (creates)
            NoteName(native, true);
    }
    struct stat st {};
    const int err = ::fstat(static_cast<int>(handle_), &st) == 0 ? 0 : errno;
    if (err != 0 || !S_ISREG(st.st_mode)) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
        if (err != 0)
            ThrowErrno(what, path, err);
        if (S_ISDIR(st.st_mode))
            ThrowErrno(what, path, EISDIR);
        // A pipe or device gives no length and no bytes at a position.
        std::string shown = std::string("Cannot ") + what + " " + path;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        throw TesseraError(ErrorKind::AccessDenied, shown + ": it is not a regular file", path);
    }
    ::fcntl(static_cast<int>(handle_), F_SETFL, ::fcntl(static_cast<int>(handle_), F_GETFL) & ~O_NONBLOCK);
}

std::int64_t File::Length() const
{
    detail::CountOpenFileOperation("read the length of", path_);
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0)
        ThrowErrno("read the length of", path_);
    return static_cast<std::int64_t>(st.st_size);
}

std::size_t File::ReadAt(std::int64_t offset, std::span<std::byte> out) const
{
    detail::CountOpenFileOperation("read", path_);
    const int fd = static_cast<int>(handle_);
    return detail::MoveInSteps(out.size(), [&](std::size_t done) {
        return Uninterrupted("read", path_, [&] { return ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset) + static_cast<off_t>(done)); });
    });
}

void File::WriteAt(std::int64_t offset, std::span<const std::byte> data)
{
    detail::CountOpenFileOperation("write", path_);
    const int fd = static_cast<int>(handle_);
    const std::size_t written = detail::MoveInSteps(data.size(), [&](std::size_t done) {
        return Uninterrupted("write", path_, [&] { return ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset) + static_cast<off_t>(done)); });
    });
    // A write that moves nothing is a failure, not a reason to try for ever.
    if (written < data.size())
        ThrowErrno("write", path_, EIO);
}

void File::Truncate(std::int64_t length)
{
    detail::CountOpenFileOperation("truncate", path_);
    if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(length)) != 0)
        ThrowErrno("truncate", path_);
}

void File::Flush()
{
    detail::CountOpenFileOperation("flush", path_);
    if (detail::FlushesSkipped())
        return;
    if (::fdatasync(static_cast<int>(handle_)) != 0)
        ThrowErrno("flush", path_);
}

void File::Close()
{
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

ExclusiveLock::ExclusiveLock(const std::string& path)
{
    detail::CountOperation("lock", path);
    path_ = NativePath(path);
    // The holder removes the file as it lets go, so a lock had on a file that is no longer the
    // one of that name is no lock: try again with the file there now.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0)
            ThrowErrno("create the lock file", path);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK)
                return;
            ThrowErrno("lock", path, err);
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            handle_ = fd;
            return;
        }
        ::close(fd);
    }
    throw TesseraError(ErrorKind::Io, "Cannot lock " + path + ": its lock file keeps changing", path);
}

ExclusiveLock::~ExclusiveLock()
{
    if (handle_ != -1) {
        ::unlink(path_.c_str());
        ::close(static_cast<int>(handle_));
    }
}

void CopyFile(const std::string& from, const std::string& to)
{
    detail::CountOperation("copy", from);
    faults::Suspend quiet;   // the copy counts once, not per write inside it
    File source(from, OpenMode::Read);
    File target(to, OpenMode::Replace);
    const std::int64_t length = source.Length();
    std::int64_t done = 0;
    // In the kernel where it can; otherwise (older kernels, some file systems) through a buffer.
    while (done < length) {
        const ssize_t n = ::copy_file_range(static_cast<int>(source.handle_), nullptr, static_cast<int>(target.handle_), nullptr,
                                            static_cast<std::size_t>(length - done), 0);
        if (n <= 0)
            break;
        done += n;
    }
    if (done < length) {
        std::vector<std::byte> buffer(static_cast<std::size_t>(std::min<std::int64_t>(length - done, 8 << 20)));
        while (done < length) {
            const std::size_t n = source.ReadAt(done, buffer);
            if (n == 0)
                break;
            target.WriteAt(done, std::span<const std::byte>(buffer.data(), n));
            done += static_cast<std::int64_t>(n);
        }
    }
}

bool CopiesInKernel() { return !detail::CopyThroughBufferOnly(); }

std::int64_t CopyRange(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                       std::span<std::byte> buffer, const CopyTap& tap)
{
    detail::CountOpenFileOperation("write", target.path_);
    std::int64_t done = 0;
    while (!tap && CopiesInKernel() && done < length) {
        auto in = static_cast<loff_t>(from + done);
        auto out = static_cast<loff_t>(to + done);
        const ssize_t n = ::copy_file_range(static_cast<int>(source.handle_), &in, static_cast<int>(target.handle_), &out,
                                            static_cast<std::size_t>(std::min<std::int64_t>(length - done, std::int64_t{1} << 30)), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0)
            return done;   // the source ends here
        if (errno == EINTR)
            continue;
        // Kernels and file systems without it (or across them): the buffer does the rest.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == ENOTSUP || errno == EBADF
            || errno == ETXTBSY || errno == EPERM)
            break;
        ThrowErrno(("copy " + source.path_ + " to").c_str(), target.path_);
    }
    if (done < length)
        done += detail::CopyThroughBuffer(source, from + done, target, to + done, length - done, buffer, tap);
    return done;
}

void FlushFile(const std::string& path)
{
    detail::CountOperation("flush", path);
    if (detail::FlushesSkipped())
        return;
    const int fd = posix::OpenPath(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        ThrowErrno("flush", path);
    const int rc = ::fdatasync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        ThrowErrno("flush", path, err);
}

void FlushFiles(const std::vector<std::string>& paths, const std::vector<File*>& open, const std::vector<std::string>& folders)
{
    constexpr std::size_t kTogether = 4;   // from this many files and folders on one disk, one syncfs is cheaper
    struct Disk {
        std::vector<std::string> paths;
        std::vector<const File*> open;   // flushed through their handles, not looked up again
        std::vector<std::string> folders;
    };
    std::map<dev_t, Disk> byDisk;
    for (const File* file : open) {
        detail::CountOpenFileOperation("flush", file->path_);
        struct stat st {};
        if (::fstat(static_cast<int>(file->handle_), &st) != 0)
            ThrowErrno("flush", file->path_);
        byDisk[st.st_dev].open.push_back(file);
    }
    const auto diskOf = [](const std::string& path) {
        detail::CountOperation("flush", path);
        struct stat st {};
        if (!posix::StatOf(path, st, true, "flush"))
            ThrowErrno("flush", path);
        return st.st_dev;
    };
    for (const std::string& path : paths)
        byDisk[diskOf(path)].paths.push_back(path);
    for (const std::string& folder : folders)
        byDisk[diskOf(folder)].folders.push_back(folder);
    faults::Suspend counted;
    if (detail::FlushesSkipped())
        return;
    const auto sync = [](const File* file, bool wholeDisk) {
        if ((wholeDisk ? ::syncfs(static_cast<int>(file->handle_)) : ::fdatasync(static_cast<int>(file->handle_))) != 0)
            ThrowErrno("flush", file->path_);
    };
    for (const auto& [disk, d] : byDisk) {
        if (d.paths.size() + d.open.size() + d.folders.size() < kTogether || (d.paths.empty() && d.open.empty())) {
            for (const File* file : d.open)
                sync(file, false);
            for (const std::string& path : d.paths)
                FlushFile(path);
            for (const std::string& folder : d.folders)
                FlushFolder(folder);
        } else if (!d.open.empty()) {
            sync(d.open.front(), true);   // the folders' entries go with the rest of the disk
        } else {
            const int fd = posix::OpenPath(d.paths.front(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                ThrowErrno("flush", d.paths.front());
            const int rc = ::syncfs(fd);
            const int err = errno;
            ::close(fd);
            if (rc != 0)
                ThrowErrno("flush", d.paths.front(), err);
        }
    }
}

void FlushFolder(const std::string& path)
{
    detail::CountOperation("flush", path);
    if (detail::FlushesSkipped())
        return;
    const int fd = posix::OpenPath(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;   // some file systems cannot open a folder for syncing
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Those that cannot sync one say so with EINVAL; a failed write is another matter.
    if (rc != 0 && (err == EIO || err == ENOSPC || err == EDQUOT))
        ThrowErrno("flush", path, err);
}

} // namespace tessera::fs

#endif
