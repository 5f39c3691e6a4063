// The mod history: what every finished install did to one game folder, kept in the user's data
// folder beside the install journal, so that an install can be seen and taken back again.
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
#include "FileSystem.h"
#include "InstallPackage.h"
#include "Journal.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// SHA-256 of bytes, of a whole file, and of a run of a file, as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::byte> data);
std::string Sha256File(const std::string& path);

// One thing an install did with one file of its package.
struct HistoryFile {
    enum class Kind { Stock, Added, Renamed, Refused };
    Kind kind = Kind::Stock;
    std::string path;            // stock: full path; added, renamed: the game archive base
    std::string name;            // added: the entry's name; refused: the file's name
    std::string reason;          // refused: why
    bool madeOld = false;        // stock: this install made its .old
    bool created = false;        // stock: neither it nor its .old existed; this install made it
    std::string hash;            // stock: SHA-256 of the bytes written; added: of its data blocks
    std::string replacedCopy;    // stock: name of the copy of the bytes it replaced, or empty
    std::int64_t position = 0;   // added, renamed: the record's number in the .dir
    RecordBytes before{};        // renamed: the record before the install
    RecordBytes after{};         // added, renamed: the record as the install left it
};

// A game archive's lengths before and after one install.
struct HistoryArchive {
    std::string base;
    std::int64_t imgBefore = 0, dirBefore = 0, imgAfter = 0, dirAfter = 0;
};

struct HistoryRecord {
    int id = 0;
    std::string package;         // the package's file name (or the download's it was made from)
    std::string zpkHash, dirHash;
    std::string date;            // "YYYY-MM-DD hh:mm:ss UTC"
    std::vector<HistoryArchive> archives;
    std::vector<HistoryFile> files;

    int Added() const;           // new entries and stock files created
    int Replaced() const;        // stock files replaced and entries that set one aside
    int Refused() const;
};

// The history folder of a game folder, ending in a separator.
std::string HistoryFolder(const std::string& journalFolder, const std::string& gameFolder);
// The history folder that belongs to a journal path.
std::string HistoryFolderOfJournal(const std::string& journalPath);

// The files of a package the install refused, with why (empty reason: not supported).
struct RefusedFile {
    std::string name;
    std::string reason;
};

// Writes install's record as pending, with its journal and the copies an uninstall needs;
// flushed. Called after every change is flushed and before the journal's commit mark.
// Returns the pending record's path. shownName names what the user chose (a download made into
// the package); empty: the package.
std::string WritePendingRecord(const std::string& historyFolder, const Journal& journal, const std::string& packagePath,
                               const std::string& shownName, const std::vector<RefusedFile>& refused);
// The commit mark is on disk: the pending record counts.
void PromoteRecord(const std::string& pendingPath);

// Brings the history in line with the journal's outcome after a recovery (committed: the
// pending record counts; rolled back: it goes, and an uninstall under way is done), or with
// no journal at all (nullopt: nothing under way had changed anything). The caller holds the lock.
void SettleHistory(const std::string& historyFolder, std::optional<bool> journalCommitted);

// The installs of the folder, newest first (taken-back ones left out).
std::vector<HistoryRecord> ReadHistory(const std::string& historyFolder);

// Later installs that changed what install id wrote (the same stock file, a record it added or
// renamed), and those that changed what they wrote in turn: they must be taken back first.
// Oldest first.
std::vector<int> LaterInstallsInTheWay(const std::vector<HistoryRecord>& history, int id);

// What is not as the chain of installs (newest first) left it, each as a message naming the
// file; empty when the chain can be taken back. The archives' lengths are those the newest
// install of history (all recorded installs; the chain when empty) left.
std::vector<std::string> CheckUntouched(const std::vector<HistoryRecord>& chain, const std::vector<HistoryRecord>& history = {});

// The newest recorded install that wrote what a file would now replace: the stock file at path,
// or (entryName given) the archive entry of that name in the archive whose base is path.
const HistoryRecord* LastWriter(const std::vector<HistoryRecord>& history, const std::string& path, const std::string& entryName = {});
// The newest recorded install of the package with these hashes of its .zpk and .dir.
const HistoryRecord* EarlierInstallOf(const std::vector<HistoryRecord>& history, const std::string& zpkHash, const std::string& dirHash);

// Takes back one install that no later one is in the way of (its records leave the archives
// while later installs' records stay, renumbered), under the journal at journalPath: all or
// nothing; a crash midway is finished by the next recovery. The later installs' records and
// stored journals follow the records' new positions.
void TakeBack(const std::string& historyFolder, const std::string& journalPath, const HistoryRecord& record);

// ---- What the console and the desktop program tell of the history, in the same words.

// "N (package, date)".
std::string HistoryLabel(const HistoryRecord& record);
// One install in the list: "N  date  package  added A, replaced R, refused F".
std::string HistoryListLine(const HistoryRecord& record);
inline constexpr std::string_view kNoHistoryText = "No install is recorded for this game folder.";

// A path with the platform's separators only.
std::string ShownPath(std::string path);
// A game archive base as the game folder names it ("models/gta3"), or the whole path shown.
std::string GameRelativePath(const std::string& path, const std::string& gameFolder);
// The name a directory record holds, trimmed.
std::string RecordNameText(const RecordBytes& bytes);

// Later installs that changed a stock file or an archive record that record's install wrote,
// newest first.
std::vector<const HistoryRecord*> ChangedSince(const std::vector<HistoryRecord>& history, const HistoryRecord& record);
// Where one file of an install went, as one line.
std::string DescribeHistoryFile(const HistoryFile& file, const std::string& gameFolder);
// The details of one install: a heading, a line per file, and the later installs that changed
// its files.
std::vector<std::string> HistoryDetails(const std::vector<HistoryRecord>& history, const HistoryRecord& record,
                                        const std::string& gameFolder);

// Before an install: the recorded install of the same package (its .zpk and .dir hashed), and
// the newest recorded install that wrote what one planned file would replace (null: none).
const HistoryRecord* EarlierInstallOfPackage(const std::vector<HistoryRecord>& history, const std::string& packagePath);
const HistoryRecord* WriterOf(const std::vector<HistoryRecord>& history, const PlannedFile& file);
std::string ReinstallText(const HistoryRecord& earlier);   // "A reinstall: this package is install N (...)."
std::string WrittenByText(const HistoryRecord& writer);    // "it replaces what install N (...) wrote"
// Those findings as lines, a reinstall first; empty when there is nothing to say.
std::vector<std::string> EarlierInstallNotes(const std::vector<HistoryRecord>& history, const std::vector<PlannedFile>& plan,
                                             const HistoryRecord* reinstallOf);

// ---- Taking installs back, for the console and the desktop program alike.

// Tells the user one line: problem lines are what the console prints to standard error.
using HistoryTell = std::function<void(const std::string& line, bool problem)>;

// The history of a game folder held under its lock while this lives, with every interrupted
// install or uninstall of the folder finished first (told through window). Throws when another
// install holds the folder or the history cannot be read.
class LockedHistory {
public:
    LockedHistory(const std::string& gameFolder, IWindowServices& window);

    const std::vector<HistoryRecord>& History() const noexcept { return history_; }
    const std::string& Folder() const noexcept { return folder_; }
    const std::string& JournalPathText() const noexcept { return journalPath_; }

private:
    std::string journalPath_, folder_;
    std::optional<fs::ExclusiveLock> lock_;
    std::vector<HistoryRecord> history_;
};

// What taking back install id takes back, newest first and ending with it. Later installs in
// its way come first when withLater; otherwise they are told and nothing is returned, as when
// no install id is recorded.
std::vector<const HistoryRecord*> UninstallChain(const std::vector<HistoryRecord>& history, int id, bool withLater,
                                                 const std::string& gameFolder, const HistoryTell& tell);
// Takes back chain (newest first) after checking it whole, telling each install taken back;
// true when all went (dryRun: when all could go).
bool TakeBackChain(const LockedHistory& locked, const std::vector<const HistoryRecord*>& chain, bool dryRun, const HistoryTell& tell);

// ---- Records that move: an uninstall's records leave an archive, compact moves data.
// The new version of an install's record or stored journal waits beside it (".next") until the
// change it follows is done: promoted by SettleHistory with the change, dropped without it.
std::string HistoryFilePath(const std::string& historyFolder, int id, const char* state);
void WriteHistoryRecord(const std::string& path, const HistoryRecord& record);
// The archive a base names, as a key: its last two components, in lower case ("models/gta3").
std::string ArchiveKey(const std::string& base);

} // namespace tessera
