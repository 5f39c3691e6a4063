// The install procedure: unpack the package into a scratch folder of its own, check everything
// that can be checked, write the journal, route every file, and on any failure roll back.
#include "InstallPackage.h"

#include "Archive.h"
#include "FileSystem.h"
#include "Journal.h"
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
constexpr const char* kCrLf = "\r\n";

// The game archive a file goes to by its extension; empty for an unsupported type.
std::string ArchiveFor(const std::string& name)
{
    const std::string ext = LowerAscii(name.size() < 4 ? name : name.substr(name.size() - 4));
    if (ext == ".txd")
        return "models\\txd";
    if (ext == ".dff")
        return "models\\gta3";
    if (ext == ".anm" || ext == ".dat" || ext == ".ifp")
        return "anim\\cuts";
    return {};
}

// The scratch folder of one install, removed with everything in it whatever happens.
class ScratchFolder {
public:
    ScratchFolder() : path_(fs::MakeScratchFolder("tessera-", true)) {}
    ~ScratchFolder()
    {
        try {
            fs::RemoveTree(path_);
        } catch (const std::exception&) {
            // A scratch folder that cannot be removed harms nothing in the game folder.
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const noexcept { return path_; }

private:
    std::string path_;
};

// Checks the package and extracts every entry into the scratch folder; returns the files there.
std::vector<std::string> Unpack(const std::string& packagePath, const std::string& scratch, modArchive& archive,
                                IWindowServices* window)
{
    if (packagePath.size() < 4 || LowerAscii(packagePath.substr(packagePath.size() - 4)) != ".zpk")
        throw TesseraError(ErrorKind::InvalidArgument, "The package " + packagePath + " is not a .zpk file", packagePath);
    const std::string base = packagePath.substr(0, packagePath.size() - 4);
    CheckPackage(base);
    archive.ReadDirectory(base);
    for (const auto& entry : archive.colImgFiles()) {
        if (window)
            window->DoEvents();
        archive.ExtractEntry(*entry, scratch);
    }
    return fs::ListFiles(scratch);
}

std::vector<PlannedFile> Route(const std::string& scratch, const std::vector<std::string>& files,
                               const StockCollection& stock, const std::string& game)
{
    std::vector<PlannedFile> plan;
    plan.reserve(files.size());
    for (const std::string& name : files) {
        PlannedFile f;
        f.name = name;
        f.size = fs::FileLength(scratch + name);
        if (IsInCollection(LowerAscii(name), stock)) {
            f.kind = PlannedFile::Kind::Stock;
            f.target = stock.Fetch(name)->sFullPath();
        } else if (std::string archive = ArchiveFor(name); !archive.empty()) {
            f.kind = PlannedFile::Kind::Archive;
            f.archive = archive;
            f.target = game + archive;
            // A 24-character name would keep its name when set aside, leaving two entries of one name.
            if (name.size() >= kNameSize) {
                f.kind = PlannedFile::Kind::Refused;
                f.reason = "its name has " + std::to_string(name.size())
                    + " characters, so the entry it replaces could not be kept under a .old name";
            } else if (f.size == 0) {
                f.kind = PlannedFile::Kind::Refused;
                f.reason = "the file is empty";
            }
        }
        plan.push_back(std::move(f));
    }
    return plan;
}

std::int64_t BlockBytes(std::int64_t size) { return (size + kBlockSize - 1) / kBlockSize * kBlockSize; }

// Everything that can be checked before the first change to the game folder.
void CheckGameFolder(const std::vector<PlannedFile>& plan, const std::string& game)
{
    if (game == kNotFound)
        throw TesseraError(ErrorKind::PathNotFound, "No game folder is set");
    if (!fs::FolderExists(game))
        throw TesseraError(ErrorKind::PathNotFound, "The game folder " + game + " was not found", game);

    std::int64_t needed = 0;
    std::map<std::string, std::int64_t> growth;   // archive base -> bytes it will grow by at most
    for (const PlannedFile& f : plan) {
        if (f.kind == PlannedFile::Kind::Stock) {
            if (!fs::FileExists(f.target) && !fs::FileExists(f.target + ".old"))
                throw TesseraError(ErrorKind::FileNotFound, "The game file " + f.target + " was not found", f.target);
            needed += f.size;
        } else if (f.kind == PlannedFile::Kind::Archive) {
            growth[f.target] += BlockBytes(f.size) + kBlockSize;
            needed += BlockBytes(f.size) + kBlockSize + static_cast<std::int64_t>(kRecordSize);
        }
    }
    for (const auto& [base, grow] : growth) {
        for (const char* ext : {".dir", ".img"}) {
            if (!fs::FileExists(base + ext))
                throw TesseraError(ErrorKind::FileNotFound, "The game archive " + base + ext + " was not found", base + ext);
            fs::File probe(base + ext, fs::OpenMode::ReadWrite);   // fails now if it cannot be written
        }
        const std::int64_t dirLength = fs::FileLength(base + ".dir");
        if (dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
            throw TesseraError(ErrorKind::BadArchive, "The game archive " + base + ".dir is damaged: its length (" + std::to_string(dirLength)
                    + " bytes) is not a whole number of records", base + ".dir");
        if (fs::FileLength(base + ".img") + grow >= std::numeric_limits<std::int32_t>::max())
            throw TesseraError(ErrorKind::Overflow, "The game archive " + base + ".img would grow past 2 GiB", base + ".img");
    }
    if (needed > 0) {
        const std::int64_t free = fs::FreeSpace(game);
        if (free < needed)
            throw TesseraError(ErrorKind::DiskFull, "Not enough free space on the disk of " + game + ": " + std::to_string(needed)
                    + " bytes are needed, " + std::to_string(free) + " are free", game);
    }
}

// The journal of the planned changes: for a game archive, its state before the first file goes
// into it (after a stock file of this install replaced its .img or .dir, the state from then on).
Journal MakeJournal(const std::vector<PlannedFile>& plan, const std::string& game, const std::string& scratch)
{
    Journal journal;
    journal.gameFolder = game;
    std::map<std::string, std::string> replacedBy;   // lower-cased stock path -> its new version
    std::map<std::string, bool> recorded;            // lower-cased archive base -> state recorded
    auto current = [&](const std::string& path) {
        const auto it = replacedBy.find(LowerAscii(path));
        return it == replacedBy.end() ? path : it->second;
    };
    for (const PlannedFile& f : plan) {
        if (f.kind == PlannedFile::Kind::Stock) {
            JournalOp op;
            op.path = f.target;
            op.hadOld = fs::FileExists(f.target + ".old");
            op.existed = fs::FileExists(f.target);
            journal.ops.push_back(std::move(op));
            replacedBy[LowerAscii(f.target)] = scratch + f.name;
            for (auto& [base, done] : recorded)
                if (EqualsIgnoreCase(f.target, base + ".img") || EqualsIgnoreCase(f.target, base + ".dir"))
                    done = false;
        } else if (f.kind == PlannedFile::Kind::Archive && !recorded[LowerAscii(f.target)]) {
            JournalOp op;
            op.kind = JournalOp::Kind::Archive;
            op.path = f.target;
            op.imgLength = fs::FileLength(current(f.target + ".img"));
            const std::vector<std::byte> dir = fs::ReadWholeFile(current(f.target + ".dir"));
            op.dirLength = static_cast<std::int64_t>(dir.size());
            // Only records that a file of this package could set aside can be renamed.
            std::unordered_set<std::string> names;
            for (const PlannedFile& other : plan)
                if (other.kind == PlannedFile::Kind::Archive && EqualsIgnoreCase(other.target, f.target))
                    names.insert(LowerAscii(other.name));
            const std::vector<DirRecord> records = ParseDirectory(dir);
            for (std::size_t i = 0; i < records.size(); ++i)
                if (names.count(RecordKey(records[i].sName)))
                    op.records.emplace_back(static_cast<std::int64_t>(i * kRecordSize), EncodeRecord(records[i]));
            journal.ops.push_back(std::move(op));
            recorded[LowerAscii(f.target)] = true;
        }
    }
    return journal;
}

// A stock file: the package's version is copied beside the target and only then renamed into
// place; the game's version becomes target.old the first time, otherwise it is kept until the
// install finishes.
void ReplaceStockFile(const std::string& source, const std::string& target)
{
    const std::string fresh = NewFileName(target);
    fs::CopyFile(source, fresh);
    if (!fs::FileExists(target + ".old")) {
        fs::RenameFile(target, target + ".old");
    } else if (fs::FileExists(target)) {
        fs::RenameFile(target, FormerFileName(target));
    }
    fs::RenameFile(fresh, target);
}

// Every changed file once, and each folder whose entries changed once.
void FlushChanges(const Journal& journal)
{
    std::vector<std::string> files;
    std::set<std::string> folders;
    for (const JournalOp& op : journal.ops) {
        if (op.kind == JournalOp::Kind::Archive) {
            files.push_back(op.path + ".img");
            files.push_back(op.path + ".dir");
        } else {
            files.push_back(op.path);
            folders.insert(FolderOf(op.path));
        }
    }
    fs::FlushFiles(files);
    for (const std::string& folder : folders)
        fs::FlushFolder(folder);
}

// Rolls back the install whose journal is at path, or finishes its clean-up when it had
// committed; the caller holds its lock. Returns whether anything was rolled back.
bool RecoverJournal(const std::string& path, IWindowServices& window)
{
    Journal journal;
    try {
        journal = ReadJournal(path);
    } catch (const TesseraError&) {
        // Cut short while it was written: the install made no change before it was complete.
        fs::DeleteFile(path);
        return false;
    }
    if (journal.committed)
        FinishCommitted(journal);
    else
        RollBack(journal);
    {
        fs::faults::Suspend noFaults;
        fs::DeleteFile(path);
    }
    if (journal.committed)
        return false;
    window.MsgBox("An install into " + journal.gameFolder + " was interrupted." + kCrLf
            + "It has been rolled back: the game folder is as it was before that install.",
        "Install rolled back");
    return true;
}

void BackToIdle(IWindowServices& window)
{
    window.SetButtonEnabled(Button::Install, true);
    window.SetButtonEnabled(Button::BrowseSource, true);
    window.SetPointer(Pointer::Default);
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

InstallPlan PlanInstall(const std::string& packagePath, modMain& settings)
{
    const std::string game = settings.sGTA3Path;
    settings.StockFiles();   // created empty on first use, then held for this run
    const std::shared_ptr<StockCollection> stock = settings.colStockFiles;
    ScratchFolder scratch;
    modArchive archive;
    const auto files = Unpack(packagePath, scratch.Path(), archive, nullptr);
    InstallPlan plan{Route(scratch.Path(), files, *stock, game), {}};
    try {
        CheckGameFolder(plan.files, game);
    } catch (const TesseraError& e) {
        plan.problem = e.what();
    }
    for (PlannedFile& f : plan.files) {
        if (f.kind != PlannedFile::Kind::Archive || !fs::FileExists(f.target + ".dir"))
            continue;
        archive.ReadDirectory(f.target);
        f.setsAside = archive.HasEntry(f.name);
    }
    return plan;
}

InstallResult InstallPackage(const std::string& packagePath, modMain& settings, IWindowServices& window,
                             const InstallOptions& options)
{
    // One install works on one game folder: the folder and catalogue it starts with.
    const std::string game = settings.sGTA3Path;
    settings.StockFiles();   // created empty on first use, then held for this run
    const std::shared_ptr<StockCollection> stock = settings.colStockFiles;
    const std::string journalFolder = JournalFolder(options.journalFolder);
    const std::string journalPath = JournalPath(journalFolder, game);

    window.SetPointer(Pointer::Hourglass);
    window.SetButtonEnabled(Button::Install, false);
    window.SetButtonEnabled(Button::BrowseSource, false);
    // Unpacking a large package takes a while: the caption says so from the start, never
    // showing the outcome of an earlier run meanwhile.
    window.SetCaption("Installing " + BaseName(packagePath));

    std::optional<fs::ExclusiveLock> lock;   // held until the install has returned
    Journal journal;
    bool journalWritten = false;
    std::string failure;
    try {
        // One install at a time into a game folder; an install that died left its journal.
        fs::CreateFolders(journalFolder);
        lock.emplace(journalPath + ".lock");
        if (!lock->Held())
            throw TesseraError(ErrorKind::AccessDenied, "Another install into " + game + " is running", game);
        if (fs::FileExists(journalPath))
            RecoverJournal(journalPath, window);

        ScratchFolder scratch;
        modArchive archive;
        const auto files = Unpack(packagePath, scratch.Path(), archive, &window);
        const std::vector<PlannedFile> plan = Route(scratch.Path(), files, *stock, game);
        CheckGameFolder(plan, game);

        journal = MakeJournal(plan, game, scratch.Path());
        if (!journal.ops.empty()) {
            WriteJournal(journalPath, journal);
            journalWritten = true;
        }

        for (const PlannedFile& f : plan) {
            window.DoEvents();
            window.SetCaption("Installing " + f.name);
            switch (f.kind) {
            case PlannedFile::Kind::Stock:
                ReplaceStockFile(scratch.Path() + f.name, f.target);
                break;
            case PlannedFile::Kind::Archive:
                // The new entry goes in before the old one is set aside, so the archive always
                // holds an entry of this name.
                archive.ReadDirectory(f.target);
                archive.AddFile(scratch.Path() + f.name, f.name);
                archive.RenameEntry(f.name, f.name + ".old");
                break;
            case PlannedFile::Kind::Refused:
                window.MsgBox(f.reason.empty() ? BadFileMessage(f.name) : RefusedFileMessage(f.name, f.reason), kBadFileTitle);
                break;
            }
        }

        if (journalWritten) {
            FlushChanges(journal);
            MarkCommitted(journalPath);
            journal.committed = true;   // only now: from here on the install stands
        }
    } catch (const std::bad_alloc&) {
        failure = "There is not enough memory.";
    } catch (const std::exception& e) {
        failure = e.what();
    }

    if (!failure.empty()) {
        std::string text = "The package " + packagePath + " could not be installed." + kCrLf + failure + kCrLf;
        if (journalWritten) {
            try {
                RollBack(journal);
                fs::faults::Suspend noFaults;
                fs::DeleteFile(journalPath);
                text += "The game folder was left as it was.";
            } catch (const std::exception& e) {
                text += std::string("Undoing the install failed too: ") + e.what() + kCrLf
                    + "Tessera will finish undoing it at its next start.";
            }
        } else {
            text += "The game folder was left as it was.";
        }
        window.SetCaption(std::string(kMainCaption));
        window.MsgBox(text, kFailedTitle);
        BackToIdle(window);
        return InstallResult::Failed;
    }

    if (journalWritten) {
        FinishCommitted(journal);
        try {
            fs::faults::Suspend noFaults;
            fs::DeleteFile(journalPath);
        } catch (const TesseraError&) {
            // A committed journal left behind is cleared by the next recovery.
        }
    }
    window.SetCaption("Mod installed!");
    BackToIdle(window);
    return InstallResult::Installed;
}

int RecoverInterruptedInstalls(IWindowServices& window, const std::string& gameFolder, const InstallOptions& options)
{
    const std::string folder = JournalFolder(options.journalFolder);
    if (!fs::FolderExists(folder))
        return 0;
    int rolledBack = 0;
    for (const std::string& name : fs::ListFiles(folder)) {
        if (!name.starts_with("install-") || !EndsWith(name, ".journal"))
            continue;
        const std::string path = folder + name;
        const fs::ExclusiveLock lock(path + ".lock");
        if (!lock.Held()) {
            window.MsgBox("An install into " + ReadJournal(path).gameFolder + " is still running; it was left alone.", "Install running");
            continue;
        }
        if (!gameFolder.empty()) {
            try {
                if (!SameFolder(ReadJournal(path).gameFolder, gameFolder))
                    continue;
            } catch (const TesseraError&) {
                // Cut short: RecoverJournal drops it.
            }
        }
        if (RecoverJournal(path, window))
            ++rolledBack;
    }
    return rolledBack;
}

} // namespace tessera
