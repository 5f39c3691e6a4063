// The paths of the history: the keys they are compared by, and where a record's paths lie
// (relative to the game folder in the record, rooted at the folder as it is now once read).
#include "HistoryStore.h"

#include "Error.h"
#include "FileSystem.h"
#include "Journal.h"
#include "Text.h"

#include <algorithm>

namespace tessera {

namespace {

// The folder the absolute paths of an older record lay under: the game folder as it is now
// when they all lie there, else the one its stored journal recorded.
std::string LegacyFolder(const HistoryRecord& r, const std::string& game, const std::string& path)
{
    const auto holdsAll = [&](const std::string& folder) {
        return std::all_of(r.archives.begin(), r.archives.end(), [&](const HistoryArchive& a) { return LiesUnderFolder(a.base, folder); })
            && std::all_of(r.files.begin(), r.files.end(),
                           [&](const HistoryFile& f) { return f.kind == HistoryFile::Kind::Refused || LiesUnderFolder(f.path, folder); });
    };
    if (!game.empty() && holdsAll(game))
        return game;
    std::string recorded;
    try {
        recorded = fs::WithTrailingSeparator(ReadJournal(HistoryFilePath(FolderOf(path), r.id, "journal")).gameFolder);
    } catch (const TesseraError& e) {
        throw TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " lies under no game folder it can name (its stored journal: "
                               + e.what() + ")", path);
    }
    if (!holdsAll(recorded))
        throw TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " is damaged: its paths lie outside the game folder "
                               + ShownPath(recorded), path);
    return recorded;
}

} // namespace

HistorySeen SeenInDataFolder(const fs::FolderListing& data, const std::string& historyFolder)
{
    const std::string name = BaseName(historyFolder.substr(0, historyFolder.size() - 1));
    const auto listed = [&](const std::vector<std::string>& names) { return std::find(names.begin(), names.end(), name) != names.end(); };
    HistorySeen seen;
    if (listed(data.folders))
        seen.kind = fs::PathKind::Folder;
    else if (listed(data.files))
        seen.kind = fs::PathKind::File;
    else if (listed(data.others))
        seen.kind = RefuseLinkedFolder(historyFolder, "history folder");
    if (seen.kind == fs::PathKind::Folder)
        seen.files = fs::ListFiles(historyFolder);
    return seen;
}

std::string PathKey(const std::string& path)
{
    std::string key = LowerAscii(path);
    std::replace(key.begin(), key.end(), '\\', '/');
    return key;
}

std::string ShownPath(std::string path)
{
    for (char& c : path)
        if (fs::IsSeparator(c))
            c = fs::kSeparator;
    return path;
}

std::string ArchiveKey(const std::string& base)
{
    std::string key = PathKey(base);
    const auto last = key.find_last_of('/');
    if (last == std::string::npos || last == 0)
        return key;
    const auto before = key.find_last_of('/', last - 1);
    return before == std::string::npos ? key : key.substr(before + 1);
}

void RootRecordPaths(HistoryRecord& r, const std::string& gameFolder, const std::string& path)
{
    const std::string game = gameFolder.empty() ? gameFolder : fs::WithTrailingSeparator(gameFolder);
    // Older formats hold absolute paths: relative to the folder they lie under.
    std::string from;
    if (r.format < 3)
        r.recordedFolder = from = LegacyFolder(r, game, path);
    r.gameFolder = game.empty() ? r.recordedFolder : game;
    const auto rooted = [&](std::string& p) {
        std::string relative = p.substr(from.size());
        if (UnsafeRelative(relative))
            throw TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " is damaged: a path leads out of the game folder", path);
        p = r.gameFolder + relative;
    };
    for (HistoryArchive& a : r.archives)
        rooted(a.base);
    for (HistoryFile& f : r.files)
        if (f.kind != HistoryFile::Kind::Refused)
            rooted(f.path);
}

} // namespace tessera
