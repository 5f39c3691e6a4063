// Download archives (.zip, .7z, .rar) read through libarchive, fed from the platform's file
// services.
#include "DownloadReader.h"

#ifndef TESSERA_NO_LIBARCHIVE

#include "Archive.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <string_view>
#include <utility>

namespace tessera {

namespace {

constexpr std::size_t kReadChunk = 64 << 10;   // one read of the archive file

// Windows-1252, the code page of the game's names, for the code points 0x80-0x9F; 0 where the
// page has no character.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

char Cp1252Byte(char32_t c, bool& ok)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < 32; ++i)
        if (kCp1252High[i] == c && c != 0)
            return static_cast<char>(0x80 + i);
    ok = false;
    return '?';
}

// UTF-8 text as single-byte Windows-1252 characters; ok turns false for a character the page
// lacks or for bytes that are not UTF-8.
std::string Utf8ToCp1252(std::string_view s, bool& ok)
{
    std::string r;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            ok = false;
            r += '?';
            ++i;
            continue;
        }
        char32_t c = n == 1 ? b : (b & (0x7F >> n));
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t >> 6) != 2)
                ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        r += Cp1252Byte(c, ok);
        i += n;
    }
    return r;
}

// A wide-character name (UTF-16 on Windows, UTF-32 elsewhere) as UTF-8.
std::string WideToUtf8(const wchar_t* w)
{
    std::string r;
    for (; *w; ++w) {
        char32_t c = static_cast<char32_t>(*w);
        if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(*++w) - 0xDC00);
        if (c < 0x80) {
            r += static_cast<char>(c);
        } else if (c < 0x800) {
            r += static_cast<char>(0xC0 | (c >> 6));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            r += static_cast<char>(0xE0 | (c >> 12));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            r += static_cast<char>(0xF0 | (c >> 18));
            r += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return r;
}

[[noreturn]] void Refuse(const std::string& message, const std::string& path)
{
    throw TesseraError(ErrorKind::BadArchive, message, path);
}

} // namespace

ArchiveReader::ArchiveReader(const std::string& path) : path_(path), file_(path, fs::OpenMode::Read), buffer_(kReadChunk)
{
    length_ = file_.Length();
    a_ = archive_read_new();
    if (!a_)
        throw std::bad_alloc();
    // A zip file ends with its central directory; one without it was cut short, however
    // whole its first members look, so the reader that trusts local headers alone is left out.
    archive_read_support_format_zip_seekable(a_);
    archive_read_support_format_7zip(a_);
    archive_read_support_format_rar(a_);
    archive_read_support_format_rar5(a_);
    // Names stored without a charset are taken as the game's own code page, whatever the
    // locale of the process.
    archive_read_set_format_option(a_, "zip", "hdrcharset", "CP1252");
    archive_read_set_format_option(a_, "rar", "hdrcharset", "CP1252");
    archive_read_set_callback_data(a_, this);
    archive_read_set_read_callback(a_, &ArchiveReader::ReadCallback);
    archive_read_set_seek_callback(a_, &ArchiveReader::SeekCallback);
    archive_read_set_skip_callback(a_, &ArchiveReader::SkipCallback);
    if (archive_read_open1(a_) != ARCHIVE_OK) {
        // The destructor does not run for a constructor that throws: the reader goes first.
        const std::string why = ErrorText();
        const bool unknown = why.find("Unrecognized archive format") != std::string::npos;
        archive_read_free(std::exchange(a_, nullptr));
        RethrowFileFailure();
        if (unknown && !HasArchiveSignature())
            Refuse(PrintableName(path) + " is not a .zip, .7z or .rar archive", path);
        if (unknown)
            Refuse(PrintableName(path) + " is damaged or truncated: the end of the archive is missing", path);
        Refuse(PrintableName(path) + " is damaged or truncated: " + why, path);
    }
}

ArchiveReader::~ArchiveReader() { archive_read_free(a_); }

archive_entry* ArchiveReader::Next()
{
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a_, &entry);
    if (r == ARCHIVE_EOF)
        return nullptr;
    if (r < ARCHIVE_WARN)
        Damaged(entry ? PathOf(entry) : std::string());
    return entry;
}

std::size_t ArchiveReader::Read(std::span<std::byte> out, const std::string& member)
{
    const la_ssize_t n = archive_read_data(a_, out.data(), out.size());
    if (n < 0)
        Damaged(member);
    return static_cast<std::size_t>(n);
}

void ArchiveReader::Skip(const std::string& member)
{
    if (archive_read_data_skip(a_) < ARCHIVE_WARN)
        Damaged(member);
}

std::string ArchiveReader::PathOf(archive_entry* entry, bool* representable) const
{
    bool ok = true;
    std::string path;
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) {
        path = Utf8ToCp1252(utf8, ok);
        if (!ok) {
            path = utf8;   // shown as stored; such a name cannot be installed
        }
    } else if (const char* raw = archive_entry_pathname(entry)) {
        path = raw;
    } else if (const wchar_t* wide = archive_entry_pathname_w(entry)) {
        // On Windows libarchive gives a name the ANSI code page lacks only in UTF-16.
        path = WideToUtf8(wide);
        path = Utf8ToCp1252(std::exchange(path, {}), ok);
        if (!ok)
            path = WideToUtf8(wide);
    }
    if (representable)
        *representable = ok;
    return path;
}

void ArchiveReader::Damaged(const std::string& member)
{
    RethrowFileFailure();
    std::string where = PrintableName(path_);
    if (!member.empty())
        where += ", member " + PrintableName(member);
    Refuse(where + (member.empty() ? " is" : ": the archive is") + " damaged or truncated: " + ErrorText(), path_);
}

bool ArchiveReader::HasArchiveSignature() const
{
    std::array<std::byte, 6> head{};
    const std::size_t n = file_.ReadAt(0, head);
    const std::string_view text(reinterpret_cast<const char*>(head.data()), n);
    return text.starts_with("PK\x03\x04") || text.starts_with("7z\xBC\xAF\x27\x1C") || text.starts_with("Rar!\x1A\x07");
}

std::string ArchiveReader::ErrorText() const
{
    std::string s = archive_error_string(a_) ? archive_error_string(a_) : "unknown error";
    s.erase(s.find_last_not_of(" \r\n") + 1);
    return s;
}

void ArchiveReader::RethrowFileFailure()
{
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

la_ssize_t ArchiveReader::ReadCallback(archive*, void* data, const void** out)
{
    auto* self = static_cast<ArchiveReader*>(data);
    try {
        const std::size_t n = self->file_.ReadAt(self->position_, self->buffer_);
        self->position_ += static_cast<std::int64_t>(n);
        *out = self->buffer_.data();
        return static_cast<la_ssize_t>(n);
    } catch (...) {
        self->failure_ = std::current_exception();
        return ARCHIVE_FATAL;
    }
}

la_int64_t ArchiveReader::SeekCallback(archive*, void* data, la_int64_t offset, int whence)
{
    auto* self = static_cast<ArchiveReader*>(data);
    const std::int64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? self->position_ : self->length_;
    const std::int64_t to = from + offset;
    if (to < 0)
        return ARCHIVE_FATAL;
    self->position_ = to;
    return to;
}

la_int64_t ArchiveReader::SkipCallback(archive*, void* data, la_int64_t request)
{
    auto* self = static_cast<ArchiveReader*>(data);
    const std::int64_t step = std::max<std::int64_t>(0, std::min<std::int64_t>(request, self->length_ - self->position_));
    self->position_ += step;
    return step;
}

} // namespace tessera

#endif
