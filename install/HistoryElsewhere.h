// A game folder's history recorded under another identity of the folder (a drive plugged in
// again, a copy put back from a backup): found by the folder its records name, and taken up only
// when the folder holds what it last wrote.
#pragma once

#include "HistoryStore.h"
#include "InstallEvents.h"

#include <functional>
#include <string>
#include <vector>

namespace tessera {

// Whether a history was recorded for the game folder game (resolved): the one test by which a
// history recorded under another identity is known as the folder's.
bool RecordedUnder(const std::vector<HistoryRecord>& history, const std::string& game);

// Why the history's files (listed by paths) do not check out, as read throws it twice over;
// empty when read went through. A read that failed once may go through again; after a second
// failure the files are read byte for byte, so a failure to read throws as such and is never
// taken for damage.
std::string DamageAfterRereading(const std::function<void()>& read, const std::function<std::vector<std::string>()>& paths);

struct HistoryElsewhere {
    enum class Outcome {
        None,          // the folder has installs of its own, or no other history names it
        TakenUp,       // told through the sink; the history folder holds it now
        Interrupted,   // a change recorded under the other identity must be recovered first
        NotTakenUp,    // it does not match the folder, or cannot be told from another one
    };
    Outcome outcome = Outcome::None;
    std::string text;   // Interrupted, NotTakenUp: what was found and why it was not taken up
};

// Looks for such a history when historyFolder (of game, in the data folder that holds it) has no
// install of its own, and takes it up into historyFolder when it is the only one, nothing of it
// was interrupted, and the folder holds what it last wrote. The caller holds the folder's lock.
// A failure to look throws: it is never "none found". data and seen: the data folder and the
// history folder as the caller saw them (null: looked at here); seen is brought up to date
// with a history taken up.
HistoryElsewhere TakeUpHistoryRecordedElsewhere(const std::string& historyFolder, const std::string& game, IInstallSink& sink,
                                                const fs::FolderListing* data = nullptr, HistorySeen* seen = nullptr);

} // namespace tessera
