// Reading downloads: archives through libarchive (DownloadReader), folders through the
// standard library's directory walk; what they hold sorted, checked and written as a package.
// Nothing here uses a member's path as a path.
#include "ModSource.h"

#include "Archive.h"
#include "DownloadReader.h"
#include "FileSystem.h"
#include "Text.h"

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

constexpr std::size_t kChunk = 1 << 20;   // one write of the package
constexpr std::int64_t kMaxPackage = std::numeric_limits<std::int32_t>::max();

std::string ShownSource(const std::string& source) { return PrintableName(source); }

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
        std::vector<std::string> folders;
        for (std::size_t i = 1; i < m.size(); ++i) {
            if (!EqualsIgnoreCase(m[i].name, m[i - 1].name))
                continue;
            if (FolderPart(m[i].path) == FolderPart(m[i - 1].path) && m[i].name != m[i - 1].name)
                Refuse(ErrorKind::UnsafeName, Where(m[i].path) + ": the name differs from " + PrintableName(m[i - 1].name) + " only in letter case",
                       listing.source);
            if (clashes.empty() || !EqualsIgnoreCase(m[i].name, m[i - 2].name)) {
                clashes += (clashes.empty() ? "" : "; ") + PrintableName(m[i - 1].path);
                folders.push_back(FolderPart(m[i - 1].path));
            }
            clashes += ", " + PrintableName(m[i].path);
            folders.push_back(FolderPart(m[i].path));
        }
        if (!clashes.empty()) {
            std::erase(folders, std::string());
            std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return LessIgnoreCase(a, b); });
            folders.erase(std::unique(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return EqualsIgnoreCase(a, b); }),
                          folders.end());
            throw SameNameError(ShownSource(listing.source) + " holds more than one file of the same name: " + clashes
                                    + ". Tessera cannot tell which one to install.",
                                listing.source, std::move(folders));
        }
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
        fs::File dir(dirNew, fs::OpenMode::Replace);
        dir.WriteAt(0, EncodeRecords(records));
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
