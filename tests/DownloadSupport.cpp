// Downloads made at test time.
#include "DownloadSupport.h"

#include "FileSystem.h"
#include "TextLocale.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tessera::test {

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


namespace {

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

// A UTF-8 name for the writers. On Windows libarchive keeps a name given as UTF-8 only as such,
// and the zip writer then finds none where the ANSI code page cannot hold it: given as UTF-16,
// every writer converts it.
void SetUtf8Path(archive_entry* e, const std::string& utf8)
{
#ifdef _WIN32
    std::wstring wide;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        char32_t code = extra ? c & (0x3F >> extra) : c;
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += 1 + static_cast<std::size_t>(extra);
        if (code >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else
            wide += static_cast<wchar_t>(code);
    }
    archive_entry_copy_pathname_w(e, wide.c_str());
#else
    archive_entry_update_pathname_utf8(e, utf8.c_str());
#endif
}

std::string LinkTarget(const Member& m) { return std::string(reinterpret_cast<const char*>(m.bytes.data()), m.bytes.size()); }

} // namespace

Bytes MakeRar(const std::vector<Member>& members)
{
    auto block = [](Bytes body) {   // body from HEAD_TYPE on; the CRC covers it
        Bytes crc;
        Put(crc, Crc32(body) & 0xFFFF, 2);
        return Concat({crc, body});   // not insert after push_back: MinGW's GCC 12 warns of bounds there
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

void MakeDownload(const std::string& path, Format format, const std::vector<Member>& members, const char* options,
                  const char* passphrase)
{
    if (format == Format::Rar)
        return WriteFile(path, MakeRar(members));
    if (format == Format::Folder) {
        fs::CreateFolders(fs::WithTrailingSeparator(path));
        for (const Member& m : members) {
            const std::string at = fs::WithTrailingSeparator(path) + m.path;
            const std::size_t cut = at.find_last_of("/\\");   // the member's own folders use /
            if (m.kind == Member::Kind::Folder) {
                fs::CreateFolders(fs::WithTrailingSeparator(at));
                continue;
            }
            fs::CreateFolders(at.substr(0, cut + 1));
            if (m.kind == Member::Kind::Symlink) {
#ifdef _WIN32
                ADD_FAILURE() << "links in a folder are made on Linux only";
#else
                EXPECT_EQ(::symlink(LinkTarget(m).c_str(), at.c_str()), 0);
#endif
            } else
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
    // Said outright, as on Windows the default is the ANSI code page, and a name it cannot
    // hold would reach the zip writer as no name at all.
    if (utf8 && format != Format::SevenZip)
        archive_write_set_options(a, "zip:hdrcharset=UTF-8");
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
            SetUtf8Path(e, m.path);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_mtime(e, 1'000'000'000, 0);
        switch (m.kind) {
        case Member::Kind::Folder:
            archive_entry_set_filetype(e, AE_IFDIR);
            break;
        case Member::Kind::Symlink:
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_symlink(e, LinkTarget(m).c_str());
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

} // namespace tessera::test
