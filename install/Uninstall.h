// Taking installs back, for the console and the desktop program alike.
#pragma once

#include "FileSystem.h"
#include "HistoryStore.h"
#include "InstallEvents.h"
#include "Services.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessera {

// Later installs that changed what install id wrote (the same stock file, a record it added or
// renamed), and those that changed what they wrote in turn: they must be taken back first.
// Oldest first.
std::vector<int> LaterInstallsInTheWay(const std::vector<HistoryRecord>& history, int id);
// Whether a later install changed what an earlier one wrote (directly: the same stock file, a
// record it added or renamed set aside, or the archive it wrote in replaced whole or the reverse).
bool ChangesWhatItWrote(const HistoryRecord& later, const HistoryRecord& earlier);

// What is not as the chain of installs (newest first) left it, each as a message naming the
// file; empty when the chain can be taken back. The archives' lengths are those the newest
// install of history (all recorded installs; the chain when empty) left.
std::vector<std::string> CheckUntouched(const std::vector<HistoryRecord>& chain, const std::vector<HistoryRecord>& history = {});

// What is wrong with the history's own files that taking back record needs (its stored journal,
// the stored copies of the bytes it replaced), each as a message; empty when they check out. A
// file that cannot be read is a message too, or thrown when readErrorsThrow (a read that fails is
// then tried once more).
std::vector<std::string> CheckStoredFiles(const std::string& historyFolder, const HistoryRecord& record, bool readErrorsThrow = false);

// Takes back one install that no later one is in the way of (its records leave the archives
// while later installs' records stay, renumbered), under the journal at journalPath: all or
// nothing; a crash midway is finished by the next recovery. The later installs' records and
// stored journals follow the records' new positions.
void TakeBack(const std::string& historyFolder, const std::string& journalPath, const HistoryRecord& record);

// Tells the user one line: problem lines are what the console prints to standard error.
using HistoryTell = std::function<void(const std::string& line, bool problem)>;

// The history of a game folder held under its lock while this lives, with every interrupted
// install or uninstall of the folder finished first (told through sink). Throws when another
// install holds the folder or the history cannot be read.
class LockedHistory {
public:
    LockedHistory(const std::string& gameFolder, IInstallSink& sink);
    // Told on a window as the main window tells an install's messages.
    LockedHistory(const std::string& gameFolder, IWindowServices& window);

    const std::vector<HistoryRecord>& History() const noexcept { return history_; }
    const std::string& Folder() const noexcept { return folder_; }
    const std::string& JournalPathText() const noexcept { return journalPath_; }
    // The game folder, resolved, ending in a separator: the records' paths are rooted at it.
    const std::string& Game() const noexcept { return game_; }

private:
    std::string journalPath_, folder_, game_;
    std::optional<fs::ExclusiveLock> lock_;
    std::vector<HistoryRecord> history_;
};

// What taking back install id takes back, newest first and ending with it. Later installs in
// its way come first when withLater; otherwise they are told and nothing is returned, as when
// no install id is recorded.
std::vector<const HistoryRecord*> UninstallChain(const std::vector<HistoryRecord>& history, int id, bool withLater,
                                                 const std::string& gameFolder, const HistoryTell& tell);
// Takes back chain (newest first) after checking it whole, telling each install taken back;
// true when all went (dryRun: when all could go).
bool TakeBackChain(const LockedHistory& locked, const std::vector<const HistoryRecord*>& chain, bool dryRun, const HistoryTell& tell);

} // namespace tessera
