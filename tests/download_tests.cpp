// Downloads installed as they are shipped: archives made here with libarchive's writer (zip,
// 7z) or by hand (rar, which nothing here writes), and plain folders. A download must install
// exactly as a package of its game files does, and a hostile or damaged one must be refused
// before the game folder is touched.
#include "FileSystem.h"
#include "InstallDownload.h"
#include "ModSource.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "Text.h"
#include "TextLocale.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tessera;
using namespace tessera::test;

namespace {

enum class Format { Zip, ZipStored, SevenZip, Rar, Folder };

const char* FormatName(Format f)
{
    switch (f) {
    case Format::Zip: return "zip";
    case Format::ZipStored: return "stored zip";
    case Format::SevenZip: return "7z";
    case Format::Rar: return "rar";
    case Format::Folder: return "folder";
    }
    return "?";
}

struct Member {
    std::string path;   // UTF-8, '/' between folders, unless raw
    Bytes bytes;
    enum class Kind { File, Folder, Symlink } kind = Kind::File;
    bool raw = false;   // the name's bytes stored as they are, with no charset
};

std::uint32_t Crc32(const Bytes& b)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::byte x : b) {
        c ^= std::to_integer<std::uint32_t>(x);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void Put(Bytes& out, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}

// A RAR 4 archive whose files are stored: marker, main header, one header per file, end.
Bytes MakeRar(const std::vector<Member>& members)
{
    auto block = [](Bytes body) {   // body from HEAD_TYPE on; the CRC covers it
        Bytes out;
        Put(out, Crc32(body) & 0xFFFF, 2);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    Bytes rar = ToBytes("Rar!\x1a\x07");
    rar.push_back(std::byte{0});
    Bytes main;
    Put(main, 0x73, 1), Put(main, 0, 2), Put(main, 13, 2), Put(main, 0, 6);
    rar = Concat({rar, block(main)});
    for (const Member& m : members) {
        std::string name = m.path;
        for (char& c : name)
            c = c == '/' ? '\\' : c;
        const bool folder = m.kind == Member::Kind::Folder;
        Bytes h;
        Put(h, 0x74, 1), Put(h, 0x8000 | (folder ? 0xE0 : 0), 2), Put(h, 32 + name.size(), 2);
        Put(h, m.bytes.size(), 4), Put(h, m.bytes.size(), 4), Put(h, 2, 1), Put(h, Crc32(m.bytes), 4);
        Put(h, 0x21, 4), Put(h, 20, 1), Put(h, 0x30, 1), Put(h, name.size(), 2), Put(h, folder ? 0x10 : 0x20, 4);
        h = Concat({h, ToBytes(name)});
        rar = Concat({rar, block(h), m.bytes});
    }
    Bytes end;
    Put(end, 0x7B, 1), Put(end, 0x4000, 2), Put(end, 7, 2);
    return Concat({rar, block(end)});
}

// Writes the members as a download at path (an archive file, or a folder) in the format.
void MakeDownload(const std::string& path, Format format, const std::vector<Member>& members, const char* options = nullptr,
                  const char* passphrase = nullptr)
{
    if (format == Format::Rar)
        return WriteFile(path, MakeRar(members));
    if (format == Format::Folder) {
        fs::CreateFolders(fs::WithTrailingSeparator(path));
        for (const Member& m : members) {
            const std::string at = fs::WithTrailingSeparator(path) + m.path;
            if (m.kind == Member::Kind::Folder) {
                fs::CreateFolders(fs::WithTrailingSeparator(at));
                continue;
            }
            fs::CreateFolders(at.substr(0, at.rfind('/') + 1));
            if (m.kind == Member::Kind::Symlink)
                EXPECT_EQ(::symlink(reinterpret_cast<const char*>(m.bytes.data()), at.c_str()), 0);
            else
                WriteFile(at, m.bytes);
        }
        return;
    }
    // Names go in as UTF-8 (and zip marks them so), unless raw: then as bytes with no charset.
    std::optional<ScopedUtf8Locale> utf8;
    if (std::none_of(members.begin(), members.end(), [](const Member& m) { return m.raw; }))
        utf8.emplace();
    archive* a = archive_write_new();
    if (format == Format::SevenZip)
        archive_write_set_format_7zip(a);
    else
        archive_write_set_format_zip(a);
    if (format == Format::ZipStored)
        archive_write_set_options(a, "zip:compression=store");
    if (options) {
        ASSERT_EQ(archive_write_set_options(a, options), ARCHIVE_OK) << archive_error_string(a);
    }
    if (passphrase)
        archive_write_set_passphrase(a, passphrase);
    ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK) << archive_error_string(a);
    for (const Member& m : members) {
        archive_entry* e = archive_entry_new();
        if (m.raw)
            archive_entry_copy_pathname(e, m.path.c_str());
        else
            archive_entry_update_pathname_utf8(e, m.path.c_str());
        archive_entry_set_perm(e, 0644);
        archive_entry_set_mtime(e, 1'000'000'000, 0);
        switch (m.kind) {
        case Member::Kind::Folder:
            archive_entry_set_filetype(e, AE_IFDIR);
            break;
        case Member::Kind::Symlink:
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_symlink(e, reinterpret_cast<const char*>(m.bytes.data()));
            break;
        case Member::Kind::File:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_size(e, static_cast<la_int64_t>(m.bytes.size()));
            break;
        }
        EXPECT_GE(archive_write_header(a, e), ARCHIVE_WARN) << m.path << ": " << archive_error_string(a);
        if (m.kind == Member::Kind::File && !m.bytes.empty()) {
            EXPECT_EQ(archive_write_data(a, m.bytes.data(), m.bytes.size()), static_cast<la_ssize_t>(m.bytes.size()));
        }
        archive_entry_free(e);
    }
    EXPECT_EQ(archive_write_close(a), ARCHIVE_OK) << archive_error_string(a);
    archive_write_free(a);
}

std::string Extension(Format f) { return f == Format::SevenZip ? ".7z" : f == Format::Rar ? ".rar" : f == Format::Folder ? "" : ".zip"; }

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Scratch folders and the package made from a download go here, so leftovers show.
        fs::CreateFolder(root / "tmp");
        ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
        fs::CreateFolder(root / "a");
        game = MakeGameFolder(root / "a");
        options.journalFolder = root / "journal/";
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    InstallResult InstallInto(const std::string& folder, const std::string& source, RecordingWindowServices& w,
                              const std::string& from = {})
    {
        MemorySettingsStore store;
        store.SaveSetting("Tessera", "Settings", "GTA3Path", folder);
        modMain settings(store);
        settings.LoadSettings();
        return fs::PathExists(source) && EndsWith(source, ".zpk") ? InstallPackage(source, settings, w, options)
                                                                 : InstallDownload(source, settings, w, options, {from, {}});
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
        EXPECT_EQ(got.captions, expected.captions);
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
