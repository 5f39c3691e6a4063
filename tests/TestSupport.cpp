// Helpers shared by the tests.
#include "TestSupport.h"

#include "FileSystem.h"

#include <cstring>

namespace tessera::test {

TempDir::TempDir() : path_(fs::MakeScratchFolder("tessera-test-")) {}

TempDir::~TempDir()
{
    try {
        fs::RemoveTree(path_);
    } catch (...) {
    }
}

Bytes ToBytes(std::string_view text)
{
    Bytes b(text.size());
    std::memcpy(b.data(), text.data(), text.size());
    return b;
}

Bytes Pattern(std::size_t size, unsigned seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::byte>((x >> 24) | 1u);
    }
    return b;
}

Bytes Zeros(std::size_t size) { return Bytes(size); }

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes r;
    for (const auto& p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

Bytes Record(std::int32_t offset, std::int32_t size, std::string_view name, char fill)
{
    DirRecord r;
    r.lOffset = offset;
    r.lSize = size;
    r.sName.fill(fill);
    std::memcpy(r.sName.data(), name.data(), std::min(name.size(), kNameSize));
    const RecordBytes e = EncodeRecord(r);
    return Bytes(e.begin(), e.end());
}

void WriteFile(const std::string& path, const Bytes& bytes) { fs::WriteWholeFile(path, bytes); }
Bytes ReadFile(const std::string& path) { return fs::ReadWholeFile(path); }

std::string ReadText(const std::string& path)
{
    const Bytes b = ReadFile(path);
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void WritePackage(const std::string& base, const std::vector<PackageEntry>& entries)
{
    Bytes dir;
    Bytes zpk;
    for (const auto& e : entries) {
        const Bytes rec = Record(static_cast<std::int32_t>(zpk.size()), static_cast<std::int32_t>(e.bytes.size()), e.name);
        dir.insert(dir.end(), rec.begin(), rec.end());
        zpk.insert(zpk.end(), e.bytes.begin(), e.bytes.end());
    }
    WriteFile(base + ".dir", dir);
    WriteFile(base + ".zpk", zpk);
}

} // namespace tessera::test
