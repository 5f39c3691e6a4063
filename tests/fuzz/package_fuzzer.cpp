// libFuzzer target: arbitrary .dir and .zpk bytes through directory reading, package checking
// and extraction into a target folder inside a private sandbox. Aborts when anything appears
// outside the target folder, when a checked package does not extract to exactly its entries,
// or when the check refuses a package whose every entry extracts.
//
// Input: two bytes (little-endian) giving the .dir length modulo what follows, the .dir bytes,
// then the .zpk bytes.
#include "Archive.h"
#include "FileSystem.h"
#include "Text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace tessera;

namespace {

[[noreturn]] void Fault(const std::string& what)
{
    std::fprintf(stderr, "package_fuzzer: %s\n", what.c_str());
    std::abort();
}

// root/pkg/p.dir and p.zpk hold the input; root/box/out/ is the target. Nothing else may exist
// under root, whatever the package holds.
struct Sandbox {
    std::string root = fs::MakeScratchFolder("tessera-fuzz-");
    std::string base = root + "pkg/p";
    std::string box = root + "box/";
    std::string out = box + "out/";

    Sandbox()
    {
        fs::CreateFolder(root + "pkg");
        fs::CreateFolder(box);
        fs::CreateFolder(out);
    }
    ~Sandbox()
    {
        try {
            fs::RemoveTree(root);
        } catch (const TesseraError&) {
        }
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
};

void ExpectEntries(const std::string& folder, const std::vector<std::string>& expected)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    if (names != expected)
        Fault("unexpected contents of " + folder);
}

// Every path under root is one of the fixed ones or a plain file directly inside out/.
void CheckSandbox(const Sandbox& s)
{
    ExpectEntries(s.root, {"box", "pkg"});
    ExpectEntries(s.root + "pkg", {"p.dir", "p.zpk"});
    ExpectEntries(s.box, {"out"});
    for (const auto& e : std::filesystem::directory_iterator(s.out))
        if (!e.is_regular_file() || e.is_symlink())
            Fault("not a plain file in the target folder: " + e.path().string());
}

void EmptyTarget(const Sandbox& s)
{
    for (const std::string& name : fs::ListFiles(s.out))
        fs::DeleteFile(s.out + name);
}

std::vector<std::byte> Bytes(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::byte> b(size);
    if (size != 0)
        std::memcpy(b.data(), data, size);
    return b;
}

// After a passed check: one file per distinct name (letter case ignored), named as the first
// entry with that name, holding exactly the bytes of the last one.
void CheckExtracted(const Sandbox& s, modArchive& archive, const std::vector<std::byte>& zpk)
{
    struct Expected {
        std::string name;
        std::vector<std::byte> bytes;
    };
    std::map<std::string, Expected> expected;
    for (const auto& entry : archive.colImgFiles()) {
        const std::string name = EntryFileName(*entry);
        const auto first = zpk.begin() + entry->lOffset();
        std::vector<std::byte> bytes(first, first + entry->lSize());
        auto [it, inserted] = expected.try_emplace(LowerAscii(name), Expected{name, {}});
        it->second.bytes = std::move(bytes);
    }
    const std::vector<std::string> files = fs::ListFiles(s.out);
    if (files.size() != expected.size())
        Fault(std::to_string(files.size()) + " files extracted for " + std::to_string(expected.size()) + " names");
    for (const std::string& file : files) {
        const auto it = expected.find(LowerAscii(file));
        if (it == expected.end() || it->second.name != file)
            Fault("unexpected file name " + PrintableName(file));
        if (fs::ReadWholeFile(s.out + file) != it->second.bytes)
            Fault("wrong bytes in " + PrintableName(file));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    static Sandbox s;
    const std::size_t rest = size - 2;
    const std::size_t dirLength = (static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8)) % (rest + 1);
    const std::vector<std::byte> dir = Bytes(data + 2, dirLength);
    const std::vector<std::byte> zpk = Bytes(data + 2 + dirLength, rest - dirLength);
    fs::WriteWholeFile(s.base + ".dir", dir);
    fs::WriteWholeFile(s.base + ".zpk", zpk);

    // The file reader and the in-memory reader agree record for record.
    const std::vector<DirRecord> records = ParseDirectory(dir);
    modArchive archive;
    archive.ReadDirectory(s.base);
    if (archive.colImgFiles().Count() != records.size() || static_cast<std::int64_t>(records.size()) != RecordCount(static_cast<std::int64_t>(dir.size())))
        Fault("record counts disagree");
    for (std::size_t i = 0; i < records.size(); ++i) {
        const clsImgFile& entry = *archive.colImgFiles()[i];
        if (entry.sId() != std::to_string(i) || entry.sName().size() != kNameSize || entry.lOffset() != records[i].lOffset
            || entry.lSize() != records[i].lSize || TrimSpaces(entry.sName()) != TrimSpaces(RecordName(records[i].sName)))
            Fault("record " + std::to_string(i) + " read differently");
    }

    // Entries sharing their bytes, wholly or in part, are no reason to refuse: only what the
    // extraction below would trip on is.
    bool checked = true;
    try {
        CheckPackage(s.base);
    } catch (const TesseraError& e) {
        if (e.Kind() != ErrorKind::BadPackage && e.Kind() != ErrorKind::UnsafeName)
            Fault(std::string("unexpected refusal: ") + e.what());
        checked = false;
    }

    if (checked) {
        try {
            for (const auto& entry : archive.colImgFiles())
                archive.ExtractEntry(*entry, s.out);
        } catch (const TesseraError& e) {
            Fault(std::string("a checked package failed to extract: ") + e.what());
        }
        CheckSandbox(s);
        CheckExtracted(s, archive, zpk);
    } else {
        // Extraction refuses on its own what the check refused, whoever calls it.
        bool allExtracted = true;
        for (const auto& entry : archive.colImgFiles()) {
            try {
                archive.ExtractEntry(*entry, s.out);
            } catch (const TesseraError& e) {
                if (e.Kind() != ErrorKind::BadPackage && e.Kind() != ErrorKind::UnsafeName && e.Kind() != ErrorKind::Overflow)
                    Fault(std::string("unexpected extraction failure: ") + e.what());
                allExtracted = false;
            }
        }
        // A .dir cut inside a record is damaged though its whole records may extract.
        const bool partialRecord = dir.size() % kRecordSize != 0;
        if (allExtracted && !partialRecord)
            Fault("the check refused a package whose every entry extracts");
        CheckSandbox(s);
    }
    EmptyTarget(s);
    return 0;
}
