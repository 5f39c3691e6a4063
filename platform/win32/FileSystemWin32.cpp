// Windows implementation of the file-system services. Path texts are bytes of the ANSI code
// page, as the game's archives hold them; the file system itself ignores letter case.
#ifdef _WIN32

#include "FileSystem.h"
#include "FileSystemInternal.h"
#include "Text.h"
#include "Win32Text.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>

namespace tessera::fs {

const char kSeparator = '\\';

namespace {

using win32::Narrow;
using win32::Wide;

[[noreturn]] void ThrowLastError(const char* what, const std::string& path, DWORD err = ::GetLastError())
{
    ErrorKind kind = ErrorKind::Io;
    std::string reason;
    switch (err) {
    case ERROR_FILE_NOT_FOUND: kind = ErrorKind::FileNotFound; reason = "file not found"; break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: kind = ErrorKind::PathNotFound; reason = "path not found"; break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: kind = ErrorKind::AccessDenied; reason = "in use by another program"; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: kind = ErrorKind::AccessDenied; reason = "access denied"; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: kind = ErrorKind::DiskFull; reason = "disk full"; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: kind = ErrorKind::AlreadyExists; reason = "something of that name is already there"; break;
    default: reason = "error " + std::to_string(err); break;
    }
    // Messages show one kind of separator: this platform's.
    std::string shown = std::string("Cannot ") + what + " " + path;
    std::replace(shown.begin(), shown.end(), '/', '\\');
    throw TesseraError(kind, shown + ": " + reason, path);
}

// The answers that mean "missing"; any other failure means the system cannot tell.
bool IsAbsence(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME; }

// The attributes of a path; INVALID_FILE_ATTRIBUTES only when it is missing.
DWORD Attributes(const std::string& path)
{
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        if (!IsAbsence(err))
            ThrowLastError("look for", path, err);
    }
    return a;
}

// The path with its last component spelled as it is on disk: the system finds a name in any
// letter case, and this tells which one the disk holds. Unchanged when nothing has that name.
std::string WithLeafAsOnDisk(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::string leaf = path.substr(start);
    if (leaf.empty() || leaf == "." || leaf == ".." || leaf.back() == ':' || leaf.find_first_of("*?") != std::string::npos)
        return path;
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW(Wide(path).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (!IsAbsence(err) && err != ERROR_NO_MORE_FILES)
            ThrowLastError("look for", path, err);
        return path;
    }
    ::FindClose(find);
    return path.substr(0, start) + Narrow(found.cFileName);
}

// A plain file of that name is removed for a new one; a link or folder there is an error.
// Returns the name to create: the removed file's own spelling, as Windows keeps the name of a
// file that is overwritten.
std::string ClearForNew(const std::string& path)
{
    const DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return path;
    if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        throw TesseraError(ErrorKind::AccessDenied, "Cannot create " + path + ": a link or folder has that name", path);
    const std::string spelled = WithLeafAsOnDisk(path);
    if (!::DeleteFileW(Wide(spelled).c_str()))
        ThrowLastError("replace", path);
    return spelled;
}

HANDLE Handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Another install's short-lived handle, or a reader such as a virus scanner, may hold a file for
// a moment; the call is retried for about a second before the file is reported in use.
template <class Call>
bool RetryWhileInUse(Call&& call)
{
    for (int attempt = 0;; ++attempt) {
        if (call())
            return true;
        const DWORD err = ::GetLastError();
        if ((err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION) || attempt == 20)
            return false;
        ::Sleep(50);
        ::SetLastError(err);
    }
}

// Readers let others read, write, rename and delete the file meanwhile: a reader must never
// make an install fail. Writers let others read only, so no two writers mix their bytes.
constexpr DWORD kReaderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kWriterSharing = FILE_SHARE_READ;

// A file position for ReadFile and WriteFile.
OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

// What one ReadFile is asked to move of what is left: at most 1 GiB.
DWORD Chunk(std::size_t left) { return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30)); }

// What one WriteFile is asked to move: at most 256 KB. Under Wine a write is one write() of its
// size, for which Linux fills whole 1 or 2 MB pages of its cache, and in a virtual machine whose
// host takes back free memory, each such page first costs the host a fault for every 4 KB of it:
// a 300 MB entry written in 2 MB pieces took two to three times as long. Windows' own cache works in
// pieces of 256 KB, so smaller writes cost it little.
DWORD WritePiece(std::size_t left) { return static_cast<DWORD>(std::min<std::size_t>(left, std::size_t{256} << 10)); }

// The volume that holds path, as DiskOf names it; not counted.
std::string VolumeOf(const std::string& path)
{
    wchar_t volume[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(Wide(path).c_str(), volume, MAX_PATH + 1))
        ThrowLastError("find the disk of", path);
    return LowerAscii(Narrow(volume));
}

} // namespace

// Windows finds a name in any letter case by itself; the last component is spelled as on disk,
// so that callers know the name a file has there.
std::string NativePath(const std::string& path) { return WithLeafAsOnDisk(path); }

bool FileExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool VisibleFileExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

bool FolderExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path)
{
    detail::CountOperation("look for", path);
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

PathKind Lookup(const std::string& path)
{
    detail::CountOperation("look for", path);
    const DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::Link;
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

// Windows finds every spelling of a name by itself: nothing is saved by knowing a folder as ours.
PathKind LookupOwnFolder(const std::string& path, std::string* disk)
{
    const PathKind kind = Lookup(path);
    if (disk && kind == PathKind::Folder)
        *disk = VolumeOf(path);
    return kind;
}

namespace {

// Opens the folder at path (backup semantics open a folder; a link to it resolves to the folder
// itself) and gives its information and, when asked, the system's final name for it. Throws
// when it cannot be reached or is no folder.
BY_HANDLE_FILE_INFORMATION FolderInfo(const std::string& path, std::wstring* finalName = nullptr)
{
    detail::CountOperation("look for", path);
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        ThrowLastError("reach the folder", path);
    BY_HANDLE_FILE_INFORMATION info{};
    BOOL ok = ::GetFileInformationByHandle(h, &info);
    if (ok && finalName) {
        std::wstring& name = *finalName;
        name.assign(1024, L'\0');
        DWORD n = ::GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n >= name.size()) {
            name.resize(n + 1);
            n = ::GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }
        ok = n != 0 && n < name.size();
        if (ok)
            name.resize(n);
    }
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    if (!ok)
        ThrowLastError("reach the folder", path, err);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw TesseraError(ErrorKind::PathNotFound, "Cannot reach the folder " + path + ": it is not a folder", path);
    return info;
}

} // namespace

std::string FolderIdentity(const std::string& path, std::string* disk)
{
    const BY_HANDLE_FILE_INFORMATION info = FolderInfo(path);
    if (disk)
        *disk = VolumeOf(path);
    return "volume " + std::to_string(info.dwVolumeSerialNumber) + " index "
        + std::to_string((static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

std::string ResolvedFolder(const std::string& path)
{
    std::wstring name;
    FolderInfo(path, &name);
    // The system's long form: \\?\C:\... or \\?\UNC\server\share\...
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
        name = L"\\\\" + name.substr(8);
    else if (name.rfind(L"\\\\?\\", 0) == 0)
        name = name.substr(4);
    return WithTrailingSeparator(Narrow(name));
}

std::int64_t FileLength(const std::string& path)
{
    detail::CountOperation("read the length of", path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        ThrowLastError("read the length of", path);
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

File::File(const std::string& path, OpenMode mode) : path_(path)
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    const char* what = "open";
    switch (mode) {
    case OpenMode::Read: break;
    case OpenMode::ReadWrite: access |= GENERIC_WRITE; what = "open for writing"; break;
    case OpenMode::Create:
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        what = "create";
        break;
    case OpenMode::CreateNew:
    case OpenMode::Replace:
    case OpenMode::Held:
        // CREATE_NEW fails on any name already there, a link included: nothing goes through one.
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;
        what = "create";
        break;
    }
    detail::CountOperation(what, path);
    const std::wstring native = Wide(mode == OpenMode::Replace || mode == OpenMode::Held ? ClearForNew(path) : path);
    // A held file shares deleting, so that its holder can rename and remove it by name; a
    // reader that does not share writing cannot open it at all, so it never holds it against us.
    const DWORD sharing = mode == OpenMode::Read ? kReaderSharing : mode == OpenMode::Held ? kWriterSharing | FILE_SHARE_DELETE : kWriterSharing;
    HANDLE h = INVALID_HANDLE_VALUE;
    if (!RetryWhileInUse([&] {
            h = ::CreateFileW(native.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
            return h != INVALID_HANDLE_VALUE;
        }))
        ThrowLastError(what, path);
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

std::int64_t File::Length() const
{
    detail::CountOpenFileOperation("read the length of", path_);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(handle_), &size))
        ThrowLastError("read the length of", path_);
    return size.QuadPart;
}

std::size_t File::ReadAt(std::int64_t offset, std::span<std::byte> out) const
{
    detail::CountOpenFileOperation("read", path_);
    return detail::MoveInSteps(out.size(), [&](std::size_t done) {
        OVERLAPPED position = At(static_cast<std::uint64_t>(offset) + done);
        DWORD read = 0;
        if (!::ReadFile(Handle(handle_), out.data() + done, Chunk(out.size() - done), &read, &position) && ::GetLastError() != ERROR_HANDLE_EOF)
            ThrowLastError("read", path_);
        return static_cast<std::size_t>(read);
    });
}

void File::WriteAt(std::int64_t offset, std::span<const std::byte> data)
{
    detail::CountOpenFileOperation("write", path_);
    const std::size_t written = detail::MoveInSteps(data.size(), [&](std::size_t done) {
        OVERLAPPED position = At(static_cast<std::uint64_t>(offset) + done);
        DWORD moved = 0;
        if (!::WriteFile(Handle(handle_), data.data() + done, WritePiece(data.size() - done), &moved, &position))
            ThrowLastError("write", path_);
        return static_cast<std::size_t>(moved);
    });
    // A write that moves nothing is a failure, not a reason to try for ever.
    if (written < data.size())
        ThrowLastError("write", path_, ERROR_WRITE_FAULT);
}

void File::Truncate(std::int64_t length)
{
    detail::CountOpenFileOperation("truncate", path_);
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = length;
    if (!::SetFileInformationByHandle(Handle(handle_), FileEndOfFileInfo, &info, sizeof info))
        ThrowLastError("truncate", path_);
}

void File::Flush()
{
    detail::CountOpenFileOperation("flush", path_);
    if (detail::FlushesSkipped())
        return;
    if (!::FlushFileBuffers(Handle(handle_)))
        ThrowLastError("flush", path_);
}

void File::Close()
{
    if (handle_ != -1) {
        ::CloseHandle(Handle(handle_));
        handle_ = -1;
    }
}

ExclusiveLock::ExclusiveLock(const std::string& path)
{
    detail::CountOperation("lock", path);
    path_ = path;
    // No sharing: a second opener fails until this handle closes, also when the process dies;
    // the file goes with the handle.
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
            return;
        ThrowLastError("create the lock file", path, err);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

ExclusiveLock::~ExclusiveLock()
{
    if (handle_ != -1)
        ::CloseHandle(Handle(handle_));
}

void CreateFolder(const std::string& path)
{
    detail::CountOperation("create the folder", path);
    faults::Suspend quiet;
    if (!::CreateDirectoryW(Wide(path).c_str(), nullptr)) {
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            ThrowLastError("create the folder", path);
        if (!FolderExists(path))
            throw TesseraError(ErrorKind::PathNotFound, "Cannot create the folder " + path + ": a file has that name", path);
    }
}

void RemoveFolder(const std::string& path)
{
    detail::CountOperation("remove the folder", path);
    if (!::RemoveDirectoryW(Wide(path).c_str())) {
        if (::GetLastError() == ERROR_DIR_NOT_EMPTY)
            detail::ThrowFolderNotEmpty(path);
        ThrowLastError("remove the folder", path);
    }
}

void RemoveTree(const std::string& path)
{
    detail::CountOperation("remove", path);
    faults::Suspend quiet;
    const DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFile(path);
        return;
    }
    const std::string folder = WithTrailingSeparator(path);
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW(Wide(folder + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(folder + Narrow(name));
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    RemoveFolder(path);
}

void DeleteFile(const std::string& path)
{
    detail::CountOperation("delete", path);
    const std::wstring native = Wide(path);
    if (!RetryWhileInUse([&] { return ::DeleteFileW(native.c_str()) != FALSE; }))
        ThrowLastError("delete", path);
}

void RenameFile(const std::string& from, const std::string& to)
{
    detail::CountOperation("rename", from);
    const std::wstring source = Wide(from);
    const std::wstring target = Wide(to);
    if (!RetryWhileInUse([&] { return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE; }))
        ThrowLastError(("rename to " + to + ":").c_str(), from);
}

void RenameNoReplace(const std::string& from, const std::string& to)
{
    detail::CountOperation("rename", from);
    const std::wstring source = Wide(from);
    const std::wstring target = Wide(to);
    if (!RetryWhileInUse([&] { return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE; }))
        ThrowLastError(("rename to " + to + ":").c_str(), from);
}

void CopyFile(const std::string& from, const std::string& to)
{
    detail::CountOperation("copy", from);
    faults::Suspend quiet;
    // The name cleared as for OpenMode::Replace, then a copy that replaces nothing.
    const std::wstring source = Wide(from);
    const std::wstring target = Wide(ClearForNew(to));
    if (!RetryWhileInUse([&] { return ::CopyFileW(source.c_str(), target.c_str(), TRUE) != FALSE; }))
        ThrowLastError(("copy to " + to + ":").c_str(), from);
}

// Windows copies ranges between open files only on ReFS (block cloning): always the buffer.
bool CopiesInKernel() { return false; }

std::int64_t CopyRange(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                       std::span<std::byte> buffer, const CopyTap& tap)
{
    detail::CountOpenFileOperation("write", target.path_);
    return detail::CopyThroughBuffer(source, from, target, to, length, buffer, tap);
}

void FlushFile(const std::string& path)
{
    detail::CountOperation("flush", path);
    if (detail::FlushesSkipped())
        return;
    // Flushing changes no byte, so it shares like a reader.
    const std::wstring native = Wide(path);
    HANDLE h = INVALID_HANDLE_VALUE;
    if (!RetryWhileInUse([&] {
            h = ::CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE, kReaderSharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
            return h != INVALID_HANDLE_VALUE;
        }))
        ThrowLastError("flush", path);
    const BOOL ok = ::FlushFileBuffers(h);
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    if (!ok)
        ThrowLastError("flush", path, err);
}

void FlushFiles(const std::vector<std::string>& paths, const std::vector<File*>& open, const std::vector<std::string>& folders)
{
    for (File* file : open)
        file->Flush();
    for (const std::string& path : paths)
        FlushFile(path);
    for (const std::string& folder : folders)
        FlushFolder(folder);
}

void FlushFolder(const std::string& path)
{
    detail::CountOperation("flush", path);
    // NTFS makes renames and creations durable through its own journal.
}

// The names in a folder that are files or, folders, folders (junctions left out: links to
// folders, not ones to walk into), sorted as the listings promise.
FolderListing detail::ListNames(const std::string& folder)
{
    detail::CountOperation("list the folder", folder);
    const std::string prefix = WithTrailingSeparator(folder);
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW(Wide(prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND)
            return {};
        ThrowLastError("list the folder", folder, err);
    }
    FolderListing listing;
    do {
        const std::wstring name = found.cFileName;
        const bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (name == L"." || name == L"..")
            continue;
        if (!isFolder)
            listing.files.push_back(Narrow(found.cFileName));
        else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            listing.folders.push_back(Narrow(found.cFileName));
        else
            listing.others.push_back(Narrow(found.cFileName));
    } while (::FindNextFileW(find, &found));
    // A listing cut short by an error is not the whole folder.
    const DWORD err = ::GetLastError();
    ::FindClose(find);
    if (err != ERROR_NO_MORE_FILES)
        ThrowLastError("list the folder", folder, err);
    for (auto* names : {&listing.files, &listing.folders, &listing.others})
        std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) { return LessIgnoreCase(a, b); });
    return listing;
}

std::optional<std::string> TooLongForTheSystem(const std::string& path)
{
    // Paths go to the system without the long-path prefix: MAX_PATH holds, with the end mark.
    const std::wstring wide = Wide(path);
    if (wide.size() >= MAX_PATH)
        return "its path has " + std::to_string(wide.size()) + " characters, and the system takes at most " + std::to_string(MAX_PATH - 1);
    std::size_t start = 0;
    while (start < wide.size()) {
        std::size_t end = start;
        while (end < wide.size() && wide[end] != L'\\' && wide[end] != L'/')
            ++end;
        if (end - start > 255)
            return "its part " + Narrow(wide.substr(start, 32)) + "... has " + std::to_string(end - start)
                + " characters, and the system takes at most 255";
        start = end + 1;
    }
    return std::nullopt;
}

std::string DiskOf(const std::string& path)
{
    detail::CountOperation("find the disk of", path);
    return VolumeOf(path);
}

std::int64_t FreeSpace(const std::string& path)
{
    detail::CountOperation("read the free space of", path);
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Wide(WithTrailingSeparator(path)).c_str(), &available, nullptr, nullptr))
        ThrowLastError("read the free space of", path);
    return detail::LimitedFreeSpace(static_cast<std::int64_t>(available.QuadPart));
}

std::string AbsolutePath(const std::string& path)
{
    const bool driveRooted = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]);
    const bool unc = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    if (path.empty() || driveRooted || unc)
        return path;
    // Relative, rooted on the current drive ("\\games") or relative to a drive's own current
    // folder ("D:gta3"): the system knows them all.
    const std::wstring wide = Wide(path);
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        ThrowLastError("find the full path of", path);
    std::wstring full(n, L'\0');
    const DWORD written = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n)
        ThrowLastError("find the full path of", path);
    full.resize(written);
    std::string absolute = Narrow(full);
    if (IsSeparator(path.back()))
        absolute = WithTrailingSeparator(absolute);
    return absolute;
}

std::string TempFolder()
{
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    return WithTrailingSeparator(n ? Narrow(std::wstring(buffer, n)) : std::string("C:\\Windows\\Temp"));
}

std::string UserDataFolder()
{
    const wchar_t* appData = ::_wgetenv(L"APPDATA");
    const std::string base = appData && *appData ? Narrow(appData) : TempFolder();
    return WithTrailingSeparator(base) + "Tessera\\";
}

std::string ProgramFolder()
{
    std::wstring buffer(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    const std::string path = Narrow(buffer);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool CanWriteIn(const std::string& folder)
{
    if (folder.empty())
        return false;
    // The folder's access rules, virtualisation and read-only media are only told by trying:
    // a file of this process's own, gone again when closed.
    const std::wstring probe = Wide(WithTrailingSeparator(folder)) + L"tessera-write-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::string MakeScratchFolder(const std::string& prefix, bool)
{
    detail::CountOperation("create a folder in", TempFolder());
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string base = TempFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = base + prefix + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) + "-"
            + std::to_string(random() % 1000000);
        if (::CreateDirectoryW(Wide(name).c_str(), nullptr))
            return name + "\\";
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            ThrowLastError("create the folder", name);
    }
    throw TesseraError(ErrorKind::Io, "Cannot create a scratch folder under " + base, base);
}

} // namespace tessera::fs

#endif
