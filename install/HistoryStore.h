// The mod history store: what every finished install did to one game folder, kept in the user's
// data folder beside the install journal, so that an install can be seen and taken back again.
//
// One folder per game folder (the journal's name with ".history" for ".journal"). Install N
// keeps there:
//   N.record    what it did, file by file (N.pending until the install's commit mark is on disk;
//               N.removed once it was taken back, so its id is never given again)
//   N.journal   the install's own journal, whose rollback takes it back
//   N-K.bytes   the bytes a stock file held before install N replaced it, when its .old was
//               already there (the .old keeps the game's original)
//   N.removing  while install N is being taken back
#pragma once

#include "Archive.h"
#include "Journal.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// One thing an install did with one file of its package.
struct HistoryFile {
    enum class Kind { Stock, Added, Renamed, Refused };
    Kind kind = Kind::Stock;
    std::string path;            // stock: full path; added, renamed: the game archive base
    std::string name;            // added: the entry's name; refused: the file's name
    std::string reason;          // refused: why
    bool madeOld = false;        // stock: this install made its .old
    bool created = false;        // stock: neither it nor its .old existed; this install made it
    std::string hash;            // stock: hash of the bytes written; added: of its data blocks
    std::string replacedCopy;    // stock: name of the copy of the bytes it replaced, or empty
    std::string copyHash;        // stock: hash of that copy (empty in records of format 1)
    std::string oldHash;         // stock, madeOld: hash of the .old it made (empty in format 1)
    std::int64_t position = 0;   // added, renamed: the record's number in the .dir
    RecordBytes before{};        // renamed: the record before the install
    RecordBytes after{};         // added, renamed: the record as the install left it
};

// A game archive's lengths before and after one install.
struct HistoryArchive {
    std::string base;
    std::int64_t imgBefore = 0, dirBefore = 0, imgAfter = 0, dirAfter = 0;
};

inline constexpr int kHistoryFormat = 3;

struct HistoryRecord {
    int id = 0;
    int format = kHistoryFormat;              // 1: written by Tessera 1.2.0, without checksums; 1 and 2: absolute paths
    // The resolved game folder the record was written under (for older formats: the one its
    // paths lay under), and the one its paths below are rooted at now: the record keeps them
    // relative, so a folder moved or renamed keeps its history.
    std::string recordedFolder;
    std::string gameFolder;
    std::string package;         // the package's file name (or the download's it was made from)
    std::string hashName;        // what its hashes and checksum are (Hash.h): kHashName, or kLegacyHashName for 1.2.0's
    std::string journalHash;     // hash of its stored journal (empty in format 1)
    std::string zpkHash, dirHash;
    std::string date;            // "YYYY-MM-DD hh:mm:ss UTC"
    std::vector<HistoryArchive> archives;
    std::vector<HistoryFile> files;

    int Added() const;           // new entries and stock files created
    int Replaced() const;        // stock files replaced and entries that set one aside
    int Refused() const;
};

// What an install saw of its history folder, passed on instead of being asked again: what is
// there and, for a folder, the names of its files.
struct HistorySeen {
    fs::PathKind kind = fs::PathKind::Missing;
    std::vector<std::string> files;
};
// The history folder as one reading of the data folder shows it, its files listed; only a name
// there of another kind is looked at again (a link is refused).
HistorySeen SeenInDataFolder(const fs::FolderListing& data, const std::string& historyFolder);

// The history folder of a game folder, ending in a separator.
std::string HistoryFolder(const std::string& journalFolder, const std::string& gameFolder);
// The history folder that belongs to a journal path.
std::string HistoryFolderOfJournal(const std::string& journalPath);

// The files of a package the install refused, with why (empty reason: not supported).
struct RefusedFile {
    std::string name;
    std::string reason;
};

// The hashes (kHashName) an install took in its one pass over the package: of its .zpk and .dir,
// and of the bytes each file wrote, so that nothing written is read back to be hashed.
struct InstallHashes {
    std::string zpk, dir;
    std::map<std::string, std::string> stock;                            // stock file path -> its new bytes
    std::map<std::pair<std::string, std::int64_t>, std::string> added;   // (archive base, record number) -> its data blocks
    // What the install left in each archive it held open (base -> its .img's length and its
    // .dir's bytes), so that neither is looked at again; an archive not here is read.
    std::map<std::string, std::pair<std::int64_t, std::vector<std::byte>>> archives;
};

// Writes install's record as pending, with its journal and the copies an uninstall needs.
// Called after every change and before the journal's commit mark. Only the pending name is
// flushed here; the files written are added to unflushed, for the caller to flush with its own
// changes and the history folder before the mark. Returns the pending record's path. shownName
// names what the user chose (a download made into the package); empty: the package.
// seen: the history folder as the caller last saw it (null: looked at here).
std::string WritePendingRecord(const std::string& historyFolder, const Journal& journal, const std::string& packagePath,
                               const std::string& shownName, const std::vector<RefusedFile>& refused, const InstallHashes& hashes,
                               std::vector<std::string>& unflushed, const HistorySeen* seen = nullptr);
// The commit mark is on disk: the pending record counts.
void PromoteRecord(const std::string& pendingPath);

// Brings the history in line with the journal's outcome after a recovery (committed: the
// pending record counts; rolled back: it goes, and an uninstall under way is done), or with
// no journal at all (nullopt: nothing under way had changed anything). The caller holds the lock.
// gameFolder: the resolved game folder as it is now. seen: the history folder as the caller saw
// it (null: looked at here), brought up to date with what the settling changed.
void SettleHistory(const std::string& historyFolder, const std::string& gameFolder, std::optional<bool> journalCommitted,
                   HistorySeen* seen = nullptr);

// An install's stored journal, read only when it is the one its record names (records of
// format 1 name none), its paths moved from the folder it recorded to the record's gameFolder.
// Throws when it is damaged or cannot be read.
Journal ReadStoredJournal(const std::string& historyFolder, const HistoryRecord& record);

// The installs of the folder, newest first (taken-back ones left out), their paths rooted at
// gameFolder (the resolved game folder as it is now; empty: where each was recorded). Every
// record is checked whole first; one that fails throws, naming it.
std::vector<HistoryRecord> ReadHistory(const std::string& historyFolder, const std::string& gameFolder = {});
// The history of the game folder as a setting or the user names it (resolved here).
std::vector<HistoryRecord> ReadHistoryOf(const std::string& gameFolder);

// ---- Records that move: an uninstall's records leave an archive, compact moves data.
// The new version of an install's record or stored journal waits beside it (".next") until the
// change it follows is done: promoted by SettleHistory with the change, dropped without it.
std::string HistoryFilePath(const std::string& historyFolder, int id, const char* state);
void WriteHistoryRecord(const std::string& path, const HistoryRecord& record);

// ---- Paths and names.

// Roots the paths of a record read from path at gameFolder (empty: the folder it was written
// under), setting its recordedFolder and gameFolder: a record of format 3 keeps them relative,
// older ones absolute under the folder they lie under. Throws, naming the record, when one leads
// out of the folder or the folder cannot be told.
void RootRecordPaths(HistoryRecord& record, const std::string& gameFolder, const std::string& path);

// The one key a path of the history is compared by: letter case and separators ignored.
std::string PathKey(const std::string& path);
// The archive a base names, as a key: its last two components ("models/gta3").
std::string ArchiveKey(const std::string& base);
// A path with the platform's separators only.
std::string ShownPath(std::string path);
// "N (package, date)".
std::string HistoryLabel(const HistoryRecord& record);

// ---- Small steps shared by the history's writers.

// Writes text as the whole of the file at path, flushed.
void WriteHistoryFile(const std::string& path, const std::string& text);
void DeleteIfThere(const std::string& path);
// Record i of a .dir's bytes.
RecordBytes DirRecordAt(const std::vector<std::byte>& dir, std::size_t i);
// The hash named hashName of the data blocks a record names in the archive's .img.
std::string EntryDataHash(std::string_view hashName, const std::string& base, const RecordBytes& record);

} // namespace tessera
