// Archive layer: directory reading, extraction, renaming and appending, byte for byte, and what
// a damaged or hostile package gets.
#include "Archive.h"
#include "FileSystem.h"
#include "GameRules.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

using namespace tessera;
using namespace tessera::test;
using namespace std::string_literals;

namespace {

template <class F>
std::optional<TesseraError> ErrorOf(F&& f)
{
    try {
        f();
    } catch (const TesseraError& e) {
        return e;
    }
    return std::nullopt;
}



std::string Padded(std::string_view name) { return std::string(name) + std::string(kNameSize - name.size(), ' '); }

// A package pkg.dir + pkg.zpk and an empty target folder out/, side by side in one root.
struct Sandbox {
    TempDir root;
    std::string base = root / "pkg";
    std::string out = root / "out/";

    Sandbox() { fs::CreateFolder(out); }

    // Writes the package's two files and reads its directory into archive.
    void Open(modArchive& archive, const Bytes& zpk, const Bytes& dir) const
    {
        WriteFile(base + ".zpk", zpk);
        WriteFile(base + ".dir", dir);
        archive.ReadDirectory(base);
    }

    // Everything under the root besides the package and the target folder itself.
    std::vector<std::string> Written() const
    {
        std::vector<std::string> r = Tree(root.Path());
        std::erase_if(r, [](const std::string& p) { return p == "pkg.dir" || p == "pkg.zpk" || p == "out/"; });
        return r;
    }
};

} // namespace

// ---- Directory reading ---------------------------------------------------------------------

TEST(ReadDirectory, CountsRecordsAndKeepsOrder)
{
    TempDir dir;
    WriteFile(dir / "a.dir", Concat({Record(1, 2, "car.dff"), Record(-3, -4, "ab\0cd", '\0')}));
    modArchive archive;
    archive.ReadDirectory(dir / "a");
    ASSERT_EQ(archive.colImgFiles().Count(), 2u);
    EXPECT_EQ(archive.colImgFiles()[0]->sName(), "car.dff" + std::string(17, ' '));
    EXPECT_EQ(archive.colImgFiles()[0]->sId(), "0");
    EXPECT_EQ(archive.colImgFiles()[1]->lOffset(), -3);
    EXPECT_EQ(archive.colImgFiles()[1]->lSize(), -4);
    EXPECT_EQ(archive.sArchiveBase, dir / "a");
}

TEST(ReadDirectory, RecordCountFollowsLengthWithHalvesToEven)
{
    // A trailing piece of fewer than 16 bytes is ignored, more than 16 counts; exactly 16 counts
    // when the rounding of length / 32 - 1 goes up to the even neighbour.
    struct Row {
        std::size_t length;
        std::size_t records;
    };
    static constexpr Row kRows[] = {{0, 0},  {15, 0}, {16, 1}, {17, 1},  {31, 1},  {32, 1},  {47, 1}, {48, 1},
                                    {49, 2}, {64, 2}, {80, 3}, {111, 3}, {112, 3}, {113, 4}, {144, 5}};
    TempDir dir;
    for (const Row& row : kRows) {
        SCOPED_TRACE("length " + std::to_string(row.length));
        WriteFile(dir / "a.dir", Pattern(row.length));
        modArchive archive;
        archive.ReadDirectory(dir / "a");
        ASSERT_EQ(archive.colImgFiles().Count(), row.records);
        for (std::size_t i = 0; i < row.records; ++i)
            EXPECT_EQ(archive.colImgFiles().Fetch(std::to_string(i)).get(), archive.colImgFiles()[i].get());
    }
}

TEST(ReadDirectory, TrailingPartialRecordReadsMissingBytesAsZero)
{
    TempDir dir;
    const Bytes tail = Record(0x01020304, 0x05060708, "abcdefghijklmnop");
    WriteFile(dir / "a.dir", Concat({Record(1, 2, "first.dff"), Slice(tail, 0, 17)}));   // 49 bytes
    modArchive archive;
    archive.ReadDirectory(dir / "a");
    ASSERT_EQ(archive.colImgFiles().Count(), 2u);
    EXPECT_EQ(archive.colImgFiles()[1]->lOffset(), 0x01020304);
    EXPECT_EQ(archive.colImgFiles()[1]->lSize(), 0x05060708);
    EXPECT_EQ(archive.colImgFiles()[1]->sName(), Padded("abcdefghi"));

    WriteFile(dir / "a.dir", Concat({Record(1, 2, "a"), Record(3, 4, "b"), Slice(tail, 0, 16)}));   // 80 bytes
    archive.ReadDirectory(dir / "a");
    ASSERT_EQ(archive.colImgFiles().Count(), 3u);
    EXPECT_EQ(archive.colImgFiles()[2]->sId(), "2");
    EXPECT_EQ(archive.colImgFiles()[2]->sName(), Padded("abcdefgh"));
}

TEST(ReadDirectory, RecordCountOverflowsPast32BitPositions)
{
    const std::int64_t limit = kMaxRecords * static_cast<std::int64_t>(kRecordSize);
    EXPECT_EQ(RecordCount(limit), kMaxRecords);
    EXPECT_EQ(RecordCount(limit + 15), kMaxRecords);
    for (std::int64_t length : {limit + 16, limit + 17, limit + 32}) {
        SCOPED_TRACE(length);
        const auto e = ErrorOf([&] { RecordCount(length); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Kind(), ErrorKind::Overflow);
    }
}

TEST(ReadDirectory, NameIsFieldUpToFirstNulCleanedAndFilledWithSpaces)
{
    struct Row {
        std::string field;   // the record's 24 name bytes, NUL-filled after these
        std::string name;    // sName without its trailing fill
        const char* why;
    };
    const Row rows[] = {
        {"car.dff", "car.dff", "NUL fill becomes space fill"},
        {"car.dff" + std::string(17, ' '), "car.dff", "space fill stays"},
        {"ab\0cd"s, "ab", "the name ends at its first NUL"},
        {"car.dff\0\xff\x41\x42 junk"s, "car.dff", "what follows a NUL is padding"},
        {"\0car.dff"s, "", "a leading NUL leaves no name"},
        {"\x10" "car" "\x10" ".dff", "car.dff", "code 16 is dropped anywhere"},
        {"a\tb.dff", "a\tb.dff", "a tab stays"},
        {"  car.dff", "  car.dff", "leading spaces stay"},
        {std::string(24, ' '), "", "24 spaces"},
        {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx", "24 characters, no terminator"},
        {"caf\xe9.txd", "caf\xe9.txd", "bytes above 127 pass unchanged"},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        WriteFile(dir / "a.dir", Record(0, 1, row.field));
        modArchive archive;
        archive.ReadDirectory(dir / "a");
        ASSERT_EQ(archive.colImgFiles().Count(), 1u);
        EXPECT_EQ(archive.colImgFiles()[0]->sName(), Padded(row.name));
    }
}

TEST(ReadDirectory, MissingDirectoryFailsAfterResettingState)
{
    TempDir dir;
    WriteFile(dir / "a.dir", Record(0, 1, "car.dff"));
    modArchive archive;
    archive.ReadDirectory(dir / "a");
    ASSERT_EQ(archive.colImgFiles().Count(), 1u);

    const auto e = ErrorOf([&] { archive.ReadDirectory(dir / "missing"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), ErrorKind::FileNotFound);
    EXPECT_NE(std::string(e->what()).find("missing.dir"), std::string::npos) << e->what();
    EXPECT_TRUE(archive.colImgFiles().Empty());
    EXPECT_EQ(archive.sArchiveBase, dir / "missing");
}

TEST(Names, CleanNameAndSpacesToNuls)
{
    EXPECT_EQ(CleanName("a\0b\x10" "c\0\0"s), "abc");
    EXPECT_EQ(CleanName("a b\tc "), "a b\tc ");
    EXPECT_EQ(CleanName(""), "");
    EXPECT_EQ(SpacesToNuls("my car.dff "), "my\0car.dff\0"s);
    EXPECT_EQ(SpacesToNuls("a\tb\x10"), "a\tb\x10");

    // Both walk with a signed 16-bit counter.
    EXPECT_EQ(CleanName(std::string(32766, 'a')).size(), 32766u);
    EXPECT_EQ(SpacesToNuls(std::string(32766, ' ')), std::string(32766, '\0'));
    for (auto routine : {+[](std::string_view s) { return CleanName(s); }, +[](std::string_view s) { return SpacesToNuls(s); }}) {
        const auto e = ErrorOf([&] { routine(std::string(32767, 'a')); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Kind(), ErrorKind::Overflow);
    }
}

// ---- Extraction --------------------------------------------------------------------------------

TEST(ExtractEntry, WritesExactlyTheEntryBytesUnderItsName)
{
    Sandbox box;
    const Bytes zpk = Pattern(200);
    modArchive archive;
    box.Open(archive, zpk, Record(100, 5, "car.dff"));
    archive.ExtractEntry(*archive.colImgFiles()[0], box.out);
    EXPECT_EQ(box.Written(), std::vector<std::string>{"out/car.dff"});
    EXPECT_EQ(ReadFile(box.out + "car.dff"), Slice(zpk, 100, 5));
    EXPECT_EQ(archive.colImgFiles()[0]->sName(), Padded("car.dff"));
}

TEST(ExtractEntry, FileNameIsTheNameUpToItsFirstSpace)
{
    struct Row {
        std::string field;
        char fill;
        std::string file;
    };
    const Row rows[] = {
        {"car.dff", '\0', "car.dff"},
        {"car.dff", ' ', "car.dff"},
        {"my car.dff", '\0', "my"},
        {"abcdefghijklmnopqrstuvwx", '\0', "abcdefghijklmnopqrstuvwx"},
        {"caf\xe9.txd", '\0', "caf\xe9.txd"},
        {"car\x10.dff", '\0', "car.dff"},
        {"ab\0cd"s, '\0', "ab"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(PrintableName(row.field) + " fill " + std::to_string(row.fill));
        Sandbox box;
        const Bytes zpk = Pattern(10, 7);
        modArchive archive;
        box.Open(archive, zpk, Record(2, 3, row.field, row.fill));
        archive.ExtractEntry(*archive.colImgFiles()[0], box.out);
        EXPECT_EQ(fs::ListFiles(box.out), std::vector<std::string>{row.file});
        EXPECT_EQ(box.Written().size(), 1u);
        EXPECT_EQ(ReadFile(box.out + row.file), Slice(zpk, 2, 3));
    }
}

TEST(ExtractEntry, EmptyEntryGivesEmptyFile)
{
    Sandbox box;
    modArchive archive;
    box.Open(archive, Pattern(4), Record(4, 0, "empty.dat"));
    archive.ExtractEntry(*archive.colImgFiles()[0], box.out);
    EXPECT_EQ(box.Written(), std::vector<std::string>{"out/empty.dat"});
    EXPECT_TRUE(ReadFile(box.out + "empty.dat").empty());
}

TEST(ExtractEntry, LaterEntryOfSameNameReplacesFileWholeKeepingFirstLetterCase)
{
    Sandbox box;
    const Bytes zpk = Pattern(30, 3);
    modArchive archive;
    box.Open(archive, zpk, Concat({Record(0, 20, "Car.DFF"), Record(20, 4, "car.dff"), Record(24, 6, "CAR.dff ignored")}));
    archive.ExtractEntry(*archive.colImgFiles()[0], box.out);
    archive.ExtractEntry(*archive.colImgFiles()[1], box.out);
    EXPECT_EQ(box.Written(), std::vector<std::string>{"out/Car.DFF"});
    EXPECT_EQ(ReadFile(box.out + "Car.DFF"), Slice(zpk, 20, 4));   // no tail of the 20 bytes
    archive.ExtractEntry(*archive.colImgFiles()[2], box.out);
    EXPECT_EQ(fs::ListFiles(box.out), std::vector<std::string>{"Car.DFF"});   // "CAR.dff": up to the space
    EXPECT_EQ(ReadFile(box.out + "Car.DFF"), Slice(zpk, 24, 6));
}

TEST(ExtractEntry, TargetFolderResolvesIgnoringLetterCase)
{
    Sandbox box;
    modArchive archive;
    box.Open(archive, Pattern(8), Record(0, 8, "car.dff"));
    archive.ExtractEntry(*archive.colImgFiles()[0], box.root.Path() + "OUT\\");
    EXPECT_EQ(box.Written(), std::vector<std::string>{"out/car.dff"});
}

TEST(ExtractEntry, RefusesOverflowDamageAndMissingDataWritingNothing)
{
    struct Row {
        std::int32_t offset;
        std::int32_t size;
        ErrorKind kind;
        bool writeZpk;
    };
    static constexpr Row kRows[] = {
        {2147483647, 1, ErrorKind::Overflow, true},       // start position + 1
        {0, -2147483648, ErrorKind::Overflow, true},      // last index lSize - 1
        {2147483647, 0, ErrorKind::Overflow, false},      // before the data file is even opened
        {96, 5, ErrorKind::BadPackage, true},             // one byte past the end of 100
        {0, 101, ErrorKind::BadPackage, true},
        {-1, 1, ErrorKind::BadPackage, true},
        {1, -1, ErrorKind::BadPackage, true},
        {0, 1, ErrorKind::FileNotFound, false},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::to_string(row.offset) + ", " + std::to_string(row.size));
        Sandbox box;
        if (row.writeZpk)
            WriteFile(box.base + ".zpk", Pattern(100));
        WriteFile(box.base + ".dir", Record(row.offset, row.size, "car.dff"));
        modArchive archive;
        archive.ReadDirectory(box.base);
        const auto e = ErrorOf([&] { archive.ExtractEntry(*archive.colImgFiles()[0], box.out); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Kind(), row.kind) << e->what();
        EXPECT_TRUE(box.Written().empty());
    }
}

// ---- Package checking: damaged and hostile packages ----------------------------------------------

namespace {

struct Hostile {
    std::string field;   // the name bytes of the record, NUL-filled
    const char* why;     // part of the reason the message gives
};

// Names that must never reach the file system, each with why.
const std::vector<Hostile>& HostileNames()
{
    static const std::vector<Hostile> rows = {
        {"", "the name is empty"},
        {" car.dff", "the name is empty"},   // the name ends at its first space
        {"\x10\x10", "the name is empty"},   // code 16 is dropped first
        {".", "the name is ."},
        {"..", "the name is .."},
        {".. car.dff", "the name is .."},
        {"../evil.dff", "path separator"},
        {"..\\evil.dff", "path separator"},
        {"/etc/passwd", "path separator"},
        {"sub\\car.dff", "path separator"},
        {"\\\\server\\x", "path separator"},
        {"C:car.dff", "drive colon"},
        {"car.dff:stream", "drive colon"},
        {"a\x01.dff", "control character"},
        {"a\t.dff", "control character"},
        {"a\x1f.dff", "control character"},
        {"a\x7f.dff", "control character"},
        {"a<b.dff", "character <"},
        {"a>b.dff", "character >"},
        {"a\"b.dff", "character \""},
        {"a|b.dff", "character |"},
        {"a?b.dff", "character ?"},
        {"a*.dff", "character *"},
        {"car.", "ends in a dot"},
        {"car..", "ends in a dot"},
        {"...", "ends in a dot"},
        {"CON", "reserved device name CON"},
        {"con.txd", "reserved device name CON"},
        {"con car.dff", "reserved device name CON"},   // cut at the space
        {"CON\x10", "reserved device name CON"},
        {"Prn.dat", "reserved device name PRN"},
        {"aux", "reserved device name AUX"},
        {"NUL.tar.gz", "reserved device name NUL"},
        {"conin$", "reserved device name CONIN$"},
        {"CONOUT$.dff", "reserved device name CONOUT$"},
        {"COM1", "reserved device name COM1"},
        {"com9.ifp", "reserved device name COM9"},
        {"LPT1", "reserved device name LPT1"},
        {"lpt9.anm", "reserved device name LPT9"},
        {"COM\xb9", "reserved device name COM\xb9"},
        {"lpt\xb2.txd", "reserved device name LPT\xb2"},
        {"Com\xb3.dff", "reserved device name COM\xb3"},
    };
    return rows;
}

} // namespace

TEST(CheckPackage, HostileNamesAreRefusedAndNothingIsWritten)
{
    for (const Hostile& row : HostileNames()) {
        SCOPED_TRACE(PrintableName(row.field) + ": " + row.why);
        Sandbox box;
        WriteFile(box.base + ".zpk", Pattern(8));
        WriteFile(box.base + ".dir", Concat({Record(0, 4, "good.dff"), Record(4, 4, row.field)}));

        const auto checked = ErrorOf([&] { CheckPackage(box.base); });
        ASSERT_TRUE(checked);
        EXPECT_EQ(checked->Kind(), ErrorKind::UnsafeName);
        const std::string message = checked->what();
        EXPECT_NE(message.find("pkg.dir, entry 1 ("), std::string::npos) << message;
        EXPECT_NE(message.find(row.why), std::string::npos) << message;

        // ExtractEntry refuses it on its own too, wherever the caller points it.
        modArchive archive;
        archive.ReadDirectory(box.base);
        for (const std::string& folder : {box.out, box.out + "deeper\\", box.root.Path()}) {
            const auto extracted = ErrorOf([&] { archive.ExtractEntry(*archive.colImgFiles()[1], folder); });
            ASSERT_TRUE(extracted);
            EXPECT_EQ(extracted->Kind(), ErrorKind::UnsafeName);
        }
        EXPECT_TRUE(box.Written().empty());
    }
}

TEST(CheckPackage, NamesThatOnlyLookHostileAreAccepted)
{
    for (const std::string name : {"COM10", "LPT10.txd", "COMA", "CONSOLE.txd", "nul_car.dff", "auxiliary", "com\xb4",
                                   ".hidden", "a.b.c", "caf\xe9.txd", "\x80\x9f\xa0\xff", "abcdefghijklmnopqrstuvwx"}) {
        SCOPED_TRACE(name);
        Sandbox box;
        const Bytes zpk = Pattern(5);
        WriteFile(box.base + ".zpk", zpk);
        WriteFile(box.base + ".dir", Record(0, 5, name));
        EXPECT_NO_THROW(CheckPackage(box.base));
        EXPECT_FALSE(UnsafeNameReason(name));
        modArchive archive;
        archive.ReadDirectory(box.base);
        archive.ExtractEntry(*archive.colImgFiles()[0], box.out);
        EXPECT_EQ(box.Written(), std::vector<std::string>{"out/" + name});
        EXPECT_EQ(ReadFile(box.out + name), zpk);
    }
}

TEST(CheckPackage, EntriesOutsideTheDataFileAreRefusedAsDamaged)
{
    struct Row {
        std::int32_t offset;
        std::int32_t size;
        const char* why;   // empty: accepted
    };
    static constexpr Row kRows[] = {
        {-1, 1, "the data offset is negative (-1)"},
        {-2147483647 - 1, 0, "the data offset is negative"},
        {0, -1, "the data size is negative (-1)"},
        {0, -2147483647 - 1, "the data size is negative"},
        {96, 5, "data runs past the end of pkg.zpk"},
        {100, 1, "data runs past the end of pkg.zpk"},
        {0, 101, "data runs past the end of pkg.zpk"},
        {2147483647, 1, "data runs past the end of pkg.zpk"},
        {2147483647, 2147483647, "data runs past the end of pkg.zpk"},   // wraps in 32 bits
        {2, 98, ""},   // up to the last byte
        {0, 100, ""},   // the whole file, sharing bytes with a.dff and b.dff
        {99, 1, ""},
        {100, 0, ""},
        {0, 0, ""},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::to_string(row.offset) + ", " + std::to_string(row.size));
        Sandbox box;
        WriteFile(box.base + ".zpk", Pattern(100));
        WriteFile(box.base + ".dir", Concat({Record(0, 1, "a.dff"), Record(1, 1, "b.dff"), Record(row.offset, row.size, "car.dff")}));
        const auto e = ErrorOf([&] { CheckPackage(box.base); });
        if (*row.why == '\0') {
            EXPECT_FALSE(e) << e->what();
            continue;
        }
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Kind(), ErrorKind::BadPackage);
        EXPECT_NE(std::string(e->what()).find("pkg.dir, entry 2 (car.dff): " + std::string(row.why)), std::string::npos) << e->what();
    }
}

TEST(CheckPackage, MissingFilesAreNamed)
{
    Sandbox box;
    auto e = ErrorOf([&] { CheckPackage(box.base); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), ErrorKind::FileNotFound);
    EXPECT_NE(std::string(e->what()).find("pkg.dir"), std::string::npos) << e->what();

    WriteFile(box.base + ".dir", Record(0, 0, "a.dff"));
    e = ErrorOf([&] { CheckPackage(box.base); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Kind(), ErrorKind::FileNotFound);
    EXPECT_NE(std::string(e->what()).find("pkg.zpk"), std::string::npos) << e->what();
}

// ---- Renaming ------------------------------------------------------------------------------------

TEST(RenameEntry, RewritesMatchingRecordsWithSpaceFillInPlace)
{
    TempDir dir;
    const std::string base = dir / "gta3";
    WriteFile(base + ".dir", Concat({Record(0, 1, "a.txd"), Record(1, 2, "car.dff"), Record(3, 1, "b.txd", ' ')}));
    modArchive archive;
    archive.ReadDirectory(base);
    archive.RenameEntry("car.dff", "car.dff.old");
    EXPECT_EQ(ReadFile(base + ".dir"), Concat({Record(0, 1, "a.txd"), Record(1, 2, "car.dff.old", ' '), Record(3, 1, "b.txd", ' ')}));
    EXPECT_EQ(archive.colImgFiles()[1]->sName(), Padded("car.dff.old"));
    EXPECT_EQ(archive.colImgFiles()[1]->lOffset(), 1);
    EXPECT_EQ(archive.colImgFiles()[1]->lSize(), 2);
}

TEST(RenameEntry, SearchIgnoresCaseFillAndPaddingAndRenamesEveryMatch)
{
    TempDir dir;
    const std::string base = dir / "gta3";
    const Bytes untouched = Record(9, 9, "car.dffx");
    WriteFile(base + ".dir", Concat({Record(5, 6, "car.dff"), Record(7, 8, "CAR.DFF", ' '), untouched,
                                     Record(1, 1, "car.dff\0ZZZZ"s), Record(2, 2, "car\x10.dff")}));
    modArchive archive;
    archive.ReadDirectory(base);
    archive.RenameEntry(" car.dff", "x");   // the search name is not trimmed: no match
    archive.RenameEntry("car.dff ", "x");
    archive.RenameEntry("Car.Dff", "car.dff.old");
    EXPECT_EQ(ReadFile(base + ".dir"), Concat({Record(5, 6, "car.dff.old", ' '), Record(7, 8, "car.dff.old", ' '), untouched,
                                               Record(1, 1, "car.dff.old", ' '), Record(2, 2, "car.dff.old", ' ')}));
}

TEST(RenameEntry, LongNamesLoseTheSuffixToTheCut)
{
    for (std::size_t length : {20u, 21u, 23u, 24u}) {
        SCOPED_TRACE(length);
        TempDir dir;
        const std::string base = dir / "gta3";
        const std::string name = std::string(length - 4, 'n') + ".dff";
        WriteFile(base + ".dir", Record(4, 5, name));
        modArchive archive;
        archive.ReadDirectory(base);
        archive.RenameEntry(name, name + ".old");
        const std::string written = (name + ".old").substr(0, kNameSize);
        EXPECT_EQ(ReadFile(base + ".dir"), Record(4, 5, written, ' '));
    }
}

// ---- Appending -----------------------------------------------------------------------------------

namespace {

struct ArchiveFixture {
    TempDir dir;
    std::string base = dir / "txd";
    Bytes img;
    Bytes directory = Record(0, 1, "old.txd");

    explicit ArchiveFixture(std::size_t imgLength) : img(Pattern(imgLength, 5))
    {
        WriteFile(base + ".img", img);
        WriteFile(base + ".dir", directory);
    }
    bool Unchanged() const { return ReadFile(base + ".img") == img && ReadFile(base + ".dir") == directory; }
};

} // namespace

TEST(AddFile, AppendsWholeBlocksAndOneNulFilledRecord)
{
    struct Row {
        std::size_t fileLength;
        std::size_t imgLength;
        std::int32_t offset;   // blocks
        std::int32_t blocks;
    };
    static constexpr Row kRows[] = {
        {1, 4096, 2, 1},   {2047, 4096, 2, 1}, {2048, 4096, 2, 1}, {2049, 4096, 2, 2}, {1, 10240, 5, 1},
        {4096, 0, 0, 2},   {1, 10241, 6, 1},   {5000, 10239, 5, 3}, {1, 1, 1, 1},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE("file " + std::to_string(row.fileLength) + ", img " + std::to_string(row.imgLength));
        ArchiveFixture archiveFiles(row.imgLength);
        const Bytes file = Pattern(row.fileLength, 9);
        WriteFile(archiveFiles.dir / "car.dff", file);
        modArchive archive;
        archive.ReadDirectory(archiveFiles.base);
        archive.AddFile(archiveFiles.dir / "car.dff", "car.dff");

        // An unaligned .img is filled with zeros up to its next block, then the file, then zeros.
        const std::size_t start = static_cast<std::size_t>(row.offset) * 2048;
        const std::size_t end = start + static_cast<std::size_t>(row.blocks) * 2048;
        EXPECT_EQ(ReadFile(archiveFiles.base + ".img"),
                  Concat({archiveFiles.img, Zeros(start - row.imgLength), file, Zeros(end - start - row.fileLength)}));
        EXPECT_EQ(ReadFile(archiveFiles.base + ".dir"), Concat({archiveFiles.directory, Record(row.offset, row.blocks, "car.dff")}));
        EXPECT_EQ(archive.colImgFiles().Count(), 1u);   // the new record is not added in memory
    }
}

TEST(AddFile, NameFieldIsCutAndNulFilledWithSpacesAsNul)
{
    struct Row {
        std::string entryName;
        std::string field;   // all 24 bytes
    };
    const Row rows[] = {
        {"car.dff", "car.dff" + std::string(17, '\0')},
        {"my car.dff", "my\0car.dff"s + std::string(14, '\0')},
        {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx"},
        {"abcdefghijklmnopqrstuvwxyz.dff", "abcdefghijklmnopqrstuvwx"},
        {"caf\xe9.txd", "caf\xe9.txd" + std::string(16, '\0')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entryName);
        ArchiveFixture archiveFiles(2048);
        WriteFile(archiveFiles.dir / "file", Pattern(3));
        modArchive archive;
        archive.ReadDirectory(archiveFiles.base);
        archive.AddFile(archiveFiles.dir / "file", row.entryName);
        EXPECT_EQ(Slice(ReadFile(archiveFiles.base + ".dir"), 32, 32), Record(1, 1, row.field));
    }
}

TEST(AddFile, RefusalsWriteNothing)
{
    struct Row {
        const char* why;
        std::size_t fileLength;    // the file to add; npos: missing
        bool imgMissing;
        std::size_t dirLength;     // 32: the one record as set up
        ErrorKind kind;
    };
    static constexpr std::size_t kMissing = std::string::npos;
    static constexpr Row kRows[] = {
        {"empty file", 0, false, 32, ErrorKind::EmptyFile},
        {"file missing", kMissing, false, 32, ErrorKind::FileNotFound},
        {".img missing", 10, true, 32, ErrorKind::FileNotFound},
        {".dir of a partial record", 10, false, 33, ErrorKind::BadArchive},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.why);
        ArchiveFixture archiveFiles(4096);
        modArchive archive;
        archive.ReadDirectory(archiveFiles.base);
        if (row.fileLength != kMissing)
            WriteFile(archiveFiles.dir / "car.dff", Pattern(row.fileLength));
        if (row.imgMissing) {
            fs::DeleteFile(archiveFiles.base + ".img");
            archiveFiles.img.clear();
        }
        if (row.dirLength != kRecordSize) {
            archiveFiles.directory.resize(row.dirLength, std::byte{0x41});
            WriteFile(archiveFiles.base + ".dir", archiveFiles.directory);
        }
        const auto e = ErrorOf([&] { archive.AddFile(archiveFiles.dir / "car.dff", "car.dff"); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Kind(), row.kind) << e->what();
        if (row.imgMissing)
            EXPECT_FALSE(fs::PathExists(archiveFiles.base + ".img"));
        else
            EXPECT_TRUE(archiveFiles.Unchanged());
    }
}

// The files are made sparse so that 2 GiB positions and sizes cost no real data.
TEST(AddFile, PositionsAndSizesPast32BitsOverflowBeforeWriting)
{
    struct Row {
        std::int64_t imgLength;
        std::int64_t fileLength;
        std::int32_t offset;   // 0: overflow expected
    };
    static constexpr Row kRows[] = {
        {2147481600, 10, 1048575},   // the last block that starts within 32 bits
        {2147481601, 10, 0},         // filled up to 2^31 first
        {2147483647, 10, 0},
        {2147483648, 10, 0},
        {2048, 2147481601, 0},       // 1,048,576 blocks
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::to_string(row.imgLength) + ", " + std::to_string(row.fileLength));
        TempDir dir;
        const std::string base = dir / "gta3";
        fs::File(base + ".img", fs::OpenMode::Create).Truncate(row.imgLength);
        fs::File(dir / "car.dff", fs::OpenMode::Create).Truncate(row.fileLength);
        WriteFile(base + ".dir", Record(0, 1, "old.dff"));
        modArchive archive;
        archive.ReadDirectory(base);
        const auto e = ErrorOf([&] { archive.AddFile(dir / "car.dff", "car.dff"); });
        if (row.offset == 0) {
            ASSERT_TRUE(e);
            EXPECT_EQ(e->Kind(), ErrorKind::Overflow);
            EXPECT_EQ(fs::FileLength(base + ".img"), row.imgLength);
            EXPECT_EQ(ReadFile(base + ".dir"), Record(0, 1, "old.dff"));
        } else {
            ASSERT_FALSE(e) << e->what();
            EXPECT_EQ(fs::FileLength(base + ".img"), row.imgLength + 2048);
            EXPECT_EQ(ReadFile(base + ".dir"), Concat({Record(0, 1, "old.dff"), Record(row.offset, 1, "car.dff")}));
        }
    }
}

TEST(GameArchiveUpdate, InstallingTwiceKeepsEveryVersionUnderOld)
{
    struct Row {
        bool heldBefore;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {true, {"a.txd", "car.dff.old", "car.dff.old", "car.dff"}},
        {false, {"a.txd", "car.dff.old", "car.dff"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.heldBefore);
        TempDir dir;
        const std::string base = dir / "gta3";
        WriteFile(base + ".img", Pattern(4096));
        WriteFile(base + ".dir", row.heldBefore ? Concat({Record(0, 1, "a.txd"), Record(1, 1, "car.dff")}) : Record(0, 1, "a.txd"));
        WriteFile(dir / "car.dff", Pattern(10));
        modArchive archive;
        for (int install = 0; install < 2; ++install) {
            archive.ReadDirectory(base);
            archive.RenameEntry("car.dff", "car.dff.old");
            archive.AddFile(dir / "car.dff", "car.dff");
        }
        archive.ReadDirectory(base);
        std::vector<std::string> names;
        for (const auto& entry : archive.colImgFiles())
            names.push_back(TrimSpaces(entry->sName()));
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(archive.colImgFiles()[row.names.size() - 1]->sId(), std::to_string(row.names.size() - 1));
        EXPECT_EQ(archive.colImgFiles()[row.names.size() - 1]->lOffset(), 3);   // 2 blocks, then the first copy
    }
}

// ---- The game's reading rules ------------------------------------------------------------------

// One table of directories the game reads wrong or partly, each with the findings it must give,
// as rule@record, in record order.
TEST(GameRules, EveryBrokenRuleIsNamedWithItsRecord)
{
    struct Case {
        const char* why;
        std::size_t archive;   // into kGameArchives
        std::vector<Bytes> records;
        std::int64_t imgBlocks;
        std::vector<std::string> expected;
    };
    const std::size_t gta3 = 0, txd = 1, cuts = 2;
    const Case cases[] = {
        {"back to back: sound", gta3, {Record(0, 2, "car.dff"), Record(2, 1, "bike.dff"), Record(3, 4, "car.txd")}, 7, {}},
        {"stock layout with a set-aside entry between", gta3,
         {Record(0, 2, "car.dff"), Record(2, 1, "car.dff.old", ' '), Record(5, 1, "bike.dff"), Record(6, 1, "car.dff")}, 7,
         {"skipped@1", "ignored@3"}},
        {"a hole between chained records", gta3, {Record(0, 2, "car.dff"), Record(4, 1, "bike.dff")}, 5, {"chain-hole@1"}},
        {"chained records out of order", gta3, {Record(2, 1, "car.dff"), Record(0, 2, "bike.dff")}, 3, {"chain-hole@1"}},
        {"a skipped record breaks the chain", gta3, {Record(0, 2, "car.dff"), Record(9, 1, "x.col"), Record(4, 1, "bike.dff")}, 10,
         {"skipped@1"}},
        {"an ignored record breaks the chain", gta3, {Record(0, 2, "car.dff"), Record(9, 1, "CAR.DFF"), Record(4, 1, "bike.dff")}, 10,
         {"ignored@1"}},
        {"a record after an ignored one is chained to nothing", gta3,
         {Record(0, 1, "a.dff"), Record(1, 1, "A.dff"), Record(7, 1, "b.dff"), Record(8, 1, "c.dff")}, 9, {"ignored@1"}},
        {"extension forms the game skips", gta3,
         {Record(0, 1, "Car.Dff"), Record(1, 1, "car.dff.old"), Record(2, 1, "a.b.dff"), Record(3, 1, "noext"), Record(4, 1, "car.DFF")}, 5,
         {"skipped@0", "skipped@1", "skipped@2", "skipped@3"}},
        {"types are looked up apart", gta3, {Record(0, 1, "car.dff"), Record(1, 1, "car.txd"), Record(2, 1, "CAR.TXD")}, 3, {"ignored@2"}},
        {"data outside the .img", gta3, {Record(0, 2, "car.dff"), Record(2, 3, "bike.dff"), Record(-1, 1, "neg.dff")}, 4,
         {"outside@1", "outside@2", "chain-hole@2"}},
        {"records over each other's data", gta3, {Record(0, 3, "car.dff"), Record(9, 1, "x.col"), Record(1, 1, "bike.dff")}, 10,
         {"skipped@1", "overlap@2"}},
        {"texture names of 20 characters or more", txd,
         {Record(0, 1, "abcdefghijklmnopqrs.txd"), Record(1, 1, "abcdefghijklmnopqrst.txd"), Record(2, 1, "abcdefghijklmnopqrstuvwx")}, 3,
         {"texture-name@1", "unreadable-name@1", "unreadable-name@2"}},
        {"a model name of 24 characters is unreadable, no overflow", gta3, {Record(0, 1, "abcdefghijklmnopqrs.dff"), Record(1, 1, "abcdefghijklmnopqrst.dff")},
         2, {"unreadable-name@1"}},
        {"cut scenes: any extension, first of a name wins, no chains", cuts,
         {Record(0, 1, "intro.dat"), Record(5, 1, "end.ifp"), Record(2, 1, "INTRO.DAT"), Record(3, 1, "x.txt")}, 6, {"ignored@2"}},
        {"cut scenes: outside and overlapping", cuts, {Record(0, 2, "intro.dat"), Record(1, 1, "end.ifp"), Record(3, 1, "x.ifp")}, 3,
         {"overlap@1", "outside@2"}},
        {"empty records overlap nothing", gta3, {Record(0, 1, "a.dff"), Record(1, 0, "b.dff"), Record(1, 1, "c.dff")}, 2, {}},
        {"Tessera's record of unused space breaks the chain, unreported", gta3,
         {Record(0, 2, "car.dff"), Record(2, 3, "tessera.unused"), Record(5, 1, "bike.dff"), Record(6, 1, "a.dff")}, 7, {}},
        {"a record of unused space over other data", gta3, {Record(0, 3, "car.dff"), Record(2, 2, "tessera.unused"), Record(4, 1, "bike.dff")}, 5,
         {"overlap@1"}},
        {"a record of unused space outside the .img", txd, {Record(0, 1, "car.txd"), Record(1, 5, "tessera.unused")}, 3, {"outside@1"}},
        {"only the name as Tessera writes it is its own", gta3, {Record(0, 1, "a.dff"), Record(1, 1, "tessera.unused", ' '), Record(5, 1, "b.dff")}, 6,
         {"skipped@1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes dir;
        for (const Bytes& r : c.records)
            dir.insert(dir.end(), r.begin(), r.end());
        const GameArchive& archive = kGameArchives[c.archive];
        const auto findings = CheckGameRules(archive, ParseDirectory(dir), c.imgBlocks * kBlockSize);
        std::vector<std::string> got;
        for (const RuleFinding& f : findings) {
            got.push_back(f.rule + "@" + std::to_string(f.record));
            // Every report names the archive, the record and its name.
            EXPECT_TRUE(f.text.starts_with(std::string(archive.relative) + ".dir, record " + std::to_string(f.record) + " (" + f.name + "): "))
                << f.text;
            const bool error = f.rule == "outside" || f.rule == "overlap" || f.rule == "chain-hole" || f.rule == "texture-name";
            EXPECT_EQ(f.severity == RuleFinding::Severity::Error, error) << f.text;
        }
        EXPECT_EQ(got, c.expected);
    }

    // An archive of 2 GiB is read wrong whatever its records.
    const auto big = CheckGameRules(kGameArchives[0], {}, std::int64_t{1} << 31);
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].rule, "size");
    EXPECT_EQ(big[0].severity, RuleFinding::Severity::Warning);
    EXPECT_TRUE(CheckGameRules(kGameArchives[0], {}, (std::int64_t{1} << 31) - kBlockSize).empty());
}

TEST(GameRules, RoutingTableSendsEachExtensionToOneArchive)
{
    EXPECT_EQ(GameArchiveForFile("CAR.TXD")->relative, "models\\txd");
    EXPECT_EQ(GameArchiveForFile("car.dff")->relative, "models\\gta3");
    for (const char* name : {"a.anm", "a.DAT", "a.ifp"})
        EXPECT_EQ(GameArchiveForFile(name)->relative, "anim\\cuts") << name;
    for (const char* name : {"abc", "notes.txt", "dff", ".tx"})
        EXPECT_EQ(GameArchiveForFile(name), nullptr) << name;
    EXPECT_EQ(GameArchiveNamed("Models/GTA3"), &kGameArchives[0]);
    EXPECT_EQ(GameArchiveNamed("models\\gta3.img"), nullptr);
}
