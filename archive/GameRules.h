// How the game itself reads its archives, and where an archive breaks those rules. The game
// reads a .dir record by record: a name ends at its first NUL, and in the streamed archives
// (models\gta3, models\txd) only a .dff or .txd extension (in one letter case) is read, the first
// record of a name wins, and up to four consecutive records are read in one go, which takes
// for granted that each one's data starts where the one before it ends.
#pragma once

#include "Archive.h"
#include "GameArchives.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessera {

// What the game makes of one record.
struct RecordReading {
    enum class Kind {
        Read,      // the game reads it under key
        Skipped,   // the game never reads it (why says how)
        Unreadable,   // a name of 24 characters: the game reads on past it into the next record
        Ignored,   // an earlier record of the same key wins (firstOf)
    };
    Kind kind = Kind::Read;
    std::string key;          // "dff:car" (streamed) or "intro.dat" (cut scenes), lower case
    std::string why;          // skipped: the reason
    std::int64_t firstOf = -1;   // ignored: the record that wins
};

// How the game reads every record of a directory, in record order.
std::vector<RecordReading> ReadAsTheGame(const GameArchive& archive, std::span<const DirRecord> records);

// The name the game reads from a record: its bytes up to the first NUL (all 24 when there is none).
std::string GameName(const DirRecord& record);

struct RuleFinding {
    enum class Severity { Error, Warning };
    Severity severity = Severity::Error;
    std::string rule;           // "outside", "overlap", "chain-hole", "texture-name", "skipped",
                                // "ignored", "unreadable-name", "size", "damaged"
    std::int64_t record = -1;   // -1: the archive as a whole
    std::string name;           // the record's name, printable
    std::string text;           // the whole report: archive, record number, name and problem
};

// Where a directory breaks the game's rules, given the length of its .img in bytes. Errors: data
// outside the .img, records over each other's data, chained records whose data is not back to
// back, texture names the game's 20-byte slot cannot hold. Warnings: names the game skips or
// cannot read, records behind an earlier one of the same name, an archive of 2 GiB or more.
std::vector<RuleFinding> CheckGameRules(const GameArchive& archive, std::span<const DirRecord> records, std::int64_t imgLength);

// CheckGameRules of the archive in the game folder (ending in a separator), read from disk, with
// the files' own soundness: both present, whole blocks and whole records.
std::vector<RuleFinding> CheckGameArchive(const std::string& gameFolder, const GameArchive& archive);

// The name a file routed to a streamed archive gets in it: its extension lower-cased when the game
// would skip it as spelt (Car.Dff -> Car.dff); any other name unchanged.
std::string NameTheGameReads(std::string_view fileName);

// Why an archive-bound file of this name cannot be installed so that the game reads it right;
// nothing when it can. Names of 24 characters or more, and texture dictionaries whose name
// before .txd has 20 or more.
std::optional<std::string> UnreadableNameReason(const GameArchive& archive, std::string_view fileName);

// Tessera's own record of unused space in a streamed archive: where an uninstall took an
// install's data out from before later data, this record stands over the freed blocks so that the
// records on either side are not read as one chain (the game skips its name). Compaction gives
// the blocks back and drops the record; check does not count it as a skipped name.
inline constexpr std::string_view kUnusedSpaceName = "tessera.unused";
bool IsUnusedSpace(const DirRecord& record);
DirRecord UnusedSpaceRecord(std::int32_t offsetBlocks, std::int32_t sizeBlocks);

// The record of unused space that must come before data appended at the end of an .img of
// imgLength bytes, when the last record's data does not end where the appended data starts (the
// .img holds unused blocks at its end, or its last record's data lies elsewhere): without it, the
// game would read the new record in one go with that one. It stands over the blocks at the .img's
// end that no record's data reaches (none, when some record's does). Nothing when none is needed.
std::optional<DirRecord> ChainBreakBeforeAppend(std::span<const DirRecord> records, std::int64_t imgLength);

// Whether any finding is an error.
bool HasErrors(std::span<const RuleFinding> findings);

} // namespace tessera
