// The install procedure: check the package and everything else that can be checked, write the
// journal, copy every file's bytes from the package straight to its place, and on any failure
// roll back.
#include "InstallPackage.h"

#include "Archive.h"
#include "FileSystem.h"
#include "GameArchives.h"
#include "GameRules.h"
#include "Hash.h"
#include "HistoryElsewhere.h"
#include "HistoryStore.h"
#include "InstallChecks.h"
#include "Journal.h"
#include "PackageHashes.h"
#include "Text.h"

#include <algorithm>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <unordered_set>

namespace tessera {

namespace {

constexpr const char* kBadFileTitle = "Bad file";
constexpr const char* kFailedTitle = "Install failed";
constexpr const char* kLateTitle = "Clean-up left";
constexpr const char* kNewHistoryTitle = "New mod history";
constexpr const char* kStoppedTitle = "Install stopped";
constexpr const char* kCrLf = "\r\n";

// The package, read and checked: its directory, the files it unpacks to and its open data file,
// from which each file's bytes go straight to their place.
struct Package {
    modArchive archive;
    std::vector<PackageFile> files;
    std::string zpkPath;
    std::optional<fs::File> data;
    std::string dirHash;
};

void OpenPackage(const std::string& packagePath, Package& package)
{
    if (packagePath.size() < 4 || LowerAscii(packagePath.substr(packagePath.size() - 4)) != ".zpk")
        throw TesseraError(ErrorKind::InvalidArgument, "The package " + packagePath + " is not a .zpk file", packagePath);
    const std::string base = packagePath.substr(0, packagePath.size() - 4);
    ContentHash dirHash;
    package.files = package.archive.ReadPackage(base, &package.data, [&](std::span<const std::byte> bytes) { dirHash.Update(bytes); });
    package.dirHash = dirHash.HexDigest();
    package.zpkPath = base + ".zpk";
}

// The path of an existing file as its folder spells it; the path itself when it is spelt so,
// or when nothing is there (exists tells which).
std::string NameOnDisk(const std::string& path, bool& exists)
{
    exists = fs::FileExists(path);
    if (!exists)
        return path;
    const std::string folder = FolderOf(path);
    const std::string name = BaseName(path);
    std::optional<std::string> other;
    for (const std::string& listed : fs::ListFiles(folder)) {
        if (listed == name)
            return path;
        if (!other && EqualsIgnoreCase(listed, name))
            other = listed;
    }
    return other ? folder + *other : path;
}

// The folders that must be made for path's folder to exist, innermost first, leaving out
// those already planned and the game folder, which is there.
std::vector<std::string> MissingFolders(const std::string& path, const std::string& game, std::set<std::string>& planned)
{
    std::vector<std::string> missing;
    std::string folder = FolderOf(path);
    while (folder.size() > 1 && folder != game && !planned.count(LowerAscii(folder)) && !fs::FolderExists(folder)) {
        missing.push_back(folder);
        planned.insert(LowerAscii(folder));
        folder = FolderOf(folder.substr(0, folder.size() - 1));
    }
    return missing;
}

// stored: the game folder text the catalogue spells stock files under; game: that folder as the
// install works on it (absolute).
std::vector<PlannedFile> Route(const Package& package, const StockCollection& stock, const std::string& stored, const std::string& game)
{
    const std::vector<DirRecord>& records = package.archive.Records();
    std::vector<PlannedFile> plan;
    plan.reserve(package.files.size());
    for (const PackageFile& file : package.files) {
        PlannedFile f;
        f.name = RecordFileName(records[file.nameEntry].sName);
        f.offset = records[file.dataEntry].lOffset;
        f.size = records[file.dataEntry].lSize;
        if (IsInCollection(LowerAscii(f.name), stock)) {
            f.kind = PlannedFile::Kind::Stock;
            f.target = stock.Fetch(f.name)->sFullPath();
            if (f.target.starts_with(stored))
                f.target = game + f.target.substr(stored.size());
            // Once backed up, the file is written over in place, keeping its name on disk
            // (HANDLING.CFG from a CD), as a copy onto it does on Windows.
            // What is there is looked at once, here, for the journal and the copy alike.
            f.hadOld = fs::FileExists(f.target + ".old");
            if (f.hadOld)
                f.target = NameOnDisk(f.target, f.existed);
            else
                f.existed = fs::FileExists(f.target);
        } else if (const GameArchive* archive = GameArchiveForFile(f.name)) {
            f.kind = PlannedFile::Kind::Archive;
            f.archive = std::string(archive->relative);
            f.target = game + f.archive;
            // An extension the game skips as spelt would leave it without this model or texture,
            // once the entry it replaces is set aside.
            f.entryName = archive->streamed ? NameTheGameReads(f.name) : f.name;
            if (auto reason = UnreadableNameReason(*archive, f.name)) {
                f.kind = PlannedFile::Kind::Refused;
                f.reason = *reason;
            } else if (f.size == 0) {
                f.kind = PlannedFile::Kind::Refused;
                f.reason = "the file is empty";
            }
        }
        plan.push_back(std::move(f));
    }
    return plan;
}

// The stock file's path with its name spelled as it is on disk, so that an undo puts the
// game's version back under that very name.
std::string AsOnDisk(const std::string& target)
{
    const std::string native = fs::NativePath(target);
    const auto slash = native.find_last_of("\\/");
    return FolderOf(target) + (slash == std::string::npos ? native : native.substr(slash + 1));
}

// The journal of the planned changes: for a game archive, its state before the first file goes
// into it (after a stock file of this install replaced its .img or .dir, the state from then on,
// read from the package).
Journal MakeJournal(const std::vector<PlannedFile>& plan, const std::string& game, Package& package)
{
    Journal journal;
    journal.gameFolder = game;
    std::map<std::string, const PlannedFile*> replacedBy;   // lower-cased stock path -> the file replacing it
    std::map<std::string, bool> recorded;                    // lower-cased archive base -> state recorded
    std::set<std::string> plannedFolders;                    // lower-cased folders a stock file makes
    for (const PlannedFile& f : plan) {
        if (f.kind == PlannedFile::Kind::Stock) {
            JournalOp op;
            // The install writes the list's names (file.old, then file) as a rename and a copy
            // on Windows do; an undo puts the game's version back under its own.
            op.path = AsOnDisk(f.target);
            op.hadOld = f.hadOld;
            op.existed = f.existed;
            if (!op.hadOld && !op.existed)
                op.madeFolders = MissingFolders(f.target, game, plannedFolders);
            journal.ops.push_back(std::move(op));
            replacedBy[LowerAscii(f.target)] = &f;
            for (auto& [base, done] : recorded)
                if (EqualsIgnoreCase(f.target, base + ".img") || EqualsIgnoreCase(f.target, base + ".dir"))
                    done = false;
        } else if (f.kind == PlannedFile::Kind::Archive && !recorded[LowerAscii(f.target)]) {
            JournalOp op;
            op.kind = JournalOp::Kind::Archive;
            op.path = f.target;
            const auto newImg = replacedBy.find(LowerAscii(f.target + ".img"));
            // Held open since the checks: its lengths and records are known without a look.
            package.archive.HoldArchive(f.target);
            op.imgLength = newImg == replacedBy.end() ? package.archive.HeldImgLength() : newImg->second->size;
            // Only records that a file of this package could set aside can be renamed.
            std::unordered_set<std::string> names;
            for (const PlannedFile& other : plan)
                if (other.kind == PlannedFile::Kind::Archive && EqualsIgnoreCase(other.target, f.target))
                    names.insert(LowerAscii(other.entryName));
            auto keep = [&](std::int64_t i, const DirRecord& record) {
                if (names.count(RecordKey(record.sName)))
                    op.records.emplace_back(i * static_cast<std::int64_t>(kRecordSize), EncodeRecord(record));
            };
            if (const auto newDir = replacedBy.find(LowerAscii(f.target + ".dir")); newDir != replacedBy.end()) {
                op.dirLength = newDir->second->size;
                ForEachRecord(*package.data, newDir->second->offset, op.dirLength, package.archive.Buffer(), keep);
            } else {
                op.dirLength = package.archive.HeldDirLength();
                const std::vector<DirRecord>& held = package.archive.Records();
                for (std::size_t i = 0; i < held.size(); ++i)
                    keep(static_cast<std::int64_t>(i), held[i]);
            }
            journal.ops.push_back(std::move(op));
            recorded[LowerAscii(f.target)] = true;
        }
    }
    return journal;
}

// A stock file: the package's version is copied beside the target and only then renamed into
// place; the game's version becomes target.old the first time, otherwise it is kept until the
// install finishes. A stock file the game folder lacks, with no .old either, leaves nothing to
// keep: it is made, in a folder made for it if need be.
// The first copy onto a target goes by what the journal was told; another onto the same target
// (two names of the package that the list spells alike) looks again. made: the lower-cased
// folders this install made already.
void ReplaceStockFile(Package& package, const PlannedFile& f, bool again, std::set<std::string>& made,
                      const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap)
{
    const std::string& target = f.target;
    const std::string fresh = NewFileName(target);
    const bool hadOld = again ? fs::FileExists(target + ".old") : f.hadOld;
    const bool existed = again ? fs::FileExists(target) : f.existed;
    if (!hadOld && !existed && made.insert(LowerAscii(FolderOf(target))).second)
        fs::CreateFolders(FolderOf(target));
    {
        // Made anew: a plain leftover of a dead install goes, a planted link is refused.
        fs::File out(fresh, fs::OpenMode::Replace);
        if (CopyInSlices(*package.data, f.offset, out, 0, f.size, package.archive.Buffer(), progress, tap) != f.size)
            throw TesseraError(ErrorKind::BadPackage, "The entry " + f.name + " of " + package.zpkPath + ": data runs past the end of the file",
                               package.zpkPath);
    }
    if (existed && !hadOld) {
        // Never replaces: whatever the look said, the game's original backup cannot be overwritten.
        fs::RenameNoReplace(target, target + ".old");
    } else if (existed) {
        fs::RenameFile(target, FormerFileName(target));
    }
    fs::RenameFile(fresh, target);
}

// Every changed file once, and each folder whose entries changed once, with the history
// record's files and folder: all of it together, which on one disk costs it one commit. The
// archives still held open go through their handles, the rest by path.
void FlushChanges(const Journal& journal, modArchive& archive, std::vector<std::string> files, const std::string& historyFolder)
{
    std::set<std::string> folders{historyFolder};
    const std::vector<fs::File*> held = archive.HeldFiles();
    // A held archive file was opened at its path after any stock replacement of it, so its
    // handle flushes the file there; opening it again by path would be refused on Windows.
    std::set<std::string> heldPaths;
    for (const fs::File* file : held)
        heldPaths.insert(LowerAscii(file->PathText()));
    const auto byPath = [&](const std::string& path) {
        if (!heldPaths.count(LowerAscii(path)))
            files.push_back(path);
    };
    for (const JournalOp& op : journal.ops) {
        if (op.kind == JournalOp::Kind::Archive) {
            for (const char* ext : {".img", ".dir"})
                byPath(op.path + ext);
        } else {
            byPath(op.path);
            folders.insert(FolderOf(op.path));
        }
    }
    fs::FlushFiles(files, held, std::vector<std::string>(folders.begin(), folders.end()));
}

// The install's appends and renames done on each archive's records in memory, and what the game
// would make of the result: every finding about a record it adds, and every error it brings.
std::vector<std::string> GameReadingAfter(const std::vector<PlannedFile>& plan, modArchive& reader)
{
    std::vector<std::string> lines;
    std::set<std::string> done;
    for (const PlannedFile& first : plan) {
        if (first.kind != PlannedFile::Kind::Archive || !done.insert(LowerAscii(first.target)).second)
            continue;
        const GameArchive* archive = GameArchiveNamed(first.archive);
        reader.ReadDirectory(first.target);
        std::vector<DirRecord> records = reader.Records();
        const std::size_t stock = records.size();
        std::int64_t imgLength = fs::FileLength(first.target + ".img");
        std::set<std::pair<std::string, std::int64_t>> before;
        for (const RuleFinding& finding : CheckGameRules(*archive, records, imgLength))
            before.emplace(finding.rule, finding.record);
        for (const PlannedFile& f : plan) {
            if (f.kind != PlannedFile::Kind::Archive || !EqualsIgnoreCase(f.target, first.target))
                continue;
            if (archive->streamed)
                if (const auto gap = ChainBreakBeforeAppend(records, imgLength))
                    records.push_back(*gap);
            const std::size_t earlier = records.size();
            DirRecord added;
            added.lOffset = static_cast<std::int32_t>(BlockBytes(imgLength) / kBlockSize);
            added.lSize = static_cast<std::int32_t>(BlockBytes(f.size) / kBlockSize);
            added.sName = AddedNameField(f.entryName);
            records.push_back(added);
            imgLength = BlockBytes(imgLength) + BlockBytes(f.size);
            for (std::size_t i = 0; i < earlier; ++i)
                if (RecordNameMatches(records[i].sName, f.entryName))
                    records[i].sName = RenamedNameField(f.entryName + ".old");
        }
        for (const RuleFinding& finding : CheckGameRules(*archive, records, imgLength))
            if (finding.record >= static_cast<std::int64_t>(stock)
                || (finding.severity == RuleFinding::Severity::Error && !before.count({finding.rule, finding.record})))
                lines.push_back(finding.text);
    }
    return lines;
}

void StopIfAsked(IInstallSink& sink)
{
    if (sink.StopRequested())
        throw StopRequest{};
}

} // namespace

std::string BadFileMessage(const std::string& name)
{
    return "The file " + name + " is not supported by Tessera." + kCrLf + "Please notify Orlen : " + std::string(kContactAddress);
}

std::string RefusedFileMessage(const std::string& name, const std::string& reason)
{
    return "The file " + name + " cannot be installed: " + reason + ".";
}

InstallPlan PlanInstall(const std::string& packagePath, modMain& settings, const InstallOptions& options)
{
    const std::string game =
        settings.sGTA3Path == kNotFound || options.gameFolderResolved ? settings.sGTA3Path : AbsoluteGameFolder(settings.sGTA3Path);
    settings.StockFiles();   // created empty on first use, then held for this run
    const std::shared_ptr<StockCollection> stock = settings.colStockFiles;
    Package package;
    OpenPackage(packagePath, package);
    InstallPlan plan{Route(package, *stock, settings.sGTA3Path, game), {}, {}};
    try {
        std::string disk;
        GameFolderIdentity(game, &disk);
        CheckGameFolder(plan.files, game, options.changeFolderAdvice, package.archive);
        CheckFreeSpace(plan.files, game, {}, 0, {{game, disk}});
    } catch (const TesseraError& e) {
        plan.problem = e.what();
    }
    for (PlannedFile& f : plan.files) {
        if (f.kind != PlannedFile::Kind::Archive || !fs::FileExists(f.target + ".dir"))
            continue;
        package.archive.ReadDirectory(f.target);
        f.setsAside = package.archive.HasEntry(f.entryName);
    }
    if (plan.problem.empty())
        plan.gameReading = GameReadingAfter(plan.files, package.archive);
    return plan;
}

InstallResult InstallPackage(const std::string& packagePath, modMain& settings, IWindowServices& window,
                             const InstallOptions& options)
{
    WindowPresenter presenter(window);
    return InstallPackage(packagePath, settings, static_cast<IInstallSink&>(presenter), options).Result();
}

InstallOutcome InstallPackage(const std::string& packagePath, modMain& settings, IInstallSink& sink, const InstallOptions& options)
{
    // One install works on one game folder: the folder and catalogue it starts with, the folder
    // made absolute (below) so its journal and history name it for any later process.
    std::string game = settings.sGTA3Path;
    settings.StockFiles();   // created empty on first use, then held for this run
    const std::shared_ptr<StockCollection> stock = settings.colStockFiles;
    const std::string journalFolder = JournalFolder(options.journalFolder);

    const std::string& shown = options.sourceName.empty() ? packagePath : options.sourceName;
    {
        InstallEvent started;
        started.name = BaseName(shown);
        sink.Report(started);
    }

    std::optional<fs::ExclusiveLock> lock;   // held until the install has returned
    std::string journalPath;
    Journal journal;
    std::optional<JournalFile> journalFile;   // held from its writing to the end of the install
    bool journalWritten = false;
    std::string pendingRecord;
    HistorySeen historySeen;
    std::size_t installed = 0;
    bool earlierPending = false;   // an earlier install's recovery could not be done
    bool commitUncertain = false;
    bool stopped = false;
    std::string failure;
    try {
        if (game == kNotFound)
            throw TesseraError(ErrorKind::PathNotFound, "No game folder is set");
        if (!options.gameFolderResolved)
            game = AbsoluteGameFolder(game);
        // Taken once: the journal's name and its record of which folder it changed.
        std::string gameDisk, dataDisk;   // taken with the looks below, for the free space
        const std::string identity = GameFolderIdentity(game, &gameDisk);
        // One install at a time into a game folder, whatever its spelling; an install that
        // died left its journal.
        journalPath = JournalPathOfIdentity(journalFolder, identity);
        const std::string historyFolder = HistoryFolderOfJournal(journalPath);
        if (RefuseLinkedFolder(journalFolder, "data folder", &dataDisk) != fs::PathKind::Folder) {
            fs::CreateFolders(journalFolder);
            RefuseLinkedFolder(journalFolder, "data folder", &dataDisk);   // made now, and ours from here on
        }
        lock.emplace(journalPath + ".lock");
        if (!lock->Held())
            throw TesseraError(ErrorKind::AccessDenied, "Another install into " + DisplayPath(game) + " is running", game);
        // The data folder is read once, under the lock, and what it shows is passed on: whether
        // an install left its journal, and the history folders. A recovery changes it.
        fs::FolderListing data = fs::ListFolder(journalFolder);
        if (std::find(data.files.begin(), data.files.end(), BaseName(journalPath)) != data.files.end()) {
            const Recovered earlier = RecoverJournal(journalPath, game);
            if (earlier.outcome == Recovered::Outcome::Pending || earlier.outcome == Recovered::Outcome::Refused) {
                earlierPending = true;
                throw TesseraError(ErrorKind::Io, earlier.text, journalPath);
            }
            if (!earlier.text.empty())
                ReportMessage(sink, InstallEvent::Kind::Recovered, earlier.text, earlier.title);
            data = fs::ListFolder(journalFolder);
        }
        historySeen = SeenInDataFolder(data, historyFolder);
        SettleHistory(historyFolder, game, std::nullopt, &historySeen);
        // After a drive plugged in again or a copy put back, the install continues the history
        // the folder holds; one the folder does not match (a game installed afresh there) does
        // not keep the folder from having a history of its own.
        const HistoryElsewhere other = TakeUpHistoryRecordedElsewhere(historyFolder, game, sink, &data, &historySeen);
        if (other.outcome == HistoryElsewhere::Outcome::Interrupted)
            throw TesseraError(ErrorKind::Io, other.text, game);
        if (other.outcome == HistoryElsewhere::Outcome::NotTakenUp)
            ReportMessage(sink, InstallEvent::Kind::Recovered, other.text + kCrLf + "It is left as it is; this install begins a new history of the folder.",
                          kNewHistoryTitle);

        Package package;
        OpenPackage(packagePath, package);
        std::vector<PlannedFile> plan = Route(package, *stock, settings.sGTA3Path, game);
        CheckGameFolder(plan, game, options.changeFolderAdvice, package.archive);

        journal = MakeJournal(plan, game, package);
        journal.identity = identity;
        if (const auto link = LinkOnTheWay(journal))
            throw TesseraError(ErrorKind::AccessDenied, DisplayPath(*link) + " is a link; Tessera installs nothing through links", *link);
        CheckFreeSpace(plan, game, journal.ops.empty() ? std::string() : journalFolder, JournalBytes(journal),
                       {{game, gameDisk}, {journalFolder, dataDisk}});
        modArchive& archive = package.archive;
        InstallHashes hashes;
        std::vector<std::string> fileHashes;
        // Where the copies pass the bytes through this process anyway, they are hashed on the way.
        std::optional<HashesInCopy> inCopy;
        if (!journal.ops.empty()) {
            if (!fs::CopiesInKernel() && HashesInCopy::Fits(plan))
                inCopy.emplace(*package.data, archive, plan);
            else
                fileHashes = HashPackage(*package.data, archive, plan, hashes.zpk);
            hashes.dir = package.dirHash;
            journalFile.emplace(journalPath, journal, &journalWritten);
        }

        StopIfAsked(sink);
        std::set<std::string> stockWritten, madeFolders;   // lower-cased
        // Which file's hash goes where, filled in once all are hashed.
        std::vector<std::pair<std::string, std::size_t>> stockHashes;
        std::vector<std::pair<std::pair<std::string, std::int64_t>, std::size_t>> addedHashes;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const PlannedFile& f = plan[i];
            StopIfAsked(sink);
            InstallEvent begun;
            begun.kind = InstallEvent::Kind::FileBegun;
            begun.name = f.name;
            begun.total = f.size;
            sink.Report(begun);
            // Each slice of a large file is told, and is a point where the user can stop.
            const auto progress = [&sink, &f](std::int64_t done) {
                InstallEvent event;
                event.kind = InstallEvent::Kind::FileProgress;
                event.name = f.name;
                event.done = done;
                event.total = f.size;
                sink.Report(event);
                StopIfAsked(sink);
            };
            fs::CopyTap tap;
            if (f.kind != PlannedFile::Kind::Refused) {
                ++installed;
                if (inCopy)
                    tap = inCopy->Tap(i);
            }
            switch (f.kind) {
            case PlannedFile::Kind::Stock:
                // A stock file may be an archive's .img or .dir: none stays open across it.
                if (const auto held = archive.HeldFiles();
                    std::any_of(held.begin(), held.end(), [&](const fs::File* file) { return EqualsIgnoreCase(file->PathText(), f.target); }))
                    archive.ReleaseArchive();
                ReplaceStockFile(package, f, !stockWritten.insert(LowerAscii(f.target)).second, madeFolders, progress, tap);
                stockHashes.emplace_back(f.target, i);
                break;
            case PlannedFile::Kind::Archive:
                // The new entry goes in before the old one is set aside, so the archive always
                // holds an entry of this name. The archive stays open for the files after it.
                archive.HoldArchive(f.target);
                // Appended after a record whose data ends elsewhere, the entry would be read in
                // one go with it: a record of unused space goes between, undone with the rest.
                if (GameArchiveNamed(f.archive)->streamed)
                    if (const auto gap = ChainBreakBeforeAppend(archive.Records(), archive.HeldImgLength()))
                        archive.AddRecord(*gap);
                addedHashes.emplace_back(std::pair(f.target, static_cast<std::int64_t>(archive.Records().size())), i);
                archive.AddRange(*package.data, f.offset, f.size, f.entryName, "the entry " + f.name + " of " + package.zpkPath, progress, tap);
                archive.RenameEntry(f.entryName, f.entryName + ".old");
                break;
            case PlannedFile::Kind::Refused:
                // The user may take any time over the message, and other programs may change
                // the archives meanwhile: they are opened and read again after it.
                archive.ReleaseArchive();
                ReportMessage(sink, InstallEvent::Kind::FileRefused,
                              f.reason.empty() ? BadFileMessage(f.name) : RefusedFileMessage(f.name, f.reason), kBadFileTitle);
                break;
            }
            if (tap)
                inCopy->Copied(i);
        }

        // The archives stay open to be flushed and told to the history.
        // The last point where a stop leaves the game folder as it was without a rollback.
        StopIfAsked(sink);
        if (journalWritten) {
            if (inCopy)
                fileHashes = inCopy->Finish(hashes.zpk);
            for (const auto& [target, i] : stockHashes)
                hashes.stock[target] = fileHashes[i];
            for (const auto& [key, i] : addedHashes)
                hashes.added[key] = fileHashes[i];
            for (const JournalOp& op : journal.ops) {
                if (op.kind != JournalOp::Kind::Archive)
                    continue;
                archive.HoldArchive(op.path);
                hashes.archives[op.path] = {archive.HeldImgLength(), EncodeRecords(archive.Records())};
            }
            // The record is written before the commit mark and counts only with it.
            std::vector<RefusedFile> refused;
            for (const PlannedFile& f : plan)
                if (f.kind == PlannedFile::Kind::Refused)
                    refused.push_back({f.name, f.reason});
            std::vector<std::string> recordFiles;
            pendingRecord = WritePendingRecord(historyFolder, journal, packagePath, options.sourceName, refused, hashes,
                                               recordFiles, &historySeen);
            FlushChanges(journal, archive, std::move(recordFiles), historyFolder);
            // Flushing a large install takes a while: until the mark, a stop still rolls it back.
            StopIfAsked(sink);
            journalFile->MarkCommitted();
            journal.committed = true;   // only now: from here on the install stands
        }
        archive.ReleaseArchive();
    } catch (const StopRequest&) {
        stopped = true;
        failure = "The install was stopped.";
    } catch (const UncertainCommit& e) {
        commitUncertain = true;
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "There is not enough memory.";
    } catch (const std::exception& e) {
        failure = DisplayMessage(e.what());
    }

    InstallOutcome outcome;
    if (!failure.empty()) {
        outcome.kind = InstallOutcome::Kind::NeedsRecovery;
        outcome.stopped = stopped;
        outcome.title = stopped ? kStoppedTitle : kFailedTitle;
        std::string text = stopped ? "The install of " + DisplayPath(shown) + " was stopped." + kCrLf
                                   : "The package " + DisplayPath(shown) + " could not be installed." + kCrLf + failure + kCrLf;
        if (earlierPending) {
            // The message of that recovery says what the game folder needs.
        } else if (commitUncertain) {
            // Every change is made and flushed; whether the install stands is the disk's to say.
            text += StillNeedsRecovery(game);
        } else if (journalWritten) {
            try {
                RollBack(journal);
                SettleHistory(HistoryFolderOfJournal(journalPath), game, false);
                text += kLeftAsItWas;
                outcome.kind = InstallOutcome::Kind::LeftAsItWas;
                try {
                    if (journalFile)
                        journalFile->Remove();
                    else
                        fs::DeleteFile(journalPath);
                } catch (const TesseraError&) {
                    // Undone and checked; a journal left behind is undone again, changing nothing.
                }
            } catch (const std::exception& e) {
                text += std::string("Undoing the install stopped too: ") + e.what() + kCrLf + StillNeedsRecovery(game);
            }
        } else {
            // No journal, so no change: every change comes after it is on the disk.
            text += kLeftAsItWas;
            outcome.kind = InstallOutcome::Kind::LeftAsItWas;
        }
        outcome.message = text;
        return ReportFinished(sink, outcome);
    }

    // The install stands. What its clean-up cannot do now is said: the committed journal left
    // behind has the next install, recovery or start finish it, which also promotes the record.
    std::string late;
    if (journalWritten) {
        try {
            const std::vector<std::string> left = RemoveLeftovers(journal);
            for (const std::string& path : left)
                late += (late.empty() ? "" : ", ") + InsideGame(path, game);
            if (!late.empty())
                late += " could not be removed and will be removed next time.";
            if (left.empty()) {
                PromoteRecord(pendingRecord);
                journalFile->Remove();
            }
        } catch (const std::exception& e) {
            late = std::string("its clean-up stopped (") + DisplayMessage(e.what()) + ") and will be finished next time.";
        }
    }
    outcome.installed = installed;
    if (!late.empty()) {
        outcome.message = "Mod installed; " + late;
        outcome.title = kLateTitle;
    }
    return ReportFinished(sink, outcome);
}

InstallResult InstallOutcome::Result() const
{
    if (Failed())
        return InstallResult::Failed;
    return installed > 0 ? InstallResult::Installed : InstallResult::NothingInstalled;
}

} // namespace tessera
