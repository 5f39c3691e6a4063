// The install journal: what an install may change in the game folder, written and flushed
// before the first change, so that a failed or interrupted install can be rolled back.
#pragma once

#include "Archive.h"
#include "Error.h"
#include "FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera {

// One change an install makes, with what its undo needs.
struct JournalOp {
    enum class Kind { Stock, Archive };
    Kind kind = Kind::Stock;
    // Stock file full path (its name spelled as on disk), or game archive base; inside the
    // game folder: the journal keeps it relative to it.
    std::string path;
    // Stock file: whether target.old existed and whether target existed before the install.
    bool hadOld = false;
    bool existed = true;
    // Stock file that existed nowhere: the folders the install makes for it, innermost first.
    std::vector<std::string> madeFolders;
    // Game archive: lengths of .img and .dir before the first append, and the records the
    // install may rename, as they were, by their byte position in the .dir.
    std::int64_t imgLength = 0;
    std::int64_t dirLength = 0;
    std::vector<std::pair<std::int64_t, RecordBytes>> records;
};

struct Journal {
    // What wrote it, so recovery names what was interrupted: an install (its rollback undoes
    // it), an uninstall (its rollback is the uninstall itself) or a compaction (rolled back
    // until committed, finished after).
    enum class Kind { Install, Uninstall, Compaction };
    Kind kind = Kind::Install;
    int installId = 0;             // uninstall: the install it takes back
    std::string gameFolder;
    std::string identity;          // the game folder's FolderIdentity; filled in when written
    std::vector<JournalOp> ops;    // in the order the install makes them
    bool committed = false;        // every change is done and flushed: only clean-up remains
};

// A journal that fails a check of its own bytes or names: never applied.
class DamagedJournal : public TesseraError {
public:
    DamagedJournal(const std::string& journalPath, const std::string& why);
    const std::string& Why() const noexcept { return why_; }

private:
    std::string why_;
};

// The commit mark may be on the disk or not: its flush failed and it could not be taken back.
// Nothing may be undone then; recovery decides by what the disk holds.
class UncertainCommit : public TesseraError {
public:
    using TesseraError::TesseraError;
};

// Names of the scratch files an install keeps beside a stock file.
std::string NewFileName(const std::string& target);        // the package's version before it goes in place
std::string FormerFileName(const std::string& target);     // the former version, kept until the install finishes

// Where the journal of installs into gameFolder lives, inside journalFolder: keyed on the
// folder's identity, so every spelling of it and every link to it share one journal and one
// lock. Throws when the folder cannot be reached.
std::string JournalPath(const std::string& journalFolder, const std::string& gameFolder);
// The same, of a folder whose identity (fs::FolderIdentity) was taken already.
std::string JournalPathOfIdentity(const std::string& journalFolder, const std::string& identity);
// The journal folder to use: the given one, or the user's data folder.
std::string JournalFolder(const std::string& given);

// Tessera's own folders (the data folder, a history folder) are used only as folders of their
// own: one that is a link, which would lead journals and records elsewhere, is refused with a
// message naming it (what: "data folder", "history folder"). Returns what is there otherwise;
// a folder there is taken from then on as one only Tessera names things in (LookupOwnFolder).
// Given disk, it is set for a folder to what fs::DiskOf says of it.
fs::PathKind RefuseLinkedFolder(const std::string& folder, const char* what, std::string* disk = nullptr);

// The folder part of a path, with its separator; "." when it has none.
std::string FolderOf(const std::string& path);

// Whether two game folder texts name the same folder (separators, trailing separator and
// letter case aside).
bool SameFolder(const std::string& a, const std::string& b);

// The game folder as installs, the history and recovery keep it: absolute and resolved, so a
// process started in another folder, or given another spelling of it, finds the same one. An
// empty or odd text, or a folder that is not there, comes back unresolved, for its message.
std::string AbsoluteGameFolder(const std::string& folder);

// A path for messages: the platform's separators only.
std::string DisplayPath(const std::string& path);
// A message whose paths take the platform's separators; the backslash of a "\xHH" escape of an
// unprintable byte stays.
std::string DisplayMessage(const std::string& text);
// "the game folder X", or "the stored game folder "X"" when the text is empty or odd.
std::string GameFolderLabel(const std::string& folder);

// Written under a new name, flushed, then renamed into place before the first change, so a
// journal at its name is always whole.
// placed, when given, tells whether it took its name (also when a later step failed).
void WriteJournal(const std::string& path, const Journal& journal, bool* placed = nullptr);
// The bytes WriteJournal writes, for a copy whose writer makes it durable along with other files.
std::vector<std::byte> JournalFileBytes(Journal journal);

// A journal written as WriteJournal does and held open until the install ends: the commit mark
// and the removal go through the handle that wrote it, which shares no writing, so a program
// that reads the journal meanwhile (a backup, a virus scanner) can never hold it against them.
class JournalFile {
public:
    JournalFile(const std::string& path, const Journal& journal, bool* placed = nullptr);
    const std::string& Path() const noexcept { return path_; }
    // As MarkCommitted.
    void MarkCommitted();
    // Removes the journal and lets go of it.
    void Remove();

private:
    std::string path_;
    std::optional<fs::File> file_;
    std::int64_t length_ = 0;
    std::uint32_t headerChecksum_ = 0;
};
// Throws DamagedJournal when its bytes or names fail a check, TesseraError when it cannot be read.
Journal ReadJournal(const std::string& path);
// Appends the mark that every change is done and flushed, and flushes it. When that fails the
// mark is taken back and the failure thrown; when it cannot be taken back, UncertainCommit.
void MarkCommitted(const std::string& path);

// A link among the folders on the journal's paths, or at one of its archives; an undo (or an
// install) could be led out of the game folder through it.
std::optional<std::string> LinkOnTheWay(const Journal& journal);

// Checks that the journal may be applied to the folder now there: the same folder (identity),
// and no folder or archive on its paths is a link. Throws DamagedJournal when it may not, and
// TesseraError when it cannot be told (the folder unreachable).
void VerifyGameFolder(const std::string& journalPath, const Journal& journal);

// Why a path a journal or record keeps relative to the game folder is not safe to use (empty,
// absolute, a drive, a NUL, a way up), or nullopt.
std::optional<std::string> UnsafeRelative(const std::string& relative);
// Whether path lies inside folder (ending in a separator), letter case and separators aside.
bool LiesUnderFolder(const std::string& path, const std::string& folder);
// Moves a journal's paths from the game folder it recorded to folder (resolved, ending in a
// separator): the same folder, moved or renamed since. A path that does not lie under its
// recorded folder makes it a DamagedJournal.
void RerootJournal(Journal& journal, const std::string& folder, const std::string& journalPath);

// Puts the game folder back as it was before the install. Safe to run again after it was
// interrupted, and on a state where only part of the changes were made. Stops with the error
// at the first step it cannot verify or carry out.
void RollBack(const Journal& journal);
// Removes what a finished install kept for its undo (the former versions of stock files, and
// new ones a crash left), trying each; returns those that could not be removed, which the
// committed journal has the next recovery remove.
std::vector<std::string> RemoveLeftovers(const Journal& journal);
// RemoveLeftovers; throws, naming the first left, when one could not be removed.
void FinishCommitted(const Journal& journal);

} // namespace tessera
