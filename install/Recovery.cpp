// Recovery: an install, uninstall or compaction that was interrupted is rolled back or carried
// through from its journal, and the history brought in line with it.
#include "Recovery.h"

#include "FileSystem.h"
#include "HistoryStore.h"
#include "InstallDownload.h"
#include "Journal.h"
#include "Text.h"

#include <cctype>
#include <optional>

namespace tessera {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Unreachable(const std::string& game, const std::string& why)
{
    std::string label = GameFolderLabel(game);
    label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    return label + " cannot be reached (" + why + "). Nothing was changed; plug it in and run recover again"
        " (when the folder was moved or renamed, give its new path).";
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

// Why a journal recorded under another identity of its game folder is not taken up: set aside
// when the folder is not in the state it describes, kept when it may be taken up later.
struct NotTakenUp {
    std::string why;
    bool setAside = true;
    bool waitsForAnother = false;   // kept while another journal of the folder may be its own
};

// What of the state a journal describes the game folder does not hold, or empty: every archive
// there and not shorter than before the change (which only appends), and for every stock file
// what its undo puts back (the file itself, its .old or the former version kept beside it). A
// compaction's archive files are marked as having an .old only so that their undo puts back the
// former version kept beside them: a compaction makes no .old.
// Holds part way through the undo too, which recovery may have been doing when it stopped.
std::string NotInTheStateItDescribes(const Journal& journal)
{
    const auto file = [](const std::string& path) { return fs::Lookup(path) == fs::PathKind::File; };
    for (const JournalOp& op : journal.ops) {
        if (op.kind == JournalOp::Kind::Archive) {
            for (const auto& [path, length] : {std::pair{op.path + ".img", op.imgLength}, std::pair{op.path + ".dir", op.dirLength}}) {
                if (!file(path))
                    return "the game archive " + DisplayPath(path) + " is missing";
                if (fs::FileLength(path) < length)
                    return "the game archive " + DisplayPath(path) + " is shorter than when the change began";
            }
        } else if (op.hadOld && journal.kind != Journal::Kind::Compaction && !file(op.path + ".old")) {
            return "the game's original " + DisplayPath(op.path + ".old") + " is missing";
        } else if (op.existed && !file(op.path) && !file(op.hadOld ? FormerFileName(op.path) : op.path + ".old")) {
            return "the game file " + DisplayPath(op.path) + " is missing, with nothing to put back in its place";
        }
    }
    return {};
}

// The last check of every take-up of a journal by a folder it was not recorded for: the folder
// holds the state the journal describes. Throws NotTakenUp.
void RefuseUnlessInItsState(const Journal& journal)
{
    if (const std::string why = NotInTheStateItDescribes(journal); !why.empty())
        throw NotTakenUp{"it does not hold the state the journal describes: " + why};
}

// Takes up the journal at path, recorded for a game folder that is now known by another
// identity (a drive plugged in again, a copy put back from a backup), as the journal of the
// folder now there: only when that folder is where the journal was recorded, after resolving
// links, has no other interrupted change and no install since, and holds the state the journal
// describes. The folder's own lock is taken into hereLock. Throws NotTakenUp.
void TakeUpJournal(const std::string& path, const Journal& journal, std::optional<fs::ExclusiveLock>& hereLock)
{
    const std::string here = JournalPath(FolderOf(path), journal.gameFolder);
    if (!SameFolder(AbsoluteGameFolder(journal.gameFolder), journal.gameFolder))
        throw NotTakenUp{"its path now leads to another folder"};
    hereLock.emplace(here + ".lock");
    if (!hereLock->Held())
        throw NotTakenUp{"an install into it is running", false};
    if (fs::FileExists(here))
        throw NotTakenUp{"another interrupted change is recorded under its present identity and comes first", false};
    int others = 0, othersHeld = 0;
    for (const std::string& name : fs::ListFiles(FolderOf(path))) {
        if (!name.starts_with("install-") || !EndsWith(name, ".journal") || FolderOf(path) + name == path)
            continue;
        std::optional<Journal> other;
        try {
            other = ReadJournal(FolderOf(path) + name);
        } catch (const TesseraError&) {
            // Whose it is cannot be told; recovery says so when it comes to it.
        }
        if (other && SameFolder(other->gameFolder, journal.gameFolder)) {
            ++others;
            othersHeld += NotInTheStateItDescribes(*other).empty() ? 1 : 0;
        }
    }
    // Of several, the only one whose state the folder holds is the folder's; the others are
    // told stale once it is applied.
    if (others > 0 && (othersHeld > 0 || !NotInTheStateItDescribes(journal).empty()))
        throw NotTakenUp{"there are " + std::to_string(others + 1) + " such journals, and Tessera cannot tell which is this folder's", false, true};
    if (!ReadHistory(HistoryFolderOfJournal(here), journal.gameFolder).empty())
        throw NotTakenUp{"installs were made into it since"};
    RefuseUnlessInItsState(journal);
}

// The folder given now (resolved, ending in a separator), when it is the journal's own folder
// moved or renamed since: the journal is kept under that folder's identity, which its recorded
// path no longer leads to. Empty when it is not; throws when the folder given now cannot be
// looked at, since it may be the journal's, and DamagedJournal when the journal kept under its
// identity recorded another.
std::string MovedTo(const std::string& path, const Journal& journal, const std::string& folderNow)
{
    if (folderNow.empty())
        return {};
    const std::string now = fs::WithTrailingSeparator(AbsoluteGameFolder(folderNow));
    if (SameFolder(now, journal.gameFolder))
        return {};
    const std::string identity = fs::FolderIdentity(now);
    if (JournalPathOfIdentity(FolderOf(path), identity) != path)
        return {};
    if (identity != journal.identity)
        throw DamagedJournal(path, "it is kept under the identity of " + DisplayPath(now) + " but records another folder");
    return now;
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
Recovered RecoverJournal(const std::string& path, const std::string& folderNow)
{
    Journal journal;
    bool read = false;
    std::optional<fs::ExclusiveLock> hereLock;   // the folder's own, when the journal is taken up
    bool takenUp = false;
    std::string movedFrom;   // where the folder was when the journal was recorded, when it moved since
    const auto anotherIdentity = [&] {
        if (!movedFrom.empty())
            return "The install journal " + DisplayPath(path) + " was recorded for " + GameFolderLabel(movedFrom) + ", which is now "
                + DisplayPath(journal.gameFolder) + " (moved or renamed: the same folder by its identity)";
        return "The install journal " + DisplayPath(path) + " was recorded for " + GameFolderLabel(journal.gameFolder)
            + " when that folder was known by another identity (a drive plugged in again, or a copy put back)";
    };
    try {
        journal = ReadJournal(path);
        read = true;
        std::string identity;
        std::optional<TesseraError> unreached;
        try {
            identity = fs::FolderIdentity(journal.gameFolder);
        } catch (const TesseraError& e) {
            unreached = e;
        }
        if (identity != journal.identity) {
            // The identity decides: the folder given now is the journal's, whatever its recorded
            // path leads to now, and nothing there is touched.
            std::string now;
            try {
                now = MovedTo(path, journal, folderNow);
            } catch (const DamagedJournal&) {
                throw;
            } catch (const TesseraError& e) {
                if (!unreached)
                    throw NotTakenUp{"whether it is the folder given now, " + DisplayPath(folderNow) + ", cannot be told (" + e.what() + ")", false};
            }
            if (!now.empty()) {
                movedFrom = journal.gameFolder;
                RerootJournal(journal, now, path);
                // The caller holds the folder's own lock: the journal is kept under its identity.
                RefuseUnlessInItsState(journal);
            } else if (unreached) {
                throw *unreached;
            } else if (JournalPath(FolderOf(path), journal.gameFolder) != path) {
                TakeUpJournal(path, journal, hereLock);
                journal.identity = identity;
                takenUp = true;
            }
        }
        VerifyGameFolder(path, journal);
    } catch (const NotTakenUp& e) {
        if (!e.setAside)
            return {Recovered::Outcome::Pending, anotherIdentity() + ", but " + e.why + ". Nothing was changed; run recover again.", "Recovery needed",
                    journal.kind, e.waitsForAnother};
        try {
            const std::string aside = SetAside(path);
            return {Recovered::Outcome::Refused,
                    anotherIdentity() + ", but " + e.why + "." + kCrLf + "It was not applied and was kept as " + DisplayPath(aside)
                        + ". Nothing was changed.",
                    "Journal refused"};
        } catch (const TesseraError& again) {
            return {Recovered::Outcome::Pending, anotherIdentity() + ", but " + e.why + "." + kCrLf + "It was not applied, and could not be set aside: "
                        + again.what() + ". Nothing was changed.", "Recovery needed"};
        }
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
    if (takenUp)
        what += " (recorded when the folder was known by another identity: a drive plugged in again, or a copy put back; the folder is"
                " where it was recorded and holds the state its journal describes, so the journal was taken up)";
    if (!movedFrom.empty())
        what += " (recorded when the folder was at " + DisplayPath(movedFrom) + "; it was moved or renamed since, is the same folder by"
                " its identity and holds the state its journal describes, so the journal was taken up where the folder is now)";
    // An uninstall is carried out by its journal's rollback: undoing it finishes it.
    const bool finishes = journal.committed || journal.kind == Journal::Kind::Uninstall;

    try {
        if (journal.committed)
            FinishCommitted(journal);
        else
            RollBack(journal);
        SettleHistory(HistoryFolderOfJournal(path), journal.gameFolder, journal.committed);
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
        if (journal.committed && (takenUp || !movedFrom.empty()))
            return {Recovered::Outcome::Clean, what + " had finished." + kCrLf + "Its clean-up is done: the install stands.", "Install finished"};
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
    // Where a game folder moved or renamed since its journal was recorded is now: the folder
    // given, or, recovering every folder's journals, the one set now.
    const std::string& folderNow = givenFolder.empty() ? options.gameFolderNow : gameFolder;
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
    // The folder's own journal first: one recorded under another identity of it (a drive
    // plugged in again, a copy put back) is taken up only when the folder has none of its own.
    std::vector<std::string> journals;
    for (const std::string& name : names)
        if (name.starts_with("install-") && EndsWith(name, ".journal"))
            journals.insert(name == wanted ? journals.begin() : journals.end(), name);
    const auto count = [&](const Recovered& r) {
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
    };
    // Journals that waited for another of their folder's, with what they came to.
    std::vector<std::pair<std::string, Recovered>> waiting;
    bool anyGone = false;
    for (const std::string& name : journals) {
        const std::string path = folder + name;
        // Another folder's journal is left to it: its path names the folder it was recorded for.
        if (!gameFolder.empty() && name != wanted) {
            try {
                if (!SameFolder(ReadJournal(path).gameFolder, gameFolder))
                    continue;
            } catch (const TesseraError&) {
                continue;   // whose it is cannot be told; a recovery of every folder looks at it
            }
        }
        const fs::ExclusiveLock lock(path + ".lock");
        if (!lock.Held()) {
            ReportMessage(sink, InstallEvent::Kind::Recovered,
                          "An install (journal " + DisplayPath(path) + ") is still running; it was left alone.", "Install running");
            continue;
        }
        Recovered r = RecoverJournal(path, folderNow);
        anyGone = anyGone || r.outcome != Recovered::Outcome::Pending;
        if (r.waitsForAnother)
            waiting.emplace_back(path, std::move(r));
        else
            count(r);
    }
    // Once one of several journals of a folder is applied or set aside, those that waited for it
    // are looked at again: a stale one (its state not in the folder) is set aside, saying why.
    for (auto& [path, r] : waiting) {
        if (anyGone) {
            const fs::ExclusiveLock lock(path + ".lock");
            if (lock.Held())
                r = RecoverJournal(path, folderNow);
        }
        count(r);
    }
    if (!wanted.empty()) {
        // An uninstall stopped before its journal left only preparations in the history.
        const std::string path = folder + wanted;
        try {
            const fs::ExclusiveLock lock(path + ".lock");
            if (lock.Held() && !fs::FileExists(path))
                SettleHistory(HistoryFolderOfJournal(path), gameFolder, std::nullopt);
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
