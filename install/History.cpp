// What the console and the desktop program tell of the history, in the same words.
#include "History.h"

#include "FileSystem.h"
#include "Hash.h"
#include "Text.h"

#include <algorithm>
#include <map>
#include <set>

namespace tessera {

const HistoryRecord* LastWriter(const std::vector<HistoryRecord>& history, const std::string& path, const std::string& entryName)
{
    for (const HistoryRecord& r : history)   // newest first
        for (const HistoryFile& f : r.files)
            if (PathKey(f.path) == PathKey(path)
                && (entryName.empty() ? f.kind == HistoryFile::Kind::Stock
                                      : f.kind == HistoryFile::Kind::Added && EqualsIgnoreCase(f.name, entryName)))
                return &r;
    return nullptr;
}

const HistoryRecord* EarlierInstallOf(const std::vector<HistoryRecord>& history, const std::string& zpkHash, const std::string& dirHash)
{
    for (const HistoryRecord& r : history)
        if (r.zpkHash == zpkHash && r.dirHash == dirHash)
            return &r;
    return nullptr;
}

std::string HistoryListLine(const HistoryRecord& r)
{
    return std::to_string(r.id) + "  " + r.date + "  " + r.package + "  added " + std::to_string(r.Added()) + ", replaced "
        + std::to_string(r.Replaced()) + ", refused " + std::to_string(r.Refused());
}

std::string GameRelativePath(const std::string& path, const std::string& game)
{
    // Records hold the folder as the system resolves it (on Windows with backslashes); the
    // folder given may be spelt with the other separator.
    const std::string shown = ShownPath(path);
    const std::string folder = ShownPath(game);
    if (shown.size() > folder.size() && EqualsIgnoreCase(shown.substr(0, folder.size()), folder))
        return shown.substr(folder.size());
    return shown;
}

std::string RecordNameText(const RecordBytes& bytes) { return TrimSpaces(RecordName(DecodeRecord(bytes).sName)); }

std::vector<const HistoryRecord*> ChangedSince(const std::vector<HistoryRecord>& history, const HistoryRecord& r)
{
    std::vector<const HistoryRecord*> later;
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        if (it->id > r.id && ChangesWhatItWrote(*it, r))
            later.push_back(&*it);
    return later;
}

std::string DescribeHistoryFile(const HistoryFile& f, const std::string& game)
{
    switch (f.kind) {
    case HistoryFile::Kind::Stock:
        return BaseName(f.path) + ": " + (f.created ? "created " : "replaced ") + ShownPath(f.path)
            + (f.created ? " (neither it nor its .old existed)"
               : f.madeOld ? " (the game's version kept as .old)"
                           : " (the bytes it replaced kept in the history)");
    case HistoryFile::Kind::Added:
        return f.name + ": added to " + GameRelativePath(f.path, game) + " as entry " + std::to_string(f.position);
    case HistoryFile::Kind::Renamed:
        return RecordNameText(f.before) + ": entry " + std::to_string(f.position) + " of " + GameRelativePath(f.path, game)
            + " set aside as " + RecordNameText(f.after);
    case HistoryFile::Kind::Refused:
        return f.name + ": refused (" + f.reason + ")";
    }
    return {};
}

std::vector<std::string> HistoryDetails(const std::vector<HistoryRecord>& history, const HistoryRecord& r, const std::string& game)
{
    std::vector<std::string> lines{"Install " + std::to_string(r.id) + ": " + r.package + ", " + r.date};
    for (const HistoryFile& f : r.files)
        lines.push_back("  " + DescribeHistoryFile(f, game));
    const auto later = ChangedSince(history, r);
    if (later.empty()) {
        lines.push_back("No later install has changed its files.");
        return lines;
    }
    std::string changed = "Changed since by:";
    for (const HistoryRecord* m : later)
        changed += " " + HistoryLabel(*m);
    lines.push_back(changed);
    return lines;
}

const HistoryRecord* EarlierInstallOfPackage(const std::vector<HistoryRecord>& history, const std::string& packagePath)
{
    // Hashed by the names the history uses, each once.
    std::map<std::string, std::pair<std::string, std::string>> hashes;
    for (const HistoryRecord& r : history) {
        auto known = hashes.find(r.hashName);
        if (known == hashes.end())
            known = hashes.emplace(r.hashName, std::pair(HashFileAs(r.hashName, packagePath),
                                                         HashFileAs(r.hashName, packagePath.substr(0, packagePath.size() - 4) + ".dir"))).first;
        if (r.zpkHash == known->second.first && r.dirHash == known->second.second)
            return &r;
    }
    return nullptr;
}

const HistoryRecord* WriterOf(const std::vector<HistoryRecord>& history, const PlannedFile& f)
{
    switch (f.kind) {
    case PlannedFile::Kind::Stock:
        // A file that is not there replaces nothing, whoever wrote it once.
        return fs::FileExists(f.target + ".old") || fs::FileExists(f.target) ? LastWriter(history, f.target) : nullptr;
    case PlannedFile::Kind::Archive:
        return f.setsAside ? LastWriter(history, f.target, f.name) : nullptr;
    case PlannedFile::Kind::Refused:
        break;
    }
    return nullptr;
}

std::string ReinstallText(const HistoryRecord& earlier) { return "A reinstall: this package is install " + HistoryLabel(earlier) + "."; }

std::string WrittenByText(const HistoryRecord& writer) { return "it replaces what install " + HistoryLabel(writer) + " wrote"; }

std::vector<std::string> EarlierInstallNotes(const std::vector<HistoryRecord>& history, const std::vector<PlannedFile>& plan,
                                             const HistoryRecord* reinstallOf)
{
    std::vector<std::string> notes;
    if (reinstallOf)
        notes.push_back(ReinstallText(*reinstallOf));
    for (const PlannedFile& f : plan)
        if (const HistoryRecord* writer = WriterOf(history, f))
            notes.push_back(f.name + ": " + WrittenByText(*writer));
    return notes;
}

} // namespace tessera
