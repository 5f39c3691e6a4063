// The 32-byte directory record that packages and game archives share: its fields, where each
// lies in the record, and the one codec between records and their bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tessera {

inline constexpr std::size_t kRecordSize = 32;      // one DirRecord on disk
inline constexpr std::size_t kNameSize = 24;        // the sName field
inline constexpr std::int64_t kBlockSize = 2048;    // a game archive's unit of lOffset and lSize

// Where each field lies in a record: little-endian signed 32-bit lOffset and lSize, then the name.
inline constexpr std::size_t kOffsetField = 0;
inline constexpr std::size_t kSizeField = 4;
inline constexpr std::size_t kNameField = 8;
static_assert(kNameField + kNameSize == kRecordSize);

// One directory record. lOffset and lSize count bytes in a package (.zpk) and 2048-byte blocks
// in a game archive (.img); BlocksToBytes and WholeBlocks convert for the latter.
struct DirRecord {
    std::int32_t lOffset = 0;
    std::int32_t lSize = 0;
    std::array<char, kNameSize> sName{};
};
using RecordBytes = std::array<std::byte, kRecordSize>;
static_assert(sizeof(RecordBytes) == kRecordSize);

RecordBytes EncodeRecord(const DirRecord& record);
// A whole directory's bytes: its records one after the other.
std::vector<std::byte> EncodeRecords(std::span<const DirRecord> records);
DirRecord DecodeRecord(std::span<const std::byte> bytes);   // missing bytes read as 0

// The record bytes with lOffset (blocks) replaced; size and name bytes untouched.
RecordBytes WithOffset(RecordBytes record, std::int32_t offsetBlocks);
// The record bytes with the name bytes of another record.
RecordBytes WithNameOf(RecordBytes record, const RecordBytes& named);

// Game archive units.
constexpr std::int64_t BlocksToBytes(std::int64_t blocks) { return blocks * kBlockSize; }
constexpr std::int64_t WholeBlocks(std::int64_t bytes) { return (bytes + kBlockSize - 1) / kBlockSize; }

// The name field AddFile writes: the name cut to 24 characters, the fill and every space as NUL.
std::array<char, kNameSize> AddedNameField(std::string_view name);
// The name field RenameEntry writes: the new name cut to 24 characters, filled up with spaces.
std::array<char, kNameSize> RenamedNameField(std::string_view name);

} // namespace tessera
