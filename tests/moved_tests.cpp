// A game folder moved or renamed on its disk (the same folder: its identity stays) while an
// install, an uninstall or a compaction in it was interrupted: recovery given the folder's new path takes the
// journal up there, from the console, the desktop program's start and an install alike.
#include "Compact.h"
#include "FileSystem.h"
#include "HistoryStore.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Uninstall.h"
#include "modMain.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <optional>

using namespace tessera;
using namespace tessera::test;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What is at the path the journal recorded once the folder moved: nothing, another folder
// holding the same half-done state (another identity), or a link to the folder where it is now.
enum class OldPath { Gone, Decoy, Link };

} // namespace

// An install, an uninstall and a compaction, each stopped before each of its file-system calls while its
// journal is there (the game folder and the data folder as they were at that moment, the game
// folder keeping its identity), the folder then renamed, and recovered through its new path: by
// recover (given the folder, or with it stored), by the desktop program's start and by an
// install, in turn. The folder is byte for byte as before the change, or as after it once it had
// committed; a folder left at the old path is never touched; and history and restore then work.
TEST(MovedFolder, AChangeInterruptedAtEveryPointIsRecoveredWhereTheFolderIsNow)
{
    namespace sfs = std::filesystem;
    TempDir root;
    fs::CreateFolder(root / "first place");
    const std::string game = MakeGameFolder(root / "first place/");
    // Unused blocks between the entries of gta3.img, for the compaction to give back.
    WriteFile(game + "models/gta3.dir", Concat({Record(0, 2, "car.dff"), Record(4, 1, "bike.dff")}));
    WriteFile(game + "models/gta3.img", Concat({Blocks(Pattern(3000, 11)), Pattern(4096, 99), Blocks(Pattern(100, 12))}));
    const std::string moved = root / "moved here/", data = root / "data/Tessera/";
    fs::CreateFolders(data);
    fs::CreateFolders(root / "config/Tessera/");
    // Without a folder: the one stored, as the desktop program stores it.
    const auto cli = [&](std::vector<std::string> args, const std::string& folder) {
        if (!folder.empty())
            args.insert(args.end(), {"--game", folder});
        return RunCommand(TESSERA_CLI, args, "XDG_DATA_HOME=" + ShellQuote(root / "data") + " XDG_CONFIG_HOME=" + ShellQuote(root / "config"));
    };
    const auto ids = [&](const std::string& folder) {
        const CommandResult r = cli({"history", "--json"}, folder);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string listed;
        for (const auto& record : nlohmann::json::parse(r.out.empty() ? "[]" : r.out))
            listed += std::to_string(record.at("id").get<int>()) + " ";
        return listed;
    };
    WritePackage(root / "one", {{"car.dff", Pattern(3000, 1)}, {"american.gxt", ToBytes("gxt one")}});
    WritePackage(root / "two", {{"car.dff", Pattern(5000, 2)}, {"new.txd", Pattern(700, 3)}, {"default.dat", ToBytes("default two")},
                                {"american.gxt", ToBytes("gxt two")}, {"readme.txt", ToBytes("readme two")}});
    WritePackage(root / "three", {{"bike.dff", Pattern(900, 4)}});
    const Snapshot start = TakeSnapshot(game);
    ASSERT_EQ(cli({"install", root / "one.zpk"}, game).status, 0);
    const Snapshot before = TakeSnapshot(game), dataBefore = TakeSnapshot(data);

    MemorySettingsStore store;
    store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
    modMain settings{store};
    settings.LoadSettings();
    InstallOptions options;
    options.journalFolder = data;
    RecordingWindowServices quiet;
    const std::string journal = JournalPath(data, game), identity = fs::FolderIdentity(game);
    const std::vector<std::pair<std::string, std::function<void()>>> changes = {
        {"install", [&] { ASSERT_EQ(InstallPackage(root / "two.zpk", settings, quiet, options), InstallResult::Installed); }},
        {"uninstall", [&] { TakeBack(HistoryFolder(data, game), journal, ReadHistory(HistoryFolder(data, game), game).front()); }},
        {"compaction", [&] { Compact(HistoryFolder(data, game), journal, game, PlanCompaction(game)); }},
    };

    // Flushes counted but not waited for, and no watcher left behind however the test ends.
    struct Quick {
        Quick() { fs::faults::SkipFlushes(true); }
        ~Quick()
        {
            fs::faults::Watch({});
            fs::faults::SkipFlushes(false);
        }
    } quick;
    for (const auto& [name, change] : changes) {
        // The change made whole, and what restore gives after it.
        PutBack(game, before);
        PutBack(data, dataBefore);
        change();
        const Snapshot after = TakeSnapshot(game);
        const std::string idsAfter = ids(game);
        ASSERT_EQ(cli({"restore"}, game).status, 0);
        const Snapshot restoredAfter = TakeSnapshot(game);

        int points = 0, finished = 0, rolledBack = 0;
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 3000) << "the " << name << " never got through";
            SCOPED_TRACE(name + " stopped before call " + std::to_string(k));
            PutBack(game, before);
            PutBack(data, dataBefore);
            long calls = 0;
            std::optional<std::pair<Snapshot, Snapshot>> half;
            fs::faults::Watch([&](const std::string&) {
                if (++calls == k && fs::FileExists(journal))
                    half.emplace(TakeSnapshot(game), TakeSnapshot(data));
            });
            change();
            fs::faults::Watch({});
            if (HasFatalFailure() || calls < k)
                break;
            if (!half)
                continue;
            PutBack(game, half->first);
            PutBack(data, half->second);
            sfs::rename(game, moved);
            ASSERT_EQ(fs::FolderIdentity(moved), identity);
            const OldPath old = static_cast<OldPath>((k / 3) % 3);
            if (old == OldPath::Decoy)
                PutBack(game, half->first);
            else if (old == OldPath::Link)
                sfs::create_directory_symlink(root / "moved here", root / "first place/game");

            // The three ways in, in turn; what each said.
            std::string said;
            if (k % 3 == 0) {
                const bool stored = k % 2 == 0;
                WriteFile(root / "config/Tessera/Tessera.conf", ToBytes("[Settings]\nGTA3Path=" + (stored ? moved : game) + "\n"));
                const CommandResult r = cli({"recover"}, stored ? std::string() : moved);
                ASSERT_EQ(r.status, 0) << r.out << r.err;
                said = r.out + r.err;
            } else {
                RecordingWindowServices told;
                if (k % 3 == 1) {
                    InstallOptions atStart = options;
                    atStart.gameFolderNow = moved;
                    ASSERT_TRUE(RecoverInterruptedInstalls(told, {}, atStart).Clean());
                } else {
                    store.SaveSetting("Tessera", "Settings", "GTA3Path", moved);
                    settings.LoadSettings();
                    ASSERT_EQ(InstallPackage(root / "three.zpk", settings, told, options), InstallResult::Installed);
                    store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
                    settings.LoadSettings();
                }
                for (const auto& m : told.messages)
                    said += m.text + "\n";
            }
            ASSERT_FALSE(fs::FileExists(journal));
            if (old == OldPath::Link) {
                ASSERT_FALSE(Has(said, "moved or renamed")) << said;
            } else {
                ASSERT_TRUE(Has(said, "moved or renamed") && Has(said, DisplayPath(game)) && Has(said, DisplayPath(moved))) << said;
                if (old == OldPath::Decoy) {
                    ASSERT_EQ(DescribeDifferences(half->first, TakeSnapshot(game)), "");
                }
            }
            // The install of three, the newest, is taken back first, through the console.
            if (k % 3 == 2) {
                const std::string listed = ids(moved);
                ASSERT_FALSE(listed.empty());
                const CommandResult r = cli({"uninstall", listed.substr(0, listed.find(' '))}, moved);
                ASSERT_EQ(r.status, 0) << r.out << r.err;
            }
            const Snapshot recovered = TakeSnapshot(moved);
            const bool stood = recovered == after;
            if (!stood) {
                ASSERT_EQ(DescribeDifferences(before, recovered), "");
            }
            ++(stood ? finished : rolledBack);
            ASSERT_EQ(ids(moved), stood ? idsAfter : "1 ");
            if (++points % 4 == 1) {
                const CommandResult r = cli({"restore"}, moved);
                ASSERT_EQ(r.status, 0) << r.out << r.err;
                ASSERT_EQ(DescribeDifferences(stood ? restoredAfter : start, TakeSnapshot(moved)), "");
            }
            sfs::remove_all(root / "first place/game");
            sfs::rename(moved, game);
        }
        std::cout << "[ moved    ] " << name << ": " << points << " interrupted and recovered after a rename: " << rolledBack
                  << " rolled back, " << finished << " finished\n";
        // An uninstall once begun is carried through by recovery, never rolled back.
        if (name == "uninstall")
            EXPECT_EQ(rolledBack, 0);
        else
            EXPECT_GT(rolledBack, 5) << name;
        EXPECT_GT(finished, 5) << name;
    }
}
