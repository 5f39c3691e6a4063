// What the console and the desktop program tell of the mod history, in the same words; the
// store and the uninstall come with it.
#pragma once

#include "HistoryStore.h"
#include "InstallPackage.h"
#include "Uninstall.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// The newest recorded install that wrote what a file would now replace: the stock file at path,
// or (entryName given) the archive entry of that name in the archive whose base is path.
const HistoryRecord* LastWriter(const std::vector<HistoryRecord>& history, const std::string& path, const std::string& entryName = {});
// The newest recorded install of the package with these hashes of its .zpk and .dir.
const HistoryRecord* EarlierInstallOf(const std::vector<HistoryRecord>& history, const std::string& zpkHash, const std::string& dirHash);

// One install in the list: "N  date  package  added A, replaced R, refused F".
std::string HistoryListLine(const HistoryRecord& record);
inline constexpr std::string_view kNoHistoryText = "No install is recorded for this game folder.";

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

} // namespace tessera
