// tessera-cli list, extract and pack, run as a separate process: exit status, output, and the
// exact bytes of what they write (or that they write nothing).
#include "Archive.h"
#include "FileSystem.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace tessera;
using namespace tessera::test;
using namespace std::string_literals;

namespace {

using Result = CommandResult;

Result Cli(const std::vector<std::string>& args) { return RunCommand(CliUnderTest(TESSERA_CLI), args); }



// A file made under its exact native name: some of these names hold a backslash.
void Touch(const std::string& path)
{
    std::ofstream(path, std::ios::binary) << "data";
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(CliPack, WritesEntriesInNameOrderAndExtractGivesThemBack)
{
    TempDir dir;
    fs::CreateFolder(dir / "src");
    const Bytes car = Pattern(5000, 1);
    const Bytes txd = Pattern(3, 2);
    const Bytes cafe = Pattern(2048, 3);
    WriteFile(dir / "src/car.dff", car);
    WriteFile(dir / "src/B.txd", txd);
    WriteFile(dir / "src/empty.dat", {});
    WriteFile(dir / "src/caf\xe9.txd", cafe);
    WriteFile(dir / "src/abcdefghijklmnopq.ifp", txd);   // 21 characters

    const Result packed = Cli({"pack", dir / "src", dir / "mod"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.err, "");
    // Name order ignoring letter case; names NUL-filled; entries back to back.
    EXPECT_EQ(ReadFile(dir / "mod.dir"), Concat({Record(0, 3, "abcdefghijklmnopq.ifp"), Record(3, 3, "B.txd"),
                                                 Record(6, 2048, "caf\xe9.txd"), Record(2054, 5000, "car.dff"),
                                                 Record(7054, 0, "empty.dat")}));
    EXPECT_EQ(ReadFile(dir / "mod.zpk"), Concat({txd, txd, cafe, car}));

    const Result listed = Cli({"list", dir / "mod.zpk"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "     0          0          3 abcdefghijklmnopq.ifp\n"
                          "     1          3          3 B.txd\n"
                          "     2          6       2048 caf\xe9.txd\n"
                          "     3       2054       5000 car.dff\n"
                          "     4       7054          0 empty.dat\n");

    const Result extracted = Cli({"extract", dir / "mod.zpk", dir / "out/new/deep"});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"new/", "new/deep/", "new/deep/B.txd", "new/deep/abcdefghijklmnopq.ifp",
                                                           "new/deep/caf\xe9.txd", "new/deep/car.dff", "new/deep/empty.dat"}));
    EXPECT_EQ(ReadFile(dir / "out/new/deep/car.dff"), car);
    EXPECT_EQ(ReadFile(dir / "out/new/deep/caf\xe9.txd"), cafe);
    EXPECT_TRUE(ReadFile(dir / "out/new/deep/empty.dat").empty());
}

TEST(CliList, PrintsRawNumbersOfAnyArchiveForm)
{
    TempDir dir;
    WriteFile(dir / "gta3.dir", Concat({Record(0, 2, "car.dff", ' '), Record(-1, -2147483647 - 1, "a\x01" "b\0junk"s),
                                        Record(2147483647, 7, " lead"), Slice(Record(5, 6, "partial.dff"), 0, 20)}));
    const std::string expected = "     0          0          2 car.dff\n"
                                 "     1         -1 -2147483648 a\\x01b\n"
                                 "     2 2147483647          7  lead\n"
                                 "     3          5          6 partial.dff\n";
    for (const std::string form : {"gta3", "gta3.dir", "gta3.img", "GTA3.IMG", "gta3.zpk"}) {
        SCOPED_TRACE(form);
        const Result r = Cli({"list", dir / form});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected);
    }
    WriteFile(dir / "empty.dir", {});
    const Result empty = Cli({"list", dir / "empty.img"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
}

TEST(CliExtract, RefusesDamagedOrUnsafePackageWritingNothing)
{
    struct Row {
        Bytes badRecord;   // the third record; the first two are good
        const char* message;
    };
    const Row rows[] = {
        {Record(0, 1, "../evil.dff"), "Unsafe package: mod.dir, entry 2 (../evil.dff): the name contains a path separator"},
        {Record(0, 1, "..\\evil.dff"), "the name contains a path separator"},
        {Record(0, 1, "C:evil.dff"), "the name contains a drive colon"},
        {Record(0, 1, "con.txd"), "the name is the reserved device name CON"},
        {Record(0, 1, "lpt\xb9"), "the name is the reserved device name LPT\xb9"},
        {Record(0, 1, ".."), "the name is .."},
        {Record(0, 1, " car.dff"), "the name is empty"},
        {Record(0, 1, "a\x1b" "b"), "entry 2 (a\\x1Bb): the name contains a control character"},
        {Record(0, 1, "car."), "the name ends in a dot"},
        {Record(0, 1, "a*b"), "the name contains the character *"},
        {Record(8, 3, "car.dff"), "Damaged package: mod.dir, entry 2 (car.dff): data runs past the end of mod.zpk"},
        {Record(-1, 1, "car.dff"), "the data offset is negative (-1)"},
        {Record(0, -1, "car.dff"), "the data size is negative (-1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        TempDir dir;
        WriteFile(dir / "mod.zpk", Pattern(10));
        WriteFile(dir / "mod.dir", Concat({Record(0, 5, "first.dff"), Record(5, 5, "second.dff"), row.badRecord}));
        const Result r = Cli({"extract", dir / "mod.zpk", dir / "out"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.err, row.message)) << r.err;
        EXPECT_EQ(Tree(dir.Path()), (std::vector<std::string>{"mod.dir", "mod.zpk"}));
    }
}

// Entries sharing bytes, whole or in part, each extract in full; a package that would unpack to
// more than the disk holds (names sharing one 2 GiB range of a sparse .zpk) writes nothing.
TEST(CliExtract, SharedBytesExtractInFullWithinTheDisksRoom)
{
    TempDir dir;
    const Bytes zpk = Pattern(16);
    WriteFile(dir / "mod.zpk", zpk);
    WriteFile(dir / "mod.dir", Concat({Record(0, 16, "a.dff"), Record(0, 16, "b.txd"), Record(4, 8, "c.dat")}));
    Result r = Cli({"extract", dir / "mod.zpk", dir / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"a.dff", "b.txd", "c.dat"}));
    EXPECT_EQ(ReadFile(dir / "out/a.dff"), zpk);
    EXPECT_EQ(ReadFile(dir / "out/b.txd"), zpk);
    EXPECT_EQ(ReadFile(dir / "out/c.dat"), Slice(zpk, 4, 8));

    TempDir big;
    constexpr std::int32_t kRange = 2147483647;
    const std::int64_t names = fs::FreeSpace(big.Path()) / kRange + 2;
    if (names > 100'000)
        GTEST_SKIP() << "the disk has too much room for this package to outgrow it";
    WriteFile(big / "mod.zpk", zpk);
    std::filesystem::resize_file(big / "mod.zpk", kRange);
    Bytes records;
    for (std::int64_t i = 0; i < names; ++i) {
        const Bytes record = Record(0, kRange, "f" + std::to_string(i) + ".dff");
        records.insert(records.end(), record.begin(), record.end());
    }
    WriteFile(big / "mod.dir", records);
    r = Cli({"extract", big / "mod.zpk", big / "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "tessera-cli extract: Not enough free space on the disk of ")) << r.err;
    EXPECT_EQ(Tree(big.Path()), (std::vector<std::string>{"mod.dir", "mod.zpk"}));
}

// Entries that extract to one file, by letter case or by the cut at the first space: the
// later one's bytes, each replaced entry named, the files written counted.
TEST(CliExtract, LaterEntryOfSameFileWinsAndIsToldAndExistingFolderIsUsed)
{
    TempDir dir;
    const Bytes zpk = Pattern(16);
    WriteFile(dir / "mod.zpk", zpk);
    WriteFile(dir / "mod.dir", Concat({Record(0, 10, "Car.dff"), Record(0, 3, "my car.dff"), Record(10, 2, "CAR.DFF"),
                                       Record(12, 4, "my bike.dff")}));
    fs::CreateFolder(dir / "Out");
    const Result r = Cli({"extract", dir / "mod.zpk", dir / "out"});   // resolves to Out
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Entry 0 (Car.dff) was replaced by entry 2 (CAR.DFF): both extract to the file CAR.DFF\n"
                     "Entry 1 (my car.dff) was replaced by entry 3 (my bike.dff): both extract to the file my\n"
                     "Extracted 4 entries into 2 files in " + (dir / "out") + "\n");
    EXPECT_EQ(Tree(dir / "Out"), (std::vector<std::string>{"Car.dff", "my"}));
    EXPECT_EQ(ReadFile(dir / "Out/Car.dff"), Slice(zpk, 10, 2));
    EXPECT_EQ(ReadFile(dir / "Out/my"), Slice(zpk, 12, 4));
}

TEST(CliPack, RefusesUnfitNamesNamingTheFileAndWritesNothing)
{
    struct Row {
        std::vector<std::string> files;
        std::string refused;   // the file the message names
        const char* why;
    };
    const Row rows[] = {
        {{"car.dff", "abcdefghijklmnopqrst.dff"}, "abcdefghijklmnopqrst.dff", "the name is longer than 23 characters"},
        {{"my car.dff"}, "my car.dff", "the name contains a space"},
        {{"car.dff", "con.txd"}, "con.txd", "the name is the reserved device name CON"},
        {{"COM\xb2.dat"}, "COM\xb2.dat", "the name is the reserved device name COM\xb2"},
        {{"car."}, "car.", "the name ends in a dot"},
        {{"a\x01.dff"}, "a\\x01.dff", "the name contains a control character"},
        {{"a\x10.dff"}, "a\\x10.dff", "the name contains a control character"},
        {{"a|b.dff"}, "a|b.dff", "the name contains the character |"},
        {{"a\\b.dff"}, "a\\b.dff", "the name contains a path separator"},
        {{"c:car.dff"}, "c:car.dff", "the name contains a drive colon"},
        {{"car.dff", "CAR.DFF"}, "car.dff", "the name differs from CAR.DFF only in letter case"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        TempDir dir;
        fs::CreateFolder(dir / "src");
        for (const auto& name : row.files)
            Touch(dir / "src/" + name);
        const Result r = Cli({"pack", dir / "src", dir / "mod"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.err, "Cannot pack " + dir / "src/" + row.refused + ": " + row.why)) << r.err;
        EXPECT_FALSE(fs::PathExists(dir / "mod.zpk"));
        EXPECT_FALSE(fs::PathExists(dir / "mod.dir"));
    }
}

TEST(CliPack, RefusesToPackItsOwnOutput)
{
    TempDir dir;
    fs::CreateFolder(dir / "src");
    WriteFile(dir / "src/car.dff", Pattern(4));
    ASSERT_EQ(Cli({"pack", dir / "src", dir / "src/mod"}).status, 0);   // listed before written
    const Bytes dirBytes = ReadFile(dir / "src/mod.dir");
    const Bytes zpkBytes = ReadFile(dir / "src/mod.zpk");
    EXPECT_EQ(dirBytes, Record(0, 4, "car.dff"));

    const Result again = Cli({"pack", dir / "src", dir / "src/mod"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(Contains(again.err, "it is the package being written")) << again.err;
    EXPECT_EQ(ReadFile(dir / "src/mod.dir"), dirBytes);
    EXPECT_EQ(ReadFile(dir / "src/mod.zpk"), zpkBytes);
}

TEST(Cli, UsageAndMissingFiles)
{
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    TempDir dir;
    fs::CreateFolder(dir / "empty");
    const Row rows[] = {
        {{"list"}, 2, "Usage: tessera-cli list ARCHIVE"},
        {{"list", "a", "b"}, 2, "Usage: tessera-cli list ARCHIVE"},
        {{"extract", dir / "mod.zpk"}, 2, "Usage: tessera-cli extract PACKAGE.zpk FOLDER"},
        {{"extract", dir / "mod.dir", dir / "out"}, 2, "Usage: tessera-cli extract PACKAGE.zpk FOLDER"},
        {{"pack", dir / "src"}, 2, "Usage: tessera-cli pack SOURCE BASE [--from FOLDER]"},
        {{"list", dir / "none.dir"}, 1, "none.dir: file not found"},
        {{"extract", dir / "none.zpk", dir / "out"}, 1, "none.dir was not found"},
        {{"pack", dir / "nowhere", dir / "mod"}, 1, "nowhere was not found"},
        {{"pack", dir / "empty", dir / "mod"}, 1, "holds no files to pack"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        const Result r = Cli(row.args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(Contains(r.err, row.message)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(Tree(dir.Path()), std::vector<std::string>{"empty/"});
}
