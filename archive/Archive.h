// The archive layer: the shared directory layout of packages (.zpk + .dir) and game archives
// (.img + .dir), reading a directory, extracting package entries, renaming and appending entries.
#pragma once

#include "DirRecord.h"
#include "KeyedCollection.h"
#include "LargeBuffer.h"

#include <algorithm>
#include <array>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

inline constexpr std::int64_t kMaxRecords = 67'108'864;   // record starts beyond this overflow 32 bits
// The one transfer buffer's size: every read and copy goes through it in pieces of at most this
// many bytes, whatever an entry or directory holds. A whole number of records.
inline constexpr std::size_t kTransferBufferSize = std::size_t{8} << 20;
static_assert(kTransferBufferSize % kRecordSize == 0);

namespace fs {
class File;
using CopyTap = std::function<void(std::span<const std::byte>)>;   // as FileSystem.h has it
}

// File::ReadAt, for the templates here that see only a declaration of File.
std::size_t ReadFrom(const fs::File& file, std::int64_t offset, std::span<std::byte> out);

// One directory entry in memory.
class clsImgFile {
public:
    // Always 24 characters: the value cut to 24 or filled up with spaces.
    const std::string& sName() const noexcept { return sName_; }
    void sName(std::string_view value);
    std::int32_t lSize() const noexcept { return lSize_; }
    void lSize(std::int32_t value) noexcept { lSize_ = value; }
    std::int32_t lOffset() const noexcept { return lOffset_; }
    void lOffset(std::int32_t value) noexcept { lOffset_ = value; }
    const std::string& sId() const noexcept { return sId_; }
    void sId(std::string value) { sId_ = std::move(value); }

private:
    std::string sName_ = std::string(kNameSize, ' ');
    std::int32_t lSize_ = 0;
    std::int32_t lOffset_ = 0;
    std::string sId_;
};

// Drops every character of code 0 or 16, wherever it stands.
std::string CleanName(std::string_view s);
// Turns every space into a NUL; same length.
std::string SpacesToNuls(std::string_view s);

// The name a record's 24-byte field holds: its bytes up to the first NUL, cleaned.
std::string RecordName(const std::array<char, kNameSize>& field);

// How many records a directory of this many bytes holds (a trailing piece of more than half a
// record counts, exactly half rounds to even). Raises the overflow error past 32-bit positions.
std::int64_t RecordCount(std::int64_t directoryLength);

// The records of a directory held in memory.
std::vector<DirRecord> ParseDirectory(std::span<const std::byte> bytes);
// The same into records, reusing its storage.
void ParseDirectory(std::span<const std::byte> bytes, std::vector<DirRecord>& records);

// The file name an entry extracts to: its name up to the first space (or NUL).
std::string EntryFileName(const clsImgFile& entry);
// The same from a record's name field.
std::string RecordFileName(const std::array<char, kNameSize>& field);

// The files that extracting every entry of a package into an empty folder gives: one per file
// name, names equal but for letter case being one name. The first entry of a name gives the
// file its name, the last one its bytes. In ascending order of name, letter case ignored.
struct PackageFile {
    std::uint32_t nameEntry = 0;   // record number
    std::uint32_t dataEntry = 0;   // record number
};
std::vector<PackageFile> PackageFiles(std::span<const DirRecord> records);

// Calls visit(record number, record) for each record of the directory held in bytes [from,
// from + length) of file, read in pieces through buffer (a trailing part record reads its missing
// bytes as 0). The record count follows from length as for a directory file.
template <typename Visit>
void ForEachRecord(const fs::File& file, std::int64_t from, std::int64_t length, std::span<std::byte> buffer, Visit&& visit);
// Bytes as they are read, for whoever wants them too (a hash over the same pass).
using ByteSink = std::function<void(std::span<const std::byte>)>;
void ReadRecordsInto(const fs::File& file, std::int64_t from, std::int64_t length, std::span<std::byte> buffer,
                     std::vector<DirRecord>& records, const ByteSink& seen = {});

// Why a file name must not be written into a folder; nothing when it is safe.
std::optional<std::string> UnsafeNameReason(std::string_view fileName);

// A name readable in a message: control bytes shown as \xNN.
std::string PrintableName(std::string_view name);

// The last component of a path text.
std::string BaseName(const std::string& path);

// The module state of the archive layer and its operations. Every operation works on the
// archive whose directory was read last.
class modArchive {
public:
    std::string sArchiveBase;

    modArchive();
    ~modArchive();
    modArchive(const modArchive&) = delete;
    modArchive& operator=(const modArchive&) = delete;

    // The entries of the directory read last, in record order, each under its record number.
    // Built on first use: an install reads a game archive's directory before every file and
    // needs only its records, which RenameEntry and AddFile work on directly.
    const KeyedCollection<clsImgFile>& colImgFiles();

    void ReadDirectory(const std::string& base);
    void ExtractEntry(const clsImgFile& entry, const std::string& folder);
    void RenameEntry(const std::string& name, const std::string& newName);
    void AddFile(const std::string& path, const std::string& entryName);

    // AddFile of bytes [from, from + length) of an open file (a package entry, say): its label
    // names it in messages. progress is told the bytes copied after each slice; tap, when given,
    // is shown the entry's bytes as they are copied (fs::CopyRange).
    void AddRange(const fs::File& source, std::int64_t from, std::int64_t length, const std::string& entryName,
                  const std::string& label, const std::function<void(std::int64_t)>& progress = {}, const fs::CopyTap& tap = {});

    // ReadDirectory of a package: its .dir and .zpk must exist, and CheckPackageRecords must pass.
    // Returns the files it unpacks to. Each file is opened once: data, when given, takes the open
    // .zpk; dirBytes sees every byte of the .dir as it is read.
    std::vector<PackageFile> ReadPackage(const std::string& base, std::optional<fs::File>* data = nullptr, const ByteSink& dirBytes = {});

    // The records of the directory read last, in record order.
    const std::vector<DirRecord>& Records() const noexcept { return records_; }

    // The transfer buffer: kTransferBufferSize bytes, contents undefined.
    std::span<std::byte> Buffer();

    // Whether RenameEntry(name, ...) would give an entry of the directory read last a new name.
    bool HasEntry(std::string_view name) const;

    // ReadDirectory for a run of changes that this object alone makes to archives (an install
    // holding its lock): each archive's .img and .dir are opened for writing and read once, and
    // kept open with their lengths and records; again for a held base, it only takes in the
    // records AddRange wrote since, which is what reading the directory again would give. Each
    // file added then costs its copy and its record, nothing more, whichever archive it goes to.
    // Anything else that reads a directory, or a failed change, lets every held archive go.
    void HoldArchive(const std::string& base);
    // Closes the held archives; the next operation opens what it needs again.
    void ReleaseArchive() noexcept;
    // The length of the held archive's .img, with what AddRange wrote since it was held; of its
    // .dir, with the records written since.
    std::int64_t HeldImgLength() const;
    std::int64_t HeldDirLength() const;
    // The .img and .dir of every held archive, open for writing (to flush them through).
    std::vector<fs::File*> HeldFiles();
    // Appends one record, and no data, to the held archive's .dir (a record of unused space).
    void AddRecord(const DirRecord& record);

private:
    // The state of no directory read yet, for base: what a failed read leaves.
    void Forget(const std::string& base);
    void ReadDirectoryOf(const fs::File& dir, std::int64_t length, const ByteSink& seen);
    // AddRange onto open files of the given lengths; returns the record written.
    DirRecord AddRangeTo(fs::File& img, std::int64_t imgLength, fs::File& dir, std::int64_t dirLength, const fs::File& source,
                         std::int64_t from, std::int64_t length, const std::string& entryName, const std::string& label,
                         const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap);

    // The archives held open by HoldArchive.
    struct Held;
    struct Holds;
    std::unique_ptr<Holds> held_;
    Held& CurrentHeld() const;   // throws a logic error when none is held

    std::vector<DirRecord> records_;
    KeyedCollection<clsImgFile> entries_;
    bool entriesBuilt_ = false;
    LargeBuffer buffer_;
};

// fs::CopyRange in slices of a few MiB, telling progress the bytes
// copied after each, so that a long copy can be shown and stopped (progress may throw). Returns
// the bytes copied: fewer than length when the source ends early. tap as for fs::CopyRange.
std::int64_t CopyInSlices(const fs::File& source, std::int64_t from, fs::File& target, std::int64_t to, std::int64_t length,
                          std::span<std::byte> buffer, const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap = {});

// A record's name as RenameEntry compares it: cleaned, trimmed of spaces, in lower case.
std::string RecordKey(const std::array<char, kNameSize>& field);

// Whether a record's name, as RenameEntry compares it (cleaned, trimmed of spaces, letter case
// ignored), is name.
bool RecordNameMatches(const std::array<char, kNameSize>& field, std::string_view name);

// Checks a whole package before anything is extracted: its .dir holds whole records, every
// entry's bytes lie inside the .zpk and every entry's file name is safe. Entries may share
// bytes, so what a package unpacks to may be far more than its .zpk: whoever writes it checks
// the room for it. Throws BadPackage or UnsafeName naming the entry.
void CheckPackage(const std::string& base);
// The same check on records in memory against a data file of zpkLength bytes; returns the files
// the package unpacks to.
std::vector<PackageFile> CheckPackageRecords(std::span<const DirRecord> records, std::int64_t zpkLength, const std::string& dirName,
                         const std::string& zpkName);

template <typename Visit>
void ForEachRecord(const fs::File& file, std::int64_t from, std::int64_t length, std::span<std::byte> buffer, Visit&& visit)
{
    const std::int64_t count = RecordCount(length);
    const std::size_t piece = buffer.size() / kRecordSize * kRecordSize;
    std::int64_t index = 0;
    for (std::int64_t at = 0; index < count;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - at, static_cast<std::int64_t>(piece)));
        const std::size_t got = want == 0 ? 0 : ReadFrom(file, from + at, buffer.first(want));
        const std::size_t whole = got / kRecordSize;
        for (std::size_t i = 0; i < whole && index < count; ++i, ++index)
            visit(index, DecodeRecord(buffer.subspan(i * kRecordSize, kRecordSize)));
        at += static_cast<std::int64_t>(got);
        if (got < want || at >= length) {
            // The file's end: a trailing part record, then nothing more.
            if (index < count && got % kRecordSize != 0)
                visit(index++, DecodeRecord(buffer.subspan(whole * kRecordSize, got % kRecordSize)));
            break;
        }
    }
}

} // namespace tessera
