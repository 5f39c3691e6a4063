// File-system services with the game's platform semantics. Paths are texts whose separators
// may be backslashes; a component missing in the exact letter case resolves to the one entry
// of its folder whose name matches ignoring ASCII case, as on Windows. Names are bytes.
// Every failure throws TesseraError naming the path. Every call goes through one counter so
// tests can make the k-th of them fail. An existence test answers "missing" only when the
// system says there is no such file or folder; any other error throws, as it cannot tell.
#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tessera::fs {

// The separator this platform writes into paths it makes itself.
extern const char kSeparator;

// The native path for a path text (separators converted, letter case resolved).
std::string NativePath(const std::string& path);

bool FileExists(const std::string& path);   // a regular file (or a link to one)
// A regular file that is neither hidden nor a system file: the test the dialogs make for a
// package's .dir and for gta3.exe. Files here carry no such marks on Linux: there it is FileExists.
bool VisibleFileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool PathExists(const std::string& path);   // anything at all
// Fails unless path is a regular file (or a link to one), saying "<label> was not found" or, for
// a folder, pipe or device, "<label> is not a regular file".
void RequireFile(const std::string& path, const std::string& label);
std::int64_t FileLength(const std::string& path);

// What a path names, a link at its end not followed.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind Lookup(const std::string& path);
// Lookup of a folder only Tessera makes names in (its data folder). When it is a folder there as
// spelled, every name inside it is taken from then on as spelled as Tessera spells it: a name
// missing there is missing, and no other letter case of it is looked for.
// Given disk, it is set for a folder to what DiskOf says of it.
PathKind LookupOwnFolder(const std::string& path, std::string* disk = nullptr);

// The identity of an existing folder (device and inode; volume serial and file index on
// Windows): the same for every spelling of it and every link to it. Given disk, it is set to
// what DiskOf says of the folder, from the same look where the system gives both.
std::string FolderIdentity(const std::string& path, std::string* disk = nullptr);

// An existing folder's path as the system resolves it: absolute, with every link, "." and ".."
// followed and doubled separators gone, so that every spelling of one folder gives one text;
// ends with a separator. Throws when the folder cannot be reached (PathNotFound when missing).
std::string ResolvedFolder(const std::string& path);

enum class OpenMode {
    Read,        // existing file, read only
    ReadWrite,   // existing file, read and write, contents kept
    Create,      // created if missing, emptied if present, read and write
    CreateNew,   // made here and now: fails when anything has the name, never through a link
    Replace,     // made anew: a plain file of that name (its spelling kept) is removed first;
                 // a link or folder there is an error, and nothing is written through a link
    Held,        // made anew as Replace, for a file kept open while it is renamed and removed
                 // (File::RenameNoReplace, File::Remove): others may read it, never write it
};

// Shown the bytes a range copy moves, in order, a piece at a time, as they pass through its buffer.
using CopyTap = std::function<void(std::span<const std::byte>)>;

// An open file. No file stays open between operations, so holders close it before returning.
class File {
public:
    File(const std::string& path, OpenMode mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    std::int64_t Length() const;
    // Reads up to out.size() bytes at offset; returns how many were read (fewer at the end).
    std::size_t ReadAt(std::int64_t offset, std::span<std::byte> out) const;
    void WriteAt(std::int64_t offset, std::span<const std::byte> data);
    void Truncate(std::int64_t length);
    // Puts the file's data and length on the disk (not its times, which nothing relies on).
    void Flush();
    // A file opened Held, renamed or removed while it stays open; as the functions of that name.
    void RenameNoReplace(const std::string& to);
    void Remove();
    void Close();
    const std::string& PathText() const noexcept { return path_; }

private:
    friend void CopyFile(const std::string& from, const std::string& to);
    friend void FlushFiles(const std::vector<std::string>& paths, const std::vector<File*>& open, const std::vector<std::string>& folders);
    friend std::int64_t CopyRange(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                                  std::span<std::byte> buffer, const CopyTap& tap);

    std::string path_;
    std::intptr_t handle_ = -1;   // a file descriptor, or a HANDLE on Windows
};

// Copies length bytes at offset from of source to offset to of target: inside the kernel where
// the system can (no pass through this process's memory), otherwise through buffer, whatever its
// size. Counted as one write. Returns the bytes copied: fewer than length only when source ends
// first. With a tap, the bytes always go through buffer, and the tap is shown each piece once
// it is written.
std::int64_t CopyRange(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                       std::span<std::byte> buffer, const CopyTap& tap = {});
// Whether CopyRange copies inside the kernel (without a tap); where it does not, the bytes pass
// through this process anyway, and a caller that must read them too can take them on the way.
bool CopiesInKernel();

// An exclusive lock held through a lock file while the object lives; the system drops it when
// the process ends, however it ends. Does not wait: Held() tells whether it was had. The
// holder removes the lock file when it lets go; one left by a dead process is taken over.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::string& path);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    bool Held() const noexcept { return handle_ != -1; }

private:
    std::string path_;
    std::intptr_t handle_ = -1;
};

std::vector<std::byte> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::span<const std::byte> data);

void CreateFolder(const std::string& path);   // one level; an existing folder is fine
void CreateFolders(const std::string& path);  // with every missing parent
void RemoveFolder(const std::string& path);   // must be empty
void RemoveTree(const std::string& path);     // a folder and all it holds; missing is fine
void DeleteFile(const std::string& path);
void RenameFile(const std::string& from, const std::string& to);   // replaces an existing target
// Fails with AlreadyExists when anything has the target's name; never replaces it.
void RenameNoReplace(const std::string& from, const std::string& to);
// Clears the name for a new file: nothing when missing, deleted when a plain file; a link, a
// folder or anything else there is an error, left as it is.
void RemovePlainFile(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);     // made as with OpenMode::Replace
void FlushFile(const std::string& path);
// Flushes every file given, by path or open, and the entries of every folder given (as
// FlushFolder does); many on one disk are flushed together, which costs the disk one commit
// instead of one each.
void FlushFiles(const std::vector<std::string>& paths, const std::vector<File*>& open = {}, const std::vector<std::string>& folders = {});
void FlushFolder(const std::string& path);     // makes renames and creations inside it durable

// Names (no folder part) of the regular files in a folder, no folders, dot files included,
// in ascending order of name compared without regard to ASCII letter case.
std::vector<std::string> ListFiles(const std::string& folder);

// Names of the folders in a folder (links to folders left out), sorted as ListFiles sorts.
std::vector<std::string> ListFolders(const std::string& folder);

// One reading of a folder: what ListFiles and ListFolders give, and the names of everything
// else there (links to folders, broken links, pipes), sorted alike.
struct FolderListing {
    std::vector<std::string> files, folders, others;
};
FolderListing ListFolder(const std::string& folder);

// Why the system could not take path as the name of a file or folder: the whole too long, or
// one of its parts; nothing when it could.
std::optional<std::string> TooLongForTheSystem(const std::string& path);

// Bytes free for this user on the disk that holds path.
std::int64_t FreeSpace(const std::string& path);
// Names the disk that holds path (an existing file or folder): equal texts for paths on one disk.
std::string DiskOf(const std::string& path);

// Folders of this user and program; each ends in the separator.
std::string TempFolder();
std::string UserDataFolder();      // the per-user application data folder of Tessera
std::string ProgramFolder();       // without a trailing separator, as callers append "\temp\"
// Where the user keeps documents: the home folder, Documents on Windows. Without a trailing
// separator, as ProgramFolder.
std::string DocumentsFolder();
// Whether this user may make files in folder; false too when that cannot be told. Not counted
// by the fault mode: it only picks where a dialog starts.
bool CanWriteIn(const std::string& folder);
// A new, empty folder of its own under the temporary location; ends in the separator. With
// keepListing, only this process writes into it through these services, so the names in it are
// known without listing it again (extraction looks up every new name there, case ignored).
std::string MakeScratchFolder(const std::string& prefix, bool keepListing = false);

// A scratch folder of its own under the temporary location, this process's while the object
// lives: a lock beside it (its name and ".lock") is taken before the folder is made and let go
// only after it has been removed, so RemoveDeadScratch tells what a dead process left from what
// a live one uses. The folder goes with the object; one that cannot be removed is left to
// RemoveDeadScratch.
class HeldScratchFolder {
public:
    explicit HeldScratchFolder(const std::string& prefix);
    ~HeldScratchFolder();
    HeldScratchFolder(const HeldScratchFolder&) = delete;
    HeldScratchFolder& operator=(const HeldScratchFolder&) = delete;
    const std::string& Path() const noexcept { return path_; }   // ends in the separator

private:
    std::string path_;
    std::unique_ptr<ExclusiveLock> lock_;
};
// Removes the scratch folders under the temporary location whose names start with prefix and
// that no live process holds: those of processes that died (or were made before they were
// held). One that cannot be removed now is left for the next time.
void RemoveDeadScratch(const std::string& prefix);

// The text with a separator appended unless it already ends in one.
std::string WithTrailingSeparator(const std::string& folder);
// The path made absolute against the current folder (and drive), so it names the same place
// for a process started elsewhere; "." parts dropped, links not resolved. An absolute path and
// an empty text come back as they are.
std::string AbsolutePath(const std::string& path);
bool IsSeparator(char c);

} // namespace tessera::fs

namespace tessera::fs::faults {

// Test mode: the k-th call of these services, counting from 1 after Arm, fails with the given
// kind: once (then the mode disarms itself), or, persistent, with every later call too, as
// when the drive goes away.
enum class Mode { Once, Persistent };
void Arm(long k, ErrorKind kind, Mode mode = Mode::Once);
void Disarm();
long Counted();       // calls counted since the last Arm
bool Fired();

// Test mode: FreeSpace reports at most this many bytes, as on a disk nearly full; a negative
// limit ends the mode.
void LimitFreeSpace(std::int64_t bytes);

// Test mode: range copies go through the buffer, as on a system that cannot copy inside the
// kernel (CopiesInKernel() is false), so that the ways of both are tested on one.
void CopyThroughBufferOnly(bool only);

// Test mode: flushes are counted (and may fail) but do not wait for the disk, so loops over
// thousands of installs run in seconds. What the disk keeps after a power loss is not tested
// this way.
void SkipFlushes(bool skip);

// Test mode: watcher runs before each counted call with its path, as another program acting
// on the files in the middle of an operation would; the calls it makes itself are not watched.
// An empty watcher ends it.
void Watch(std::function<void(const std::string& path)> watcher);

// Test mode: observer is told each counted call as it starts: what it does ("open", "look for",
// "list the folder"...), its path, and whether it is a call on a file already open rather than
// on a path; and, as "search for another spelling in" with the folder's path, each reading of a
// folder made inside a call to find a missing name in another letter case. An empty observer
// ends it.
void Observe(std::function<void(const std::string& what, const std::string& path, bool openFile)> observer);

// While alive, calls neither count nor fail: a call made of others counts once.
class Suspend {
public:
    Suspend();
    ~Suspend();
    Suspend(const Suspend&) = delete;
    Suspend& operator=(const Suspend&) = delete;
};

} // namespace tessera::fs::faults
