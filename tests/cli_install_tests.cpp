// tessera-cli install, check and recover as a script runs them: exit status, what it prints,
// and what reaches the game folder.
#include "FileSystem.h"
#include "Journal.h"
#include "Services.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>

using namespace tessera;
using namespace tessera::test;

namespace {

// A path inside the game folder as the tessera-cli under test names it: the Windows program,
// run under Wine through TESSERA_TEST_CLI, with its own separator.
std::string ShownByCli(const std::string& relative)
{
    std::string shown = relative;
    if (CliUnderTest("").find("wine") != std::string::npos)
        std::replace(shown.begin(), shown.end(), '/', '\\');
    return shown;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = MakeGameFolder(root.Path());
        fs::CreateFolder(root / "data");
        fs::CreateFolder(root / "config");
    }

    CommandResult Run(const std::vector<std::string>& args)
    {
        return RunCommand(CliUnderTest(TESSERA_CLI), args,
                          "XDG_DATA_HOME=" + ShellQuote(root / "data") + " XDG_CONFIG_HOME=" + ShellQuote(root / "config"));
    }

    TempDir root;
    std::string game;
};

} // namespace

TEST_F(Cli, InstallPrintsProgressAndMessagesAndExitsZero)
{
    WritePackage(root / "mod", {{"car.dff", ToBytes("car")}, {"default.dat", ToBytes("dat")}, {"notes.txt", ToBytes("n")}});
    // The folder without its trailing separator works too.
    const auto r = Run({"install", root / "mod.zpk", "--game", game.substr(0, game.size() - 1)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Installing mod.zpk\nInstalling car.dff\nInstalling default.dat\nInstalling notes.txt\nMod installed!\n");
    EXPECT_EQ(r.err, "Bad file: The file notes.txt is not supported by Tessera.\nPlease notify Orlen : " + std::string(kContactAddress) + "\n");
    EXPECT_EQ(ReadText(game + "data/default.dat"), "dat");
    EXPECT_EQ(ParseDirectory(ReadFile(game + "models/gta3.dir")).size(), 3u);
}

// Wrong input is said plainly: a package that is not there is named as such (not its .dir), and a
// folder without the game's archives is said to be no complete game folder, naming what it lacks.
TEST_F(Cli, InstallFailureExitsOneAndChangesNothing)
{
    WritePackage(root / "mod", {{"car.dff", ToBytes("car")}});
    const std::string lacking = "The game folder " + DisplayPath(game) + " does not look like a complete game folder: ";
    const std::string advice = "; give another game folder with --game FOLDER\n";
    const struct {
        std::vector<std::string> args;
        std::string missing;   // removed from the game folder first
        std::string err;       // what standard error holds
    } rows[] = {
        {{"install", root / "nothere.zpk"}, "", root / "nothere.zpk" + " does not exist.\n"},
        {{"install", "--dry-run", root / "nothere.zpk"}, "", root / "nothere.zpk" + " does not exist.\n"},
        {{"install", root / "nothere.zip"}, "", root / "nothere.zip" + " does not exist.\n"},
        {{"install", root / "mod.zpk"}, "models/gta3.img", "Install failed: The package " + root / "mod.zpk" + " could not be installed.\n" + lacking
                + ShownByCli("models/gta3.img") + " is missing" + advice + "The game folder was left as it was.\n"},
        {{"install", "--dry-run", root / "mod.zpk"}, "models/txd.dir", "The install would fail: " + lacking + ShownByCli("models/gta3.img")
                + " and " + ShownByCli("models/txd.dir") + " are missing" + advice},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.err);
        if (!row.missing.empty())
            fs::DeleteFile(game + row.missing);
        const Snapshot before = TakeSnapshot(game);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--game", game});
        const auto r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
    }
}

TEST_F(Cli, InstallOfOnlyRefusedFilesExitsOne)
{
    WritePackage(root / "mod", {{"notes.txt", ToBytes("n")}});
    const Snapshot before = TakeSnapshot(game);
    const auto r = Run({"install", root / "mod.zpk", "--game", game});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Installing mod.zpk\nInstalling notes.txt\nNo file installed\n");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
}

TEST_F(Cli, InstallUsesTheStoredFolderOrSaysThereIsNone)
{
    WritePackage(root / "mod", {{"default.dat", ToBytes("dat")}});
    auto r = Run({"install", root / "mod.zpk"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No game folder is set"), std::string::npos) << r.err;

    fs::CreateFolder(root / "config/Tessera");
    WriteFile(root / "config/Tessera/Tessera.conf", ToBytes("[Settings]\nGTA3Path=" + game + "\n"));
    r = Run({"install", root / "mod.zpk"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(game + "data/default.dat"), "dat");

    // A settings file that is no regular file is an error naming it, never a wait on a pipe.
    const std::string conf = root / "config/Tessera/Tessera.conf";
    for (const char* kind : {"pipe", "folder"}) {
        SCOPED_TRACE(kind);
        fs::DeleteFile(conf);
        if (std::string(kind) == "pipe")
            ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
        else
            fs::CreateFolder(conf);
        r = Run({"install", root / "mod.zpk"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("The settings file " + conf + " is not a regular file"), std::string::npos) << r.err;
        if (std::string(kind) == "folder")
            fs::RemoveFolder(conf);
    }
    // A stored folder without its trailing separator is the same folder.
    WriteFile(conf, ToBytes("[Settings]\nGTA3Path=" + game.substr(0, game.size() - 1) + "\n"));
    WritePackage(root / "mod", {{"default.dat", ToBytes("dat 2")}});
    r = Run({"install", root / "mod.zpk"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(game + "data/default.dat"), "dat 2") << r.out << r.err;
}

TEST_F(Cli, UsageErrorsExitTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"install"}, {"install", "a.zpk", "--bogus"}, {"check"}, {"recover", "extra"}, {"frobnicate"}, {}}) {
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args[0]);
        EXPECT_EQ(Run(args).status, 2);
    }
}

// --help anywhere prints one line for every command on standard output; --version the project's.
TEST_F(Cli, HelpAndVersion)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"install", "--help"}}) {
        const CommandResult help = Run(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        for (const std::string command : {"install", "check", "recover", "list", "extract", "pack"}) {
            SCOPED_TRACE(command);
            EXPECT_NE(help.out.find("\n  " + command + " "), std::string::npos);
        }
    }
    const CommandResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tessera-cli " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                               std::to_string(kVersionRevision) + "\n");
    // Without a command: the help on standard error, as a usage error.
    const CommandResult bare = Run({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_NE(bare.err.find("\n  pack "), std::string::npos);
}

TEST_F(Cli, DryRunSaysWhereEveryFileGoesAndChangesNothing)
{
    WritePackage(root / "mod", {{"car.dff", ToBytes("c")}, {"new.txd", ToBytes("t")}, {"hud.txd", ToBytes("h")}, {"readme.txt", ToBytes("m")},
                                {"abcdefghijklmnopqrst.dff", ToBytes("x")}, {"notes.txt", ToBytes("r")}});
    const Snapshot before = TakeSnapshot(game);
    const auto r = Run({"install", "--dry-run", root / "mod.zpk", "--game", game});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "abcdefghijklmnopqrst.dff: refused: the game cannot read a name of 24 characters or more in its archives (this one has 24). "
                     "Give it a name of at most 23 characters\n"
                     "car.dff: goes into the archive models\\gta3 (the entry of that name is set aside as car.dff.old)\n"
                     "hud.txd: replaces the stock file " + game + "models\\hud.txd (the game's version is kept as .old)\n"
                     "new.txd: goes into the archive models\\txd (new entry)\n"
                     "notes.txt: refused: not supported by Tessera\n"
                     "readme.txt: becomes the stock file " + game + "readme\\readme.txt (the game folder has none, so nothing is kept)\n");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");

    // What the game would skip or ignore once installed; an extension only in the wrong case is mended.
    WritePackage(root / "odd", {{"Car.Dff", ToBytes("c")}, {"a.b.dff", ToBytes("a")}, {"x.y.txd", ToBytes("x")}});
    const auto odd = Run({"install", "--dry-run", root / "odd.zpk", "--game", game});
    EXPECT_EQ(odd.status, 0) << odd.err;
    EXPECT_EQ(odd.out, "a.b.dff: goes into the archive models\\gta3 (new entry)\n"
                       "Car.Dff: goes into the archive models\\gta3 as Car.dff (the entry of that name is set aside as Car.dff.old)\n"
                       "x.y.txd: goes into the archive models\\txd (new entry)\n"
                       "After the install, the game would not read everything as meant:\n"
                       "  models\\gta3.dir, record 2 (a.b.dff): the game skips it: it reads only the extensions dff, DFF, txd and TXD, not \"b.dff\"\n"
                       "  models\\txd.dir, record 1 (x.y.txd): the game skips it: it reads only the extensions dff, DFF, txd and TXD, not \"y.txd\"\n");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");

    fs::DeleteFile(game + "models/txd.img");
    const auto failing = Run({"install", "--dry-run", root / "mod.zpk", "--game", game});
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("The install would fail: The game folder " + DisplayPath(game) + " does not look like a complete game folder: "
                               + ShownByCli("models/txd.img") + " is missing"), std::string::npos)
        << failing.err;
}

TEST_F(Cli, CheckFindsBrokenArchives)
{
    auto r = Run({"check", game});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "models\\gta3: 2 records, 3 blocks: ok\nmodels\\txd: 1 records, 3 blocks: ok\nanim\\cuts: 1 records, 1 blocks: ok\n");

    // Warnings only: the game skips or ignores a record, and it still exits 0.
    WriteFile(game + "models/gta3.dir", Concat({Record(0, 2, "car.dff"), Record(2, 1, "Bike.Dff")}));
    r = Run({"check", game});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "warning: models\\gta3.dir, record 1 (Bike.Dff): the game skips it: it reads only the extensions dff, DFF, txd and TXD, not \"Dff\"\n"
                     "models\\gta3: 2 records, 3 blocks: 0 errors, 1 warning\n"
                     "models\\txd: 1 records, 3 blocks: ok\nanim\\cuts: 1 records, 1 blocks: ok\n");

    WriteFile(game + "models/gta3.dir", Concat({Record(0, 1, "car.dff"), Record(2, 1, "bike.dff"), Record(0, 1, "car.col")}));
    WriteFile(game + "models/txd.dir", Concat({Record(0, 3, "car.txd"), Record(2, 5, "far.txd")}));
    WriteFile(game + "anim/cuts.img", Zeros(100));
    r = Run({"check", game});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("error: models\\gta3.dir, record 1 (bike.dff): the game reads it in one go with record 0 (car.dff)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: models\\txd.dir, record 1 (far.txd): its data (block 2, 5 blocks) does not lie within the .img"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: models\\gta3.dir, record 2 (car.col): its data (blocks 0 to 0) lies over that of record 0 (car.dff, blocks 0 to 0)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: anim\\cuts.img: its length (100 bytes) is not a whole number of 2048-byte blocks"), std::string::npos) << r.out;

    r = Run({"check", game, "--json"});
    EXPECT_EQ(r.status, 1);
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report.at("errors"), 6);
    EXPECT_EQ(report.at("warnings"), 1);
    ASSERT_EQ(report.at("archives").size(), 3u);
    const auto& gta3 = report.at("archives").at(0);
    EXPECT_EQ(gta3.at("archive"), "models\\gta3");
    EXPECT_EQ(gta3.at("records"), 3);
    const auto hole = gta3.at("findings").at(0);
    EXPECT_EQ(hole.at("severity"), "error");
    EXPECT_EQ(hole.at("rule"), "chain-hole");
    EXPECT_EQ(hole.at("record"), 1);
    EXPECT_EQ(hole.at("name"), "bike.dff");
    EXPECT_TRUE(hole.at("message").get<std::string>().starts_with("models\\gta3.dir, record 1 (bike.dff): ")) << hole;
    EXPECT_FALSE(report.at("archives").at(2).at("findings").at(0).contains("record"));

    fs::DeleteFile(game + "models/txd.img");
    r = Run({"check", game});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("error: models\\txd.img: missing\nmodels\\txd: 1 error, 0 warnings\n"), std::string::npos) << r.out;
    EXPECT_EQ(Run({"check", game, "--bogus"}).status, 2);
}

TEST_F(Cli, RecoverRollsBackAnInterruptedInstall)
{
    const Snapshot before = TakeSnapshot(game);
    // The state a killed install leaves: its journal, the backup made, a record appended.
    Journal journal;
    journal.gameFolder = game;
    JournalOp stock;
    stock.path = game + "data\\default.dat";
    stock.hadOld = false;
    journal.ops.push_back(stock);
    JournalOp archive;
    archive.kind = JournalOp::Kind::Archive;
    archive.path = game + "models\\gta3";
    const Bytes dir = ReadFile(game + "models/gta3.dir");
    archive.dirLength = static_cast<std::int64_t>(dir.size());
    archive.imgLength = fs::FileLength(game + "models/gta3.img");
    RecordBytes first;
    std::copy_n(dir.begin(), kRecordSize, first.begin());
    archive.records.emplace_back(0, first);
    journal.ops.push_back(archive);
    fs::CreateFolders(root / "data/Tessera");
    WriteJournal(JournalPath(root / "data/Tessera/", game), journal);
    fs::RenameFile(game + "data/default.dat", game + "data/default.dat.old");
    WriteFile(game + "data/default.dat", ToBytes("half a mod"));
    fs::File img(game + "models/gta3.img", fs::OpenMode::ReadWrite);
    img.WriteAt(img.Length(), Zeros(2048));
    img.Close();
    WriteFile(game + "models/gta3.dir", Concat({Record(0, 2, "car.dff.old", ' '), Slice(dir, 32, 32), Record(3, 1, "car.dff")}));

    auto r = Run({"recover", "--game", game});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Install rolled back: An install into " + game + " was interrupted."), std::string::npos) << r.err;
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
    r = Run({"recover"});
    EXPECT_EQ(r.out, "No interrupted install was found.\n");
}
