// Taking installs back: which installs are in the way, whether the game folder is as the history
// left it, and the uninstall itself, carried out by its journal's rollback.
#include "Uninstall.h"

#include "Compact.h"
#include "Error.h"
#include "FileSystem.h"
#include "Hash.h"
#include "Recovery.h"
#include "Text.h"

#include <algorithm>
#include <map>
#include <set>

namespace tessera {

namespace {

// What an install wrote: its stock files, and the records it added or renamed, by position.
std::set<std::string> Wrote(const HistoryRecord& r, bool renamedOnly)
{
    std::set<std::string> keys;
    for (const HistoryFile& f : r.files) {
        if (f.kind == HistoryFile::Kind::Stock)
            keys.insert("stock " + PathKey(f.path));
        else if (f.kind == HistoryFile::Kind::Renamed || (f.kind == HistoryFile::Kind::Added && !renamedOnly))
            keys.insert("record " + ArchiveKey(f.path) + " " + std::to_string(f.position));
    }
    return keys;
}

} // namespace

std::vector<int> LaterInstallsInTheWay(const std::vector<HistoryRecord>& history, int id)
{
    // A later install is in the way when it replaced a stock file or renamed a record that one
    // going back wrote; an install that only added beside them can stay.
    std::set<std::string> chain;
    for (const HistoryRecord& r : history)
        if (r.id == id)
            chain = Wrote(r, false);
    std::vector<int> later;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id <= id)
            continue;
        const auto changed = Wrote(*it, true);
        if (std::any_of(changed.begin(), changed.end(), [&](const std::string& k) { return chain.count(k) != 0; })) {
            later.push_back(it->id);
            const auto wrote = Wrote(*it, false);
            chain.insert(wrote.begin(), wrote.end());
        }
    }
    return later;
}

std::vector<std::string> CheckUntouched(const std::vector<HistoryRecord>& chain, const std::vector<HistoryRecord>& history)
{
    const std::vector<HistoryRecord>& all = history.empty() ? chain : history;
    std::vector<std::string> problems;
    std::map<std::string, std::pair<const HistoryFile*, const HistoryRecord*>> stock;   // newest writer
    std::map<std::string, const HistoryArchive*> archives;                              // newest lengths
    std::map<std::pair<std::string, std::int64_t>, std::pair<const HistoryFile*, const HistoryRecord*>> records;
    std::set<std::string> chainArchives;
    for (const HistoryRecord& r : chain)
        for (const HistoryArchive& a : r.archives)
            chainArchives.insert(PathKey(a.base));
    for (auto it = all.rbegin(); it != all.rend(); ++it)   // oldest first: newer ones win
        for (const HistoryArchive& a : it->archives)
            if (chainArchives.count(PathKey(a.base)))
                archives[PathKey(a.base)] = &a;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const HistoryFile& f : it->files) {
            if (f.kind == HistoryFile::Kind::Stock)
                stock[PathKey(f.path)] = {&f, &*it};
            else if (f.kind == HistoryFile::Kind::Added || f.kind == HistoryFile::Kind::Renamed)
                records[{PathKey(f.path), f.position}] = {&f, &*it};
        }
    }
    auto outside = [&](const std::string& what, const HistoryRecord& r) {
        problems.push_back(what + " was changed outside Tessera since install " + HistoryLabel(r) + ".");
    };
    for (const auto& [key, writer] : stock) {
        const auto& [f, r] = writer;
        if (!fs::FileExists(f->path))
            problems.push_back("The game file " + ShownPath(f->path) + " is missing; install " + HistoryLabel(*r) + " wrote it.");
        else if (HashFileAs(r->hashName, f->path) != f->hash)
            outside("The game file " + ShownPath(f->path), *r);
    }
    for (const HistoryRecord& r : chain)
        for (const HistoryFile& f : r.files)
            if (f.kind == HistoryFile::Kind::Stock && f.madeOld && !fs::FileExists(f.path + ".old"))
                problems.push_back("The game's original " + ShownPath(f.path) + ".old is missing; install " + HistoryLabel(r) + " made it.");
    std::map<std::string, std::vector<std::byte>> dirs;
    for (const auto& [key, a] : archives) {
        const HistoryRecord* owner = nullptr;
        for (const HistoryRecord& r : all)
            for (const HistoryArchive& x : r.archives)
                if (&x == a)
                    owner = &r;
        for (const char* ext : {".img", ".dir"}) {
            if (!fs::FileExists(a->base + ext)) {
                problems.push_back("The game archive " + ShownPath(a->base) + ext + " is missing.");
                continue;
            }
            if (fs::FileLength(a->base + ext) != (ext[1] == 'i' ? a->imgAfter : a->dirAfter))
                outside("The game archive " + ShownPath(a->base) + ext, *owner);
        }
        if (fs::FileExists(a->base + ".dir"))
            dirs[key] = fs::ReadWholeFile(a->base + ".dir");
    }
    for (const auto& [where, writer] : records) {
        const auto& [f, r] = writer;
        const auto& dir = dirs[where.first];
        const auto at = static_cast<std::size_t>(where.second);
        if ((at + 1) * kRecordSize > dir.size() || DirRecordAt(dir, at) != f->after)
            outside("Entry " + std::to_string(at) + " of " + ShownPath(f->path) + ".dir", *r);
    }
    for (const HistoryRecord& r : chain)
        for (const HistoryFile& f : r.files)
            if (f.kind == HistoryFile::Kind::Added && fs::FileExists(f.path + ".img") && EntryDataHash(r.hashName, f.path, f.after) != f.hash)
                outside("The data of " + f.name + " in " + ShownPath(f.path) + ".img", r);
    return problems;
}

void TakeBack(const std::string& folder, const std::string& journalPath, const HistoryRecord& given)
{
    // The record as it stands now: an uninstall before this one may have moved its entries.
    const std::vector<HistoryRecord> history = ReadHistory(folder);
    const auto found = std::find_if(history.begin(), history.end(), [&](const HistoryRecord& r) { return r.id == given.id; });
    if (found == history.end())
        throw TesseraError(ErrorKind::FileNotFound, "No install " + std::to_string(given.id) + " is recorded in " + ShownPath(folder), folder);
    const HistoryRecord& record = *found;
    const std::string marker = HistoryFilePath(folder, record.id, "removing");
    std::vector<std::string> formers, nexts;
    bool placed = false;
    try {
        WriteHistoryFile(marker, std::string());
        fs::FlushFolder(folder);
        // The install's rollback puts a stock file's former version back from beside it.
        for (const HistoryFile& f : record.files) {
            if (f.kind != HistoryFile::Kind::Stock || f.replacedCopy.empty())
                continue;
            const std::string former = FormerFileName(f.path);
            DeleteIfThere(former);
            fs::CopyFile(folder + f.replacedCopy, former);
            formers.push_back(former);
        }
        fs::FlushFiles(formers);
        // Its stock files as its own journal undoes them; its archives as they are now, less
        // its records, with the later installs' records renumbered beside (nexts).
        const Journal journal = UninstallJournal(folder, history, record, nexts);
        VerifyGameFolder(journalPath, journal);
        WriteJournal(journalPath, journal, &placed);
        RollBack(journal);
        // The game folder is as it was before the install, less what later installs did:
        // record it. A failure from here on leaves the journal, whose recovery rolls back
        // again (changing nothing) and settles the history the same way.
        SettleHistory(folder, false);
        fs::DeleteFile(journalPath);
    } catch (...) {
        if (!placed) {
            // Nothing of the game folder was changed: take back the preparations.
            try {
                for (const std::string& former : formers)
                    DeleteIfThere(former);
                for (const std::string& next : nexts)
                    DeleteIfThere(next);
                DeleteIfThere(marker);
            } catch (const std::exception&) {
                // The next start settles what is left.
            }
        }
        throw;
    }
    try {
        fs::FlushFolder(FolderOf(journalPath));
    } catch (const TesseraError&) {
        // Every step is done; a journal that comes back after a power loss is rolled back
        // again, which changes nothing.
    }
}

// ---- Taking installs back

LockedHistory::LockedHistory(const std::string& game, IWindowServices& window)
    : journalPath_(JournalPath(JournalFolder({}), game)), folder_(HistoryFolderOfJournal(journalPath_))
{
    RecoverInterruptedInstalls(window, game);
    RefuseLinkedFolder(JournalFolder({}), "data folder");
    fs::CreateFolders(JournalFolder({}));
    lock_.emplace(journalPath_ + ".lock");
    if (!lock_->Held())
        throw TesseraError(ErrorKind::AccessDenied, "Another install into " + DisplayPath(game) + " is running", game);
    if (fs::FileExists(journalPath_))
        throw TesseraError(ErrorKind::Io, "An install into " + DisplayPath(game) + " still needs recovery: run tessera-cli recover", game);
    SettleHistory(folder_, std::nullopt);
    history_ = ReadHistory(folder_);
}

std::vector<const HistoryRecord*> UninstallChain(const std::vector<HistoryRecord>& history, int id, bool withLater,
                                                 const std::string& game, const HistoryTell& tell)
{
    const auto it = std::find_if(history.begin(), history.end(), [&](const HistoryRecord& r) { return r.id == id; });
    if (it == history.end()) {
        tell("No install " + std::to_string(id) + " is recorded for " + DisplayPath(game), true);
        return {};
    }
    std::vector<const HistoryRecord*> chain;
    for (int later : LaterInstallsInTheWay(history, id))
        for (const HistoryRecord& r : history)
            if (r.id == later)
                chain.insert(chain.begin(), &r);   // newest first
    if (!chain.empty() && !withLater) {
        std::string line = "Install " + HistoryLabel(*it) + " cannot be taken back alone: later installs changed what it wrote:";
        for (auto r = chain.rbegin(); r != chain.rend(); ++r)
            line += " " + HistoryLabel(**r);
        tell(line, true);
        tell("Take them back first, or use --with-later. Nothing was changed.", true);
        return {};
    }
    chain.push_back(&*it);
    return chain;
}

bool TakeBackChain(const LockedHistory& locked, const std::vector<const HistoryRecord*>& chain, bool dryRun, const HistoryTell& tell)
{
    std::vector<HistoryRecord> records;
    for (const HistoryRecord* r : chain)
        records.push_back(*r);
    const auto problems = CheckUntouched(records, locked.History());
    if (!problems.empty()) {
        for (const std::string& p : problems)
            tell(p, true);
        tell("Nothing was changed.", true);
        return false;
    }
    for (const HistoryRecord& r : records) {
        if (dryRun) {
            tell("Would take back install " + HistoryLabel(r), false);
            continue;
        }
        try {
            TakeBack(locked.Folder(), locked.JournalPathText(), r);
        } catch (const std::exception& e) {
            tell("Taking back install " + HistoryLabel(r) + " failed: " + e.what(), true);
            bool journalLeft = true;   // when it cannot be told, a recover does no harm
            try {
                journalLeft = fs::FileExists(locked.JournalPathText());
            } catch (const TesseraError&) {
            }
            tell(journalLeft ? "It is finished by tessera-cli recover." : "That install is still in place.", true);
            return false;
        }
        tell("Took back install " + HistoryLabel(r), false);
    }
    return true;
}

} // namespace tessera
