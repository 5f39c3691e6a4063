// Recovery: an install, uninstall or compaction that was interrupted is rolled back or carried
// through from its journal, and the history brought in line with it.
#include "Recovery.h"

#include "FileSystem.h"
#include "HistoryStore.h"
#include "InstallDownload.h"
#include "Journal.h"
#include "Text.h"

#include <cctype>

namespace tessera {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Unreachable(const std::string& game, const std::string& why)
{
    std::string label = GameFolderLabel(game);
    label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    return label + " cannot be reached (" + why + "). Nothing was changed; plug it in and run recover again.";
}

// The journal moved aside under a new name, never to be applied; returns that name.
std::string SetAside(const std::string& path)
{
    for (int n = 1;; ++n) {
        const std::string aside = path + ".damaged" + (n == 1 ? std::string() : "-" + std::to_string(n));
        try {
            fs::RenameNoReplace(path, aside);
            fs::FlushFolder(FolderOf(path));
            return aside;
        } catch (const TesseraError& e) {
            if (e.Kind() != ErrorKind::AlreadyExists || n >= 1000)
                throw;
        }
    }
}

} // namespace

std::string StillNeedsRecovery(const std::string& game)
{
    std::string label = GameFolderLabel(game);
    label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    return label + " still needs recovery: Tessera keeps what it needs and finishes it at its next start, or run tessera-cli recover.";
}

// Rolls back the install whose journal is at path, or finishes its clean-up when it had
// committed; the caller holds its lock. The journal goes only when every step is known done.
Recovered RecoverJournal(const std::string& path)
{
    Journal journal;
    bool read = false;
    try {
        journal = ReadJournal(path);
        read = true;
        VerifyGameFolder(path, journal);
    } catch (const DamagedJournal& e) {
        const std::string game = read ? GameFolderLabel(journal.gameFolder) : "the game folder it names";
        std::string interrupted = "install";
        if (read && journal.kind == Journal::Kind::Uninstall)
            interrupted = "uninstall of install " + std::to_string(journal.installId);
        else if (read && journal.kind == Journal::Kind::Compaction)
            interrupted = "compaction of its game archives";
        try {
            const std::string aside = SetAside(path);
            return {Recovered::Outcome::Refused,
                    std::string(e.what()) + "." + kCrLf + "It was not applied and was kept as " + DisplayPath(aside) + ". Nothing was changed; "
                        + game + " may still hold part of an interrupted " + interrupted + ".",
                    "Journal refused"};
        } catch (const TesseraError& again) {
            return {Recovered::Outcome::Pending, std::string(e.what()) + "." + kCrLf + "It was not applied, and could not be set aside: "
                        + again.what() + ". Nothing was changed.", "Recovery needed"};
        }
    } catch (const TesseraError& e) {
        if (!read)
            return {Recovered::Outcome::Pending, "The install journal " + DisplayPath(path) + " cannot be read (" + e.what()
                        + "). Nothing was changed; run recover again.", "Recovery needed"};
        return {Recovered::Outcome::Pending, Unreachable(journal.gameFolder, e.what()), "Recovery needed"};
    }

    // What wrote the journal, named in what the user is told.
    const std::string where = DisplayPath(journal.gameFolder);
    std::string what = "An install into " + where;
    if (journal.kind == Journal::Kind::Uninstall)
        what = "An uninstall of install " + std::to_string(journal.installId) + " from " + where;
    else if (journal.kind == Journal::Kind::Compaction)
        what = "A compaction of the game archives in " + where;
    // An uninstall is carried out by its journal's rollback: undoing it finishes it.
    const bool finishes = journal.committed || journal.kind == Journal::Kind::Uninstall;

    try {
        if (journal.committed)
            FinishCommitted(journal);
        else
            RollBack(journal);
        SettleHistory(HistoryFolderOfJournal(path), journal.committed);
        fs::DeleteFile(path);
    } catch (const TesseraError& e) {
        std::string stopped = journal.committed ? " finished, but its clean-up stopped: " : " was interrupted, and undoing it stopped: ";
        if (journal.kind == Journal::Kind::Uninstall)
            stopped = " was interrupted, and finishing it stopped: ";
        else if (journal.kind == Journal::Kind::Compaction && journal.committed)
            stopped = " was interrupted after its new archives were in place, and finishing it stopped: ";
        return {Recovered::Outcome::Pending, what + stopped + e.what() + "." + kCrLf + StillNeedsRecovery(journal.gameFolder),
                "Recovery needed"};
    }
    try {
        fs::FlushFolder(FolderOf(path));
    } catch (const TesseraError&) {
        // Every step is done; a journal that comes back after a power loss is applied again,
        // which changes nothing.
    }
    switch (journal.kind) {
    case Journal::Kind::Install:
        if (journal.committed)
            return {};   // the install stood; only its clean-up was left
        return {Recovered::Outcome::RolledBack,
                what + " was interrupted." + kCrLf + "It has been rolled back: the game folder is as it was before that install.",
                "Install rolled back"};
    case Journal::Kind::Uninstall:
        return {Recovered::Outcome::Finished,
                what + " was interrupted." + kCrLf + "It has been finished: install " + std::to_string(journal.installId)
                    + " is taken out of the game folder.",
                "Uninstall finished"};
    case Journal::Kind::Compaction:
        break;
    }
    if (finishes)
        return {Recovered::Outcome::Finished,
                what + " was interrupted after its new archives were in place." + kCrLf + "It has been finished: the game archives are compacted.",
                "Compaction finished"};
    return {Recovered::Outcome::RolledBack,
            what + " was interrupted." + kCrLf + "It has been rolled back: the game folder is as it was before that compaction.",
            "Compaction rolled back", Journal::Kind::Compaction};
}

RecoveryReport RecoverInterruptedInstalls(IWindowServices& window, const std::string& givenFolder, const InstallOptions& options)
{
    WindowPresenter presenter(window);
    return RecoverInterruptedInstalls(static_cast<IInstallSink&>(presenter), givenFolder, options);
}

RecoveryReport RecoverInterruptedInstalls(IInstallSink& sink, const std::string& givenFolder, const InstallOptions& options)
{
    // Journals keep their folders absolute; a folder whose absolute form cannot be had is
    // matched by its identity, or by the text as given.
    std::string gameFolder = givenFolder;
    try {
        gameFolder = AbsoluteGameFolder(givenFolder);
    } catch (const TesseraError&) {
    }
    const std::string folder = JournalFolder(options.journalFolder);
    fs::RemoveDeadScratch(kDownloadScratchPrefix);
    RecoveryReport report;
    try {
        RefuseLinkedFolder(folder, "data folder");
    } catch (const TesseraError& e) {
        ++report.pending;
        ReportMessage(sink, InstallEvent::Kind::Recovered, DisplayMessage(e.what()) + ". Nothing was changed.", "Recovery needed");
        return report;
    }
    if (!fs::FolderExists(folder))
        return report;
    // With a folder given, its journal by the folder's identity; a folder that cannot be
    // reached is known only by the text its journals keep.
    std::string wanted;
    if (!gameFolder.empty()) {
        try {
            wanted = BaseName(JournalPath(folder, gameFolder));
        } catch (const TesseraError&) {
        }
    }
    const std::vector<std::string> names = fs::ListFiles(folder);
    for (const std::string& name : names) {
        if (!name.starts_with("install-") || !EndsWith(name, ".journal"))
            continue;
        if (!gameFolder.empty() && !wanted.empty() && name != wanted)
            continue;
        const std::string path = folder + name;
        const fs::ExclusiveLock lock(path + ".lock");
        if (!lock.Held()) {
            ReportMessage(sink, InstallEvent::Kind::Recovered,
                          "An install (journal " + DisplayPath(path) + ") is still running; it was left alone.", "Install running");
            continue;
        }
        if (!gameFolder.empty() && wanted.empty()) {
            try {
                if (!SameFolder(ReadJournal(path).gameFolder, gameFolder))
                    continue;
            } catch (const TesseraError&) {
                continue;   // whose it is cannot be told; a recovery of every folder looks at it
            }
        }
        const Recovered r = RecoverJournal(path);
        switch (r.outcome) {
        case Recovered::Outcome::Clean: break;
        case Recovered::Outcome::RolledBack:
            ++(r.kind == Journal::Kind::Install ? report.rolledBack : report.compactionsRolledBack);
            break;
        case Recovered::Outcome::Finished: ++report.finished; break;
        case Recovered::Outcome::Pending: ++report.pending; break;
        case Recovered::Outcome::Refused: ++report.refused; break;
        }
        if (!r.text.empty())
            ReportMessage(sink, InstallEvent::Kind::Recovered, r.text, r.title);
    }
    if (!wanted.empty()) {
        // An uninstall stopped before its journal left only preparations in the history.
        const std::string path = folder + wanted;
        try {
            const fs::ExclusiveLock lock(path + ".lock");
            if (lock.Held() && !fs::FileExists(path))
                SettleHistory(HistoryFolderOfJournal(path), std::nullopt);
        } catch (const TesseraError& e) {
            ++report.pending;
            ReportMessage(sink, InstallEvent::Kind::Recovered, "The mod history of " + DisplayPath(gameFolder) + " could not be brought in line: " + e.what() + "."
                    + kCrLf + StillNeedsRecovery(gameFolder),
                "Recovery needed");
        }
    }
    // What killed installs left: journals never put in place (no change came after them) and
    // lock files. Only those whose lock can be had, so whose install is gone.
    for (const std::string& name : names) {
        const bool unplaced = EndsWith(name, ".journal.new");
        if (!name.starts_with("install-") || !(unplaced || EndsWith(name, ".lock")))
            continue;
        try {
            const std::string journal = folder + name.substr(0, name.size() - (unplaced ? 4 : 5));
            const fs::ExclusiveLock lock(journal + ".lock");   // removed as it is let go
            if (lock.Held() && unplaced && fs::Lookup(folder + name) == fs::PathKind::File)
                fs::DeleteFile(folder + name);
        } catch (const TesseraError&) {
            // A leftover that harms nothing; the next recovery tries again.
        }
    }
    return report;
}

} // namespace tessera
