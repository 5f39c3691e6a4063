// A child tessera-cli installing a large package is killed with SIGKILL at many points of its
// run; each time tessera-cli recover must leave the game folder exactly as it was, and a new
// install must then reach the normal end state.
#include "FileSystem.h"
#include "Journal.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>

using namespace tessera;
using namespace tessera::test;

namespace {

constexpr int kKillPoints = 60;

// A game folder with fuller archives, so an install takes long enough to be cut at many points.
void Enlarge(const std::string& game)
{
    std::vector<GameEntry> models, textures;
    for (int i = 0; i < 400; ++i)
        models.push_back({"model" + std::to_string(i) + ".dff", Pattern(20000 + i * 37, static_cast<unsigned>(i))});
    for (int i = 0; i < 100; ++i)
        textures.push_back({"tex" + std::to_string(i) + ".txd", Pattern(30000, static_cast<unsigned>(i + 1000))});
    WriteArchive(game + "models/gta3", models);
    WriteArchive(game + "models/txd", textures);
}

std::vector<PackageEntry> LargePackage()
{
    std::vector<PackageEntry> entries;
    for (int i = 0; i < 120; ++i)   // half replace entries, half are new
        entries.push_back({"model" + std::to_string(i * 7) + ".dff", Pattern(60000 + i * 101, static_cast<unsigned>(5000 + i))});
    for (int i = 0; i < 60; ++i)
        entries.push_back({"tex" + std::to_string(i * 3) + ".txd", Pattern(90000, static_cast<unsigned>(7000 + i))});
    for (int i = 0; i < 20; ++i)
        entries.push_back({"cut" + std::to_string(i) + ".ifp", Pattern(40000, static_cast<unsigned>(9000 + i))});
    entries.push_back({"default.dat", Pattern(500000, 1)});
    entries.push_back({"hud.txd", Pattern(700000, 2)});
    entries.push_back({"american.gxt", Pattern(900000, 3)});
    entries.push_back({"ped.ifp", Pattern(300000, 4)});
    return entries;
}

class Crash : public ::testing::Test {
protected:
    std::string Env() const
    {
        return "XDG_DATA_HOME=" + ShellQuote(root / "data") + " XDG_CONFIG_HOME=" + ShellQuote(root / "config");
    }
    CommandResult Cli(const std::vector<std::string>& args) const { return RunCommand(TESSERA_CLI, args, Env()); }

    // The enlarged game folder every test starts from, made under source, with the settings
    // folders of the runs.
    std::string MakePristineGame(const TempDir& source)
    {
        fs::CreateFolder(root / "data");
        fs::CreateFolder(root / "config");
        const std::string pristineGame = MakeGameFolder(source.Path());
        Enlarge(pristineGame);
        return pristineGame;
    }

    // A fresh copy of the pristine game folder at game.
    void Reset(const Snapshot& pristine) { PutBack(game, pristine); }
    // The same, and no record or journal left of earlier runs.
    void ResetAll(const Snapshot& pristine)
    {
        Reset(pristine);
        fs::RemoveTree(root / "data");
        fs::CreateFolder(root / "data");
    }

    // Runs tessera-cli with args uninterrupted: its result, and seconds lowered to the time it
    // took when that was shorter.
    CommandResult Timed(const std::vector<std::string>& args, double& seconds) const
    {
        const auto start = std::chrono::steady_clock::now();
        CommandResult result = Cli(args);
        seconds = std::min(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        return result;
    }

    // Runs tessera-cli with args, killed with SIGKILL at the i-th of points spread over 1.1
    // times a run of seconds; --foreground: only the child is killed, and timeout waits until
    // it is gone.
    void KillAt(int i, int points, double seconds, const std::vector<std::string>& args) const
    {
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.4f", seconds * 1.1 * (i + 0.5) / points);
        std::vector<std::string> timeoutArgs = {"--foreground", "-s", "KILL", delay, TESSERA_CLI};
        timeoutArgs.insert(timeoutArgs.end(), args.begin(), args.end());
        RunCommand("timeout", timeoutArgs, Env());
    }
    // At each of points kill points spread over a run of seconds: prepare, then tessera-cli with
    // args killed there, then recover, which must succeed; check is shown the game folder as
    // recover left it. The first fatal failure ends the loop.
    void EveryKillPoint(int points, double seconds, const std::vector<std::string>& args, const std::function<void()>& prepare,
                        const std::function<void(const Snapshot& recovered)>& check) const
    {
        for (int i = 0; i < points && !HasFatalFailure(); ++i) {
            SCOPED_TRACE("kill point " + std::to_string(i + 1));
            prepare();
            if (HasFatalFailure())
                return;
            KillAt(i, points, seconds, args);
            const auto recover = Cli({"recover", "--game", game});
            ASSERT_EQ(recover.status, 0) << recover.err;
            check(TakeSnapshot(game));
        }
    }

    TempDir root;
    std::string game = root / "work/";
};

} // namespace

TEST_F(Crash, KilledInstallsRollBackAndInstallAgain)
{
    TempDir source;
    const std::string pristineGame = MakePristineGame(source);
    fs::WriteWholeFile(pristineGame + "models/hud.txd.old", ToBytes("earlier backup"));
    // Names in capitals, as CD installs leave them: every recovery gives back these very names.
    // (The services' own rename would find the lower-case name as the target, so the system's.)
    for (const auto& [from, to] : {std::pair{"data/default.dat", "data/DEFAULT.DAT"}, std::pair{"anim/ped.ifp", "anim/PED.IFP"},
                                   std::pair{"text", "TEXT"}})
        ASSERT_EQ(std::rename((pristineGame + from).c_str(), (pristineGame + to).c_str()), 0);
    WritePackage(root / "mod", LargePackage());
    const Snapshot pristine = TakeSnapshot(pristineGame);
    const std::vector<std::string> install = {"install", root / "mod.zpk", "--game", game};

    // The end state and the length of an uninterrupted run (the shortest of three, so that
    // the kill points fall inside the run on a loaded machine too).
    double seconds = 1e9;
    Snapshot installed;
    for (int run = 0; run < 3; ++run) {
        Reset(pristine);
        const auto full = Timed(install, seconds);
        ASSERT_EQ(full.status, 0) << full.err;
        installed = TakeSnapshot(game);
    }
    ASSERT_NE(installed, pristine);
    // The first install gives the backup and the new file the stock list's names; a recovery
    // gives the game's version back its own.
    for (const char* path : {"data/default.dat", "data/default.dat.old", "anim/ped.ifp", "anim/ped.ifp.old", "TEXT/american.gxt", "TEXT/american.gxt.old"})
        EXPECT_EQ(installed.count(path), 1u) << path;
    for (const char* path : {"data/DEFAULT.DAT", "anim/PED.IFP"})
        EXPECT_EQ(installed.count(path), 0u) << path;

    int midway = 0, before = 0, after = 0;
    for (int i = 0; i < kKillPoints; ++i) {
        SCOPED_TRACE("kill point " + std::to_string(i + 1));
        Reset(pristine);
        KillAt(i, kKillPoints, seconds, install);

        const Snapshot killed = TakeSnapshot(game);
        const bool journal = fs::FileExists(root / "data/Tessera/" + BaseName(JournalPath(root / "data/Tessera/", game)));
        (journal ? midway : killed == installed ? after : before)++;

        const auto recover = Cli({"recover", "--game", game});
        ASSERT_EQ(recover.status, 0) << recover.err;
        const Snapshot recovered = TakeSnapshot(game);
        // A kill after the install finished leaves its end state; any other leaves the game as it was.
        if (recovered != installed) {
            ASSERT_EQ(DescribeDifferences(pristine, recovered), "");
        }

        Reset(pristine);
        const auto again = Cli(install);
        ASSERT_EQ(again.status, 0) << again.err;
        ASSERT_EQ(DescribeDifferences(installed, TakeSnapshot(game)), "");
    }
    std::cout << "[ crash    ] " << kKillPoints << " kill points over a " << seconds << " s install: " << midway
              << " midway (rolled back), " << before << " before the first change, " << after << " after the end\n";
    EXPECT_GE(midway, kKillPoints / 6);
}

// Restore killed at many points of its run: after recover the game folder is either still
// installed with its record, or back to the start without it; never a third state.
TEST_F(Crash, KilledRestoresFinishOrLeaveTheInstall)
{
    constexpr int kRestoreKills = 20;
    TempDir source;
    const std::string pristineGame = MakePristineGame(source);
    fs::WriteWholeFile(pristineGame + "models/hud.txd.old", ToBytes("earlier backup"));
    WritePackage(root / "mod", LargePackage());
    const Snapshot pristine = TakeSnapshot(pristineGame);
    const std::vector<std::string> install = {"install", root / "mod.zpk", "--game", game};
    const std::vector<std::string> restore = {"restore", "--game", game};
    auto installFresh = [&] {
        ResetAll(pristine);
        const auto r = Cli(install);
        ASSERT_EQ(r.status, 0) << r.err;
    };

    double seconds = 1e9;
    Snapshot installed;
    for (int run = 0; run < 2; ++run) {
        installFresh();
        installed = TakeSnapshot(game);
        const auto full = Timed(restore, seconds);
        ASSERT_EQ(full.status, 0) << full.err;
        ASSERT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
    }

    int restored = 0, kept = 0;
    EveryKillPoint(kRestoreKills, seconds, restore, installFresh, [&](const Snapshot& recovered) {
        const auto history = Cli({"history", "--game", game});
        ASSERT_EQ(history.status, 0) << history.err;
        if (recovered == installed) {
            ASSERT_EQ(history.out.substr(0, 3), "1  ") << history.out;
            ++kept;
        } else {
            ASSERT_EQ(DescribeDifferences(pristine, recovered), "");
            ASSERT_EQ(history.out, "No install is recorded for this game folder.\n");
            ++restored;
        }
    });
    std::cout << "[ crash    ] " << kRestoreKills << " kill points over a " << seconds << " s restore: " << restored
              << " restored, " << kept << " left installed\n";
}

// Compact killed at many points of its run over archives with unused space and a recorded
// install: after recover the game folder is as before it or compacted, and restore then gives
// back the start (compacted, when the compaction stood): the history followed the moved data.
TEST_F(Crash, KilledCompactionsLeaveTheArchivesWholeAndTheHistoryTrue)
{
    constexpr int kCompactKills = 15;
    TempDir source;
    const std::string pristineGame = MakePristineGame(source);
    // A block of unused space after every entry of models/gta3.
    {
        const Bytes dir = ReadFile(pristineGame + "models/gta3.dir"), img = ReadFile(pristineGame + "models/gta3.img");
        Bytes sparseDir, sparseImg;
        for (std::size_t at = 0; at + kRecordSize <= dir.size(); at += kRecordSize) {
            DirRecord r = DecodeRecord(std::span(dir).subspan(at, kRecordSize));
            const Bytes data = Slice(img, static_cast<std::size_t>(r.lOffset) * kBlockSize, static_cast<std::size_t>(r.lSize) * kBlockSize);
            r.lOffset = static_cast<std::int32_t>(sparseImg.size() / kBlockSize);
            const RecordBytes bytes = EncodeRecord(r);
            sparseDir.insert(sparseDir.end(), bytes.begin(), bytes.end());
            sparseImg = Concat({sparseImg, data, Pattern(kBlockSize, static_cast<unsigned>(at))});
        }
        WriteFile(pristineGame + "models/gta3.dir", sparseDir);
        WriteFile(pristineGame + "models/gta3.img", sparseImg);
    }
    WritePackage(root / "mod", LargePackage());
    const Snapshot pristine = TakeSnapshot(pristineGame);
    const std::vector<std::string> install = {"install", root / "mod.zpk", "--game", game};
    const std::vector<std::string> compact = {"compact", "--game", game};
    const std::vector<std::string> restore = {"restore", "--game", game};
    auto installFresh = [&] {
        ResetAll(pristine);
        const auto r = Cli(install);
        ASSERT_EQ(r.status, 0) << r.err;
    };

    // The start compacted: what restore gives back once a compaction stood.
    Reset(pristine);
    ASSERT_EQ(Cli(compact).status, 0);
    const Snapshot pristineCompacted = TakeSnapshot(game);
    ASSERT_NE(pristineCompacted, pristine);

    double seconds = 1e9;
    Snapshot installed, compacted;
    for (int run = 0; run < 2; ++run) {
        installFresh();
        installed = TakeSnapshot(game);
        const auto full = Timed(compact, seconds);
        ASSERT_EQ(full.status, 0) << full.err;
        compacted = TakeSnapshot(game);
    }
    ASSERT_NE(compacted, installed);

    int stood = 0, undone = 0;
    EveryKillPoint(kCompactKills, seconds, compact, installFresh, [&](const Snapshot& recovered) {
        const bool isCompacted = recovered == compacted;
        if (!isCompacted) {
            ASSERT_EQ(DescribeDifferences(installed, recovered), "");
        }
        (isCompacted ? stood : undone)++;
        const auto r = Cli(restore);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(DescribeDifferences(isCompacted ? pristineCompacted : pristine, TakeSnapshot(game)), "");
    });
    std::cout << "[ crash    ] " << kCompactKills << " kill points over a " << seconds << " s compact: " << stood << " compacted, "
              << undone << " left as they were\n";
}

// An install taken back from before a later one, killed at many points of its run: after recover
// both installs stand or only the later one, never a chain of records the game reads wrong
// (check finds no error), and restore then gives back the start byte for byte.
TEST_F(Crash, KilledOutOfOrderUninstallsKeepEveryChainWhole)
{
    constexpr int kUninstallKills = 15;
    TempDir source;
    const std::string pristineGame = MakePristineGame(source);
    const Snapshot pristine = TakeSnapshot(pristineGame);
    // New names only, in both streamed archives: neither install is in the other's way.
    std::vector<PackageEntry> first{{"default.dat", Pattern(500000, 1)}, {"hud.txd", Pattern(700000, 2)}}, second;
    for (int i = 0; i < 40; ++i) {
        first.push_back({"early" + std::to_string(i) + ".dff", Pattern(30000 + i * 11, static_cast<unsigned>(100 + i))});
        second.push_back({"late" + std::to_string(i) + ".dff", Pattern(20000 + i * 13, static_cast<unsigned>(200 + i))});
    }
    for (int i = 0; i < 10; ++i) {
        first.push_back({"earlytex" + std::to_string(i) + ".txd", Pattern(9000, static_cast<unsigned>(300 + i))});
        second.push_back({"latetex" + std::to_string(i) + ".txd", Pattern(7000, static_cast<unsigned>(400 + i))});
    }
    WritePackage(root / "first", first);
    WritePackage(root / "second", second);
    const std::vector<std::string> uninstall = {"uninstall", "1", "--game", game};
    auto installBoth = [&] {
        ResetAll(pristine);
        for (const char* package : {"first", "second"}) {
            const auto r = Cli({"install", root / (std::string(package) + ".zpk"), "--game", game});
            ASSERT_EQ(r.status, 0) << r.err;
        }
    };
    auto check = [&] { return Cli({"check", game}); };

    double seconds = 1e9;
    Snapshot installed, uninstalled;
    for (int run = 0; run < 2; ++run) {
        installBoth();
        installed = TakeSnapshot(game);
        ASSERT_EQ(check().status, 0) << check().out;
        const auto full = Timed(uninstall, seconds);
        ASSERT_EQ(full.status, 0) << full.err;
        uninstalled = TakeSnapshot(game);
        const auto checked = check();
        ASSERT_EQ(checked.status, 0) << checked.out;
        ASSERT_EQ(checked.out.find("warning"), std::string::npos) << checked.out;   // its own records are not skipped names
    }

    int taken = 0, kept = 0;
    EveryKillPoint(kUninstallKills, seconds, uninstall, installBoth, [&](const Snapshot& recovered) {
        if (recovered == installed) {
            ++kept;
        } else {
            ASSERT_EQ(DescribeDifferences(uninstalled, recovered), "");
            ++taken;
        }
        const auto checked = check();
        ASSERT_EQ(checked.status, 0) << checked.out;
        const auto r = Cli({"restore", "--game", game});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(DescribeDifferences(pristine, TakeSnapshot(game)), "");
    });
    std::cout << "[ crash    ] " << kUninstallKills << " kill points over a " << seconds << " s out-of-order uninstall: " << taken
              << " taken back, " << kept << " left installed\n";
}
