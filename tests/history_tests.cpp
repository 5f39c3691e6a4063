// The mod history: random sequences of installs and uninstalls checked against a model after
// every step, restore giving back the exact starting bytes, hostile changes that stop an
// uninstall, and every failure point of an install and of an uninstall.
#include "Compact.h"
#include "FileSystem.h"
#include "GameRules.h"
#include "Hash.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <iostream>
#include <random>
#include <sstream>
#include <set>

using namespace tessera;
using namespace tessera::test;

namespace {

// The starting game folder: one stock file already backed up by an earlier (unrecorded) install,
// one stock file missing with its .old there, and archives with unused blocks between, before
// and after their entries' data, read right by the game (a record it skips keeps the chain
// apart across the gap between); compacted: the same entries back to back.
std::string MakeStart(const std::string& root, bool compacted = false)
{
    fs::CreateFolders(root);
    const std::string game = MakeGameFolder(root);
    WriteFile(game + "data/default.dat.old", ToBytes("the game's default.dat"));
    fs::RenameFile(game + "text/american.gxt", game + "text/american.gxt.old");
    if (!compacted) {
        WriteFile(game + "models/gta3.dir", Concat({Record(0, 2, "car.dff"), Record(2, 1, "car.col"), Record(4, 1, "bike.dff")}));
        WriteFile(game + "models/gta3.img", Concat({Blocks(Pattern(3000, 11)), Pattern(4096, 99), Blocks(Pattern(100, 12)), Pattern(2048, 98)}));
        WriteFile(game + "models/txd.dir", Record(2, 3, "car.txd"));
        WriteFile(game + "models/txd.img", Concat({Pattern(4096, 97), Blocks(Pattern(5000, 13)), Pattern(4096, 96)}));
    } else {
        WriteFile(game + "models/gta3.dir", Concat({Record(0, 2, "car.dff"), Record(2, 1, "car.col"), Record(3, 1, "bike.dff")}));
        WriteFile(game + "models/gta3.img", Concat({Blocks(Pattern(3000, 11)), Slice(Pattern(4096, 99), 0, 2048), Blocks(Pattern(100, 12))}));
    }
    return game;
}

const char* const kArchives[] = {"models/gta3", "models/txd", "anim/cuts"};

// The folder as the game reads it: stock files byte for byte; each archive as its records'
// name and size fields and data, in record order, wherever the data lies in its .img, less
// Tessera's records of unused space.
Snapshot AsTheGameReadsIt(Snapshot s)
{
    for (const char* base : kArchives) {
        const Bytes dir = s[std::string(base) + ".dir"], img = s[std::string(base) + ".img"];
        Bytes contents;
        for (std::size_t at = 0; at + kRecordSize <= dir.size(); at += kRecordSize) {
            const DirRecord r = DecodeRecord(std::span(dir).subspan(at, kRecordSize));
            if (IsUnusedSpace(r))
                continue;   // the game skips it; compaction drops it
            const Bytes fields = Slice(dir, at + 4, kRecordSize - 4);
            const auto from = std::min<std::size_t>(img.size(), static_cast<std::size_t>(r.lOffset) * kBlockSize);
            const Bytes data = Slice(img, from, std::min<std::size_t>(img.size() - from, static_cast<std::size_t>(r.lSize) * kBlockSize));
            contents.insert(contents.end(), fields.begin(), fields.end());
            contents.insert(contents.end(), data.begin(), data.end());
        }
        s.erase(std::string(base) + ".dir");
        s.erase(std::string(base) + ".img");
        s[std::string(base) + " as read"] = contents;
    }
    return s;
}

// What the game loads under each name of the streamed archives, read as the game reads them: a
// record chained to the ones before it is read with up to three of them in one read, from the
// first one's offset on, so a chained record whose data is not right after the one before's gets
// other bytes (each way it can be read is kept). Cut scenes by name; stock files as they are.
Snapshot WhatTheGameLoads(Snapshot s)
{
    for (const GameArchive& archive : kGameArchives) {
        std::string base(archive.relative);
        std::replace(base.begin(), base.end(), '\\', '/');
        const Bytes dir = s[base + ".dir"], img = s[base + ".img"];
        s.erase(base + ".dir");
        s.erase(base + ".img");
        const std::vector<DirRecord> records = ParseDirectory(dir);
        const std::vector<RecordReading> readings = ReadAsTheGame(archive, records);
        auto read = [&](std::int64_t block, std::int64_t blocks) {
            const auto from = std::min<std::size_t>(img.size(), static_cast<std::size_t>(block * kBlockSize));
            return Slice(img, from, std::min<std::size_t>(img.size() - from, static_cast<std::size_t>(blocks * kBlockSize)));
        };
        std::size_t chainStart = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (i == 0 || readings[i - 1].kind != RecordReading::Kind::Read)
                chainStart = i;
            if (readings[i].kind != RecordReading::Kind::Read)
                continue;
            Bytes loaded;
            if (!archive.streamed) {
                loaded = read(records[i].lOffset, records[i].lSize);
            } else {
                std::set<Bytes> ways;
                for (std::size_t j = std::max(chainStart, i >= 3 ? i - 3 : 0); j <= i; ++j) {
                    std::int64_t at = records[j].lOffset;
                    for (std::size_t k = j; k < i; ++k)
                        at += records[k].lSize;
                    ways.insert(read(at, records[i].lSize));
                }
                for (const Bytes& way : ways)
                    loaded.insert(loaded.end(), way.begin(), way.end());
            }
            s[base + " loads " + readings[i].key] = loaded;
        }
    }
    return s;
}

// The errors of the game's rules in a folder's archives, one line each, by rule and name.
std::multiset<std::string> RuleErrors(const Snapshot& s)
{
    std::multiset<std::string> errors;
    for (const GameArchive& archive : kGameArchives) {
        std::string base(archive.relative);
        std::replace(base.begin(), base.end(), '\\', '/');
        const Bytes& dir = s.at(base + ".dir");
        for (const RuleFinding& f : CheckGameRules(archive, ParseDirectory(dir), static_cast<std::int64_t>(s.at(base + ".img").size())))
            if (f.severity == RuleFinding::Severity::Error)
                errors.insert(f.rule + " " + base + " " + f.name);
    }
    return errors;
}

// The errors of now that were not in base, with their messages; empty when none.
std::string NewRuleErrors(const Snapshot& base, const Snapshot& now)
{
    std::multiset<std::string> known = RuleErrors(base);
    std::string added;
    for (const std::string& e : RuleErrors(now)) {
        if (const auto it = known.find(e); it != known.end())
            known.erase(it);
        else
            added += e + "\n";
    }
    return added;
}

// Every error of a folder's archives, one line each; empty when none.
std::string RuleErrorLines(const Snapshot& s)
{
    std::string lines;
    for (const std::string& e : RuleErrors(s))
        lines += e + "\n";
    return lines;
}

// Why an archive is not compact: its data not right after the record before's, or unused space.
std::string NotCompact(const Snapshot& s)
{
    for (const char* base : kArchives) {
        const Bytes& dir = s.at(std::string(base) + ".dir");
        std::int64_t blocks = 0;
        for (std::size_t at = 0; at + kRecordSize <= dir.size(); at += kRecordSize) {
            const DirRecord r = DecodeRecord(std::span(dir).subspan(at, kRecordSize));
            if (r.lOffset != blocks)
                return std::string(base) + " record " + std::to_string(at / kRecordSize) + " at block " + std::to_string(r.lOffset);
            blocks += r.lSize;
        }
        if (static_cast<std::int64_t>(s.at(std::string(base) + ".img").size()) != blocks * kBlockSize)
            return std::string(base) + ".img holds unused space";
    }
    return {};
}

// The desktop program's settings with game as its game folder, for installs run in this process.
struct GameSettings {
    explicit GameSettings(const std::string& game)
    {
        store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
        settings.LoadSettings();
    }
    MemorySettingsStore store;
    modMain settings{store};
};

// Flushes counted but not waited for, and no fault left armed, while this lives.
struct QuickFlushes {
    QuickFlushes() { fs::faults::SkipFlushes(true); }
    ~QuickFlushes()
    {
        fs::faults::Disarm();
        fs::faults::SkipFlushes(false);
    }
};

// The console's data folder for this process too, so in-process commands share the journal
// and history of those the console runs.
struct DataHome {
    explicit DataHome(const std::string& folder) { SetEnv("XDG_DATA_HOME", folder.c_str()); }
    ~DataHome() { SetEnv("XDG_DATA_HOME", nullptr); }
};

// A record's text with its check line made again, as a forger would.
std::string Rechecked(std::string text)
{
    text.erase(text.rfind("check "));
    const auto name = text.find("\nhash ") + 6;
    const std::string hashName = text.substr(name, text.find('\n', name) - name);
    return text + "check " + HashHexAs(hashName, std::as_bytes(std::span(text.data(), text.size()))) + "\n";
}

// A record's text as the second format has it: paths absolute, its checksum made again.
std::string AsSecondFormat(const std::string& record) { return Rechecked(WithAbsolutePaths(record)); }

// Rewrites install 2's record of the history folder h through edit, its check line made again.
void ForgeRecord(const std::string& h, const std::function<std::string(std::string)>& edit)
{
    WriteFile(h + "2.record", ToBytes(Rechecked(edit(ReadText(h + "2.record")))));
}

// Takes back installs as the console's uninstall and restore do, in this process: all recorded
// (ids empty) or the chain of one id with those in its way. What was told goes to told.
bool TakeBackAsTheConsole(const std::string& game, std::string& told, std::optional<int> id = std::nullopt)
{
    const HistoryTell tell = [&](const std::string& line, bool) { told += line + "\n"; };
    try {
        RecordingWindowServices window;
        WindowPresenter presenter(window);
        const LockedHistory locked(game, presenter);
        std::vector<const HistoryRecord*> chain;
        if (id)
            chain = UninstallChain(locked.History(), *id, true, game, tell);
        else
            for (const HistoryRecord& r : locked.History())
                chain.push_back(&r);
        if (!id && chain.empty())
            return true;   // nothing to restore
        return !chain.empty() && TakeBackChain(locked, chain, false, tell);
    } catch (const std::exception& e) {
        told += e.what();
        return false;
    }
}

// Packages with overlapping names, letter cases, stock files with and without .old, refused files.
struct Package {
    std::vector<PackageEntry> entries;
    // What it writes: stock files, and archive entries by name (installed again, an entry's
    // record is set aside, which changes it).
    std::set<std::string> touches;
};

std::vector<Package> Pool()
{
    return {
        {{{"car.dff", Pattern(2500, 21)}, {"hud.txd", ToBytes("hud one")}}, {"gta3 car.dff", "hud"}},
        {{{"CAR.DFF", Pattern(100, 22)}, {"default.dat", ToBytes("default two")}, {"notes.txt", ToBytes("n")}}, {"gta3 car.dff", "default"}},
        {{{"scene.dat", Pattern(5000, 23)}, {"new.txd", Pattern(10, 24)}}, {"cuts scene.dat", "txd new.txd"}},
        {{{"ped.ifp", ToBytes("ped four")}, {"american.gxt", ToBytes("gxt four")}}, {"ped", "gxt"}},
        {{{"Car.TXD", Pattern(4097, 25)}, {"hud.txd", ToBytes("hud five")}}, {"txd car.txd", "hud"}},
        {{{"bike.dff", Pattern(6000, 26)}, {"intro.dat", Pattern(3, 27)}}, {"gta3 bike.dff", "cuts intro.dat"}},
        // New names only, read by the game in chains with the records around them.
        {{{"modela.dff", Pattern(3000, 28)}, {"modelb.dff", Pattern(2048, 29)}}, {"gta3 modela.dff", "gta3 modelb.dff"}},
        {{{"modelc.dff", Pattern(100, 30)}, {"modeld.dff", Pattern(5000, 31)}, {"tex.txd", Pattern(70, 32)}},
         {"gta3 modelc.dff", "gta3 modeld.dff", "txd tex.txd"}},
    };
}

class History : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = MakeStart(root / "g", compactedStart);
        fs::CreateFolder(root / "data");
        fs::CreateFolder(root / "config");
        pool = Pool();
        for (std::size_t i = 0; i < pool.size(); ++i)
            WritePackage(root / ("mod" + std::to_string(i)), pool[i].entries);
    }

    CommandResult Cli(std::vector<std::string> args) { return CliAt(game, std::move(args)); }

    // The console with the game folder spelled as given.
    CommandResult CliAt(const std::string& spelling, std::vector<std::string> args)
    {
        args.push_back("--game");
        args.push_back(spelling);
        return RunCommand(TESSERA_CLI, args, "XDG_DATA_HOME=" + ShellQuote(root / "data") + " XDG_CONFIG_HOME=" + ShellQuote(root / "config"));
    }

    std::string Mod(std::size_t i) { return root / ("mod" + std::to_string(i) + ".zpk"); }

    // A new game folder at the start, and no record of the console's earlier installs.
    void StartAgain()
    {
        fs::RemoveTree(root / "g");
        fs::RemoveTree(root / "data");
        fs::CreateFolder(root / "data");
        game = MakeStart(root / "g");
    }

    // What the game folder must hold: the start with these packages installed in this order.
    Snapshot Model(const std::vector<std::size_t>& packages)
    {
        TempDir fresh;
        const std::string g = MakeStart(fresh / "g", compactedStart);
        MemorySettingsStore store;
        store.SaveSetting("Tessera", "Settings", "GTA3Path", g);
        modMain settings{store};
        settings.LoadSettings();
        RecordingWindowServices window;
        InstallOptions options;
        options.journalFolder = fresh / "journal/";
        for (std::size_t p : packages)
            EXPECT_EQ(InstallPackage(Mod(p), settings, window, options), InstallResult::Installed);
        return TakeSnapshot(g);
    }

    std::string HistoryIds()
    {
        const auto r = Cli({"history", "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string ids;
        for (const auto& record : nlohmann::json::parse(r.out))
            ids += std::to_string(record.at("id").get<int>()) + " ";
        return ids;
    }

    TempDir root;
    bool compactedStart = false;   // archives with every record's data right after the one before's
    std::string game;
    std::vector<Package> pool;
};

// The random sequences, from a start with unused blocks in its archives and from a compacted one.
class RandomHistory : public History, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        compactedStart = GetParam();
        History::SetUp();
    }
};

} // namespace

// Random installs (reinstalls included), uninstalls (newest; out of order, refused only when a
// later install changed what it wrote; with --with-later) and compactions, the folder checked
// after every step against the start with the remaining installs made afresh: as its records
// read (less Tessera's records of unused space), as the game loads each name (chained reads
// included) and by the game's rules, which it must break nowhere, whether appends start after
// unused blocks or not.
// Taking back the newest installs gives back the bytes from before them, until a compaction or
// an out-of-order uninstall moved things; restore gives back the starting bytes (compacted, once
// a compaction ran). TESSERA_HISTORY_SEED picks another sequence.
TEST_P(RandomHistory, SequencesFollowTheModelAndTheGameReadsThemRight)
{
    const char* given = std::getenv("TESSERA_HISTORY_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : (compactedStart ? 42u : 20261207u);
    std::cout << "[ seed     ] " << seed << (compactedStart ? " (compacted start)" : " (start with unused blocks)") << "\n";
    const Snapshot start = TakeSnapshot(game);
    ASSERT_EQ(RuleErrorLines(start), "");
    TempDir compactedStartDir;
    const Snapshot startCompacted = TakeSnapshot(MakeStart(compactedStartDir / "g", true));
    ASSERT_EQ(NotCompact(startCompacted), "");
    ASSERT_EQ(RuleErrors(startCompacted).size(), 0u);
    std::mt19937 random(seed);
    struct Installed {
        int id;
        std::size_t package;
    };
    std::vector<Installed> installed;
    std::map<int, Snapshot> before;   // the folder before each install, while nothing has moved since
    int nextId = 1, uninstalls = 0, refusals = 0, alone = 0, compactions = 0, exact = 0;
    for (int step = 0; step < 30; ++step) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
        const unsigned roll = random() % 100;
        if (installed.empty() || roll < 50) {
            const std::size_t p = random() % pool.size();
            before[nextId] = TakeSnapshot(game);
            const auto r = Cli({"install", Mod(p)});
            ASSERT_EQ(r.status, 0) << r.err;
            installed.push_back({nextId++, p});
        } else if (roll < 85) {
            const std::size_t at = random() % installed.size();
            const bool withLater = random() % 2 == 0;
            // The later installs in the way: those writing what it, or one in the way, wrote.
            std::set<std::string> touched = pool[installed[at].package].touches;
            std::set<int> gone{installed[at].id};
            for (std::size_t j = at + 1; j < installed.size(); ++j) {
                const auto& t = pool[installed[j].package].touches;
                if (std::any_of(t.begin(), t.end(), [&](const std::string& k) { return touched.count(k) != 0; })) {
                    gone.insert(installed[j].id);
                    touched.insert(t.begin(), t.end());
                }
            }
            const Snapshot was = TakeSnapshot(game);
            std::vector<std::string> args{"uninstall", std::to_string(installed[at].id)};
            if (withLater)
                args.push_back("--with-later");
            const auto r = Cli(args);
            if (gone.size() > 1 && !withLater) {
                ASSERT_EQ(r.status, 1) << r.out;
                EXPECT_NE(r.err.find("cannot be taken back alone"), std::string::npos) << r.err;
                ASSERT_EQ(DescribeDifferences(was, TakeSnapshot(game)), "");
                ++refusals;
            } else {
                ASSERT_EQ(r.status, 0) << r.err;
                if (gone.size() == 1 && at + 1 < installed.size())
                    ++alone;
                const bool newest = gone.size() == installed.size() - at;   // the newest ones, back to it
                if (newest && before.count(installed[at].id)) {
                    ASSERT_EQ(DescribeDifferences(before.at(installed[at].id), TakeSnapshot(game)), "");
                    ++exact;
                }
                if (!newest)
                    before.clear();
                std::erase_if(installed, [&](const Installed& i) { return gone.count(i.id) != 0; });
                uninstalls += static_cast<int>(gone.size());
            }
        } else {
            const auto r = Cli({"compact"});
            ASSERT_EQ(r.status, 0) << r.err;
            ASSERT_NE(r.out.find(" bytes in all.\n"), std::string::npos) << r.out;
            ASSERT_EQ(NotCompact(TakeSnapshot(game)), "");
            before.clear();
            ++compactions;
        }
        std::vector<std::size_t> packages;
        std::string ids;
        for (auto it = installed.rbegin(); it != installed.rend(); ++it)
            ids += std::to_string(it->id) + " ";
        for (const Installed& i : installed)
            packages.push_back(i.package);
        const Snapshot model = Model(packages), now = TakeSnapshot(game);
        ASSERT_EQ(DescribeDifferences(AsTheGameReadsIt(model), AsTheGameReadsIt(now)), "");
        ASSERT_EQ(RuleErrorLines(now), "");
        ASSERT_EQ(DescribeDifferences(WhatTheGameLoads(model), WhatTheGameLoads(now)), "");
        ASSERT_EQ(HistoryIds(), ids);
    }
    std::cout << "[ model    ] " << nextId - 1 << " installs, " << uninstalls << " taken back (" << alone << " alone out of order, "
              << exact << " newest back to the exact bytes), " << refusals << " refused, " << compactions << " compactions\n";
    EXPECT_GT(uninstalls, 3);
    EXPECT_GT(refusals, 0);
    EXPECT_GT(alone, 0);
    EXPECT_GT(compactions, 0);
    EXPECT_GT(exact, 0);

    const auto dry = Cli({"restore", "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    const auto r = Cli({"restore"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DescribeDifferences(compactions > 0 ? startCompacted : start, TakeSnapshot(game)), "");
    EXPECT_EQ(HistoryIds(), "");
    // Ids are never given again.
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    EXPECT_EQ(HistoryIds(), std::to_string(nextId) + " ");
}

INSTANTIATE_TEST_SUITE_P(Starts, RandomHistory, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Compacted" : "WithUnusedBlocks"; });

TEST_F(History, ListsAndDetailsWhatEachInstallDid)
{
    ASSERT_EQ(Cli({"install", Mod(1)}).status, 0);
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    const auto list = Cli({"history"});
    ASSERT_EQ(list.status, 0) << list.err;
    const std::size_t date = list.out.find("  ") + 2;
    ASSERT_EQ(list.out.substr(date + 19, 6), " UTC  ") << list.out;
    EXPECT_NE(list.out.find("2  "), std::string::npos);
    EXPECT_NE(list.out.find("  mod0.zpk  added 0, replaced 2, refused 0\n1  "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("  mod1.zpk  added 0, replaced 2, refused 1\n"), std::string::npos) << list.out;

    const auto one = Cli({"history", "1"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.out.find("default.dat (the bytes it replaced kept in the history)\n"), std::string::npos) << one.out;
    const std::string gta3 = std::string("models") + fs::kSeparator + "gta3";
    EXPECT_NE(one.out.find("  car.dff: entry 0 of " + gta3 + " set aside as CAR.DFF.old\n"), std::string::npos) << one.out;
    // Entry 3 is the record of unused space before it (the start's .img has unused blocks at its end).
    EXPECT_NE(one.out.find("  CAR.DFF: added to " + gta3 + " as entry 4\n"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("  notes.txt: refused (not supported by Tessera)\n"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("Changed since by: 2 (mod0.zpk, "), std::string::npos) << one.out;

    // Before an install: what earlier installs wrote that it would replace, and a reinstall.
    const auto plan = Cli({"install", "--dry-run", Mod(0)});
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(plan.out.find("A reinstall: this package is install 2 (mod0.zpk, "), 0u) << plan.out;
    EXPECT_NE(plan.out.find("car.dff: goes into the archive " + std::string("models\\gta3") + " (the entry of that name is set aside as car.dff.old; it replaces what install 2 (mod0.zpk, "),
              std::string::npos) << plan.out;
    EXPECT_NE(plan.out.find("(its .old backup is kept; it replaces what install 2 (mod0.zpk, "), std::string::npos) << plan.out;
    const auto other = Cli({"install", "--dry-run", Mod(4)});
    EXPECT_EQ(other.out.find("reinstall"), std::string::npos) << other.out;
    EXPECT_NE(other.out.find("Car.TXD: goes into the archive models\\txd (the entry of that name is set aside as Car.TXD.old)"), std::string::npos)
        << other.out;

    // As JSON, names are UTF-8 strings: a package named in UTF-8 comes out as it is named.
    const auto details = nlohmann::json::parse(Cli({"history", "1", "--json"}).out);
    EXPECT_EQ(details.at("files").at(3), nlohmann::json({{"kind", "refused"}, {"name", "notes.txt"}, {"reason", "not supported by Tessera"}}))
        << details.dump();
    EXPECT_EQ(details.at("changed_since_by"), nlohmann::json::array({2}));
    WritePackage(root / "mod\xC3\xA9", pool[5].entries);
    ASSERT_EQ(Cli({"install", root / "mod\xC3\xA9.zpk"}).status, 0);
    EXPECT_EQ(nlohmann::json::parse(Cli({"history", "--json"}).out).at(0).at("package"), "mod\xC3\xA9.zpk");

    EXPECT_EQ(Cli({"history", "0"}).status, 2);
    EXPECT_EQ(Cli({"history", "7"}).status, 1);
    EXPECT_EQ(Cli({"uninstall"}).status, 2);
    EXPECT_EQ(Cli({"uninstall", "1", "--bogus"}).status, 2);
}

// An install that replaced an archive's .img or .dir whole and one that appended to or renamed in
// that archive are in each other's way, in either order: taking back the earlier alone would
// leave records pointing into data that is not theirs. The refusal names the later install, and
// --with-later takes it back first, giving back the start.
TEST_F(History, WholeArchiveReplacementIsInTheWayOfEntriesBothWays)
{
    TempDir whole;
    WriteArchive(whole / "gta3", {{"car.dff", Pattern(4000, 41)}, {"cheetah.dff", Pattern(2048, 42)}, {"banshee.dff", Pattern(10, 43)}});
    const Bytes img = ReadFile(whole / "gta3.img"), dir = ReadFile(whole / "gta3.dir");
    WritePackage(root / "wholeimg", {{"gta3.img", img}, {"gta3.dir", dir}});
    WritePackage(root / "onlyimg", {{"GTA3.IMG", img}});
    WritePackage(root / "onlydir", {{"gta3.dir", dir}});
    WritePackage(root / "entry", {{"INFERNUS.DFF", Pattern(3000, 44)}, {"car.dff", Pattern(5, 45)}});
    WritePackage(root / "elsewhere", {{"new.txd", Pattern(10, 46)}});
    struct Case {
        const char* what;
        std::vector<const char*> installs;   // in order; install 1 is taken back
        std::vector<int> inTheWay;           // newest first
    };
    const Case cases[] = {
        {"entries appended after the whole archive", {"wholeimg", "elsewhere", "entry"}, {3}},
        {"the whole archive after entries", {"entry", "elsewhere", "wholeimg"}, {3}},
        {"its .img alone after entries", {"entry", "onlyimg"}, {2}},
        {"its .dir alone after its .img alone", {"onlyimg", "onlydir"}, {2}},
        {"both, then entries again", {"entry", "wholeimg", "entry"}, {3, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAgain();
        const Snapshot start = TakeSnapshot(game);
        for (const char* package : c.installs)
            ASSERT_EQ(Cli({"install", root / (std::string(package) + ".zpk")}).status, 0) << package;
        const Snapshot installed = TakeSnapshot(game);
        const auto details = Cli({"history", "1"});
        EXPECT_NE(details.out.find("Changed since by: " + std::to_string(c.inTheWay.back()) + " ("), std::string::npos) << details.out;
        const auto alone = Cli({"uninstall", "1"});
        EXPECT_EQ(alone.status, 1);
        EXPECT_NE(alone.err.find("cannot be taken back alone"), std::string::npos) << alone.err;
        for (int id : c.inTheWay)
            EXPECT_NE(alone.err.find(" " + std::to_string(id) + " ("), std::string::npos) << alone.err;
        EXPECT_EQ(DescribeDifferences(installed, TakeSnapshot(game)), "");
        const auto withLater = Cli({"uninstall", "1", "--with-later"});
        ASSERT_EQ(withLater.status, 0) << withLater.err;
        for (std::size_t at = 0, n = 0; n < c.inTheWay.size(); ++n) {
            at = withLater.out.find("Took back install " + std::to_string(c.inTheWay[n]) + " (", at);
            EXPECT_NE(at, std::string::npos) << withLater.out;
        }
        EXPECT_NE(withLater.out.find("Took back install 1 ("), std::string::npos) << withLater.out;
        ASSERT_EQ(Cli({"restore"}).status, 0);
        EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");
    }
}

// A change made outside Tessera to anything an install wrote stops its uninstall, naming the file,
// before any change.
TEST_F(History, ChangesOutsideTesseraAndHandEditsStopTheWayBack)
{
    // Install 1 keeps the bytes default.dat replaced (its .old was there), install 2 makes
    // hud.txd.old and sets install 1's CAR.DFF aside: restore needs all of that.
    struct Case {
        const char* what;
        const char* named;
        void (*damage)(const std::string& game, const std::string& history);
    };
    const Case cases[] = {
        {"stock file rewritten", "hud.txd", [](const std::string& g, const std::string&) { WriteFile(g + "models/hud.txd", ToBytes("edited")); }},
        {"stock file gone", "hud.txd", [](const std::string& g, const std::string&) { fs::DeleteFile(g + "models/hud.txd"); }},
        {"its .old gone", "hud.txd.old is missing", [](const std::string& g, const std::string&) { fs::DeleteFile(g + "models/hud.txd.old"); }},
        {"its .old overwritten", "hud.txd.old was changed after install 2",
         [](const std::string& g, const std::string&) { WriteFile(g + "models/hud.txd.old", ToBytes("other bytes")); }},
        {"its .old replaced by a link to the same bytes outside the game", "hud.txd.old is no longer a plain file",
         [](const std::string& g, const std::string&) {
             const std::string outside = g + "../outside.txd";
             fs::RenameFile(g + "models/hud.txd.old", outside);
             std::filesystem::create_symlink(outside, g + "models/hud.txd.old");
         }},
        {"data appended to the .img", "gta3.img",
         [](const std::string& g, const std::string&) { WriteFile(g + "models/gta3.img", Concat({ReadFile(g + "models/gta3.img"), Zeros(2048)})); }},
        {"a record appended", "gta3.dir",
         [](const std::string& g, const std::string&) {
             WriteFile(g + "models/gta3.dir", Concat({ReadFile(g + "models/gta3.dir"), Record(0, 1, "x.dff")}));
         }},
        {"its entry's data changed", "car.dff",
         [](const std::string& g, const std::string&) {
             Bytes img = ReadFile(g + "models/gta3.img");
             img[img.size() - 10] ^= std::byte{1};
             WriteFile(g + "models/gta3.img", img);
         }},
        {"the set-aside record renamed", "gta3.dir",
         [](const std::string& g, const std::string&) {
             Bytes dir = ReadFile(g + "models/gta3.dir");
             dir[9] ^= std::byte{0x20};   // its name's second letter in the other case
             WriteFile(g + "models/gta3.dir", dir);
         }},
        {"stored bytes changed", "The stored copy of ",
         [](const std::string&, const std::string& h) {
             Bytes b = ReadFile(h + "1-1.bytes");
             b[0] ^= std::byte{0x20};
             WriteFile(h + "1-1.bytes", b);
         }},
        {"stored bytes emptied", "The stored copy of ", [](const std::string&, const std::string& h) { WriteFile(h + "1-1.bytes", {}); }},
        {"stored bytes deleted", "is missing from the history", [](const std::string&, const std::string& h) { fs::DeleteFile(h + "1-1.bytes"); }},
        {"stored journal changed", "The stored journal of install 1",
         [](const std::string&, const std::string& h) { WriteFile(h + "1.journal", Concat({ReadFile(h + "1.journal"), Zeros(1)})); }},
        {"the .img length before an install lowered by hand", "The history record",
         [](const std::string&, const std::string& h) {
             Bytes r = ReadFile(h + "2.record");
             std::string text(reinterpret_cast<const char*>(r.data()), r.size());
             const auto at = text.find(' ', text.find("\narchive ") + 9) + 1;   // its first length
             text[at] = text[at] == '0' ? '1' : static_cast<char>(text[at] - 1);
             WriteFile(h + "2.record", ToBytes(text));
         }},
        {"a record deleted", "the record of install 1 is missing", [](const std::string&, const std::string& h) { fs::DeleteFile(h + "1.record"); }},
        // Forged whole, checksum and all: the paths still lie inside the game folder.
        {"a path of a record leading out of the game folder", "a path leads out of the game folder",
         [](const std::string&, const std::string& h) {
             ForgeRecord(h, [](std::string text) { return text.insert(text.find("\nstock ") + 7, "2e2e2f"); });   // "../"
         }},
        {"an older record whose paths lie in another folder than its journal's", "paths lie outside the game folder",
         [](const std::string&, const std::string& h) {
             ForgeRecord(h, [](std::string text) {
                 const auto folder = text.find("\nfolder ") + 8;
                 text.replace(folder, text.find('\n', folder) - folder, "2f656c736577686572652f");   // "/elsewhere/"
                 return WithAbsolutePaths(text);
             });
         }},
        // Named as the link it is: no journal is damaged.
        {"gta3.img replaced by a link to the same bytes outside the game", "gta3.img is a link;",
         [](const std::string& g, const std::string&) {
             const std::string outside = g + "../outside.img";
             fs::RenameFile(g + "models/gta3.img", outside);
             std::filesystem::create_symlink(outside, g + "models/gta3.img");
         }},
    };
    DataHome home(root / "data");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAgain();
        ASSERT_EQ(Cli({"install", Mod(1)}).status, 0);
        ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
        const std::string history = HistoryFolder(JournalFolder({}), game);
        ASSERT_TRUE(fs::FileExists(history + "1-1.bytes"));
        c.damage(game, history);
        const Snapshot damaged = TakeSnapshot(game), damagedHistory = TakeSnapshot(history);
        for (const char* command : {"uninstall", "restore"}) {
            const auto r = command == std::string("uninstall") ? Cli({"uninstall", "1", "--with-later"}) : Cli({"restore"});
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_NE(r.err.find(c.named), std::string::npos) << command << ": " << r.err;
            if (std::string(c.named).ends_with("is a link;")) {
                EXPECT_EQ(r.err.find("damaged"), std::string::npos) << command << ": " << r.err;
            }
            EXPECT_EQ(DescribeDifferences(damaged, TakeSnapshot(game)), "") << command;
            EXPECT_EQ(DescribeDifferences(damagedHistory, TakeSnapshot(history)), "") << command;
        }
    }
}

// Every file of a real history damaged in turn: a single bit flipped at every third byte, cut,
// emptied, deleted. restore refuses each, naming what it found, and changes nothing.
TEST_F(History, EveryDamageToAHistoryFileIsRefusedWithNothingChanged)
{
    QuickFlushes quick;
    DataHome home(root / "data");
    ASSERT_EQ(Cli({"install", Mod(1)}).status, 0);
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    ASSERT_EQ(Cli({"install", Mod(2)}).status, 0);
    const Snapshot installed = TakeSnapshot(game);
    const std::string folder = HistoryFolder(JournalFolder({}), game);
    const Snapshot history = TakeSnapshot(folder);
    ASSERT_EQ(history.size(), 7u);   // three records and stored journals, one stored copy
    int runs = 0;
    for (const auto& [name, bytes] : history) {
        std::vector<std::pair<std::string, std::optional<Bytes>>> damages;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {   // every third byte, each bit in turn
            Bytes flipped = bytes;
            const unsigned bit = (i / 3) % 8;
            flipped[i] ^= std::byte{static_cast<unsigned char>(1u << bit)};
            damages.emplace_back("bit " + std::to_string(bit) + " of byte " + std::to_string(i) + " flipped", flipped);
        }
        for (std::size_t cut : {bytes.size() / 2, bytes.size() - 1})
            damages.emplace_back("cut to " + std::to_string(cut) + " bytes", Slice(bytes, 0, cut));
        damages.emplace_back("emptied", Bytes{});
        damages.emplace_back("deleted", std::nullopt);
        for (const auto& [what, damaged] : damages) {
            SCOPED_TRACE(name + ": " + what);
            PutBack(folder, history);
            if (damaged)
                WriteFile(folder + name, *damaged);
            else
                fs::DeleteFile(folder + name);
            std::string told;
            ASSERT_FALSE(TakeBackAsTheConsole(game, told)) << told;
            ASSERT_NE(told, "");
            ASSERT_EQ(DescribeDifferences(installed, TakeSnapshot(game)), "");
            ++runs;
        }
    }
    std::cout << "[ damage   ] " << runs << " damaged history files, each refused\n";
    // Undamaged, the same history gives back the start.
    PutBack(folder, history);
    std::string told;
    EXPECT_TRUE(TakeBackAsTheConsole(game, told)) << told;
    TempDir fresh;
    EXPECT_EQ(DescribeDifferences(TakeSnapshot(MakeStart(fresh / "g")), TakeSnapshot(game)), "");
}

// Every spelling of the game folder is one history: installs made through one spelling and
// another are listed, taken back and restored through others, giving back the start byte for
// byte.
TEST_F(History, EverySpellingOfTheFolderIsOneHistory)
{
    const std::string w = root / "g/";
    fs::CreateFolder(w + "x");
    std::filesystem::create_directory_symlink(w + "game", root / "link");
    const std::vector<std::string> spellings = {w + "game", w + "game/./", w + "/game/", w + "x/../game/", root / "link"};
    const Snapshot start = TakeSnapshot(game);
    const Snapshot first = Model({0});
    const std::size_t n = spellings.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string &a = spellings[i], &b = spellings[(i + 1) % n], &c = spellings[(i + 2) % n], &d = spellings[(i + 3) % n];
        const std::string row = a + " then " + b;
        ASSERT_EQ(CliAt(a, {"install", Mod(0)}).status, 0) << row;
        ASSERT_EQ(CliAt(b, {"install", Mod(4)}).status, 0) << row;
        const auto listed = CliAt(c, {"history", "--json"});
        ASSERT_EQ(listed.status, 0) << row << listed.err;
        const auto records = nlohmann::json::parse(listed.out);
        ASSERT_EQ(records.size(), 2u) << row;
        const int newest = std::max(records[0].at("id").get<int>(), records[1].at("id").get<int>());
        auto r = CliAt(c, {"uninstall", std::to_string(newest)});
        ASSERT_EQ(r.status, 0) << row << r.err;
        EXPECT_EQ(DescribeDifferences(first, TakeSnapshot(game)), "") << row;
        ASSERT_EQ(CliAt(d, {"install", Mod(4)}).status, 0) << row;
        r = CliAt(a, {"restore"});
        ASSERT_EQ(r.status, 0) << row << r.err;
        ASSERT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "") << row;
    }
}

// A game folder put back from a copy (a new identity, as after a re-plug) keeps its history when
// it holds what the history last wrote, for the history commands and an install alike; one that
// does not is refused with the reason, never "nothing to restore".
TEST_F(History, AFolderPutBackFromACopyKeepsItsHistoryOnlyWhenItMatches)
{
    namespace sfs = std::filesystem;
    const Snapshot start = TakeSnapshot(game);
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    ASSERT_EQ(Cli({"install", Mod(4)}).status, 0);
    const std::string backup = root / "backup";
    const auto putBack = [&] {
        sfs::remove_all(game);
        sfs::copy(backup, game, sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);
    };
    sfs::copy(game, backup, sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);

    // Changed since: refused, and the folder left as it was.
    putBack();
    WriteFile(game + "models/hud.txd", ToBytes("changed by hand"));
    const Snapshot changed = TakeSnapshot(game);
    auto r = Cli({"restore"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("another identity"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("hud.txd"), std::string::npos) << r.err;
    EXPECT_EQ(DescribeDifferences(changed, TakeSnapshot(game)), "");

    // As the history left it: listed; put back once more, an install continues it; restored
    // to the start.
    putBack();
    EXPECT_EQ(HistoryIds(), "2 1 ");
    putBack();
    r = Cli({"install", Mod(1)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE((r.out + r.err).find("it is taken up again"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(HistoryIds(), "3 2 1 ");
    r = Cli({"restore"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");

    // The game installed afresh where a history's folder was: an install is not refused for the
    // history it does not match, but begins one of its own, and says so.
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    sfs::remove_all(game);
    PutBack(game, start);
    r = Cli({"install", Mod(4)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE((r.out + r.err).find("does not hold what that history last wrote"), std::string::npos) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("this install begins a new history"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(HistoryIds(), "1 ");
    r = Cli({"restore"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");

    // A damaged history in the data folder, which may be any folder's: the history commands of
    // a folder with no installs of its own refuse, saying so; an install is not kept out.
    fs::CreateFolder(root / "data/Tessera/install-00000000000000aa.history");
    WriteFile(root / "data/Tessera/install-00000000000000aa.history/1.record", ToBytes("damaged"));
    r = Cli({"restore"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("does not check out"), std::string::npos) << r.err;
    r = Cli({"install", Mod(1)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE((r.out + r.err).find("does not check out"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(HistoryIds(), "2 ");
}

// An install stopped at each of its file-system calls, its game folder then put back from a copy
// taken there (a new identity, as after a re-plug): recover takes up the journal recorded under
// the old identity and rolls the install back (or finishes it when it had committed), saying so;
// the history is taken up after it, and restore gives the start.
TEST_F(History, AnInstallInterruptedBeforeTheFolderCameBackIsRecovered)
{
    namespace sfs = std::filesystem;
    const Snapshot start = TakeSnapshot(game);
    ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
    const Snapshot before = TakeSnapshot(game);
    const std::string data = root / "data/Tessera/";
    const auto copyOver = [](const std::string& from, const std::string& to) {
        sfs::remove_all(to);
        sfs::copy(from, to, sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);
    };
    // The folder the installs run in keeps its identity (it is emptied and filled again), as the
    // history of install 1 was recorded under it; the copy put back in its place gets another,
    // since the folder is kept aside meanwhile.
    const std::string original = root / "original";
    const auto reset = [&] {
        if (sfs::exists(original)) {
            sfs::remove_all(game);
            sfs::rename(original, game);
        }
        for (const auto& entry : sfs::directory_iterator(game))
            sfs::remove_all(entry.path());
        for (const auto& entry : sfs::directory_iterator(root / "game-1"))
            sfs::copy(entry.path(), sfs::path(game) / entry.path().filename(), sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);
        copyOver(root / "data-1", data);
    };
    const auto putBack = [&] {
        sfs::rename(game, original);
        sfs::copy(root / "game-k", game, sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);
        copyOver(root / "data-k", data);
    };
    copyOver(game, root / "game-1");
    copyOver(data, root / "data-1");
    GameSettings set(game);
    modMain& settings = set.settings;
    RecordingWindowServices window;
    InstallOptions options;
    options.journalFolder = data;
    ASSERT_EQ(InstallPackage(Mod(4), settings, window, options), InstallResult::Installed);
    const Snapshot after = TakeSnapshot(game);

    // Install 2 from the state install 1 left, with the folder and the data folder copied away
    // before its k-th call when its journal is there then; whether they were, and whether the
    // install made k calls.
    long calls = 0;
    const auto stopAt = [&](long k) {
        reset();
        const std::string journal = JournalPath(data, game);
        calls = 0;
        bool stopped = false;
        fs::faults::Watch([&](const std::string&) {
            if (++calls == k && fs::FileExists(journal)) {
                copyOver(game, root / "game-k");
                copyOver(data, root / "data-k");
                stopped = true;
            }
        });
        EXPECT_EQ(InstallPackage(Mod(4), settings, window, options), InstallResult::Installed) << k;
        fs::faults::Watch({});
        return stopped;
    };
    int rolledBack = 0, finished = 0;
    long midway = 0;
    const QuickFlushes quick;
    for (long k = 1;; ++k) {
        ASSERT_LT(k, 2000);
        const bool stopped = stopAt(k);
        if (calls < k)
            break;
        if (!stopped)
            continue;
        const std::string identity = fs::FolderIdentity(game);
        putBack();
        ASSERT_NE(fs::FolderIdentity(game), identity);
        RecordingWindowServices told;
        ASSERT_TRUE(RecoverInterruptedInstalls(told, game, options).Clean()) << k;
        ASSERT_FALSE(told.messages.empty()) << k;
        EXPECT_NE(told.messages.back().text.find("another identity"), std::string::npos) << k << told.messages.back().text;
        const Snapshot recovered = TakeSnapshot(game);
        if (recovered == after) {
            ++finished;
        } else {
            ASSERT_EQ(DescribeDifferences(before, recovered), "") << k;
            if (++rolledBack == 20)
                midway = k;
        }
        // The console takes the history up after it (every few points, for time).
        if (recovered == after || rolledBack % 5 == 1) {
            const auto restored = Cli({"restore"});
            ASSERT_EQ(restored.status, 0) << k << restored.out << restored.err;
            ASSERT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "") << k;
        }
    }
    std::cout << "[ re-plug  ] " << rolledBack << " interrupted installs rolled back, " << finished << " finished\n";
    ASSERT_GT(rolledBack, 20);

    // An install made after the put-back is refused until the interrupted one is recovered,
    // which it names; nothing is changed.
    ASSERT_TRUE(stopAt(midway));
    putBack();
    const Snapshot put = TakeSnapshot(game);
    RecordingWindowServices refused;
    EXPECT_EQ(InstallPackage(Mod(1), settings, refused, options), InstallResult::Failed);
    EXPECT_NE(refused.messages.back().text.find("interrupted and must be finished first: run tessera-cli recover"), std::string::npos)
        << refused.messages.back().text;
    EXPECT_EQ(DescribeDifferences(put, TakeSnapshot(game)), "");

    // A folder that is not in the state the journal describes, or that had an install since
    // (the history above was removed meanwhile): the journal is set aside with the reason, and
    // nothing is changed.
    const std::vector<std::pair<std::string, std::function<void()>>> notThisFolders = {
        {"is shorter", [&] { sfs::resize_file(game + "models/txd.img", 0); }},
        {"installs were made into it since",
         [&] {
             sfs::remove_all(HistoryFolder(data, root / "original"));
             ASSERT_EQ(InstallPackage(Mod(1), settings, window, options), InstallResult::Installed);
         }},
    };
    for (const auto& [why, change] : notThisFolders) {
        ASSERT_TRUE(stopAt(midway));
        putBack();
        change();
        const Snapshot changed = TakeSnapshot(game);
        RecordingWindowServices told;
        const RecoveryReport report = RecoverInterruptedInstalls(told, game, options);
        EXPECT_EQ(report.refused, 1) << why;
        ASSERT_FALSE(told.messages.empty()) << why;
        EXPECT_NE(told.messages.back().text.find(why), std::string::npos) << told.messages.back().text;
        EXPECT_EQ(DescribeDifferences(changed, TakeSnapshot(game)), "") << why;
    }

    // A stale journal of the path beside the real one (recorded under yet another identity, for
    // a state the folder does not hold), listed before it or after: one recovery takes the real
    // one up and rolls it back, and sets the stale one aside, saying why.
    for (const char* name : {"install-0000000000000000.journal", "install-ffffffffffffffff.journal"}) {
        ASSERT_TRUE(stopAt(midway));
        Journal stale;
        stale.gameFolder = game;
        stale.identity = "dev 1 inode 1";
        JournalOp op;
        op.kind = JournalOp::Kind::Archive;
        op.path = game + "models/txd";
        op.imgLength = std::int64_t{1} << 30;
        stale.ops.push_back(op);
        WriteJournal(root / "data-k/" + name, stale);
        putBack();
        RecordingWindowServices told;
        const RecoveryReport report = RecoverInterruptedInstalls(told, game, options);
        EXPECT_EQ(report.rolledBack, 1) << name;
        EXPECT_EQ(report.refused, 1) << name;
        EXPECT_EQ(report.pending, 0) << name;
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "") << name;
        std::string said;
        for (const auto& m : told.messages)
            said += m.text + "\n";
        EXPECT_NE(said.find(std::string(name) + " was recorded"), std::string::npos) << said;
        EXPECT_NE(said.find("shorter than when the change began"), std::string::npos) << said;
        for (const std::string& left : fs::ListFiles(data))
            EXPECT_FALSE(EndsWith(left, ".journal")) << name << ": " << left;
    }
}

// An install into a folder put back from a copy (a new identity), each of its file-system calls
// failing once and for good: whatever it ends in, once recovered the folder's history is the one taken up
// (continued or not) or none yet, never a new one begun because looking failed.
TEST_F(History, EveryFailurePointOfAnInstallAfterAPutBackKeepsTheHistoryItFinds)
{
    namespace sfs = std::filesystem;
    GameSettings set(game);
    InstallOptions options;
    options.journalFolder = root / "journal/";
    RecordingWindowServices window;
    for (std::size_t mod : {0, 4})
        ASSERT_EQ(InstallPackage(Mod(mod), set.settings, window, options), InstallResult::Installed);
    const auto copyOver = [](const std::string& from, const std::string& to) {
        sfs::remove_all(to);
        sfs::copy(from, to, sfs::copy_options::recursive | sfs::copy_options::copy_symlinks);
    };
    copyOver(game, root / "backup");
    copyOver(options.journalFolder, root / "journal-2");
    const QuickFlushes quick;
    std::map<std::string, int> ends;
    for (const auto mode : {fs::faults::Mode::Once, fs::faults::Mode::Persistent}) {
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 3000) << "the install never got through";
            SCOPED_TRACE((mode == fs::faults::Mode::Once ? "once at " : "for good from ") + std::to_string(k));
            copyOver(root / "backup", game);
            copyOver(root / "journal-2", options.journalFolder);
            RecordingWindowServices told;
            fs::faults::Arm(k, k % 2 ? ErrorKind::Io : ErrorKind::AccessDenied, mode);
            const InstallResult result = InstallPackage(Mod(1), set.settings, told, options);
            const bool fired = fs::faults::Fired();
            fs::faults::Disarm();
            for (const auto& m : told.messages)
                ASSERT_EQ(m.text.find("begins a new history"), std::string::npos) << m.text;
            RecordingWindowServices quiet;
            ASSERT_TRUE(RecoverInterruptedInstalls(quiet, game, options).Clean());
            std::string ids;
            for (const HistoryRecord& r : ReadHistory(HistoryFolder(options.journalFolder, game)))
                ids += std::to_string(r.id) + " ";
            ASSERT_TRUE(ids == "" || ids == "2 1 " || ids == "3 2 1 ") << ids;
            ++ends[ids.empty() ? "not taken up" : ids == "2 1 " ? "taken up, install failed" : "continued"];
            if (!fired) {
                ASSERT_EQ(result, InstallResult::Installed);
                ASSERT_EQ(ids, "3 2 1 ");
                break;
            }
        }
    }
    std::cout << "[ faults   ] install after a put-back: " << ends["not taken up"] << " not taken up, " << ends["taken up, install failed"]
              << " taken up with the install failed, " << ends["continued"] << " continued\n";
}

// A game folder moved or renamed (the same folder: its identity stays) keeps its history. Installs
// made through several spellings before the move and through the new name after it are listed
// there; one is taken back out of order with those in its way, whose records and stored journals
// are rewritten under the new name; the folder is renamed again, and restore gives back the start.
TEST_F(History, AFolderMovedOrRenamedKeepsItsHistory)
{
    namespace sfs = std::filesystem;
    const std::string w = root / "g/";
    sfs::create_directory_symlink(w + "game", root / "link");
    const Snapshot start = TakeSnapshot(game);
    ASSERT_EQ(CliAt(w + "game/./", {"install", Mod(1)}).status, 0);   // 1: gta3 car.dff, default.dat
    ASSERT_EQ(CliAt(root / "link", {"install", Mod(6)}).status, 0);   // 2: new names into gta3 after it
    ASSERT_EQ(CliAt(w + "/game", {"install", Mod(0)}).status, 0);     // 3: car.dff again: in 1's way
    sfs::rename(w + "game", root / "renamed game");
    game = root / "renamed game/";
    ASSERT_EQ(Cli({"install", Mod(4)}).status, 0);                     // 4: hud.txd again: in 3's way
    EXPECT_EQ(HistoryIds(), "4 3 2 1 ");
    const auto details = Cli({"history", "1"});
    ASSERT_EQ(details.status, 0) << details.err;
    EXPECT_NE(details.out.find("Changed since by: 3 (mod0.zpk, "), std::string::npos) << details.out;
    EXPECT_NE(details.out.find("replaced " + ShownPath(game + "data/default.dat")), std::string::npos) << details.out;

    auto r = Cli({"uninstall", "1", "--with-later"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(HistoryIds(), "2 ");
    const Snapshot model = Model({6}), now = TakeSnapshot(game);
    EXPECT_EQ(DescribeDifferences(AsTheGameReadsIt(model), AsTheGameReadsIt(now)), "");
    EXPECT_EQ(DescribeDifferences(WhatTheGameLoads(model), WhatTheGameLoads(now)), "");

    sfs::rename(root / "renamed game", root / "game again");
    game = root / "game again/";
    r = Cli({"restore"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");
    EXPECT_EQ(HistoryIds(), "");
}

// Records of the older formats (absolute paths; the first without checksums or hashes of stored
// copies and .old files) still read and are taken back, in the folder they were written in and
// after it was renamed.
TEST_F(History, RecordsOfOlderFormatsStillRead)
{
    DataHome home(root / "data");
    for (const bool renamed : {false, true}) {
        SCOPED_TRACE(renamed ? "renamed" : "in place");
        StartAgain();
        const std::string original = game;
        const Snapshot start = TakeSnapshot(game);
        ASSERT_EQ(Cli({"install", Mod(1)}).status, 0);
        ASSERT_EQ(Cli({"install", Mod(0)}).status, 0);
        const std::string folder = HistoryFolder(JournalFolder({}), game);
        const std::string first = ReadText(folder + "1.record"), second = ReadText(folder + "2.record");
        WriteFile(folder + "1.record", ToBytes(AsFirstFormat(first, true)));
        WriteFile(folder + "2.record", ToBytes(AsSecondFormat(second)));
        ASSERT_EQ(ReadText(folder + "2.record").find("tessera-history 2\n"), 0u);
        if (renamed) {
            std::filesystem::rename(original, root / "renamed");
            game = root / "renamed/";
        }
        EXPECT_EQ(HistoryIds(), "2 1 ");
        const auto r = Cli({"restore"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");
        if (renamed)
            std::filesystem::rename(game, original);
        game = original;
    }
}

// Every failure point of an install and of an uninstall: an install stands with its record or
// neither is there; an uninstall is done (now or by the next recovery) or nothing changed.
TEST_F(History, EveryFailurePointKeepsInstallAndRecordTogether)
{
    GameSettings set(game);
    modMain& settings = set.settings;
    RecordingWindowServices window;
    InstallOptions options;
    options.journalFolder = root / "journal/";
    const std::string journal = JournalPath(options.journalFolder, game);
    const std::string folder = HistoryFolder(options.journalFolder, game);
    ASSERT_EQ(InstallPackage(Mod(1), settings, window, options), InstallResult::Installed);
    const Snapshot before = TakeSnapshot(game);

    long k = 1;
    for (;; ++k) {
        ASSERT_LT(k, 1000);
        fs::faults::Arm(k, ErrorKind::DiskFull);
        const InstallResult result = InstallPackage(Mod(4), settings, window, options);
        const bool fired = fs::faults::Fired();
        fs::faults::Disarm();
        if (!fired)
            break;
        if (result == InstallResult::Installed) {
            // The failure fell in the clean-up after the install stood: the next recovery
            // finishes it, record included, and the install's own uninstall takes it back.
            RecordingWindowServices quiet;
            ASSERT_TRUE(RecoverInterruptedInstalls(quiet, game, options).Clean()) << k;
            const auto history = ReadHistory(folder);
            ASSERT_EQ(history.size(), 2u) << k;
            TakeBack(folder, journal, history.front());
        } else {
            ASSERT_EQ(result, InstallResult::Failed) << k;
        }
        ASSERT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "") << k;
        ASSERT_EQ(ReadHistory(folder).size(), 1u) << k;
    }
    const long installPoints = k - 1;
    const Snapshot after = TakeSnapshot(game);
    ASSERT_EQ(ReadHistory(folder).size(), 2u);

    for (k = 1;; ++k) {
        ASSERT_LT(k, 1000);
        const HistoryRecord newest = ReadHistory(folder).front();
        fs::faults::Arm(k, ErrorKind::AccessDenied);
        bool failed = false;
        try {
            TakeBack(folder, journal, newest);
        } catch (const TesseraError&) {
            failed = true;
        }
        const bool fired = fs::faults::Fired();
        fs::faults::Disarm();
        if (fs::FileExists(journal))
            RecoverInterruptedInstalls(window, game, options);
        const auto history = ReadHistory(folder);
        if (!fired) {
            ASSERT_FALSE(failed);
            ASSERT_EQ(history.size(), 1u);
            ASSERT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
            break;
        }
        // Either taken back, or as it was and still recorded.
        if (history.size() == 1) {
            ASSERT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "") << k;
            break;   // a fault after the rollback was already done: nothing more to try
        }
        ASSERT_EQ(history.size(), 2u) << k;
        ASSERT_EQ(DescribeDifferences(after, TakeSnapshot(game)), "") << k;
        ASSERT_FALSE(fs::FileExists(journal));
    }
    std::cout << "[ faults   ] " << installPoints << " install and " << k << " uninstall failure points\n";
    EXPECT_GT(installPoints, 10);
}

// Every call of an out-of-order uninstall, an uninstall with the later installs in its way, a
// restore and a compaction failing in turn, once and for good, the history's settling included.
// What the command said is the truth: a success is the whole change with the history in line
// and no journal left; a failure that kept no journal changed nothing. A fault-free recovery
// then ends exactly before or after (a single change), and restore gives back the start.
TEST_F(History, EveryFailurePointOfTheWayBackEndsWholeOrRecoverableAndIsToldTruly)
{
    QuickFlushes quick;
    DataHome home(root / "xdg");
    MemorySettingsStore store;
    store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
    modMain settings{store};
    settings.LoadSettings();
    RecordingWindowServices window;
    InstallOptions options;
    options.journalFolder = JournalFolder({});
    fs::CreateFolders(options.journalFolder);
    const std::string journal = JournalPath(options.journalFolder, game);
    const std::string folder = HistoryFolder(options.journalFolder, game);

    using State = std::pair<Snapshot, Snapshot>;
    auto take = [&] { return State{TakeSnapshot(game), TakeSnapshot(options.journalFolder)}; };
    auto putBack = [&](const State& state) {
        PutBack(game, state.first);
        PutBack(options.journalFolder, state.second);
    };
    auto differences = [](const State& a, const State& b) {
        return DescribeDifferences(a.first, b.first) + DescribeDifferences(a.second, b.second);
    };
    auto restore = [&] {
        for (const HistoryRecord& r : ReadHistory(folder))
            TakeBack(folder, journal, r);
    };

    const Snapshot start = TakeSnapshot(game);
    TempDir compactedStart;
    const Snapshot startCompacted = TakeSnapshot(MakeStart(compactedStart / "g", true));
    // Install 1 adds to the cut-scene and texture archives, install 2 to the texture archive
    // after it: taking 1 back takes its record from the middle of models/txd. Install 3
    // replaces hud.txd after install 2, install 4 sets install 3's car.dff aside: taking 2
    // back takes 4 and 3 first.
    for (std::size_t p : {2, 4, 0, 1})
        ASSERT_EQ(InstallPackage(Mod(p), settings, window, options), InstallResult::Installed);
    const State installed = take();
    TakeBack(folder, journal, ReadHistory(folder).back());
    const State uninstalled = take();
    // Its data stays, unused, under a record the game skips: car.txd and Car.TXD on either side
    // are not read as one chain. The record of unused space install 1 put before its entry (the
    // start's .img has unused blocks at its end) goes into the same one.
    EXPECT_EQ(uninstalled.first.at("models/txd.img"), installed.first.at("models/txd.img"));
    const Bytes& txdBefore = installed.first.at("models/txd.dir");
    const Bytes& txdAfter = uninstalled.first.at("models/txd.dir");
    ASSERT_EQ(txdAfter.size() + kRecordSize, txdBefore.size());
    const DirRecord hole = DecodeRecord(std::span(txdAfter).subspan(kRecordSize, kRecordSize));
    const DirRecord gap = DecodeRecord(std::span(txdBefore).subspan(kRecordSize, kRecordSize));
    const DirRecord gone = DecodeRecord(std::span(txdBefore).subspan(2 * kRecordSize, kRecordSize));
    EXPECT_TRUE(IsUnusedSpace(gap));
    EXPECT_TRUE(IsUnusedSpace(hole));
    EXPECT_EQ(std::pair(gap.lOffset + gap.lSize, hole.lOffset), std::pair(gone.lOffset, gap.lOffset));
    EXPECT_EQ(hole.lOffset + hole.lSize, gone.lOffset + gone.lSize);
    EXPECT_EQ(Slice(txdAfter, 2 * kRecordSize, kRecordSize), Slice(txdBefore, 3 * kRecordSize, kRecordSize));
    EXPECT_EQ(NewRuleErrors(start, uninstalled.first), "");
    EXPECT_LT(uninstalled.first.at("anim/cuts.img").size(), installed.first.at("anim/cuts.img").size());   // its data at the end is cut off
    putBack(installed);
    std::string told;
    ASSERT_TRUE(TakeBackAsTheConsole(game, told, 2)) << told;
    const State withLater = take();
    ASSERT_EQ(ReadHistory(folder).size(), 1u);
    putBack(installed);
    ASSERT_TRUE(TakeBackAsTheConsole(game, told));
    const State restored = take();
    ASSERT_EQ(DescribeDifferences(start, restored.first), "");
    putBack(installed);
    Compact(folder, journal, game, PlanCompaction(game));
    const State compacted = take();
    ASSERT_EQ(NotCompact(compacted.first), "");
    // Compacting after the out-of-order uninstall gives the unused blocks back and drops the
    // record over them.
    putBack(uninstalled);
    Compact(folder, journal, game, PlanCompaction(game));
    const State compactedHole = take();
    ASSERT_EQ(NotCompact(compactedHole.first), "");
    EXPECT_EQ(compactedHole.first.at("models/txd.dir").size(), txdAfter.size() - kRecordSize);

    std::map<std::string, long> points;
    // A recovery that found the journal says what was interrupted and where it left the folder:
    // doneText when the change now stands, fromText when the folder is as before it (empty: not
    // checked, as for a chain of several uninstalls).
    // The states a chain of uninstalls passes through, from the first to the last of ids.
    auto stepsOf = [&](const std::vector<int>& ids) {
        putBack(installed);
        std::vector<State> steps{installed};
        for (int id : ids) {
            for (const HistoryRecord& r : ReadHistory(folder))
                if (r.id == id)
                    TakeBack(folder, journal, r);
            steps.push_back(take());
        }
        return steps;
    };
    const std::vector<State> restoreSteps = stepsOf({4, 3, 2, 1}), withLaterSteps = stepsOf({4, 3, 2});
    // steps: for a chain, every state it may stop in (each one restore takes back to the start).
    auto everyFailurePoint = [&](const std::string& what, const State& from, const State& done, const std::string& doneText,
                                 const std::string& fromText, const std::function<bool(std::string&)>& operation,
                                 const std::vector<State>& steps = {}) {
        for (const auto mode : {fs::faults::Mode::Once, fs::faults::Mode::Persistent}) {
            const std::string modeName = mode == fs::faults::Mode::Once ? "once" : "for good";
            for (long k = 1;; ++k) {
                ASSERT_LT(k, 5000) << what << " never got through";
                SCOPED_TRACE(what + ": call " + std::to_string(k) + " failing " + modeName);
                putBack(from);
                fs::faults::Arm(k, k % 2 ? ErrorKind::Io : ErrorKind::DiskFull, mode);
                std::string said;
                const bool succeeded = operation(said);
                const bool fired = fs::faults::Fired();
                fs::faults::Disarm();
                const bool kept = fs::FileExists(journal);
                if (succeeded) {
                    // Said done: it is, history included, and nothing is left to recover.
                    ASSERT_FALSE(kept) << said;
                    ASSERT_EQ(differences(done, take()), "") << said;
                }
                if (!fired) {
                    ASSERT_TRUE(succeeded) << said;
                    points[what + " " + modeName] = k - 1;
                    break;
                }
                // A failure that does not send the user to recover changed nothing.
                if (!succeeded && said.find("recover") == std::string::npos && !fromText.empty()) {
                    ASSERT_EQ(differences(from, take()), "") << "a failure said to change nothing changed the folder: " << said;
                }
                if (!succeeded && kept) {
                    ASSERT_NE(said.find("recover"), std::string::npos) << said;
                }
                RecordingWindowServices quiet;
                ASSERT_TRUE(RecoverInterruptedInstalls(quiet, game, options).Clean()) << (quiet.messages.empty() ? "" : quiet.messages.back().text);
                const State now = take();
                const bool stands = differences(done, now) == "";
                if (!fromText.empty()) {
                    if (!stands) {
                        ASSERT_EQ(differences(from, now), "") << "neither before nor after; after differs in " << differences(done, now);
                    }
                    if (kept) {
                        ASSERT_EQ(quiet.messages.size(), 1u);
                        EXPECT_EQ(quiet.messages[0].text, stands ? doneText : fromText);
                    }
                }
                if (!steps.empty()) {
                    ASSERT_TRUE(std::any_of(steps.begin(), steps.end(), [&](const State& step) { return differences(step, now) == ""; }))
                        << "between the steps of the chain; after: " << said;
                }
            }
        }
    };
    const std::string uninstallText = "An uninstall of install 1 from " + DisplayPath(game) + " was interrupted.\r\n"
        + "It has been finished: install 1 is taken out of the game folder.";
    const std::string compactText = "A compaction of the game archives in " + DisplayPath(game);
    everyFailurePoint("out-of-order uninstall", installed, uninstalled, uninstallText, "(never rolled back)",
                      [&](std::string& said) { return TakeBackAsTheConsole(game, said, 1); });
    everyFailurePoint(
        "uninstall --with-later", installed, withLater, "", "", [&](std::string& said) { return TakeBackAsTheConsole(game, said, 2); },
        withLaterSteps);
    everyFailurePoint(
        "restore", installed, restored, "", "", [&](std::string& said) { return TakeBackAsTheConsole(game, said); }, restoreSteps);
    auto compactAsTheConsole = [&](std::string& said) {
        try {
            RecordingWindowServices quiet;
            WindowPresenter presenter(quiet);
            const LockedHistory locked(game, presenter);
            Compact(locked.Folder(), locked.JournalPathText(), game, PlanCompaction(game));
            return true;
        } catch (const std::exception& e) {
            // As the console says it: when it cannot be told, a recover does no harm.
            bool journalLeft = true;
            try {
                journalLeft = fs::FileExists(journal);
            } catch (const TesseraError&) {
            }
            said = std::string(e.what()) + (journalLeft ? " It is finished by tessera-cli recover." : "");
            return false;
        }
    };
    const std::string compactDone = compactText + " was interrupted after its new archives were in place.\r\nIt has been finished: the game archives are compacted.";
    const std::string compactUndone = compactText + " was interrupted.\r\nIt has been rolled back: the game folder is as it was before that compaction.";
    everyFailurePoint("compact", installed, compacted, compactDone, compactUndone, compactAsTheConsole);
    everyFailurePoint("compact after an out-of-order uninstall", uninstalled, compactedHole, compactDone, compactUndone, compactAsTheConsole);

    // Every state a chain may stop in comes out to the exact start, as do the single changes:
    // the history followed the moved records.
    auto restoresTo = [&](const State& from, const Snapshot& expected) {
        putBack(from);
        restore();
        EXPECT_EQ(DescribeDifferences(expected, TakeSnapshot(game)), "");
    };
    for (const State& step : withLaterSteps)
        restoresTo(step, start);
    restoresTo(uninstalled, start);
    restoresTo(compacted, startCompacted);
    restoresTo(compactedHole, startCompacted);
    for (const auto& [what, n] : points)
        std::cout << "[ faults   ] " << what << ": " << n << " failure points, each told truly and recovered\n";
    EXPECT_GT(points["compact once"], 20);
}

// Archives compact cannot rewrite without losing or doubling data are refused by name, whole:
// nothing of any archive changes.
TEST_F(History, CompactRefusesArchivesItCannotRewriteAndChangesNothing)
{
    struct Case {
        const char* what;
        Bytes dir;
        std::size_t imgBlocks;
        const char* said;
    };
    const Case cases[] = {
        {"data past the end", Concat({Record(0, 1, "a.dff"), Record(2, 2, "b.dff")}), 3, "entry 1 (b.dff) runs past the end of the .img"},
        {"shared data", Concat({Record(0, 2, "a.dff"), Record(1, 1, "b.dff")}), 3, "entries 0 and 1 share data"},
        {"a negative offset", Concat({Record(-1, 1, "a.dff")}), 3, "entry 0 (a.dff) has a negative offset or size"},
        {"a cut record", Slice(Record(0, 1, "a.dff"), 0, 20), 3, "its .dir is not whole records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(game + "models/gta3.dir", c.dir);
        WriteFile(game + "models/gta3.img", Pattern(c.imgBlocks * kBlockSize, 5));
        WriteFile(game + "models/txd.img", Concat({ReadFile(game + "models/txd.img"), Zeros(kBlockSize)}));   // compactable
        const Snapshot before = TakeSnapshot(game);
        const auto r = Cli({"compact"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("The game archive models" + std::string(1, fs::kSeparator) + "gta3 cannot be compacted: " + c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Nothing was changed."), std::string::npos) << r.err;
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
    }
    fs::DeleteFile(game + "models/gta3.img");
    const auto r = Cli({"compact", "--dry-run"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("its .img is missing"), std::string::npos) << r.err;
    EXPECT_EQ(Cli({"compact", "extra"}).status, 2);
}
