// What an install checks before its first change to the game folder. For InstallPackage.
#pragma once

#include "Archive.h"
#include "InstallPackage.h"
#include "Journal.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessera {

// The bytes a run of whole blocks takes for size bytes of data.
inline std::int64_t BlockBytes(std::int64_t size) { return BlocksToBytes(WholeBlocks(size)); }

// A path inside the game folder as messages name it: from the game folder on.
std::string InsideGame(const std::string& path, const std::string& game);

// The game folder is set and there: its identity (fs::FolderIdentity), taken once for the
// install, with its disk when asked. Throws saying which is not so.
std::string GameFolderIdentity(const std::string& game, std::string* disk = nullptr);

// Everything about the game folder (found by GameFolderIdentity) that can be checked before the
// first change: every name the install and its undo make is one the system takes, and every game
// archive a file goes into is whole, writable and stays below 2 GiB, each file counted with all
// its bytes. Each such archive is held open in holder (HoldArchive), as the install goes on to
// use it. Throws naming what fails; a folder that lacks a game archive is said to be no complete
// game folder, with advice on where to choose another.
void CheckGameFolder(const std::vector<PlannedFile>& plan, const std::string& game, const std::string& advice, modArchive& holder);

// Every disk the install writes to (the game folder's, a stock file's folder's, the journal's)
// has room for all it will write there. Throws DiskFull naming the folder. knownDisks: the disks
// of folders already looked at (the game folder, the data folder), not asked again.
void CheckFreeSpace(const std::vector<PlannedFile>& plan, const std::string& game, const std::string& journalFolder,
                    std::int64_t journalBytes, const std::map<std::string, std::string>& knownDisks = {});

// What the journal takes on disk at most: its texts in hexadecimal and numbers.
std::int64_t JournalBytes(const Journal& journal);

} // namespace tessera
