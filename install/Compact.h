// Records that move in the game archives: an install's records leaving them while later ones
// stay, and compaction, which puts every record's data right after the one before it. The
// history follows the records to their new places, so every install can still be taken back.
#pragma once

#include "Archive.h"
#include "HistoryStore.h"
#include "Journal.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessera {

// The journal whose rollback takes install record back: its own journal's stock files, and for
// each archive it added to, the .dir as it must be (its records gone, those it renamed with
// their former name bytes, the rest in their order) and the .img cut to where its data began
// when no later install's data follows (otherwise its data stays as unused space). Writes the
// later installs' records and stored journals as they must be afterwards beside them, flushed;
// their paths are added to nexts as they are written.
Journal UninstallJournal(const std::string& historyFolder, const std::vector<HistoryRecord>& history, const HistoryRecord& record,
                         std::vector<std::string>& nexts);

// One game archive as compaction sees it.
struct ArchiveCompaction {
    std::string base;                 // the archive base in the game folder
    std::string img, dir;             // its files, their names spelled as on disk
    std::string relative;             // "models/gta3", with the platform's separators
    std::string problem;              // why it cannot be compacted; empty when it can
    std::int64_t imgLength = 0;       // now
    std::int64_t newImgLength = 0;    // compacted
    bool needed = false;              // some data moves, or unused space goes
    std::vector<DirRecord> records;   // as they are now
};

// The game archives of the folder (those missing left out) and what compacting each would do.
std::vector<ArchiveCompaction> PlanCompaction(const std::string& gameFolder);

// Rewrites every archive of plan that needs it: new .img and .dir beside the old ones, flushed,
// swapped in under the journal at journalPath; the history's records and stored journals follow
// the moved data. All or nothing: a failure is rolled back, or leaves the journal for recovery.
// The caller holds the lock and checked that no archive of plan has a problem.
void Compact(const std::string& historyFolder, const std::string& journalPath, const std::string& gameFolder,
             const std::vector<ArchiveCompaction>& plan);

} // namespace tessera
