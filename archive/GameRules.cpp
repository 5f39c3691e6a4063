// The game's reading rules applied to a directory, and the table of the game's archives.
#include "GameRules.h"

#include "FileSystem.h"
#include "Text.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace tessera {

const GameArchive* GameArchiveForFile(std::string_view fileName)
{
    const std::string ext = LowerAscii(fileName.size() < 4 ? fileName : fileName.substr(fileName.size() - 4));
    for (const GameArchive& archive : kGameArchives)
        for (std::string_view e : archive.extensions)
            if (!e.empty() && ext == e)
                return &archive;
    return nullptr;
}

const GameArchive* GameArchiveNamed(std::string_view relative)
{
    std::string key = LowerAscii(relative);
    std::replace(key.begin(), key.end(), '/', '\\');
    for (const GameArchive& archive : kGameArchives)
        if (key == archive.relative)
            return &archive;
    return nullptr;
}

namespace {

constexpr std::size_t kTextureSlot = 20;   // the game copies a texture dictionary's name into 20 bytes

constexpr const char* kUnreadable = "the game cannot read a name of 24 characters: with no NUL after it, it reads on into the next record";

// Whether the part of an extension that a name of 24 characters shows may still read as one the
// game streams, with what follows in the next record.
bool CouldBeStreamed(std::string_view shown)
{
    for (std::string_view e : {"dff", "DFF", "txd", "TXD"})
        if (e.starts_with(shown))
            return true;
    return false;
}

bool HasNul(const DirRecord& record) { return std::memchr(record.sName.data(), '\0', kNameSize) != nullptr; }

std::string Shown(const DirRecord& record)
{
    std::string name = GameName(record);
    name.erase(name.find_last_not_of(' ') + 1);
    return PrintableName(name);
}

// The part before the first dot of a streamed record's name, and its type; empty type: skipped.
struct StreamedName {
    std::string base;
    std::string type;   // "dff" or "txd"
    std::string extension;
};

StreamedName SplitStreamed(const std::string& name)
{
    const auto dot = name.find('.');
    if (dot == std::string::npos)
        return {name, {}, {}};
    StreamedName s{name.substr(0, dot), {}, name.substr(dot + 1)};
    if (s.extension == "dff" || s.extension == "DFF")
        s.type = "dff";
    else if (s.extension == "txd" || s.extension == "TXD")
        s.type = "txd";
    return s;
}

std::string TextureOverflow(std::size_t characters)
{
    return ": the game copies a texture dictionary's name into a slot of " + std::to_string(kTextureSlot) + " bytes; this one has "
        + std::to_string(characters) + " characters before .txd and overflows it";
}

} // namespace

std::string GameName(const DirRecord& record)
{
    const std::string_view all(record.sName.data(), kNameSize);
    return std::string(all.substr(0, all.find('\0')));
}

std::vector<RecordReading> ReadAsTheGame(const GameArchive& archive, std::span<const DirRecord> records)
{
    std::vector<RecordReading> readings(records.size());
    std::unordered_map<std::string, std::int64_t> first;
    for (std::size_t i = 0; i < records.size(); ++i) {
        RecordReading& r = readings[i];
        const std::string name = GameName(records[i]);
        const bool ends = HasNul(records[i]);
        if (archive.streamed) {
            const StreamedName s = SplitStreamed(name);
            if (!ends && (name.find('.') == std::string::npos || CouldBeStreamed(s.extension))) {
                r.kind = RecordReading::Kind::Unreadable;
                r.why = kUnreadable;
                continue;
            }
            if (s.type.empty() || !ends) {
                std::string extension = s.extension;
                extension.erase(extension.find_last_not_of(' ') + 1);
                r.kind = RecordReading::Kind::Skipped;
                r.why = name.find('.') == std::string::npos
                    ? std::string("the game skips it: the name has no extension")
                    : "the game skips it: it reads only the extensions dff, DFF, txd and TXD, not \"" + PrintableName(extension) + "\"";
                continue;
            }
            r.key = s.type + ":" + LowerAscii(s.base);
        } else {
            if (!ends) {
                r.kind = RecordReading::Kind::Unreadable;
                r.why = kUnreadable;
                continue;
            }
            r.key = LowerAscii(name);
        }
        const auto [at, added] = first.try_emplace(r.key, static_cast<std::int64_t>(i));
        if (!added) {
            r.kind = RecordReading::Kind::Ignored;
            r.firstOf = at->second;
        }
    }
    return readings;
}

std::vector<RuleFinding> CheckGameRules(const GameArchive& archive, std::span<const DirRecord> records, std::int64_t imgLength)
{
    using Severity = RuleFinding::Severity;
    std::vector<RuleFinding> findings;
    const std::string dirName = std::string(archive.relative) + ".dir";
    auto label = [&](std::size_t i) { return dirName + ", record " + std::to_string(i) + " (" + Shown(records[i]) + ")"; };
    auto report = [&](Severity severity, const char* rule, std::int64_t record, std::string text) {
        findings.push_back({severity, rule, record, record < 0 ? std::string() : Shown(records[static_cast<std::size_t>(record)]), std::move(text)});
    };
    auto blocks = [](std::int64_t from, std::int64_t count) {
        return "blocks " + std::to_string(from) + " to " + std::to_string(from + count - 1);
    };

    if (imgLength >= (std::int64_t{1} << 31))
        report(Severity::Warning, "size", -1, std::string(archive.relative) + ".img: " + std::to_string(imgLength)
                   + " bytes; the game turns block offsets into byte offsets in 32 bits, so it reads an archive of 2 GiB or more wrong");

    const std::int64_t imgBlocks = imgLength / kBlockSize;
    std::vector<std::size_t> inside;   // records whose data lies within the .img, to look for overlaps
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DirRecord& r = records[i];
        if (r.lOffset < 0 || r.lSize < 0 || std::int64_t{r.lOffset} + r.lSize > imgBlocks)
            report(Severity::Error, "outside", static_cast<std::int64_t>(i), label(i) + ": its data (block " + std::to_string(r.lOffset) + ", "
                       + std::to_string(r.lSize) + " blocks) does not lie within the .img (" + std::to_string(imgBlocks) + " blocks)");
        else if (r.lSize > 0)
            inside.push_back(i);
    }
    std::stable_sort(inside.begin(), inside.end(), [&](std::size_t a, std::size_t b) { return records[a].lOffset < records[b].lOffset; });
    std::size_t reaching = 0;   // of the records so far, the one whose data reaches furthest
    std::int64_t reach = -1;
    for (std::size_t i : inside) {
        const DirRecord& r = records[i];
        if (r.lOffset < reach) {
            const std::size_t a = std::min(i, reaching), b = std::max(i, reaching);
            report(Severity::Error, "overlap", static_cast<std::int64_t>(b), label(b) + ": its data (" + blocks(records[b].lOffset, records[b].lSize)
                       + ") lies over that of record " + std::to_string(a) + " (" + Shown(records[a]) + ", "
                       + blocks(records[a].lOffset, records[a].lSize) + ")");
        }
        if (std::int64_t{r.lOffset} + r.lSize > reach) {
            reach = std::int64_t{r.lOffset} + r.lSize;
            reaching = i;
        }
    }

    const std::vector<RecordReading> readings = ReadAsTheGame(archive, records);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const RecordReading& reading = readings[i];
        const auto at = static_cast<std::int64_t>(i);
        switch (reading.kind) {
        case RecordReading::Kind::Unreadable:
            if (archive.streamed) {
                // Read on into the next record, the name still ends here when that byte is 0.
                const StreamedName s = SplitStreamed(GameName(records[i]));
                if (s.type == "txd" && s.base.size() >= kTextureSlot)
                    report(Severity::Error, "texture-name", at, label(i) + TextureOverflow(s.base.size()));
            }
            report(Severity::Warning, "unreadable-name", at, label(i) + ": " + reading.why);
            continue;
        case RecordReading::Kind::Skipped:
            if (IsUnusedSpace(records[i]))
                continue;   // Tessera's own: meant to be skipped
            report(Severity::Warning, "skipped", at, label(i) + ": " + reading.why);
            continue;
        case RecordReading::Kind::Ignored:
            report(Severity::Warning, "ignored", at, label(i) + ": the game ignores it: record " + std::to_string(reading.firstOf) + " ("
                       + Shown(records[static_cast<std::size_t>(reading.firstOf)]) + ") comes first under that name");
            continue;
        case RecordReading::Kind::Read:
            break;
        }
        if (!archive.streamed)
            continue;
        if (reading.key.starts_with("txd:") && reading.key.size() - 4 >= kTextureSlot)
            report(Severity::Error, "texture-name", at, label(i) + TextureOverflow(reading.key.size() - 4));
        if (i > 0 && readings[i - 1].kind == RecordReading::Kind::Read) {
            const DirRecord& prev = records[i - 1];
            const std::int64_t end = std::int64_t{prev.lOffset} + prev.lSize;
            if (records[i].lOffset != end)
                report(Severity::Error, "chain-hole", at, label(i) + ": the game reads it in one go with record " + std::to_string(i - 1) + " ("
                           + Shown(prev) + "), which ends before block " + std::to_string(end) + ", but its data starts at block "
                           + std::to_string(records[i].lOffset) + ": read together, it gets other bytes");
        }
    }
    std::stable_sort(findings.begin(), findings.end(), [](const RuleFinding& a, const RuleFinding& b) { return a.record < b.record; });
    return findings;
}

std::vector<RuleFinding> CheckGameArchive(const std::string& gameFolder, const GameArchive& archive)
{
    const std::string base = gameFolder + std::string(archive.relative);
    std::vector<RuleFinding> findings;
    auto damaged = [&](std::string text) { findings.push_back({RuleFinding::Severity::Error, "damaged", -1, {}, std::move(text)}); };
    for (const char* ext : {".dir", ".img"})
        if (!fs::FileExists(base + ext))
            damaged(std::string(archive.relative) + ext + (fs::PathExists(base + ext) ? ": is not a regular file" : ": missing"));
    if (!findings.empty())
        return findings;
    const std::int64_t imgLength = fs::FileLength(base + ".img");
    if (imgLength % kBlockSize != 0)
        damaged(std::string(archive.relative) + ".img: its length (" + std::to_string(imgLength) + " bytes) is not a whole number of "
                + std::to_string(kBlockSize) + "-byte blocks");
    modArchive reader;
    reader.ReadDirectory(base);
    const std::int64_t dirLength = fs::FileLength(base + ".dir");
    if (dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
        damaged(std::string(archive.relative) + ".dir: its length (" + std::to_string(dirLength) + " bytes) is not a whole number of "
                + std::to_string(kRecordSize) + "-byte records");
    std::vector<RuleFinding> rules = CheckGameRules(archive, reader.Records(), imgLength);
    findings.insert(findings.end(), std::make_move_iterator(rules.begin()), std::make_move_iterator(rules.end()));
    return findings;
}

std::string NameTheGameReads(std::string_view fileName)
{
    std::string name(fileName);
    const auto dot = name.find('.');
    if (dot == std::string::npos || dot + 4 != name.size() || !SplitStreamed(name).type.empty())
        return name;
    const std::string lower = LowerAscii(name.substr(dot + 1));
    if (lower == "dff" || lower == "txd")
        name.replace(dot + 1, 3, lower);
    return name;
}

std::optional<std::string> UnreadableNameReason(const GameArchive& archive, std::string_view fileName)
{
    if (archive.streamed && fileName.size() >= 4 && LowerAscii(fileName.substr(fileName.size() - 4)) == ".txd"
        && fileName.size() - 4 >= kTextureSlot)
        return "the game holds a texture dictionary's name in " + std::to_string(kTextureSlot) + " bytes, and this one has "
            + std::to_string(fileName.size() - 4) + " characters before .txd, which would overwrite the game's memory. Give it a name of at most "
            + std::to_string(kTextureSlot - 1) + " characters before .txd (and the same name where the mod's other files name it)";
    if (fileName.size() >= kNameSize)
        return "the game cannot read a name of " + std::to_string(kNameSize) + " characters or more in its archives (this one has "
            + std::to_string(fileName.size()) + "). Give it a name of at most " + std::to_string(kNameSize - 1) + " characters";
    return std::nullopt;
}

bool IsUnusedSpace(const DirRecord& record) { return GameName(record) == kUnusedSpaceName; }

DirRecord UnusedSpaceRecord(std::int32_t offsetBlocks, std::int32_t sizeBlocks)
{
    return {offsetBlocks, sizeBlocks, AddedNameField(kUnusedSpaceName)};
}

std::optional<DirRecord> ChainBreakBeforeAppend(std::span<const DirRecord> records, std::int64_t imgLength)
{
    if (records.empty())
        return std::nullopt;
    const std::int64_t start = (imgLength + kBlockSize - 1) / kBlockSize;
    auto end = [](const DirRecord& r) { return std::int64_t{r.lOffset} + std::max<std::int32_t>(r.lSize, 0); };
    // Past 32-bit block numbers the append itself is refused.
    if (end(records.back()) == start || start > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    std::int64_t used = 0;
    for (const DirRecord& r : records)
        used = std::max(used, end(r));
    used = std::clamp<std::int64_t>(used, 0, start);
    return UnusedSpaceRecord(static_cast<std::int32_t>(used), static_cast<std::int32_t>(start - used));
}

bool HasErrors(std::span<const RuleFinding> findings)
{
    return std::any_of(findings.begin(), findings.end(), [](const RuleFinding& f) { return f.severity == RuleFinding::Severity::Error; });
}

} // namespace tessera
