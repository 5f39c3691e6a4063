// Taking installs back: which installs are in the way, whether the game folder is as the history
// left it, and the uninstall itself, carried out by its journal's rollback.
#include "Uninstall.h"

#include "Compact.h"
#include "Error.h"
#include "FileSystem.h"
#include "GameArchives.h"
#include "GameRules.h"
#include "Hash.h"
#include "HistoryElsewhere.h"
#include "Recovery.h"
#include "Text.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace tessera {

namespace {

// The archive whose .img or .dir a stock file is ("models/gta3"), or empty.
std::string WholeArchiveOf(const std::string& stockPath)
{
    const std::string key = PathKey(stockPath);
    if (!key.ends_with(".img") && !key.ends_with(".dir"))
        return {};
    const std::string base = ArchiveKey(key.substr(0, key.size() - 4));
    return GameArchiveNamed(base) ? base : std::string();
}

// What an install wrote: its stock files, the records it added or renamed by position, and the
// archives it replaced whole ("whole") or appended to and renamed in ("entries").
std::set<std::string> Wrote(const HistoryRecord& r)
{
    std::set<std::string> keys;
    for (const HistoryFile& f : r.files) {
        if (f.kind == HistoryFile::Kind::Stock) {
            keys.insert("stock " + PathKey(f.path));
            if (const std::string whole = WholeArchiveOf(f.path); !whole.empty())
                keys.insert("whole " + whole);
        } else if (f.kind == HistoryFile::Kind::Renamed || f.kind == HistoryFile::Kind::Added) {
            keys.insert("record " + ArchiveKey(f.path) + " " + std::to_string(f.position));
            keys.insert("entries " + ArchiveKey(f.path));
        }
    }
    return keys;
}

// What of the keys of Wrote a later install with these keys changes: the same stock file, a
// record it renamed, and across a whole-archive replacement every record of that archive, both
// ways (records appended to an archive replaced later point into data that is no longer there,
// and an archive put back from under later records leaves them pointing into stock data). An
// install that only added records beside an earlier one's changes nothing of it.
std::set<std::string> Changes(const HistoryRecord& r)
{
    std::set<std::string> keys;
    for (const HistoryFile& f : r.files)
        if (f.kind == HistoryFile::Kind::Renamed)
            keys.insert("record " + ArchiveKey(f.path) + " " + std::to_string(f.position));
    for (const std::string& k : Wrote(r)) {
        if (k.starts_with("stock "))
            keys.insert(k);
        else if (k.starts_with("entries "))
            keys.insert("whole " + k.substr(8));
        else if (k.starts_with("whole ")) {
            keys.insert(k);
            keys.insert("entries " + k.substr(6));
        }
    }
    return keys;
}

// The hash of a stock file as install r left it. An archive's .img or .dir that later installs of
// the chain appended to or renamed in is hashed as those installs' take-back will leave it: cut
// to where the first of them began, its records' former names back, and no trailing record of
// unused space (which goes with the last install after it).
std::string HashAsWritten(const HistoryFile& f, const HistoryRecord& r, const std::vector<HistoryRecord>& chain)
{
    const std::string whole = WholeArchiveOf(f.path);
    const HistoryArchive* first = nullptr;
    int firstId = 0;
    for (const HistoryRecord& later : chain)
        for (const HistoryArchive& a : later.archives)
            if (!whole.empty() && later.id > r.id && ArchiveKey(a.base) == whole && (first == nullptr || later.id < firstId)) {
                first = &a;
                firstId = later.id;
            }
    if (first == nullptr)
        return HashFileAs(r.hashName, f.path);
    if (PathKey(f.path).ends_with(".img")) {
        const fs::File img(f.path, fs::OpenMode::Read);
        return img.Length() < first->imgBefore ? std::string("shorter") : HashRangeAs(r.hashName, img, 0, first->imgBefore);
    }
    std::vector<std::byte> dir = fs::ReadWholeFile(f.path);
    if (static_cast<std::int64_t>(dir.size()) < first->dirBefore)
        return "shorter";
    dir.resize(static_cast<std::size_t>(first->dirBefore));
    for (const HistoryRecord& later : chain)   // newest first: the earliest renaming's former name wins
        for (const HistoryFile& g : later.files)
            if (later.id > r.id && g.kind == HistoryFile::Kind::Renamed && ArchiveKey(g.path) == whole
                && (g.position + 1) * static_cast<std::int64_t>(kRecordSize) <= first->dirBefore)
                std::copy(g.before.begin(), g.before.end(), dir.begin() + g.position * static_cast<std::ptrdiff_t>(kRecordSize));
    while (dir.size() >= kRecordSize && IsUnusedSpace(DecodeRecord(std::span(dir).last(kRecordSize))))
        dir.resize(dir.size() - kRecordSize);
    return HashHexAs(r.hashName, dir);
}

} // namespace

bool ChangesWhatItWrote(const HistoryRecord& later, const HistoryRecord& earlier)
{
    const auto wrote = Wrote(earlier);
    const auto changed = Changes(later);
    return std::any_of(changed.begin(), changed.end(), [&](const std::string& k) { return wrote.count(k) != 0; });
}

std::vector<int> LaterInstallsInTheWay(const std::vector<HistoryRecord>& history, int id)
{
    std::set<std::string> chain;
    for (const HistoryRecord& r : history)
        if (r.id == id)
            chain = Wrote(r);
    std::vector<int> later;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id <= id)
            continue;
        const auto changed = Changes(*it);
        if (std::any_of(changed.begin(), changed.end(), [&](const std::string& k) { return chain.count(k) != 0; })) {
            later.push_back(it->id);
            const auto wrote = Wrote(*it);
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
    // An archive a newer install of the chain replaced whole is that install's stock file now:
    // what older installs did in it comes back with the file they left, so only it is checked.
    std::map<std::string, int> replacedWhole;   // archive key -> the newest chain install that replaced it
    for (const HistoryRecord& r : chain)
        for (const HistoryFile& f : r.files)
            if (const std::string whole = f.kind == HistoryFile::Kind::Stock ? WholeArchiveOf(f.path) : std::string(); !whole.empty())
                replacedWhole[whole] = std::max(replacedWhole[whole], r.id);
    auto replacedSince = [&](const std::string& base, int id) {
        const auto it = replacedWhole.find(ArchiveKey(base));
        return it != replacedWhole.end() && it->second > id;
    };
    auto outside = [&](const std::string& what, const HistoryRecord& r) {
        problems.push_back(what + " was changed outside Tessera since install " + HistoryLabel(r) + ".");
    };
    for (const auto& [key, writer] : stock) {
        const auto& [f, r] = writer;
        if (!fs::FileExists(f->path))
            problems.push_back("The game file " + ShownPath(f->path) + " is missing; install " + HistoryLabel(*r) + " wrote it.");
        else if (HashAsWritten(*f, *r, chain) != f->hash)
            outside("The game file " + ShownPath(f->path), *r);
    }
    // A .old an install made is what its uninstall puts back: only as that install left it.
    for (const HistoryRecord& r : chain) {
        for (const HistoryFile& f : r.files) {
            if (f.kind != HistoryFile::Kind::Stock || !f.madeOld)
                continue;
            const std::string old = f.path + ".old";
            const fs::PathKind kind = fs::Lookup(old);
            if (kind == fs::PathKind::Missing)
                problems.push_back("The game's original " + ShownPath(old) + " is missing; install " + HistoryLabel(r) + " made it.");
            else if (kind != fs::PathKind::File)
                problems.push_back("The game's original " + ShownPath(old) + " is no longer a plain file (a link or folder is in its place); install "
                                   + HistoryLabel(r) + " made it.");
            else if (!f.oldHash.empty() && HashFileAs(r.hashName, old) != f.oldHash)
                problems.push_back(ShownPath(old) + " was changed after install " + HistoryLabel(r) + ".");
        }
    }
    // Taking back shortens and rewrites archives in place: a link among them, or at a folder a
    // file of the chain lies in, could lead that out of the game folder.
    std::set<std::string> linked;
    const auto refuseLink = [&](const std::string& path, const std::string& what) {
        if (fs::Lookup(path) == fs::PathKind::Link && linked.insert(PathKey(path)).second)
            problems.push_back(what + ShownPath(path) + " is a link; Tessera takes nothing back through links.");
    };
    for (const HistoryRecord& r : chain) {
        for (const HistoryFile& f : r.files)
            if (f.kind != HistoryFile::Kind::Refused)
                refuseLink(FolderOf(f.path).substr(0, FolderOf(f.path).size() - 1), "The folder ");
        for (const HistoryArchive& a : r.archives)
            for (const char* ext : {".img", ".dir"})
                refuseLink(a.base + ext, "The game archive ");
    }
    if (!linked.empty())
        return problems;
    std::map<std::string, std::vector<std::byte>> dirs;
    for (const auto& [key, a] : archives) {
        const HistoryRecord* owner = nullptr;
        for (const HistoryRecord& r : all)
            for (const HistoryArchive& x : r.archives)
                if (&x == a)
                    owner = &r;
        if (replacedSince(a->base, owner->id))
            continue;
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
        if (replacedSince(f->path, r->id))
            continue;
        const auto& dir = dirs[where.first];
        const auto at = static_cast<std::size_t>(where.second);
        if ((at + 1) * kRecordSize > dir.size() || DirRecordAt(dir, at) != f->after)
            outside("Entry " + std::to_string(at) + " of " + ShownPath(f->path) + ".dir", *r);
    }
    for (const HistoryRecord& r : chain)
        for (const HistoryFile& f : r.files)
            if (f.kind == HistoryFile::Kind::Added && !replacedSince(f.path, r.id) && fs::FileExists(f.path + ".img") && EntryDataHash(r.hashName, f.path, f.after) != f.hash)
                outside("The data of " + f.name + " in " + ShownPath(f.path) + ".img", r);
    return problems;
}

std::vector<std::string> CheckStoredFiles(const std::string& folder, const HistoryRecord& r, bool readErrorsThrow)
{
    std::vector<std::string> problems;
    auto check = [&](const std::string& what, const std::string& path, const std::string& hash) {
        try {
            if (fs::Lookup(path) != fs::PathKind::File)
                problems.push_back(what + " is missing from the history; install " + HistoryLabel(r) + " stored it.");
            else if (!hash.empty() && HashFileAs(r.hashName, path) != hash)
                problems.push_back(what + " is damaged; install " + HistoryLabel(r) + " stored it.");
        } catch (const TesseraError& e) {
            if (readErrorsThrow)
                throw;
            problems.push_back(what + " cannot be read: " + e.what() + ".");
        }
    };
    const std::string what = "The stored journal of install " + std::to_string(r.id);
    const std::size_t before = problems.size();
    check(what, HistoryFilePath(folder, r.id, "journal"), r.journalHash);
    if (problems.size() == before) {
        // Read whole and moved to the folder as it is now, before anything is changed.
        const auto read = [&] { ReadStoredJournal(folder, r); };
        std::string why;
        if (readErrorsThrow) {
            why = DamageAfterRereading(read, [&] { return std::vector<std::string>{HistoryFilePath(folder, r.id, "journal")}; });
        } else {
            try {
                read();
            } catch (const TesseraError& e) {
                why = e.what();
            }
        }
        if (!why.empty())
            problems.push_back(what + " cannot be used: " + why + ".");
    }
    for (const HistoryFile& f : r.files)
        if (f.kind == HistoryFile::Kind::Stock && !f.replacedCopy.empty())
            check("The stored copy of " + ShownPath(f.path), folder + f.replacedCopy, f.copyHash);
    return problems;
}

void TakeBack(const std::string& folder, const std::string& journalPath, const HistoryRecord& given)
{
    // The record as it stands now: an uninstall before this one may have moved its entries.
    const std::vector<HistoryRecord> history = ReadHistory(folder, given.gameFolder);
    const auto found = std::find_if(history.begin(), history.end(), [&](const HistoryRecord& r) { return r.id == given.id; });
    if (found == history.end())
        throw TesseraError(ErrorKind::FileNotFound, "No install " + std::to_string(given.id) + " is recorded in " + ShownPath(folder), folder);
    const HistoryRecord& record = *found;
    const std::string marker = HistoryFilePath(folder, record.id, "removing");
    std::vector<std::string> formers, nexts;
    bool placed = false;
    std::optional<JournalFile> journalFile;   // held to its removal, as an install holds its own
    try {
        WriteHistoryFile(marker, std::string());
        fs::FlushFolder(folder);
        // The install's rollback puts a stock file's former version back from beside it.
        for (const HistoryFile& f : record.files) {
            if (f.kind != HistoryFile::Kind::Stock || f.replacedCopy.empty())
                continue;
            const std::string former = FormerFileName(f.path);
            DeleteIfThere(former);
            formers.push_back(former);
            fs::CopyFile(folder + f.replacedCopy, former);
            // What goes back is what was checked: the copy as the install stored it.
            if (!f.copyHash.empty() && HashFileAs(record.hashName, former) != f.copyHash)
                throw TesseraError(ErrorKind::Io, "The stored copy of " + ShownPath(f.path) + " is damaged", folder + f.replacedCopy);
        }
        fs::FlushFiles(formers);
        // Its stock files as its own journal undoes them; its archives as they are now, less
        // its records, with the later installs' records renumbered beside (nexts).
        const Journal journal = UninstallJournal(folder, history, record, nexts);
        if (const auto link = LinkOnTheWay(journal))
            throw TesseraError(ErrorKind::AccessDenied, DisplayPath(*link) + " is a link; Tessera takes nothing back through links", *link);
        VerifyGameFolder(journalPath, journal);
        journalFile.emplace(journalPath, journal, &placed);
        RollBack(journal);
        // The game folder is as it was before the install, less what later installs did:
        // record it. A failure from here on leaves the journal, whose recovery rolls back
        // again (changing nothing) and settles the history the same way.
        SettleHistory(folder, record.gameFolder, false);
        journalFile->Remove();
    } catch (...) {
        journalFile.reset();
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

namespace {

IInstallSink& AsSink(WindowPresenter&& presenter) { return presenter; }

} // namespace

// The presenter lives until the constructor it hands over to has returned.
LockedHistory::LockedHistory(const std::string& game, IWindowServices& window) : LockedHistory(game, AsSink(WindowPresenter(window))) {}

LockedHistory::LockedHistory(const std::string& game, IInstallSink& sink)
    : journalPath_(JournalPath(JournalFolder({}), game)), folder_(HistoryFolderOfJournal(journalPath_)),
      game_(fs::WithTrailingSeparator(AbsoluteGameFolder(game)))
{
    RecoverInterruptedInstalls(sink, game);
    RefuseLinkedFolder(JournalFolder({}), "data folder");
    fs::CreateFolders(JournalFolder({}));
    lock_.emplace(journalPath_ + ".lock");
    if (!lock_->Held())
        throw TesseraError(ErrorKind::AccessDenied, "Another install into " + DisplayPath(game) + " is running", game);
    if (fs::FileExists(journalPath_))
        throw TesseraError(ErrorKind::Io, "An install into " + DisplayPath(game) + " still needs recovery: run tessera-cli recover", game);
    SettleHistory(folder_, game_, std::nullopt);
    history_ = ReadHistory(folder_, game_);
    if (!history_.empty())
        return;
    // Taking back what a history recorded under another identity holds needs it taken up.
    const HistoryElsewhere other = TakeUpHistoryRecordedElsewhere(folder_, game_, sink);
    if (other.outcome == HistoryElsewhere::Outcome::TakenUp)
        history_ = ReadHistory(folder_, game_);
    else if (other.outcome != HistoryElsewhere::Outcome::None)
        throw TesseraError(ErrorKind::Io, other.text + " Nothing was changed.", game);
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
    auto problems = CheckUntouched(records, locked.History());
    for (const HistoryRecord& r : records)
        for (std::string& p : CheckStoredFiles(locked.Folder(), r))
            problems.push_back(std::move(p));
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
