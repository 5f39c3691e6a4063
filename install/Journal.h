// The install journal: what an install may change in the game folder, written and flushed
// before the first change, so that a failed or interrupted install can be rolled back.
#pragma once

#include "Archive.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tessera {

// One change an install makes, with what its undo needs.
struct JournalOp {
    enum class Kind { Stock, Archive };
    Kind kind = Kind::Stock;
    std::string path;              // stock file full path, or game archive base
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
    std::string gameFolder;
    std::vector<JournalOp> ops;    // in the order the install makes them
    bool committed = false;        // every change is done and flushed: only clean-up remains
};

// Names of the scratch files an install keeps beside a stock file.
std::string NewFileName(const std::string& target);        // the package's version before it goes in place
std::string FormerFileName(const std::string& target);     // the former version, kept until the install finishes

// Where the journal of installs into gameFolder lives, inside journalFolder.
std::string JournalPath(const std::string& journalFolder, const std::string& gameFolder);
// The journal folder to use: the given one, or the user's data folder.
std::string JournalFolder(const std::string& given);

// The folder part of a path, with its separator; "." when it has none.
std::string FolderOf(const std::string& path);

// Whether two game folder texts name the same folder (separators, trailing separator and
// letter case aside).
bool SameFolder(const std::string& a, const std::string& b);

// Written and flushed before the first change. A journal cut short by a crash never saw a
// change, so ReadJournal reports it as damaged and it may be dropped.
void WriteJournal(const std::string& path, const Journal& journal);
Journal ReadJournal(const std::string& path);
// Appends the mark that every change is done and flushed, and flushes it.
void MarkCommitted(const std::string& path);

// Puts the game folder back as it was before the install. Safe to run again after it was
// interrupted, and on a state where only part of the changes were made.
void RollBack(const Journal& journal);
// Removes what a finished install kept for its undo (the former versions of stock files).
void FinishCommitted(const Journal& journal);

} // namespace tessera
