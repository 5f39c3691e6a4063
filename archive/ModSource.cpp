// Reading downloads: archives through libarchive, fed from the platform's file services so
// paths, letter case and failures behave as everywhere else; folders through the standard
// library's directory walk. Nothing here uses a member's path as a path.
#include "ModSource.h"

#include "Archive.h"
#include "FileSystem.h"
#include "Text.h"
#include "TextLocale.h"

#ifndef TESSERA_NO_LIBARCHIVE
#include <archive.h>
#include <archive_entry.h>
#endif
#ifdef _WIN32
// archive_entry.h brings in windows.h, whose macros would rename the file services' calls.
#undef DeleteFile
#undef CopyFile
#endif

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <memory>
#include <span>
#include <system_error>
#include <utility>

namespace tessera {

namespace {

constexpr std::size_t kReadChunk = 64 << 10;   // one read of the archive file
constexpr std::size_t kChunk = 1 << 20;        // one write of the package
constexpr std::int64_t kMaxPackage = std::numeric_limits<std::int32_t>::max();

std::string ShownSource(const std::string& source) { return PrintableName(source); }

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
[[maybe_unused]] std::string Utf8ToCp1252(std::string_view s, bool& ok)
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
[[maybe_unused]] std::string WideToUtf8(const wchar_t* w)
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

std::vector<std::string> SplitPath(std::string_view path, bool bothSeparators)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/' || (bothSeparators && c == '\\')) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

// Why a member's path would lead out of the folder it is unpacked into; nothing when it stays.
// Windows tools wrote backslashes into zip files, so both separators count.
[[maybe_unused]] std::optional<std::string> EscapingPathReason(std::string_view path)
{
    if (!path.empty() && (path.front() == '/' || path.front() == '\\'))
        return "the path is absolute";
    const auto parts = SplitPath(path, true);
    if (parts.front().size() >= 2 && parts.front()[1] == ':')
        return "the path names a drive";
    for (const std::string& part : parts)
        if (part == "..")
            return "the path leads out of the archive's folder";
    return std::nullopt;
}

// The path with "." and empty components dropped, '/' between the rest.
std::string NormalPath(std::string_view path, bool bothSeparators)
{
    std::string r;
    for (const std::string& part : SplitPath(path, bothSeparators)) {
        if (part.empty() || part == ".")
            continue;
        if (!r.empty())
            r += '/';
        r += part;
    }
    return r;
}

[[maybe_unused]] std::string LastComponent(const std::string& normalPath)
{
    const auto slash = normalPath.rfind('/');
    return slash == std::string::npos ? normalPath : normalPath.substr(slash + 1);
}

std::string FolderPart(const std::string& normalPath)
{
    const auto slash = normalPath.rfind('/');
    return slash == std::string::npos ? std::string() : normalPath.substr(0, slash);
}

bool IsBelow(const std::string& normalPath, const std::string& folder)
{
    return folder.empty()
        || (normalPath.size() > folder.size() && normalPath[folder.size()] == '/'
            && EqualsIgnoreCase(std::string_view(normalPath).substr(0, folder.size()), folder));
}

[[noreturn]] void Refuse(ErrorKind kind, const std::string& message, const std::string& source)
{
    throw TesseraError(kind, message, source);
}

#ifndef TESSERA_NO_LIBARCHIVE
// A libarchive reader over a file opened through the platform's services. Failures of the file
// itself come back as they are; what libarchive finds wrong with the bytes is a damaged archive.
class ArchiveReader {
public:
    explicit ArchiveReader(const std::string& path) : path_(path), file_(path, fs::OpenMode::Read), buffer_(kReadChunk)
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
                Refuse(ErrorKind::BadArchive, ShownSource(path) + " is not a .zip, .7z or .rar archive", path);
            if (unknown)
                Refuse(ErrorKind::BadArchive, ShownSource(path) + " is damaged or truncated: the end of the archive is missing", path);
            Refuse(ErrorKind::BadArchive, ShownSource(path) + " is damaged or truncated: " + why, path);
        }
    }
    ~ArchiveReader() { archive_read_free(a_); }
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next member's header, or null at the end of the archive.
    archive_entry* Next()
    {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(a_, &entry);
        if (r == ARCHIVE_EOF)
            return nullptr;
        if (r < ARCHIVE_WARN)
            Damaged(entry ? PathOf(entry) : std::string());
        return entry;
    }

    // Up to out.size() bytes of the current member's data; 0 at its end.
    std::size_t Read(std::span<std::byte> out, const std::string& member)
    {
        const la_ssize_t n = archive_read_data(a_, out.data(), out.size());
        if (n < 0)
            Damaged(member);
        return static_cast<std::size_t>(n);
    }

    void Skip(const std::string& member)
    {
        if (archive_read_data_skip(a_) < ARCHIVE_WARN)
            Damaged(member);
    }

    // The member's path as single-byte characters: UTF-8 names are converted to the game's code
    // page; names libarchive cannot give as UTF-8 are taken as the bytes stored.
    std::string PathOf(archive_entry* entry, bool* representable = nullptr) const
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

    [[noreturn]] void Damaged(const std::string& member)
    {
        RethrowFileFailure();
        std::string where = ShownSource(path_);
        if (!member.empty())
            where += ", member " + PrintableName(member);
        Refuse(ErrorKind::BadArchive, where + (member.empty() ? " is" : ": the archive is") + " damaged or truncated: " + ErrorText(), path_);
    }

private:
    // Whether the file begins as a zip, 7z or rar file does.
    bool HasArchiveSignature() const
    {
        std::array<std::byte, 6> head{};
        const std::size_t n = file_.ReadAt(0, head);
        const std::string_view text(reinterpret_cast<const char*>(head.data()), n);
        return text.starts_with("PK\x03\x04") || text.starts_with("7z\xBC\xAF\x27\x1C") || text.starts_with("Rar!\x1A\x07");
    }

    std::string ErrorText() const
    {
        std::string s = archive_error_string(a_) ? archive_error_string(a_) : "unknown error";
        s.erase(s.find_last_not_of(" \r\n") + 1);
        return s;
    }

    void RethrowFileFailure()
    {
        if (failure_)
            std::rethrow_exception(std::exchange(failure_, nullptr));
    }

    static la_ssize_t ReadCallback(archive*, void* data, const void** out)
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

    static la_int64_t SeekCallback(archive*, void* data, la_int64_t offset, int whence)
    {
        auto* self = static_cast<ArchiveReader*>(data);
        const std::int64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? self->position_ : self->length_;
        const std::int64_t to = from + offset;
        if (to < 0)
            return ARCHIVE_FATAL;
        self->position_ = to;
        return to;
    }

    static la_int64_t SkipCallback(archive*, void* data, la_int64_t request)
    {
        auto* self = static_cast<ArchiveReader*>(data);
        const std::int64_t step = std::max<std::int64_t>(0, std::min<std::int64_t>(request, self->length_ - self->position_));
        self->position_ += step;
        return step;
    }

    ScopedUtf8Locale utf8_;   // first in, last out: libarchive converts names as long as it lives
    std::string path_;
    fs::File file_;
    std::vector<std::byte> buffer_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::exception_ptr failure_;
    archive* a_ = nullptr;
};
#endif

// Sorts one file of the source: skipped, refused or taken.
struct Sorter {
    ModListing& listing;
    std::string from;
    bool anyBelowFrom = false;

    std::string Where(const std::string& path) const
    {
        return listing.folder ? PrintableName(fs::WithTrailingSeparator(listing.source) + path)
                              : ShownSource(listing.source) + ", member " + PrintableName(path);
    }

    // A regular file at path (normalised) with its stated size; false when it is not taken.
    bool Take(ModMember member, bool representable)
    {
        if (!IsBelow(member.path, from))
            return false;
        anyBelowFrom = true;
        if (IsDocumentationName(member.name)) {
            listing.skipped.push_back(member.path);
            return false;
        }
        if (!representable)
            Refuse(ErrorKind::UnsafeName, Where(member.path) + ": the name has characters that game file names cannot hold", listing.source);
        if (auto reason = UnsafeNameReason(member.name))
            Refuse(ErrorKind::UnsafeName, Where(member.path) + ": " + *reason, listing.source);
        // A package entry holds a name of 23 characters and ends it at the first space.
        if (member.name.size() >= kNameSize)
            Refuse(ErrorKind::UnsafeName, Where(member.path) + ": the name is longer than " + std::to_string(kNameSize - 1) + " characters",
                   listing.source);
        if (member.name.find(' ') != std::string::npos)
            Refuse(ErrorKind::UnsafeName, Where(member.path) + ": the name contains a space", listing.source);
        if (member.size > kMaxPackage - listing.statedTotal)
            Refuse(ErrorKind::Overflow, Where(member.path) + ": the files to install add up to more than " + std::to_string(kMaxPackage)
                       + " bytes, more than a package holds", listing.source);
        if (member.size > 0)
            listing.statedTotal += member.size;
        listing.members.push_back(std::move(member));
        return true;
    }

    void Special(const std::string& path)
    {
        if (IsBelow(path, from)) {
            anyBelowFrom = true;
            listing.special.push_back(path);
        }
    }

    // Names must pick one file each; the members end up in name order.
    void Finish()
    {
        if (!from.empty() && !anyBelowFrom)
            Refuse(ErrorKind::InvalidArgument, ShownSource(listing.source) + " has no folder " + PrintableName(from), listing.source);
        auto& m = listing.members;
        std::stable_sort(m.begin(), m.end(), [](const ModMember& a, const ModMember& b) {
            return EqualsIgnoreCase(a.name, b.name) ? LessIgnoreCase(a.path, b.path) : LessIgnoreCase(a.name, b.name);
        });
        std::string clashes;
        for (std::size_t i = 1; i < m.size(); ++i) {
            if (!EqualsIgnoreCase(m[i].name, m[i - 1].name))
                continue;
            if (FolderPart(m[i].path) == FolderPart(m[i - 1].path) && m[i].name != m[i - 1].name)
                Refuse(ErrorKind::UnsafeName, Where(m[i].path) + ": the name differs from " + PrintableName(m[i - 1].name) + " only in letter case",
                       listing.source);
            if (clashes.empty() || !EqualsIgnoreCase(m[i].name, m[i - 2].name))
                clashes += (clashes.empty() ? "" : "; ") + PrintableName(m[i - 1].path);
            clashes += ", " + PrintableName(m[i].path);
        }
        if (!clashes.empty())
            throw SameNameError(ErrorKind::InvalidArgument, ShownSource(listing.source) + " holds more than one file of the same name: " + clashes
                       + ". Tessera cannot tell which one to install.",
                                listing.source);
    }
};

#ifndef TESSERA_NO_LIBARCHIVE
void ListArchive(Sorter& sorter)
{
    ModListing& listing = sorter.listing;
    ArchiveReader reader(listing.source);
    std::size_t ordinal = 0;
    while (archive_entry* entry = reader.Next()) {
        bool representable = true;
        const std::string stored = reader.PathOf(entry, &representable);
        if (auto reason = EscapingPathReason(stored))
            Refuse(ErrorKind::UnsafeName, sorter.Where(stored) + ": " + *reason, listing.source);
        const std::string path = NormalPath(stored, true);
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            if (IsBelow(path, sorter.from) || EqualsIgnoreCase(path, sorter.from))
                sorter.anyBelowFrom = true;
        } else if (type != AE_IFREG || archive_entry_hardlink(entry) || archive_entry_symlink(entry)) {
            sorter.Special(path);
        } else {
            ModMember member;
            member.path = path;
            member.name = LastComponent(path);
            member.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
            member.ordinal = ordinal;
            const bool encrypted = archive_entry_is_encrypted(entry);
            if (sorter.Take(std::move(member), representable) && encrypted)
                Refuse(ErrorKind::BadArchive, sorter.Where(path) + ": the file is encrypted, and Tessera cannot read encrypted archives",
                       listing.source);
        }
        reader.Skip(path);
        ++ordinal;
    }
}
#else
// Without libarchive a download is refused by name, before anything is read.
void ListArchive(Sorter& sorter)
{
    Refuse(ErrorKind::InvalidArgument,
           ShownSource(sorter.listing.source) + ": this build of Tessera reads no .zip, .7z or .rar archives; unpack it into a folder",
           sorter.listing.source);
}
#endif

void ListFolder(Sorter& sorter)
{
    namespace sfs = std::filesystem;
    ModListing& listing = sorter.listing;
    const std::string root = fs::WithTrailingSeparator(listing.source);
    if (!fs::FolderExists(root))
        Refuse(ErrorKind::PathNotFound, "The folder " + PrintableName(listing.source) + " was not found", listing.source);
    std::error_code ec;
    const sfs::path native(fs::NativePath(root));
    std::vector<std::pair<sfs::path, std::string>> pending{{native, std::string()}};
    while (!pending.empty()) {
        const auto [folder, relative] = pending.back();
        pending.pop_back();
        sfs::directory_iterator it(folder, ec);
        for (; !ec && it != sfs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const std::string path = relative.empty() ? name : relative + "/" + name;
            const sfs::file_status status = it->symlink_status(ec);
            if (ec)
                break;
            if (status.type() == sfs::file_type::directory) {
                pending.emplace_back(it->path(), path);
                if (IsBelow(path, sorter.from) || EqualsIgnoreCase(path, sorter.from))
                    sorter.anyBelowFrom = true;
            } else if (status.type() != sfs::file_type::regular) {
                sorter.Special(path);
            } else {
                ModMember member;
                member.path = path;
                member.name = name;
                member.file = root + path;
                // From the walk, not through the path text: a name may hold what that text
                // would take for a separator, and is refused for it.
                member.size = static_cast<std::int64_t>(it->file_size(ec));
                if (ec)
                    break;
                sorter.Take(std::move(member), true);
            }
        }
        if (ec)
            Refuse(ErrorKind::Io, "Cannot list the folder " + PrintableName(folder.string()) + ": " + ec.message(), listing.source);
    }
}

#ifndef TESSERA_NO_LIBARCHIVE
// Copies one member's bytes into the package at offset; returns how many there were.
std::int64_t CopyMember(ArchiveReader& reader, const ModListing& listing, const ModMember& member, fs::File& zpk,
                        std::int64_t offset, std::vector<std::byte>& buffer)
{
    std::int64_t count = 0;
    const std::string where = ShownSource(listing.source) + ", member " + PrintableName(member.path);
    // Never more than a package holds, nor more than the archive states: a member that holds
    // more is caught after one chunk, however far it would decompress.
    const std::int64_t limit = member.size >= 0 ? member.size : kMaxPackage - offset;
    while (const std::size_t n = reader.Read(buffer, member.path)) {
        count += static_cast<std::int64_t>(n);
        if (count > limit)
            Refuse(ErrorKind::BadArchive,
                   where + ": the archive is damaged: the file holds more than the " + std::to_string(limit) + " bytes it states",
                   listing.source);
        zpk.WriteAt(offset + count - static_cast<std::int64_t>(n), std::span<const std::byte>(buffer.data(), n));
    }
    if (member.size >= 0 && count != member.size)
        Refuse(ErrorKind::BadArchive,
               where + ": the archive is damaged: the file holds " + std::to_string(count) + " bytes, not the "
                   + std::to_string(member.size) + " it states",
               listing.source);
    return count;
}
#endif

std::int64_t CopyFileMember(const ModMember& member, fs::File& zpk, std::int64_t offset, std::vector<std::byte>& buffer)
{
    fs::File in(member.file, fs::OpenMode::Read);
    std::int64_t count = 0;
    while (const std::size_t n = in.ReadAt(count, buffer)) {
        count += static_cast<std::int64_t>(n);
        if (count > member.size)
            break;
        zpk.WriteAt(offset + count - static_cast<std::int64_t>(n), std::span<const std::byte>(buffer.data(), n));
    }
    if (count != member.size)
        throw TesseraError(ErrorKind::Io, PrintableName(member.file) + " changed while it was read", member.file);
    return count;
}

} // namespace

bool DownloadsSupported()
{
#ifdef TESSERA_NO_LIBARCHIVE
    return false;
#else
    return true;
#endif
}

bool IsModArchiveName(std::string_view path)
{
    for (std::string_view ext : {".zip", ".7z", ".rar"})
        if (path.size() > ext.size() && EqualsIgnoreCase(path.substr(path.size() - ext.size()), ext))
            return true;
    return false;
}

bool IsDocumentationName(std::string_view name)
{
    static constexpr std::string_view kExtensions[] = {".txt", ".doc", ".pdf", ".rtf", ".htm", ".html", ".url",
                                                       ".nfo", ".jpg", ".jpeg", ".png", ".bmp", ".gif"};
    if (name.size() >= 6 && EqualsIgnoreCase(name.substr(0, 6), "readme"))
        return true;
    for (std::string_view ext : kExtensions)
        if (name.size() >= ext.size() && EqualsIgnoreCase(name.substr(name.size() - ext.size()), ext))
            return true;
    return false;
}

ModListing ListModSource(const std::string& source, const std::string& from)
{
    ModListing listing;
    listing.source = source;
    listing.folder = fs::FolderExists(source);
    Sorter sorter{listing, NormalPath(from, true)};
    if (listing.folder)
        ListFolder(sorter);
    else {
        fs::RequireFile(source, ShownSource(source));
        ListArchive(sorter);
    }
    sorter.Finish();
    std::sort(listing.skipped.begin(), listing.skipped.end(), LessIgnoreCase);
    std::sort(listing.special.begin(), listing.special.end(), LessIgnoreCase);
    return listing;
}

namespace {

// Puts a whole new package (base.zpk and base.dir with ".tessera-new" appended) in place of
// the one there. Two renames cannot be one step: the former .zpk is kept aside until the new
// .dir has its name, and put back when it cannot get it, so the pair is never mixed.
void PlaceModPackage(const std::string& base, const std::function<void()>& removeNew)
{
    const std::string zpkPath = base + ".zpk";
    const std::string dirPath = base + ".dir";
    const std::string former = zpkPath + ".tessera-former";
    bool aside = false;
    try {
        // Left by a pack that died midway, it may be the only copy of a former package.
        if (fs::Lookup(former) != fs::PathKind::Missing)
            throw TesseraError(ErrorKind::AlreadyExists, PrintableName(former) + " is left from a pack that did not finish: move it away or "
                                   "remove it, then pack again", former);
        if (fs::FileExists(zpkPath)) {
            fs::RenameNoReplace(zpkPath, former);
            aside = true;
        }
        fs::RenameFile(zpkPath + ".tessera-new", zpkPath);
        fs::RenameFile(dirPath + ".tessera-new", dirPath);
    } catch (const TesseraError& e) {
        if (aside) {
            try {
                fs::RenameFile(former, zpkPath);
            } catch (const TesseraError&) {
                removeNew();
                throw TesseraError(e.Kind(), std::string(e.what()) + "; the former " + PrintableName(zpkPath) + " is kept as "
                                       + PrintableName(former) + ", and " + PrintableName(dirPath) + " belongs to it",
                                   zpkPath);
            }
        }
        removeNew();
        throw;
    }
    if (aside) {
        try {
            fs::DeleteFile(former);
        } catch (const TesseraError& e) {
            throw TesseraError(e.Kind(), "The package " + PrintableName(zpkPath) + " was written, but its former version "
                                   + PrintableName(former) + " could not be removed: " + e.what(), former);
        }
    }
}

} // namespace

void WriteModPackage(const ModListing& listing, const std::string& base, const std::function<void()>& yield)
{
    const std::string zpkPath = base + ".zpk";
    const std::string dirPath = base + ".dir";
    const auto cut = std::find_if(base.rbegin(), base.rend(), fs::IsSeparator);
    const std::string folder(base.begin(), cut.base());
    const std::int64_t needed = listing.statedTotal + static_cast<std::int64_t>(listing.members.size() * kRecordSize);
    const std::int64_t free = fs::FreeSpace(folder.empty() ? std::string(".") : folder);
    if (free < needed)
        throw TesseraError(ErrorKind::DiskFull, "Not enough free space on the disk of " + PrintableName(folder) + " to unpack "
                + ShownSource(listing.source) + ": " + std::to_string(needed) + " bytes are needed, " + std::to_string(free) + " are free",
            folder);

    // Written beside the outputs, which take the new files' names only when both are whole: a
    // failure (a full disk) keeps the package being replaced. Made anew, never through a link.
    const std::string zpkNew = zpkPath + ".tessera-new";
    const std::string dirNew = dirPath + ".tessera-new";
    auto removeNew = [&] {
        for (const std::string& path : {zpkNew, dirNew}) {
            try {
                if (fs::Lookup(path) == fs::PathKind::File)
                    fs::DeleteFile(path);
            } catch (const TesseraError&) {
            }
        }
    };
    fs::File zpk(zpkNew, fs::OpenMode::Replace);
    try {
        std::vector<DirRecord> records(listing.members.size());
        std::vector<std::byte> buffer(kChunk);
        std::int64_t offset = 0;
        auto place = [&](std::size_t i, std::int64_t size) {
            DirRecord& r = records[i];
            r.lOffset = CheckedInt32(offset, "offset of " + listing.members[i].name + " in " + zpkPath);
            r.lSize = CheckedInt32(size, "size of " + listing.members[i].name);
            const std::string& name = listing.members[i].name;
            std::copy(name.begin(), name.end(), r.sName.begin());   // the rest stays NUL
            offset += size;
            CheckedInt32(offset, "length of " + zpkPath);
        };
        if (listing.folder) {
            for (std::size_t i = 0; i < listing.members.size(); ++i) {
                if (yield)
                    yield();
                place(i, CopyFileMember(listing.members[i], zpk, offset, buffer));
            }
        } else {
#ifdef TESSERA_NO_LIBARCHIVE
            Refuse(ErrorKind::InvalidArgument, ShownSource(listing.source) + ": this build of Tessera reads no .zip, .7z or .rar archives",
                   listing.source);
#else
            // The archive is read in its own order; the records stay in name order.
            std::map<std::size_t, std::size_t> wanted;   // ordinal -> member
            for (std::size_t i = 0; i < listing.members.size(); ++i)
                wanted[listing.members[i].ordinal] = i;
            ArchiveReader reader(listing.source);
            std::size_t ordinal = 0;
            while (!wanted.empty()) {
                archive_entry* entry = reader.Next();
                if (!entry)
                    Refuse(ErrorKind::BadArchive, ShownSource(listing.source) + " changed while it was read", listing.source);
                if (const auto it = wanted.find(ordinal); it != wanted.end()) {
                    if (yield)
                        yield();
                    const ModMember& member = listing.members[it->second];
                    if (!EqualsIgnoreCase(LastComponent(NormalPath(reader.PathOf(entry), true)), member.name))
                        Refuse(ErrorKind::BadArchive, ShownSource(listing.source) + " changed while it was read", listing.source);
                    place(it->second, CopyMember(reader, listing, member, zpk, offset, buffer));
                    wanted.erase(it);
                }
                ++ordinal;
            }
#endif
        }
        zpk.Flush();
        zpk.Close();
        std::vector<std::byte> directory;
        directory.reserve(records.size() * kRecordSize);
        for (const DirRecord& r : records) {
            const RecordBytes encoded = EncodeRecord(r);
            directory.insert(directory.end(), encoded.begin(), encoded.end());
        }
        fs::File dir(dirNew, fs::OpenMode::Replace);
        dir.WriteAt(0, directory);
        dir.Flush();
        dir.Close();
    } catch (...) {
        // A half-written package would be taken for a whole one.
        zpk.Close();
        removeNew();
        throw;
    }
    PlaceModPackage(base, removeNew);
}

std::string SkippedText(const ModListing& listing)
{
    std::string text;
    // A download of thousands of pictures would otherwise give a message of megabytes.
    auto join = [](const std::vector<std::string>& paths) {
        constexpr std::size_t kShown = 20;
        std::string r;
        for (std::size_t i = 0; i < paths.size() && i < kShown; ++i)
            r += (r.empty() ? "" : ", ") + PrintableName(paths[i]);
        if (paths.size() > kShown)
            r += " and " + std::to_string(paths.size() - kShown) + " more (" + std::to_string(paths.size()) + " in all)";
        return r;
    };
    if (!listing.skipped.empty())
        text = "Skipped, not game files: " + join(listing.skipped);
    if (!listing.special.empty())
        text += (text.empty() ? "" : "\r\n") + std::string("Skipped, links and special files: ") + join(listing.special);
    return text;
}

std::string MemberLabel(const ModListing& listing, const ModMember& member)
{
    return listing.folder ? PrintableName(member.file) : ShownSource(listing.source) + ", member " + PrintableName(member.path);
}

} // namespace tessera
