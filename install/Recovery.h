// Recovery of interrupted installs, uninstalls and compactions from their journals.
#pragma once

#include "InstallEvents.h"
#include "Journal.h"
#include "Services.h"

#include <string>

namespace tessera {

struct InstallOptions {
    // Where the install journal lives; empty means the user's data folder.
    std::string journalFolder;
    // What the user chose, named in the caption and the failure message in place of the package
    // path: the download that a package was made from. Empty: the package path.
    std::string sourceName;
    // Where the user can choose another game folder, said when the folder lacks the game's
    // archives.
    std::string changeFolderAdvice = "the game folder can be changed under Setup, Options";
    // A recovery of every game folder's journals (the desktop program's start): the game folder
    // set now, which takes up its journal recorded before it was moved or renamed.
    std::string gameFolderNow;
    // The game folder (sGTA3Path) is already as AbsoluteGameFolder gives it (tessera-cli resolves
    // --game): the install does not resolve it again.
    bool gameFolderResolved = false;
};

// What a recovery did.
struct RecoveryReport {
    int rolledBack = 0;   // installs undone: their game folders are as they were before them
    int compactionsRolledBack = 0;   // compactions undone: their archives are as they were before them
    int finished = 0;     // uninstalls and compactions carried through: their change stands
    int pending = 0;      // journals kept: a game folder still needs recovery (unreachable, a step failed)
    int refused = 0;      // damaged journals set aside unused
    bool Clean() const noexcept { return pending == 0 && refused == 0; }
};

// Rolls back every install that was interrupted (a journal left behind), and finishes the
// clean-up of every finished one, telling the user through a Recovered event for each. With a
// game folder given, only installs into that folder. Lock files of installs that are gone are
// removed.
RecoveryReport RecoverInterruptedInstalls(IInstallSink& sink, const std::string& gameFolder = {}, const InstallOptions& options = {});
// The same, shown on window as the main window shows it (WindowPresenter).
RecoveryReport RecoverInterruptedInstalls(IWindowServices& window, const std::string& gameFolder = {},
                                          const InstallOptions& options = {});

// What recovering one journal came to, with what the user is told.
struct Recovered {
    enum class Outcome { Clean, RolledBack, Finished, Pending, Refused };
    Outcome outcome = Outcome::Clean;
    std::string text;
    std::string title;
    Journal::Kind kind = Journal::Kind::Install;   // what wrote the journal, when it was read
    bool waitsForAnother = false;   // pending only while another journal names its game folder
};

// Rolls back the install whose journal is at path, or finishes its clean-up when it had
// committed; the caller holds its lock. The journal goes only when every step is known done.
// folderNow, when given, is the game folder as the user gives it now: the journal's own folder
// moved or renamed since it was recorded (the same identity) is recovered there.
Recovered RecoverJournal(const std::string& path, const std::string& folderNow = {});

// "The game folder ... still needs recovery: ...".
std::string StillNeedsRecovery(const std::string& gameFolder);

} // namespace tessera
