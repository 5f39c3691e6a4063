// Records that move: an uninstall that takes an install's records out from among later ones, and
// compaction. Both change the game folder under the journal and write the history's new
// versions beside the old (".next"), which count only with the change (SettleHistory).
#include "Compact.h"

#include "Error.h"
#include "FileSystem.h"
#include "GameArchives.h"
#include "GameRules.h"
#include "Hash.h"
#include "Text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace tessera {

namespace {

std::string NextPath(const std::string& folder, int id, const char* state) { return HistoryFilePath(folder, id, state) + ".next"; }

// Writes an install's record and stored journal as they must be after the change, beside them.
// The record names its stored journal by hash, so the journal goes first; a record of the first
// format comes out in the current one, under the hash it had.
void WriteNexts(const std::string& folder, HistoryRecord record, const std::optional<Journal>& journal,
                std::vector<std::string>& nexts)
{
    if (journal) {
        const std::string journalNext = NextPath(folder, record.id, "journal");
        DeleteIfThere(journalNext);
        nexts.push_back(journalNext);
        WriteJournal(journalNext, *journal);
        record.journalHash = HashFileAs(record.hashName, journalNext);
    }
    record.format = kHistoryFormat;
    const std::string recordNext = NextPath(folder, record.id, "record");
    nexts.push_back(recordNext);
    WriteHistoryRecord(recordNext, record);
}

// The name spelled as on disk, so a swap puts the file back under that very name.
std::string AsOnDisk(const std::string& path)
{
    const std::string native = fs::NativePath(path);
    const auto slash = native.find_last_of("\\/");
    return FolderOf(path) + (slash == std::string::npos ? native : native.substr(slash + 1));
}

// Blocks before record count c of an archive, compacted: prefix holds the running sums.
std::int64_t BytesBefore(const std::vector<std::int64_t>& prefix, std::int64_t count)
{
    const auto c = static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, static_cast<std::int64_t>(prefix.size()) - 1));
    return prefix[c] * kBlockSize;
}

} // namespace

Journal UninstallJournal(const std::string& folder, const std::vector<HistoryRecord>& history, const HistoryRecord& record,
                         std::vector<std::string>& nexts)
{
    const Journal stored = ReadStoredJournal(folder, record);
    Journal journal;
    journal.kind = Journal::Kind::Uninstall;
    journal.installId = record.id;
    journal.gameFolder = stored.gameFolder;
    // The folder is the one whose identity keys this history now: the install's own, or the
    // same folder after a re-plug or a copy put back, whose history was taken up again only
    // when it held what the history last wrote.
    journal.identity = fs::FolderIdentity(stored.gameFolder);
    if (HistoryFolderOfJournal(JournalPath(FolderOf(folder.substr(0, folder.size() - 1)), stored.gameFolder)) != folder)
        throw TesseraError(ErrorKind::Io, GameFolderLabel(stored.gameFolder) + " is no longer the folder install " + std::to_string(record.id)
                               + " changed", stored.gameFolder);
    for (const JournalOp& op : stored.ops)
        if (op.kind == JournalOp::Kind::Stock)
            journal.ops.push_back(op);

    // What leaves each archive, and where the later installs' data begins.
    struct Leaving {
        std::string key;
        std::vector<std::int64_t> removed;   // record numbers, ascending
        std::vector<std::int64_t> unused;    // of those, the ones a record of unused space takes the place of
        std::int64_t imgBefore = 0;          // where the install's data began
        int heir = 0;                        // the next later install into the archive
    };
    std::vector<Leaving> leaving;
    for (const HistoryArchive& a : record.archives) {
        Leaving l;
        l.key = ArchiveKey(a.base);
        l.imgBefore = a.imgBefore;
        std::map<std::int64_t, RecordBytes> renamed;
        for (const HistoryFile& f : record.files) {
            if (ArchiveKey(f.path) != l.key || f.kind == HistoryFile::Kind::Stock || f.kind == HistoryFile::Kind::Refused)
                continue;
            if (f.kind == HistoryFile::Kind::Added)
                l.removed.push_back(f.position);
            else
                renamed[f.position] = f.before;
        }
        for (auto it = history.rbegin(); it != history.rend() && l.heir == 0; ++it)   // oldest first
            if (it->id > record.id && std::any_of(it->archives.begin(), it->archives.end(), [&](const HistoryArchive& x) { return ArchiveKey(x.base) == l.key; }))
                l.heir = it->id;
        const GameArchive* game = GameArchiveNamed(l.key);
        const bool streamed = game != nullptr && game->streamed;

        const std::vector<std::byte> dir = fs::ReadWholeFile(a.base + ".dir");
        if (dir.size() % kRecordSize != 0)
            throw TesseraError(ErrorKind::BadArchive, "The game archive " + DisplayPath(a.base) + ".dir is not whole records", a.base + ".dir");
        const std::size_t count = dir.size() / kRecordSize;
        // The record of unused space the install put before its first entry leaves with them.
        for (std::int64_t p = a.dirBefore / static_cast<std::int64_t>(kRecordSize);
             p < a.dirAfter / static_cast<std::int64_t>(kRecordSize) && p < static_cast<std::int64_t>(count); ++p)
            if (IsUnusedSpace(DecodeRecord(DirRecordAt(dir, static_cast<std::size_t>(p)))))
                l.removed.push_back(p);
        std::sort(l.removed.begin(), l.removed.end());
        l.removed.erase(std::unique(l.removed.begin(), l.removed.end()), l.removed.end());
        // With later data after it, the data of each run of its records stays as unused space
        // under one record the game skips, so the records before and after are not read as one
        // chain; as the last, its data is cut off.
        std::map<std::int64_t, RecordBytes> unused;   // by the first record number of its run
        if (l.heir != 0 && streamed) {
            std::int64_t runStart = -1, runEnd = 0, last = -2;
            std::int64_t runOffset = 0;
            auto close = [&] {
                if (runStart >= 0 && runEnd > runOffset)
                    unused[runStart] = EncodeRecord(UnusedSpaceRecord(static_cast<std::int32_t>(runOffset), static_cast<std::int32_t>(runEnd - runOffset)));
            };
            for (std::int64_t p : l.removed) {
                if (static_cast<std::size_t>(p) >= count)
                    continue;
                const DirRecord r = DecodeRecord(DirRecordAt(dir, static_cast<std::size_t>(p)));
                if (r.lSize > 0 && (p != last + 1 || r.lOffset != runEnd)) {
                    close();
                    runStart = p;
                    runOffset = r.lOffset;
                    runEnd = r.lOffset;
                }
                if (r.lSize > 0)
                    runEnd += r.lSize;
                last = p;
            }
            close();
        }
        for (const auto& u : unused)
            l.unused.push_back(u.first);
        std::vector<RecordBytes> kept;
        kept.reserve(count);
        for (std::size_t p = 0; p < count; ++p) {
            if (std::binary_search(l.removed.begin(), l.removed.end(), static_cast<std::int64_t>(p))) {
                if (const auto it = unused.find(static_cast<std::int64_t>(p)); it != unused.end())
                    kept.push_back(it->second);
                continue;
            }
            RecordBytes r = DirRecordAt(dir, p);
            if (const auto it = renamed.find(static_cast<std::int64_t>(p)); it != renamed.end())
                r = WithNameOf(r, it->second);   // the exact former name bytes
            kept.push_back(r);
        }
        // As the last, records of unused space left before it go with its data: those in the
        // blocks cut off, or reaching into them.
        if (l.heir == 0)
            while (!kept.empty() && IsUnusedSpace(DecodeRecord(kept.back()))) {
                const DirRecord r = DecodeRecord(kept.back());
                if (r.lOffset < a.imgBefore / kBlockSize && (std::int64_t{r.lOffset} + r.lSize) * kBlockSize <= a.imgBefore)
                    break;
                kept.pop_back();
            }
        JournalOp op;
        op.kind = JournalOp::Kind::Archive;
        op.path = a.base;
        op.dirLength = static_cast<std::int64_t>(kept.size() * kRecordSize);
        for (std::size_t p = 0; p < kept.size(); ++p)
            if (p >= count || kept[p] != DirRecordAt(dir, p))
                op.records.emplace_back(static_cast<std::int64_t>(p * kRecordSize), kept[p]);
        op.imgLength = l.heir != 0 ? fs::FileLength(a.base + ".img") : a.imgBefore;
        journal.ops.push_back(std::move(op));
        leaving.push_back(std::move(l));
    }

    // The later installs' records move up; the next one into an archive now starts its data
    // where this install's began, so taking it back in turn cuts the unused space off too.
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id <= record.id)
            continue;
        HistoryRecord moved = *it;
        std::optional<Journal> movedJournal;
        bool changed = false;
        // Records before p that leave, less those a record of unused space takes the place of.
        auto newPosition = [](const Leaving& l, std::int64_t p) {
            return p - (std::lower_bound(l.removed.begin(), l.removed.end(), p) - l.removed.begin())
                + (std::lower_bound(l.unused.begin(), l.unused.end(), p) - l.unused.begin());
        };
        auto newLength = [&](const Leaving& l, std::int64_t bytes) {
            return static_cast<std::int64_t>(kRecordSize) * newPosition(l, bytes / static_cast<std::int64_t>(kRecordSize));
        };
        for (const Leaving& l : leaving) {
            for (HistoryArchive& x : moved.archives) {
                if (ArchiveKey(x.base) != l.key)
                    continue;
                x.dirBefore = newLength(l, x.dirBefore);
                x.dirAfter = newLength(l, x.dirAfter);
                if (moved.id == l.heir)
                    x.imgBefore = l.imgBefore;
                changed = true;
            }
            for (HistoryFile& f : moved.files)
                if ((f.kind == HistoryFile::Kind::Added || f.kind == HistoryFile::Kind::Renamed) && ArchiveKey(f.path) == l.key)
                    f.position = newPosition(l, f.position);
        }
        if (!changed)
            continue;
        movedJournal = ReadStoredJournal(folder, moved);
        for (JournalOp& op : movedJournal->ops) {
            if (op.kind != JournalOp::Kind::Archive)
                continue;
            for (const Leaving& l : leaving) {
                if (ArchiveKey(op.path) != l.key)
                    continue;
                op.dirLength = newLength(l, op.dirLength);
                if (moved.id == l.heir)
                    op.imgLength = l.imgBefore;
                std::vector<std::pair<std::int64_t, RecordBytes>> records;
                for (const auto& [position, bytes] : op.records) {
                    const std::int64_t p = position / static_cast<std::int64_t>(kRecordSize);
                    if (!std::binary_search(l.removed.begin(), l.removed.end(), p))
                        records.emplace_back(newPosition(l, p) * static_cast<std::int64_t>(kRecordSize), bytes);
                }
                op.records = std::move(records);
            }
        }
        WriteNexts(folder, moved, movedJournal, nexts);
    }
    if (!nexts.empty())
        fs::FlushFolder(folder);
    return journal;
}

std::vector<ArchiveCompaction> PlanCompaction(const std::string& game)
{
    std::vector<ArchiveCompaction> plan;
    for (const GameArchive& archive : kGameArchives) {
        ArchiveCompaction a;
        a.relative = std::string(archive.relative);
        std::replace(a.relative.begin(), a.relative.end(), '\\', fs::kSeparator);
        a.base = game + a.relative;
        const bool img = fs::PathExists(a.base + ".img"), dir = fs::PathExists(a.base + ".dir");
        if (!img && !dir)
            continue;
        if (!img || !dir) {
            a.problem = std::string("its .") + (img ? "dir" : "img") + " is missing";
            plan.push_back(a);
            continue;
        }
        a.img = AsOnDisk(a.base + ".img");
        a.dir = AsOnDisk(a.base + ".dir");
        for (const std::string& path : {a.img, a.dir})
            if (fs::Lookup(path) != fs::PathKind::File)
                a.problem = DisplayPath(path) + " is not a plain file (a link, say)";
        if (!a.problem.empty()) {
            plan.push_back(a);
            continue;
        }
        const std::vector<std::byte> bytes = fs::ReadWholeFile(a.dir);
        a.imgLength = fs::FileLength(a.img);
        if (bytes.size() % kRecordSize != 0) {
            a.problem = "its .dir is not whole records";
            plan.push_back(a);
            continue;
        }
        a.records = ParseDirectory(bytes);
        // Every record's data inside the .img, no two sharing a block: then the compacted
        // archive holds each record's bytes once and is never longer.
        std::vector<std::size_t> byOffset;
        std::int64_t blocks = 0;
        for (std::size_t i = 0; i < a.records.size() && a.problem.empty(); ++i) {
            const DirRecord& r = a.records[i];
            const std::string entry = "entry " + std::to_string(i) + " (" + PrintableName(TrimSpaces(RecordName(r.sName))) + ")";
            if (r.lOffset < 0 || r.lSize < 0)
                a.problem = entry + " has a negative offset or size";
            else if ((static_cast<std::int64_t>(r.lOffset) + r.lSize) * kBlockSize > a.imgLength)
                a.problem = entry + " runs past the end of the .img";
            else if (r.lSize > 0)
                byOffset.push_back(i);
            if (IsUnusedSpace(r)) {
                a.needed = true;   // its blocks are given back, and it goes
                continue;
            }
            if (r.lOffset != blocks)
                a.needed = true;
            blocks += r.lSize;
        }
        std::sort(byOffset.begin(), byOffset.end(), [&](std::size_t x, std::size_t y) { return a.records[x].lOffset < a.records[y].lOffset; });
        for (std::size_t k = 1; k < byOffset.size() && a.problem.empty(); ++k) {
            const DirRecord& before = a.records[byOffset[k - 1]];
            if (static_cast<std::int64_t>(before.lOffset) + before.lSize > a.records[byOffset[k]].lOffset)
                a.problem = "entries " + std::to_string(byOffset[k - 1]) + " and " + std::to_string(byOffset[k]) + " share data";
        }
        a.newImgLength = blocks * kBlockSize;
        if (a.newImgLength != a.imgLength)
            a.needed = true;
        if (!a.problem.empty())
            a.needed = false;
        plan.push_back(a);
    }
    return plan;
}

void Compact(const std::string& folder, const std::string& journalPath, const std::string& game, const std::vector<ArchiveCompaction>& plan)
{
    std::vector<const ArchiveCompaction*> todo;
    std::int64_t room = 0;
    for (const ArchiveCompaction& a : plan) {
        if (!a.problem.empty())
            throw TesseraError(ErrorKind::BadArchive, "The game archive " + a.relative + " cannot be compacted: " + a.problem, a.base);
        if (a.needed) {
            todo.push_back(&a);
            room += a.newImgLength + static_cast<std::int64_t>(a.records.size() * kRecordSize);
        }
    }
    if (todo.empty())
        return;
    // The new files stand beside the old until they are swapped in.
    const std::int64_t free = fs::FreeSpace(game);
    if (free < room)
        throw TesseraError(ErrorKind::DiskFull, "Compacting needs " + std::to_string(room) + " bytes free in " + DisplayPath(game) + ", which has "
                               + std::to_string(free), game);

    // Each file swapped whole: its undo puts the former one back until the commit.
    Journal journal;
    journal.kind = Journal::Kind::Compaction;
    journal.gameFolder = game;
    for (const ArchiveCompaction* a : todo)
        for (const std::string& path : {a->img, a->dir}) {
            JournalOp op;
            op.path = path;
            op.hadOld = true;
            op.existed = true;
            journal.ops.push_back(op);
        }
    bool placed = false;
    std::vector<std::string> nexts;
    std::optional<JournalFile> journalFile;   // held to its removal, as an install holds its own
    try {
        journalFile.emplace(journalPath, journal, &placed);
        std::vector<std::byte> buffer(kTransferBufferSize);
        // By archive key, indexed by the record numbers before: the blocks before each record,
        // and the number it gets (records of unused space go).
        std::map<std::string, std::vector<std::int64_t>> prefixes, numbers;
        for (const ArchiveCompaction* a : todo) {
            std::vector<std::int64_t>& prefix = prefixes[ArchiveKey(a->base)];
            std::vector<std::int64_t>& number = numbers[ArchiveKey(a->base)];
            prefix.assign(1, 0);
            number.assign(1, 0);
            std::vector<std::byte> dir;
            dir.reserve(a->records.size() * kRecordSize);
            {
                const fs::File in(a->img, fs::OpenMode::Read);
                fs::File out(NewFileName(a->img), fs::OpenMode::Replace);
                std::int64_t at = 0;
                for (const DirRecord& r : a->records) {
                    if (IsUnusedSpace(r)) {
                        prefix.push_back(prefix.back());
                        number.push_back(number.back());
                        continue;
                    }
                    DirRecord moved = r;
                    moved.lOffset = static_cast<std::int32_t>(at / kBlockSize);
                    const RecordBytes bytes = EncodeRecord(moved);
                    dir.insert(dir.end(), bytes.begin(), bytes.end());
                    const std::int64_t length = r.lSize * kBlockSize;
                    if (length > 0 && fs::CopyRange(in, r.lOffset * kBlockSize, out, at, length, buffer) != length)
                        throw TesseraError(ErrorKind::BadArchive, "The game archive " + DisplayPath(a->img) + " ended early", a->img);
                    at += length;
                    prefix.push_back(prefix.back() + r.lSize);
                    number.push_back(number.back() + 1);
                }
                out.Flush();
                out.Close();
            }
            {
                fs::File out(NewFileName(a->dir), fs::OpenMode::Replace);
                out.WriteAt(0, dir);
                out.Flush();
                out.Close();
            }
            for (const std::string& path : {a->img, a->dir}) {
                fs::RenameFile(path, FormerFileName(path));
                fs::RenameFile(NewFileName(path), path);
            }
            fs::FlushFolder(FolderOf(a->img));
        }

        // The history follows: every record keeps its place among the others, less the records
        // of unused space; offsets and lengths are those of the compacted archive.
        constexpr auto kRecord = static_cast<std::int64_t>(kRecordSize);
        auto renumbered = [&](const std::string& key, std::int64_t position) {
            const std::vector<std::int64_t>& number = numbers.at(key);
            return number[static_cast<std::size_t>(std::clamp<std::int64_t>(position, 0, static_cast<std::int64_t>(number.size()) - 1))];
        };
        for (HistoryRecord moved : ReadHistory(folder, game)) {
            bool changed = false;
            for (HistoryArchive& x : moved.archives) {
                const auto p = prefixes.find(ArchiveKey(x.base));
                if (p == prefixes.end())
                    continue;
                x.imgBefore = BytesBefore(p->second, x.dirBefore / kRecord);
                x.imgAfter = BytesBefore(p->second, x.dirAfter / kRecord);
                x.dirBefore = renumbered(p->first, x.dirBefore / kRecord) * kRecord;
                x.dirAfter = renumbered(p->first, x.dirAfter / kRecord) * kRecord;
                changed = true;
            }
            if (!changed)
                continue;
            for (HistoryFile& f : moved.files) {
                if (f.kind != HistoryFile::Kind::Added && f.kind != HistoryFile::Kind::Renamed)
                    continue;
                const auto p = prefixes.find(ArchiveKey(f.path));
                if (p == prefixes.end())
                    continue;
                const auto offset = static_cast<std::int32_t>(BytesBefore(p->second, f.position) / kBlockSize);
                f.after = WithOffset(f.after, offset);
                if (f.kind == HistoryFile::Kind::Renamed)
                    f.before = WithOffset(f.before, offset);
                f.position = renumbered(p->first, f.position);
            }
            Journal movedJournal = ReadStoredJournal(folder, moved);
            for (JournalOp& op : movedJournal.ops) {
                const auto p = op.kind == JournalOp::Kind::Archive ? prefixes.find(ArchiveKey(op.path)) : prefixes.end();
                if (p == prefixes.end())
                    continue;
                op.imgLength = BytesBefore(p->second, op.dirLength / kRecord);
                op.dirLength = renumbered(p->first, op.dirLength / kRecord) * kRecord;
                for (auto& [position, bytes] : op.records) {
                    bytes = WithOffset(bytes, static_cast<std::int32_t>(BytesBefore(p->second, position / kRecord) / kBlockSize));
                    position = renumbered(p->first, position / kRecord) * kRecord;
                }
            }
            WriteNexts(folder, moved, movedJournal, nexts);
        }
        if (!nexts.empty())
            fs::FlushFolder(folder);
        journalFile->MarkCommitted();
    } catch (const UncertainCommit&) {
        throw;   // the journal stays: recovery decides by what the disk holds
    } catch (...) {
        if (placed) {
            try {
                RollBack(journal);
                SettleHistory(folder, game, false);
                // Placed but not held when only the flush of its folder failed.
                if (journalFile)
                    journalFile->Remove();
                else
                    fs::DeleteFile(journalPath);
            } catch (const std::exception&) {
                // The journal stays; recovery finishes the rollback.
            }
        } else {
            try {
                for (const std::string& next : nexts)
                    DeleteIfThere(next);
            } catch (const std::exception&) {
            }
        }
        throw;
    }
    // The compaction stands; it is done only when the history follows it. A failure in the
    // clean-up leaves the committed journal, whose recovery finishes it, history included.
    try {
        journal.committed = true;
        FinishCommitted(journal);
        SettleHistory(folder, game, true);
        journalFile->Remove();
    } catch (const TesseraError& e) {
        throw TesseraError(e.Kind(), std::string("the new archives are in place, but finishing stopped: ") + e.what(), e.Path());
    }
    try {
        fs::FlushFolder(FolderOf(journalPath));
    } catch (const TesseraError&) {
        // Every step is done; a journal that comes back after a power loss is finished again,
        // which changes nothing.
    }
}

} // namespace tessera
