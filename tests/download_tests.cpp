// Downloads installed as they are shipped: archives made here with libarchive's writer (zip,
// 7z) or by hand (rar, which nothing here writes), and plain folders. A download must install
// exactly as a package of its game files does, and a hostile or damaged one must be refused
// before the game folder is touched.
#include "DownloadSupport.h"
#include "FileSystem.h"
#include "InstallDownload.h"
#include "ModSource.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <random>

#ifndef _WIN32
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace tessera;
using namespace tessera::test;

namespace {

#ifdef _WIN32
constexpr const char* kTempVariable = "TMP";
#else
constexpr const char* kTempVariable = "TMPDIR";
#endif

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Scratch folders and the package made from a download go here, so leftovers show.
        fs::CreateFolder(root / "tmp");
        SetEnv(kTempVariable, (root / "tmp").c_str());
        fs::CreateFolder(root / "a");
        game = MakeGameFolder(root / "a");
        options.journalFolder = root / "journal/";
    }
    void TearDown() override { SetEnv(kTempVariable, nullptr); }

    InstallResult InstallInto(const std::string& folder, const std::string& source, RecordingWindowServices& w,
                              const std::string& from = {})
    {
        MemorySettingsStore store;
        store.SaveSetting("Tessera", "Settings", "GTA3Path", folder);
        modMain settings(store);
        settings.LoadSettings();
        bool package = false;
        {
            const fs::faults::Suspend quiet;   // the test's own look is no call of the install's
            package = fs::PathExists(source) && EndsWith(source, ".zpk");
        }
        return package ? InstallPackage(source, settings, w, options) : InstallDownload(source, settings, w, options, {from, {}});
    }

    // What installs left in the temporary folder, beside the tests' own folders.
    std::vector<std::string> Leftovers()
    {
        std::vector<std::string> left;
        for (const std::string& path : Tree(root / "tmp"))
            if (!path.starts_with("tessera-test-"))
                left.push_back(path);
        return left;
    }

    TempDir root;
    std::string game;
    RecordingWindowServices window;
    InstallOptions options;
};

} // namespace

// The model: a download installs exactly as the package of its game files, each under its last
// name, does: same game folder byte for byte, same messages, plus one message for what was
// skipped. Random sets of members over every format.
TEST_F(Download, InstallsAsThePackageOfItsGameFilesDoes)
{
    const std::vector<std::string> gameNames = {"car.dff", "CAR.txd", "new.dff", "Bike.DFF", "scene.dat", "default.dat",
                                                "hud.txd", "american.gxt", "ped.ifp", "intro.dat", "odd.xyz", "caf\xc3\xa9.txd"};
    const std::vector<std::string> docNames = {"readme.txt", "ReadMe", "shot1.jpg", "info.NFO", "page.html", "site.url", "pic.png"};
    const std::vector<std::string> folders = {"", "Mod/", "Mod/models/", "a/b/c/"};
    const Format formats[] = {Format::Zip, Format::ZipStored, Format::SevenZip, Format::Rar, Format::Folder};
    std::mt19937 random(14);
    for (int round = 0; round < 15; ++round) {
        const Format format = formats[round % 5];
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", " + FormatName(format));
        std::vector<Member> members;
        std::vector<PackageEntry> entries;
        std::vector<std::string> skipped;
        std::vector<std::string> pool = gameNames;
        std::shuffle(pool.begin(), pool.end(), random);
        for (std::size_t i = 0; i < 1 + random() % 6; ++i) {
            const std::string path = folders[random() % folders.size()] + pool[i];
            Bytes bytes = Pattern(1 + random() % 5000, static_cast<unsigned>(random()));
            if (round == 2 && i == 0)
                bytes = Zeros(3 << 20);   // compressed over a thousand times
            members.push_back({path, bytes});
            // Names stored as UTF-8 arrive in the game's code page; others as their bytes.
            const bool utf8 = format != Format::Rar && format != Format::Folder;
            entries.push_back({utf8 && pool[i] == "caf\xc3\xa9.txd" ? "caf\xe9.txd" : pool[i], bytes});
        }
        for (std::size_t i = 0; i < random() % 3; ++i) {
            const std::string path = folders[random() % folders.size()] + docNames[random() % docNames.size()];
            if (std::find(skipped.begin(), skipped.end(), path) != skipped.end())
                continue;
            members.push_back({path, ToBytes("not a game file")});
            skipped.push_back(path);
        }
        if (format != Format::Folder && format != Format::Rar)
            members.push_back({"Mod/", {}, Member::Kind::Folder});
        std::shuffle(members.begin(), members.end(), random);
        const std::string source = root / ("dl" + std::to_string(round) + Extension(format));
        MakeDownload(source, format, members);
        const std::vector<std::string> listed = ListModSource(source).skipped;

        TempDir other;
        const std::string expectedGame = MakeGameFolder(other.Path());
        const std::string packageBase = other / "pkg";
        WritePackage(packageBase, entries);
        RecordingWindowServices expected, got;
        ASSERT_EQ(InstallInto(expectedGame, packageBase + ".zpk", expected), InstallResult::Installed);
        TempDir fresh;
        const std::string gotGame = MakeGameFolder(fresh.Path());
        ASSERT_EQ(InstallInto(gotGame, source, got), InstallResult::Installed) << got.messages.back().text;

        EXPECT_EQ(DescribeDifferences(TakeSnapshot(expectedGame), TakeSnapshot(gotGame)), "");
        // The caption names the download, while it is unpacked and where it named the package.
        ASSERT_GE(got.captions.size(), 2u);
        EXPECT_EQ(got.captions[0], "Installing " + BaseName(source));
        EXPECT_EQ(got.captions[1], got.captions[0]);
        EXPECT_EQ(std::vector<std::string>(got.captions.begin() + 2, got.captions.end()),
                  std::vector<std::string>(expected.captions.begin() + 1, expected.captions.end()));
        std::vector<RecordedMessage> wanted = expected.messages;
        std::sort(skipped.begin(), skipped.end(), LessIgnoreCase);
        EXPECT_EQ(listed, skipped);
        if (!skipped.empty())
            wanted.push_back({SkippedText(ListModSource(source)), kSkippedTitle});
        EXPECT_EQ(got.messages, wanted);
        EXPECT_EQ(got.pointer, Pointer::Default);
        EXPECT_TRUE(got.installEnabled && got.browseEnabled);
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
}

namespace {

// The bytes of a file with the four at offset replaced by value (little-endian).
Bytes Patched(Bytes b, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[offset + static_cast<std::size_t>(i)] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
    return b;
}

std::size_t Find(const Bytes& b, std::string_view what)
{
    const Bytes w = ToBytes(what);
    const auto it = std::search(b.begin(), b.end(), w.begin(), w.end());
    return static_cast<std::size_t>(it - b.begin());
}

// The zip with its first member's uncompressed size stated as size wherever zip states it: local
// header, data descriptor, central directory.
Bytes StatedSize(Bytes b, std::uint32_t size)
{
    b = Patched(b, Find(b, "PK\x03\x04") + 22, size);
    if (const std::size_t d = Find(b, "PK\x07\x08"); d < b.size())
        b = Patched(b, d + 12, size);
    return Patched(b, Find(b, "PK\x01\x02") + 24, size);
}

} // namespace

// Every hostile or damaged download is refused before the game folder is touched, with a
// message that names the download and what is wrong, and leaves the window usable.
TEST_F(Download, HostileAndDamagedDownloadsAreRefusedBeforeAnyChange)
{
    const Bytes car = Pattern(5000, 7);
    struct Row {
        const char* why;
        std::function<std::string()> make;   // returns the source
        std::string message;                 // a part of the refusal
        std::string from = {};
    };
    auto make = [&](const std::string& name, Format format, std::vector<Member> members, const char* options = nullptr,
                    const char* passphrase = nullptr) {
        const std::string path = root / name;
        MakeDownload(path, format, members, options, passphrase);
        return path;
    };
    auto damage = [&](const std::string& name, std::function<Bytes(Bytes)> change) {
        const std::string path = make(name, Format::Zip, {{"Mod/car.dff", car}, {"Mod/readme.txt", ToBytes("hi")}});
        WriteFile(path, change(ReadFile(path)));
        return path;
    };
    const Row rows[] = {
        {"a member that climbs out", [&] { return make("up.zip", Format::Zip, {{"car.dff", car}, {"../../x.dff", car}}); },
         "up.zip, member ../../x.dff: the path leads out of the archive's folder"},
        {"an absolute member", [&] { return make("abs.zip", Format::Zip, {{"/abs/x.txd", car}}); }, "member /abs/x.txd: the path is absolute"},
        {"a member on a drive", [&] { return make("drive.zip", Format::Zip, {{"C:\\x.dff", car, {}, true}}); },
         ": the path names a drive"},
        {"a climbing 7z member", [&] { return make("up.7z", Format::SevenZip, {{"a/../../x.dff", car}}); }, "the path leads out"},
        {"a climbing rar member", [&] { return make("up.rar", Format::Rar, {{"../x.dff", car}}); }, "the path leads out"},
        {"one name in two folders",
         [&] { return make("two.zip", Format::Zip, {{"Option A/car.dff", car}, {"Option B/CAR.dff", car}, {"Option B/x.txd", car}}); },
         "two.zip holds more than one file of the same name: Option A/car.dff, Option B/CAR.dff. Tessera cannot tell which one to install."},
        {"one name in two folders of a folder",
         [&] { return make("twofold", Format::Folder, {{"new/car.dff", car}, {"original/car.dff", car}}); },
         "holds more than one file of the same name: new/car.dff, original/car.dff."},
        {"a folder of the download that is not there", [&] { return make("from.zip", Format::Zip, {{"Option A/car.dff", car}}); },
         "from.zip has no folder Option C", "Option C"},
        {"an encrypted member",
         [&] { return make("secret.zip", Format::Zip, {{"car.dff", car}}, "zip:encryption=zipcrypt", "password"); },
         "secret.zip, member car.dff: the file is encrypted, and Tessera cannot read encrypted archives"},
        {"a truncated zip", [&] { return damage("cut.zip", [](Bytes b) { return Slice(b, 0, b.size() - 30); }); },
         "cut.zip is damaged or truncated"},
        {"a truncated 7z",
         [&] {
             const std::string path = make("cut.7z", Format::SevenZip, {{"car.dff", car}});
             WriteFile(path, Slice(ReadFile(path), 0, ReadFile(path).size() - 10));
             return path;
         },
         "cut.7z is damaged or truncated: "},
        {"a member that holds less than stated",
         [&] { return damage("less.zip", [](Bytes b) { return StatedSize(b, 9000); }); }, "less.zip, member Mod/car.dff: the archive is damaged"},
        {"a member that holds more than stated",
         [&] { return damage("more.zip", [](Bytes b) { return StatedSize(b, 100); }); }, "more.zip, member Mod/car.dff: the archive is damaged"},
        {"a damaged byte in a member",
         [&] {
             return damage("crc.zip", [](Bytes b) {
                 b[Find(b, "car.dff") + 300] ^= std::byte{0x55};
                 return b;
             });
         },
         "crc.zip, member Mod/car.dff: the archive is damaged or truncated: "},
        {"a file in no known format", [&] { const std::string p = root / "junk.zip"; WriteFile(p, Pattern(3000)); return p; },
         "junk.zip is not a .zip, .7z or .rar archive"},
        {"an empty file", [&] { const std::string p = root / "empty.7z"; WriteFile(p, {}); return p; }, "empty.7z is not a .zip, .7z or .rar archive"},
        {"no file at all", [&] { return root / "none.zip"; }, "none.zip was not found"},
        {"a name outside the game's code page", [&] { return make("cyr.zip", Format::Zip, {{"\xd0\x96.dff", car}}); },
         "member \xd0\x96.dff: the name has characters that game file names cannot hold"},
        {"a device name", [&] { return make("device.zip", Format::Zip, {{"Mod/con.txd", car}}); }, "member Mod/con.txd: the name is the reserved device name CON"},
        {"a control character", [&] { return make("ctl.zip", Format::Zip, {{"a\x01.dff", car, {}, true}}); }, "member a\\x01.dff: the name contains a control character"},
        {"a space, which a package entry ends at", [&] { return make("space.rar", Format::Rar, {{"my car.dff", car}}); },
         "member my car.dff: the name contains a space"},
        {"a name too long for a package entry", [&] { return make("long.7z", Format::SevenZip, {{"abcdefghijklmnopqrst.dff", car}}); },
         "member abcdefghijklmnopqrst.dff: the name is longer than 23 characters"},
        {"nothing but documentation",
         [&] { return make("docs.zip", Format::Zip, {{"readme.txt", ToBytes("hi")}, {"shot.jpg", car}, {"Mod/", {}, Member::Kind::Folder}}); },
         "It holds no game files to install."},
    };
    const Snapshot before = TakeSnapshot(game);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const std::string source = row.make();
        window = RecordingWindowServices();
        ASSERT_EQ(InstallInto(game, source, window, row.from), InstallResult::Failed);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].title, "Install failed");
        const std::string& text = window.messages[0].text;
        EXPECT_TRUE(text.starts_with("The package " + source + " could not be installed.\r\n")) << text;
        EXPECT_NE(text.find(row.message), std::string::npos) << text;
        EXPECT_TRUE(EndsWith(text, "\r\nThe game folder was left as it was.")) << text;
        EXPECT_EQ(window.LastCaption(), "Orlen's Tessera");
        EXPECT_EQ(window.pointer, Pointer::Default);
        EXPECT_TRUE(window.installEnabled && window.browseEnabled);
        EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
}

// A download cut short anywhere, in any format, is refused; it never yields a package whose
// bytes differ from the files it was made from.
TEST_F(Download, EveryCutOfADownloadIsRefusedOrWhole)
{
    const std::vector<Member> members = {{"Mod/car.dff", Pattern(700, 1)}, {"Mod/readme.txt", ToBytes("read me")}, {"b.txd", Pattern(300, 2)}};
    for (Format format : {Format::Zip, Format::ZipStored, Format::SevenZip, Format::Rar}) {
        SCOPED_TRACE(FormatName(format));
        const std::string whole = root / (std::string("whole") + Extension(format));
        MakeDownload(whole, format, members);
        const Bytes bytes = ReadFile(whole);
        int refused = 0;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE("cut at " + std::to_string(length));
            // A new file each time: rewriting one in place makes the file system flush it.
            const std::string cut = root / ("cut" + std::to_string(length) + Extension(format));
            WriteFile(cut, Slice(bytes, 0, length));
            struct Remove {
                std::string path;
                ~Remove() { fs::DeleteFile(path); }
            } remove{cut};
            for (const char* ext : {".zpk", ".dir"})
                if (fs::PathExists(root / "pkg" + ext))
                    fs::DeleteFile(root / "pkg" + ext);
            try {
                const ModListing listing = ListModSource(cut);
                WriteModPackage(listing, root / "pkg");
            } catch (const TesseraError& e) {
                ++refused;
                ASSERT_TRUE(e.Kind() == ErrorKind::BadArchive) << e.what();
                ASSERT_FALSE(fs::PathExists(root / "pkg.zpk") || fs::PathExists(root / "pkg.dir"));
                continue;
            }
            // Only a rar, which has no closing directory, can end early and still be read.
            ASSERT_EQ(format, Format::Rar);
            for (const DirRecord& r : ParseDirectory(ReadFile(root / "pkg.dir"))) {
                const Bytes data = Slice(ReadFile(root / "pkg.zpk"), static_cast<std::size_t>(r.lOffset), static_cast<std::size_t>(r.lSize));
                EXPECT_EQ(data, RecordName(r.sName) == "car.dff" ? members[0].bytes : members[2].bytes);
            }
        }
        EXPECT_GT(refused, static_cast<int>(bytes.size()) * 9 / 10);
    }
}

// Every failing write while the package is made from a download: the install fails with its
// message, the game folder and the temporary folder are as they were.
TEST_F(Download, EveryFailurePointWhileUnpackingLeavesEverythingAsItWas)
{
    const std::string source = root / "mod.7z";
    MakeDownload(source, Format::SevenZip, {{"car.dff", Pattern(3000, 2)}, {"x/new.dff", Pattern(10, 3)}, {"hud.txd", Pattern(20, 5)},
                                            {"readme.txt", ToBytes("hi")}});
    const Snapshot before = TakeSnapshot(game);
    long k = 1;
    for (;; ++k) {
        ASSERT_LT(k, 1000) << "the install never got through";
        window = RecordingWindowServices();
        fs::faults::Arm(k, k % 2 ? ErrorKind::DiskFull : ErrorKind::AccessDenied);
        const InstallResult result = InstallInto(game, source, window);
        const bool fired = fs::faults::Fired();
        fs::faults::Disarm();
        if (!fired) {
            ASSERT_EQ(result, InstallResult::Installed);
            break;
        }
        SCOPED_TRACE("failure point " + std::to_string(k));
        if (result == InstallResult::Installed) {
            // The failure fell in the clean-up after the install stood, which the next recovery
            // finishes; the game folder goes back for the next point.
            RecordingWindowServices quiet;
            ASSERT_TRUE(RecoverInterruptedInstalls(quiet, game, options).Clean());
            for (const std::string& path : Tree(game))
                if (path.back() != '/' && !before.count(path))
                    fs::DeleteFile(game + path);
            for (const auto& [path, bytes] : before)
                if (path.back() != '/')
                    WriteFile(game + path, bytes);
            continue;
        }
        ASSERT_EQ(result, InstallResult::Failed);
        ASSERT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
        ASSERT_EQ(window.messages.back().title, "Install failed");
        ASSERT_NE(window.messages.back().text.find("mod.7z could not be installed"), std::string::npos);
        ASSERT_EQ(Leftovers(), std::vector<std::string>{});
    }
    std::cout << "[ faults   ] " << k - 1 << " failure points of a download's install rolled back\n";
    EXPECT_EQ(window.messages.back(), (RecordedMessage{"Skipped, not game files: readme.txt", "Skipped files"}));
    EXPECT_EQ(ReadFile(game + "models/hud.txd"), Pattern(20, 5));
}

// A pack over an existing package, each call failing once or for good (a full disk, a drive
// that goes): the former package stays byte for byte, or the new one is whole; never a mixed
// pair, nothing beside it, and a former .zpk that cannot go back is named where it is kept.
TEST_F(Download, EveryFailurePointOfAPackKeepsTheFormerPackageOrWritesTheNewWhole)
{
    for (const char* folder : {"new", "old", "former", "whole"})
        fs::CreateFolder(root / folder);
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{{"car.dff", Pattern(3000, 2)}, {"hud.txd", Pattern(20, 5)}})
        WriteFile(root / "new/" + name, bytes);
    WriteFile(root / "old/default.dat", ToBytes("former package"));
    auto pack = [&](const std::string& from, const std::string& base) { WriteModPackage(ListModSource(from), base); };
    pack(root / "old", root / "former/pkg");
    pack(root / "new", root / "whole/pkg");
    const Bytes formerZpk = ReadFile(root / "former/pkg.zpk"), formerDir = ReadFile(root / "former/pkg.dir");
    const Bytes newZpk = ReadFile(root / "whole/pkg.zpk"), newDir = ReadFile(root / "whole/pkg.dir");
    const std::string out = root / "out/";
    std::map<std::string, int> outcomes;
    for (const auto mode : {fs::faults::Mode::Once, fs::faults::Mode::Persistent}) {
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 1000) << "the pack never got through";
            SCOPED_TRACE((mode == fs::faults::Mode::Once ? "once at " : "for good from ") + std::to_string(k));
            fs::RemoveTree(out);
            fs::CreateFolder(out);
            WriteFile(out + "pkg.zpk", formerZpk);
            WriteFile(out + "pkg.dir", formerDir);
            std::string failure;
            fs::faults::Arm(k, k % 2 ? ErrorKind::DiskFull : ErrorKind::Io, mode);
            try {
                pack(root / "new", out + "pkg");
            } catch (const TesseraError& e) {
                failure = e.what();
            }
            const bool fired = fs::faults::Fired();
            fs::faults::Disarm();
            // A drive that went keeps a pack from removing its new files; the next pack does.
            std::vector<std::string> files;
            for (const std::string& file : fs::ListFiles(out))
                if (mode == fs::faults::Mode::Once || !EndsWith(file, ".tessera-new"))
                    files.push_back(file);
            const auto holds = [&](const char* file, const Bytes& bytes) { return fs::FileExists(out + file) && ReadFile(out + file) == bytes; };
            if (!fired) {
                ASSERT_EQ(failure, "");
                ASSERT_EQ(files, (std::vector<std::string>{"pkg.dir", "pkg.zpk"}));
                ASSERT_TRUE(holds("pkg.zpk", newZpk) && holds("pkg.dir", newDir));
                outcomes["failure points"] += static_cast<int>(k - 1);
                break;
            }
            if (holds("pkg.zpk", newZpk) && holds("pkg.dir", newDir)) {
                // Written whole; only a former version that could not be removed is left, and said.
                ASSERT_TRUE(files.size() == 2 || (files.size() == 3 && failure.find("could not be removed") != std::string::npos)) << failure;
                ++outcomes["new package whole"];
                continue;
            }
            ASSERT_NE(failure, "");
            if (holds("pkg.zpk.tessera-former", formerZpk)) {
                // The drive went between the two renames and the former .zpk could not go back.
                ASSERT_EQ(mode, fs::faults::Mode::Persistent);
                ASSERT_TRUE(holds("pkg.dir", formerDir));
                ASSERT_NE(failure.find("is kept as " + out + "pkg.zpk.tessera-former"), std::string::npos) << failure;
                ++outcomes["former .zpk kept aside, named"];
                continue;
            }
            ASSERT_EQ(files, (std::vector<std::string>{"pkg.dir", "pkg.zpk"})) << failure;
            ASSERT_TRUE(holds("pkg.zpk", formerZpk) && holds("pkg.dir", formerDir)) << failure;
            ++outcomes["former package kept"];
            pack(root / "new", out + "pkg");
            ASSERT_EQ(fs::ListFiles(out), (std::vector<std::string>{"pkg.dir", "pkg.zpk"}));
            ASSERT_TRUE(holds("pkg.zpk", newZpk) && holds("pkg.dir", newDir));
        }
    }
    std::cout << "[ faults   ] " << outcomes["failure points"] << " failure points of a pack over a package:";
    for (const auto& [what, count] : outcomes)
        if (what != "failure points")
            std::cout << " " << what << " " << count << ";";
    std::cout << "\n";
    EXPECT_GT(outcomes["former package kept"], 10);
}

// Links, devices and folders are never read; the files of one folder are picked with from;
// what was skipped is told once, at the end.
TEST_F(Download, LinksDevicesAndTheChosenFolder)
{
    const Bytes a = Pattern(100, 1), b = Pattern(200, 2);
    const std::string zip = root / "options.zip";
    MakeDownload(zip, Format::Zip, {{"Option A/car.dff", a}, {"Option B/CAR.dff", b}, {"Option B/Readme.txt", ToBytes("b")},
                                    {"Option B/link.dff", ToBytes("../../etc/passwd"), Member::Kind::Symlink},
                                    {"Option A/shot.png", a}});
    ASSERT_EQ(InstallInto(game, zip, window, "option b/"), InstallResult::Installed);
    EXPECT_EQ(window.captions, (std::vector<std::string>{"Installing options.zip", "Installing options.zip", "Installing CAR.dff", "Mod installed!"}));
    EXPECT_EQ(window.messages, (std::vector<RecordedMessage>{
                                   {"Skipped, not game files: Option B/Readme.txt\r\nSkipped, links and special files: Option B/link.dff",
                                    "Skipped files"}}));
    const auto records = ParseDirectory(ReadFile(game + "models/gta3.dir"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(RecordName(records[2].sName), "CAR.dff");
    EXPECT_EQ(Slice(ReadFile(game + "models/gta3.img"), static_cast<std::size_t>(records[2].lOffset) * 2048, b.size()), b);

#ifndef _WIN32
    const std::string folder = root / "loose";
    MakeDownload(folder, Format::Folder, {{"models/bike.dff", a}, {"models/link.txd", ToBytes("/etc/passwd"), Member::Kind::Symlink}});
    ASSERT_EQ(::mkfifo((folder + "/pipe.dff").c_str(), 0600), 0);   // a reader of it would wait forever
    const ModListing listing = ListModSource(folder);
    ASSERT_EQ(listing.members.size(), 1u);
    EXPECT_EQ(listing.members[0].path, "models/bike.dff");
    EXPECT_EQ(listing.special, (std::vector<std::string>{"models/link.txd", "pipe.dff"}));

    // A pipe where a download, a package's directory or data, or a game archive should be is
    // named as what it is, not as missing.
    ASSERT_EQ(::mkfifo((root / "pipe.zip").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((root / "piped.dir").c_str(), 0600), 0);
    WriteFile(root / "piped.zpk", a);
    WritePackage(root / "mod", {{"car.dff", a}});
    const struct Row {
        std::string path;
        std::string message;
    } rows[] = {{root / "pipe.zip", "pipe.zip is not a regular file"},
                {root / "piped.zpk", "piped.dir is not a regular file"},
                {root / "mod.zpk", "gta3.img is not a regular file"}};
    fs::RenameFile(game + "models/gta3.img", root / "gta3.img");
    ASSERT_EQ(::mkfifo((game + "models/gta3.img").c_str(), 0600), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        RecordingWindowServices refused;
        EXPECT_EQ(InstallInto(game, row.path, refused), InstallResult::Failed);
        ASSERT_FALSE(refused.messages.empty());
        EXPECT_NE(refused.messages.back().text.find(row.message), std::string::npos) << refused.messages.back().text;
    }
#endif

    // Of many skipped files, the first 20 are named and the rest counted.
    ModListing many;
    for (int i = 0; i < 25; ++i)
        many.skipped.push_back("shot" + std::to_string(i) + ".jpg");
    const std::string skipped = SkippedText(many);
    EXPECT_EQ(skipped.find("shot20.jpg"), std::string::npos);
    EXPECT_NE(skipped.find(", shot19.jpg and 5 more (25 in all)"), std::string::npos) << skipped;
}

// What downloads of dead processes left in the temporary folder goes with the next run (an
// install of a download, or a recovery): a process killed while it unpacked, a folder from
// before such folders were held, a lock whose folder went. A live process's folder stays.
TEST_F(Download, DeadScratchGoesWithTheNextRun)
{
    const std::string tmp = root / "tmp/";
    const auto plantDead = [&] {
#ifndef _WIN32
        // Killed while it unpacked: its folder, with a part of a package, and its lock. (On
        // Windows the lock goes with the dead process's handle: its folder is as the one below.)
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto* held = new fs::HeldScratchFolder(kDownloadScratchPrefix);
            WriteFile(held->Path() + "download.zpk", Pattern(100000, 1));
            ::kill(::getpid(), SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
#endif
        fs::CreateFolder(tmp + kDownloadScratchPrefix + "4242-0-1");
        WriteFile(tmp + kDownloadScratchPrefix + "4242-0-1/download.dir", Pattern(64, 2));
        WriteFile(tmp + kDownloadScratchPrefix + "4343.lock", {});
    };
    plantDead();
    const std::vector<std::string> dead = Leftovers();
#ifdef _WIN32
    ASSERT_EQ(dead.size(), 3u) << ::testing::PrintToString(dead);
#else
    ASSERT_EQ(dead.size(), 6u) << ::testing::PrintToString(dead);
#endif

    const fs::HeldScratchFolder live(kDownloadScratchPrefix);
    WriteFile(live.Path() + "download.zpk", Pattern(10, 3));
    const std::vector<std::string> alive = Leftovers();
    ASSERT_EQ(alive.size(), dead.size() + 3);

    const std::string source = root / "mod.zip";
    MakeDownload(source, Format::Zip, {{"car.dff", Pattern(3000, 2)}});
    ASSERT_EQ(InstallInto(game, source, window), InstallResult::Installed);
    const std::vector<std::string> left = Leftovers();
    const std::string liveName = live.Path().substr(tmp.size(), live.Path().size() - tmp.size() - 1);
    std::vector<std::string> own;
    for (const std::string& path : alive)
        if (path.starts_with(liveName))
            own.push_back(path);
    EXPECT_EQ(own.size(), 3u);
    EXPECT_EQ(left, own);

    plantDead();
    RecordingWindowServices quiet;
    EXPECT_TRUE(RecoverInterruptedInstalls(quiet, game, options).Clean());
    EXPECT_EQ(Leftovers(), own);
}

// tessera-cli as a script runs it: install and pack take downloads; --from picks a folder; the
// dry run changes nothing.
TEST_F(Download, ConsoleInstallsPacksAndPlansDownloads)
{
#ifdef _WIN32
    GTEST_SKIP() << "run by scripts/windows-test.sh as a Linux test against tessera-cli.exe";
#endif
    fs::CreateFolder(root / "config");
    auto cli = [&](const std::vector<std::string>& args) {
        return RunCommand(CliUnderTest(TESSERA_CLI), args,
                          "TMPDIR=" + ShellQuote(root / "tmp") + " XDG_DATA_HOME=" + ShellQuote(root / "journal")
                              + " XDG_CONFIG_HOME=" + ShellQuote(root / "config"));
    };
    const Bytes car = Pattern(3000, 4), a = Pattern(10, 5), b = Pattern(20, 6);
    MakeDownload(root / "mod.zip", Format::Zip, {{"Mod/readme.txt", ToBytes("hi")}, {"Mod/models/car.dff", car},
                                                 {"Mod/data/default.dat", ToBytes("new default")}, {"Mod/shot1.jpg", a}});
    MakeDownload(root / "two.7z", Format::SevenZip, {{"Option A/hud.txd", a}, {"Option B/HUD.txd", b}});

    CommandResult r = cli({"install", root / "mod.zip", "--game", game});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Installing mod.zip\nInstalling car.dff\nInstalling default.dat\nMod installed!\n");
    EXPECT_EQ(r.err, "Skipped files: Skipped, not game files: Mod/readme.txt, Mod/shot1.jpg\n");
    EXPECT_EQ(ReadText(game + "data/default.dat"), "new default");

    const Snapshot before = TakeSnapshot(game);
    r = cli({"install", root / "two.7z", "--game", game});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("two.7z holds more than one file of the same name: Option A/hud.txd, Option B/HUD.txd. Tessera cannot tell which one "
                         "to install. Choose the folder to install from with --from FOLDER."),
              std::string::npos)
        << r.err;
    r = cli({"install", root / "two.7z", "--game", game, "--from", "Option B", "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "HUD.txd: replaces the stock file " + game + "models\\hud.txd (the game's version is kept as .old)\n");
    EXPECT_EQ(DescribeDifferences(before, TakeSnapshot(game)), "");
    r = cli({"install", root / "two.7z", "--game", game, "--from", "Option B"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(game + "models/hud.txd"), b);

    r = cli({"pack", root / "mod.zip", root / "mod"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Packed 2 files into " + root / "mod.zpk and " + root / "mod.dir\nSkipped, not game files: Mod/readme.txt, Mod/shot1.jpg\n");
    EXPECT_EQ(ReadFile(root / "mod.dir"), Concat({Record(0, 3000, "car.dff"), Record(3000, 11, "default.dat")}));
    EXPECT_EQ(ReadFile(root / "mod.zpk"), Concat({car, ToBytes("new default")}));
    r = cli({"install", root / "mod.zpk", "--from", "x", "--game", game});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}
