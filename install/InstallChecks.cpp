// What an install checks before its first change to the game folder: the folder, the names it
// will make, the game archives it writes into and their 2 GiB, and the room on every disk.
#include "InstallChecks.h"

#include "FileSystem.h"
#include "GameArchives.h"
#include "HistoryStore.h"
#include "Text.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <map>

namespace tessera {

// A path inside the game folder as messages name it: from the game folder on.
std::string InsideGame(const std::string& path, const std::string& game)
{
    return DisplayPath(path.starts_with(game) ? path.substr(game.size()) : path);
}

namespace {

// The parts of the game's three archives that the game folder lacks, as inside it.
std::vector<std::string> MissingGameArchives(const std::string& game)
{
    std::vector<std::string> missing;
    for (const GameArchive& archive : kGameArchives)
        for (const char* ext : {".img", ".dir"})
            if (const std::string path = game + std::string(archive.relative) + ext; !fs::PathExists(path))
                missing.push_back(InsideGame(path, game));
    return missing;
}

} // namespace

std::string GameFolderIdentity(const std::string& game, std::string* disk)
{
    if (game == kNotFound)
        throw TesseraError(ErrorKind::PathNotFound, "No game folder is set");
    try {
        return fs::FolderIdentity(game, disk);
    } catch (const TesseraError& e) {
        if (e.Kind() != ErrorKind::PathNotFound && e.Kind() != ErrorKind::FileNotFound)
            throw;
        std::string label = GameFolderLabel(game);
        label[0] = 'T';
        throw TesseraError(ErrorKind::PathNotFound, label + " was not found", game);
    }
}

namespace {

// Holds a game archive open for writing, as the install will write it; when that fails, what
// the game folder lacks or has in its place is said (an incomplete game folder, or "not a
// regular file"), and otherwise the failure itself.
void HoldGameArchive(modArchive& holder, const std::string& base, const std::string& game, const std::string& advice)
{
    try {
        holder.HoldArchive(base);
    } catch (const TesseraError&) {
        for (const char* ext : {".dir", ".img"}) {
            // Most likely not the game's folder at all: all that it lacks is said, and where to
            // choose another.
            if (!fs::PathExists(base + ext)) {
                const std::vector<std::string> missing = MissingGameArchives(game);
                std::string list;
                for (std::size_t i = 0; i < missing.size(); ++i)
                    list += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
                std::string label = GameFolderLabel(game);
                label[0] = 'T';
                throw TesseraError(ErrorKind::FileNotFound, label + " does not look like a complete game folder: " + list
                        + (missing.size() == 1 ? " is" : " are") + " missing; " + advice, base + ext);
            }
            fs::RequireFile(base + ext, "The game archive " + base + ext);
        }
        throw;
    }
}

} // namespace

// Everything that can be checked before the first change to the game folder.
void CheckGameFolder(const std::vector<PlannedFile>& plan, const std::string& game, const std::string& advice, modArchive& holder)
{

    // Every name the install and its undo make must be one the system takes: an install stopped
    // at a name too long would stop its undo at the same name.
    for (const PlannedFile& f : plan) {
        std::vector<std::string> names;
        if (f.kind == PlannedFile::Kind::Stock)
            names = {f.target, f.target + ".old", NewFileName(f.target), FormerFileName(f.target)};
        else if (f.kind == PlannedFile::Kind::Archive)
            names = {f.target + ".img", f.target + ".dir"};
        for (const std::string& name : names)
            if (const auto why = fs::TooLongForTheSystem(name))
                throw TesseraError(ErrorKind::InvalidArgument, "The name " + InsideGame(name, game) + " in " + GameFolderLabel(game)
                        + " would be too long for the system (" + *why + ")", name);
    }

    // Each file counts with all its bytes, though entries of the package may share them.
    std::map<std::string, std::int64_t> growth;   // archive base -> bytes it will grow by at most
    for (const PlannedFile& f : plan)
        if (f.kind == PlannedFile::Kind::Archive)
            growth[f.target] += BlockBytes(f.size) + kBlockSize;
    for (const auto& [base, grow] : growth) {
        // An .img this package replaces as a stock file may be the larger one the files go into.
        std::int64_t replacedBy = 0;
        for (const PlannedFile& f : plan)
            if (f.kind == PlannedFile::Kind::Stock && EqualsIgnoreCase(f.target, base + ".img"))
                replacedBy = std::max(replacedBy, f.size);
        // Opened for writing now, which fails if it cannot be written, and kept open for the
        // install: each archive is opened, and its directory read, once.
        HoldGameArchive(holder, base, game, advice);
        const std::int64_t dirLength = holder.HeldDirLength();
        if (dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
            throw TesseraError(ErrorKind::BadArchive, "The game archive " + base + ".dir is damaged: its length (" + std::to_string(dirLength)
                    + " bytes) is not a whole number of records", base + ".dir");
        if (std::max(holder.HeldImgLength(), replacedBy) + grow >= std::numeric_limits<std::int32_t>::max())
            throw TesseraError(ErrorKind::Overflow, "The game archive " + base + ".img would grow past 2 GiB", base + ".img");
    }
}

// The bytes the install will write, by disk: each file of the package once (after the last entry
// of its name), archive data in whole blocks with the fill before it, and the journal. Every
// disk must have room for its share before the first change.
void CheckFreeSpace(const std::vector<PlannedFile>& plan, const std::string& game, const std::string& journalFolder,
                    std::int64_t journalBytes, const std::map<std::string, std::string>& knownDisks)
{
    struct Disk {
        std::string folder;   // the folder named in the message
        std::int64_t needed = 0;
    };
    std::map<std::string, Disk> disks;
    struct Place {
        std::string folder, disk;   // the nearest folder that exists, and its disk
    };
    std::map<std::string, Place> places;   // each folder looked up once, not once per file in it
    for (const auto& [folder, disk] : knownDisks)
        if (!disk.empty())
            places[folder] = {folder, disk};
    const std::string gameDisk = places.count(game) ? places[game].disk : fs::DiskOf(game);
    places[game] = {game, gameDisk};
    // A folder may be made yet: then its nearest parent that exists counts. Only a folder the
    // system says is missing is passed over.
    std::function<Place(const std::string&)> place = [&](const std::string& folder) {
        if (const auto known = places.find(folder); known != places.end())
            return known->second;
        Place found;
        try {
            found = {folder, fs::DiskOf(folder)};
        } catch (const TesseraError& e) {
            if ((e.Kind() != ErrorKind::FileNotFound && e.Kind() != ErrorKind::PathNotFound) || folder.size() <= 1)
                throw;
            found = place(FolderOf(folder.substr(0, folder.size() - 1)));
        }
        return places.emplace(folder, found).first->second;
    };
    auto add = [&](const std::string& folder, std::int64_t bytes) {
        if (bytes <= 0)
            return;
        const Place at = place(folder);
        Disk& d = disks[at.disk];
        if (d.folder.empty())
            d.folder = at.disk == gameDisk ? game : at.folder;
        d.needed += bytes;
    };
    for (const PlannedFile& f : plan) {
        if (f.kind == PlannedFile::Kind::Stock)
            add(FolderOf(f.target), f.size);
        else if (f.kind == PlannedFile::Kind::Archive)
            add(FolderOf(f.target), BlockBytes(f.size) + kBlockSize + static_cast<std::int64_t>(kRecordSize));
    }
    if (!journalFolder.empty())
        add(journalFolder, journalBytes);
    for (const auto& [disk, d] : disks) {
        const std::int64_t free = fs::FreeSpace(d.folder);
        if (free < d.needed)
            throw TesseraError(ErrorKind::DiskFull, "Not enough free space on the disk of " + d.folder + ": " + std::to_string(d.needed)
                    + " bytes are needed, " + std::to_string(free) + " are free", d.folder);
    }
}

// What the journal takes on disk at most: its texts in hexadecimal and numbers.
std::int64_t JournalBytes(const Journal& journal)
{
    std::int64_t bytes = 256 + 2 * static_cast<std::int64_t>(journal.gameFolder.size());
    for (const JournalOp& op : journal.ops)
        bytes += 128 + 2 * static_cast<std::int64_t>(op.path.size()) + static_cast<std::int64_t>(op.records.size()) * (2 * kRecordSize + 48);
    return bytes;
}

} // namespace tessera
