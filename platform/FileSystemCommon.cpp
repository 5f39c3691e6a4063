// The parts of the file-system services that every platform shares: the fault-injection test
// mode and the operations built on the platform's own.
#include "FileSystem.h"
#include "FileSystemInternal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <utility>

namespace tessera::fs {

namespace {

long gArmedAt = 0;   // 0: not armed
long gCounted = 0;
bool gFired = false;
bool gPersistent = false;
int gSuspended = 0;
bool gSkipFlushes = false;
bool gBufferOnly = false;
std::int64_t gFreeSpaceLimit = -1;   // none
ErrorKind gFaultKind = ErrorKind::DiskFull;
std::function<void(const std::string&)> gWatcher;
std::function<void(const std::string&, const std::string&, bool)> gObserver;
bool gWatching = false;

const char* FaultReason(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::DiskFull: return "there is not enough space on the disk";
    case ErrorKind::AccessDenied: return "access is denied";
    default: return "input/output error";
    }
}

} // namespace

namespace {

void Count(const char* what, const std::string& path, bool openFile)
{
    if (gObserver && gSuspended == 0)
        gObserver(what, path, openFile);
    if (gWatcher && !gWatching && gSuspended == 0) {
        gWatching = true;
        try {
            gWatcher(path);
        } catch (...) {
            gWatching = false;
            throw;
        }
        gWatching = false;
    }
    if (gArmedAt == 0 || gSuspended > 0)
        return;
    ++gCounted;
    if (gCounted == gArmedAt || (gPersistent && gCounted > gArmedAt)) {
        if (!gPersistent)
            gArmedAt = 0;
        gFired = true;
        throw TesseraError(gFaultKind, std::string("Cannot ") + what + " " + path + ": " + FaultReason(gFaultKind), path);
    }
}

} // namespace

void detail::CountOperation(const char* what, const std::string& path) { Count(what, path, false); }

void detail::CountOpenFileOperation(const char* what, const std::string& path) { Count(what, path, true); }

void detail::ObserveSearch(const std::string& folder)
{
    // Told even inside a call that counts once for all it does: a search is what it hides.
    if (gObserver)
        gObserver("search for another spelling in", folder, false);
}

bool detail::FlushesSkipped() { return gSkipFlushes; }

bool detail::CopyThroughBufferOnly() { return gBufferOnly; }

std::int64_t detail::LimitedFreeSpace(std::int64_t reported) { return gFreeSpaceLimit < 0 ? reported : std::min(reported, gFreeSpaceLimit); }

void detail::ThrowFolderNotEmpty(const std::string& path)
{
    std::string shown = path;
    std::replace_if(shown.begin(), shown.end(), IsSeparator, kSeparator);
    throw TesseraError(ErrorKind::AlreadyExists, "Cannot remove the folder " + shown + ": it is not empty", path);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> ListFiles(const std::string& folder) { return detail::ListNames(folder).files; }

std::vector<std::string> ListFolders(const std::string& folder) { return detail::ListNames(folder).folders; }

FolderListing ListFolder(const std::string& folder) { return detail::ListNames(folder); }

std::string WithTrailingSeparator(const std::string& folder)
{
    if (!folder.empty() && IsSeparator(folder.back()))
        return folder;
    return folder + kSeparator;
}

File::~File() { Close(); }

void File::RenameNoReplace(const std::string& to)
{
    fs::RenameNoReplace(path_, to);
    path_ = to;
}

void File::Remove() { DeleteFile(path_); }

File::File(File&& other) noexcept : path_(std::move(other.path_)), handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

std::int64_t detail::CopyThroughBuffer(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                                       std::span<std::byte> buffer, const CopyTap& tap)
{
    if (buffer.empty())
        throw TesseraError(ErrorKind::InvalidArgument, "Cannot copy from " + source.PathText() + ": no transfer buffer", source.PathText());
    const faults::Suspend counted;   // the copy counted once as a whole
    std::int64_t done = 0;
    while (done < length) {
        const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buffer.size())));
        const std::size_t n = source.ReadAt(from + done, buffer.first(chunk));
        if (n == 0)
            break;
        target.WriteAt(to + done, buffer.first(n));
        if (tap)
            tap(buffer.first(n));
        done += static_cast<std::int64_t>(n);
        if (n < chunk)
            break;
    }
    return done;
}

void RequireFile(const std::string& path, const std::string& label)
{
    if (FileExists(path))
        return;
    if (PathExists(path))
        throw TesseraError(ErrorKind::AccessDenied, label + " is not a regular file", path);
    throw TesseraError(ErrorKind::FileNotFound, label + " was not found", path);
}

std::vector<std::byte> ReadWholeFile(const std::string& path)
{
    File file(path, OpenMode::Read);
    std::vector<std::byte> bytes(static_cast<std::size_t>(file.Length()));
    bytes.resize(file.ReadAt(0, bytes));
    return bytes;
}

void WriteWholeFile(const std::string& path, std::span<const std::byte> data)
{
    File file(path, OpenMode::Create);
    file.WriteAt(0, data);
    file.Close();
}

void CreateFolders(const std::string& path)
{
    // A folder that is there costs one look, not one for each of its parents. Looking for the
    // missing ones from the innermost out would search every parent for another spelling.
    if (FolderExists(path))
        return;
    for (std::size_t at = 1; at < path.size(); ++at)
        if (IsSeparator(path[at]) && !IsSeparator(path[at - 1]) && path[at - 1] != ':')
            CreateFolder(path.substr(0, at));
    CreateFolder(path);
}

namespace {

constexpr const char* kLockSuffix = ".lock";

// A name no other process picks: a random number, the time and a count of this process.
std::string UniqueName(const std::string& prefix)
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return prefix + std::to_string(random()) + "-" + std::to_string(static_cast<unsigned long long>(now) % 1000000007ull) + "-"
        + std::to_string(counter++);
}

} // namespace

HeldScratchFolder::HeldScratchFolder(const std::string& prefix)
{
    const std::string base = TempFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = base + UniqueName(prefix);
        auto lock = std::make_unique<ExclusiveLock>(name + kLockSuffix);
        if (!lock->Held())
            continue;   // another process's, or a sweep of dead ones holds this name
        // Under the lock nothing alive owns the name: whatever has it is a dead one's.
        RemoveTree(name);
        CreateFolder(name);
        path_ = WithTrailingSeparator(name);
        lock_ = std::move(lock);
        return;
    }
    throw TesseraError(ErrorKind::Io, "Cannot create a scratch folder under " + base, base);
}

HeldScratchFolder::~HeldScratchFolder()
{
    try {
        RemoveTree(path_);
    } catch (const std::exception&) {
        // Left with its lock let go: the next sweep of dead scratch removes it.
    }
}

void RemoveDeadScratch(const std::string& prefix)
{
    const std::string base = TempFolder();
    std::set<std::string> names;
    try {
        for (const std::string& name : ListFolders(base))
            if (name.starts_with(prefix))
                names.insert(name);
        // A lock left by a process that died after its folder went.
        for (const std::string& name : ListFiles(base))
            if (name.starts_with(prefix) && name.ends_with(kLockSuffix))
                names.insert(name.substr(0, name.size() - std::string_view(kLockSuffix).size()));
    } catch (const TesseraError&) {
        return;   // the temporary folder cannot be looked at now: the next run tries again
    }
    for (const std::string& name : names) {
        try {
            const ExclusiveLock lock(base + name + kLockSuffix);   // removed as it is let go
            if (lock.Held())
                RemoveTree(base + name);
        } catch (const TesseraError&) {
            // Held by nobody but not removable now: the next run tries again.
        }
    }
}

} // namespace tessera::fs

namespace tessera::fs::faults {

void Arm(long k, ErrorKind kind, Mode mode)
{
    gArmedAt = k;
    gPersistent = mode == Mode::Persistent;
    gCounted = 0;
    gFired = false;
    gFaultKind = kind;
}

void Watch(std::function<void(const std::string& path)> watcher) { gWatcher = std::move(watcher); }

void Observe(std::function<void(const std::string& what, const std::string& path, bool openFile)> observer) { gObserver = std::move(observer); }

void Disarm()
{
    gArmedAt = 0;
    gPersistent = false;
}
long Counted() { return gCounted; }
bool Fired() { return gFired; }
void SkipFlushes(bool skip) { gSkipFlushes = skip; }
void CopyThroughBufferOnly(bool only) { gBufferOnly = only; }
void LimitFreeSpace(std::int64_t bytes) { gFreeSpaceLimit = bytes; }
Suspend::Suspend() { ++gSuspended; }
Suspend::~Suspend() { --gSuspended; }

} // namespace tessera::fs::faults
