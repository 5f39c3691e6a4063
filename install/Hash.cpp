// XXH3-128 through libxxhash (its header alone, inlined, where the build has no library), and
// the SHA-256 that older records were written with.
#include "Hash.h"

#include "Error.h"
#include "FileSystem.h"

#ifndef XXH_INLINE_ALL
#define XXH_STATIC_LINKING_ONLY   // XXH3_state_t by value
#endif
#include <xxhash.h>

#ifdef TESSERA_WITH_LIBCRYPTO
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace tessera {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string ToHex(const unsigned char* bytes, std::size_t size)
{
    std::string r(2 * size, '0');
    for (std::size_t i = 0; i < size; ++i) {
        r[2 * i] = kHexDigits[bytes[i] >> 4];
        r[2 * i + 1] = kHexDigits[bytes[i] & 15];
    }
    return r;
}

// ---- SHA-256 (FIPS 180-4), only to check the records of 1.2.0: libcrypto's where the build has
// it, else the portable one the Windows build of 1.2.0 wrote its records with.

#ifdef TESSERA_WITH_LIBCRYPTO
class Sha256 {
public:
    Sha256() : context_(EVP_MD_CTX_new())
    {
        if (!context_)
            throw std::bad_alloc();
        Check(EVP_DigestInit_ex(context_, EVP_sha256(), nullptr));
    }
    ~Sha256() { EVP_MD_CTX_free(context_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::span<const std::byte> data) { Check(EVP_DigestUpdate(context_, data.data(), data.size())); }

    std::string HexDigest()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        Check(EVP_DigestFinal_ex(context_, digest, &length));
        return ToHex(digest, length);
    }

private:
    static void Check(int ok)
    {
        if (ok != 1)
            throw std::runtime_error("SHA-256 could not be computed (libcrypto failed)");
    }

    EVP_MD_CTX* context_;
};
#else
class Sha256 {
public:
    void Update(std::span<const std::byte> data)
    {
        length_ += data.size();
        std::size_t at = 0;
        while (at < data.size()) {
            const std::size_t n = std::min<std::size_t>(64 - used_, data.size() - at);
            std::memcpy(block_.data() + used_, data.data() + at, n);
            used_ += n;
            at += n;
            if (used_ == 64) {
                Compress();
                used_ = 0;
            }
        }
    }

    std::string HexDigest()
    {
        const std::uint64_t bits = length_ * 8;
        const std::byte pad{0x80};
        Update(std::span(&pad, 1));
        const std::byte zero{0};
        while (used_ != 56)
            Update(std::span(&zero, 1));
        for (int i = 7; i >= 0; --i) {
            const auto b = static_cast<std::byte>((bits >> (8 * i)) & 0xff);
            Update(std::span(&b, 1));
        }
        unsigned char digest[32];
        for (std::size_t i = 0; i < 32; ++i)
            digest[i] = static_cast<unsigned char>(state_[i / 4] >> (24 - 8 * (i % 4)));
        return ToHex(digest, sizeof digest);
    }

private:
    static std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

    void Compress()
    {
        static constexpr std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(block_[4 * i]) << 24 | std::uint32_t(block_[4 * i + 1]) << 16
                | std::uint32_t(block_[4 * i + 2]) << 8 | std::uint32_t(block_[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4], f = state_[5],
                      g = state_[6], h = state_[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
        state_[4] += e, state_[5] += f, state_[6] += g, state_[7] += h;
    }

    std::array<std::uint32_t, 8> state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};
#endif

// Feeds length bytes at offset of file to update, through buffer; stops at the file's end.
template <typename Update>
void ReadRange(const fs::File& file, std::int64_t offset, std::int64_t length, std::span<std::byte> buffer, Update&& update)
{
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = file.ReadAt(offset, buffer.first(want));
        if (got == 0)
            break;
        update(buffer.first(got));
        offset += static_cast<std::int64_t>(got);
        length -= static_cast<std::int64_t>(got);
    }
}

constexpr std::size_t kReadPiece = std::size_t{1} << 20;

void CheckName(std::string_view name)
{
    if (!CanHash(name))
        throw TesseraError(ErrorKind::InvalidArgument, "The hash \"" + std::string(name) + "\" is not known to this version of Tessera");
}

} // namespace

struct ContentHash::State {
    XXH3_state_t xxh;
};

ContentHash::ContentHash() : state_(std::make_unique<State>())
{
    XXH3_INITSTATE(&state_->xxh);
    XXH3_128bits_reset(&state_->xxh);
}
ContentHash::~ContentHash() = default;
ContentHash::ContentHash(ContentHash&&) noexcept = default;
ContentHash& ContentHash::operator=(ContentHash&&) noexcept = default;

void ContentHash::Update(std::span<const std::byte> data)
{
    if (!data.empty())
        XXH3_128bits_update(&state_->xxh, data.data(), data.size());
}

std::string ContentHash::HexDigest() const
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state_->xxh));
    return ToHex(canonical.digest, sizeof canonical.digest);
}

std::string HashHex(std::span<const std::byte> data)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(data.data(), data.size()));
    return ToHex(canonical.digest, sizeof canonical.digest);
}

std::string HashRange(const fs::File& file, std::int64_t offset, std::int64_t length, std::span<std::byte> buffer)
{
    ContentHash hash;
    ReadRange(file, offset, length, buffer, [&](std::span<const std::byte> piece) { hash.Update(piece); });
    return hash.HexDigest();
}

std::string HashFile(const std::string& path) { return HashFileAs(kHashName, path); }

bool CanHash(std::string_view name) { return name == kHashName || name == kLegacyHashName; }

std::string HashHexAs(std::string_view name, std::span<const std::byte> data)
{
    CheckName(name);
    if (name == kHashName)
        return HashHex(data);
    Sha256 sha;
    sha.Update(data);
    return sha.HexDigest();
}

std::string HashRangeAs(std::string_view name, const fs::File& file, std::int64_t offset, std::int64_t length)
{
    CheckName(name);
    std::vector<std::byte> buffer(kReadPiece);
    if (name == kHashName)
        return HashRange(file, offset, length, buffer);
    Sha256 sha;
    ReadRange(file, offset, length, buffer, [&](std::span<const std::byte> piece) { sha.Update(piece); });
    return sha.HexDigest();
}

std::string HashFileAs(std::string_view name, const std::string& path)
{
    const fs::File file(path, fs::OpenMode::Read);
    return HashRangeAs(name, file, 0, file.Length());
}

} // namespace tessera
