// The hash the history keeps of what Tessera wrote and of the packages it installed: XXH3-128
// (xxHash), fast enough to run over every byte an install copies. It tells an accident or a hand
// edit from what Tessera left, and a package from another; it is no signature and proves nothing
// against someone who means to deceive. Records of 1.2.0 hold SHA-256, still checked by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tessera {

namespace fs {
class File;
}

// The names a record gives its hashes by.
inline constexpr std::string_view kHashName = "xxh3-128";
inline constexpr std::string_view kLegacyHashName = "sha-256";   // the records of 1.2.0

// XXH3-128 of bytes given in pieces, as 32 lower-case hex digits (its canonical, big-endian
// form, as xxhsum prints it).
class ContentHash {
public:
    ContentHash();
    ~ContentHash();
    ContentHash(ContentHash&&) noexcept;
    ContentHash& operator=(ContentHash&&) noexcept;

    static constexpr std::string_view Name() noexcept { return kHashName; }
    void Update(std::span<const std::byte> data);
    std::string HexDigest() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

std::string HashHex(std::span<const std::byte> data);
// Of length bytes at offset of a file (a file shorter than that: what it has), read through buffer.
std::string HashRange(const fs::File& file, std::int64_t offset, std::int64_t length, std::span<std::byte> buffer);
std::string HashFile(const std::string& path);

// The hash named name of bytes, of a run of a file or of a whole file: kHashName, or
// kLegacyHashName where the build can compute it. Any other name throws, naming it.
bool CanHash(std::string_view name);
std::string HashHexAs(std::string_view name, std::span<const std::byte> data);
std::string HashRangeAs(std::string_view name, const fs::File& file, std::int64_t offset, std::int64_t length);
std::string HashFileAs(std::string_view name, const std::string& path);

} // namespace tessera
