// tessera-cli list, extract and pack: a package's or game archive's records, a package's
// entries written into a folder, and a package made from the files of a folder.
#include "Commands.h"

#include "Archive.h"
#include "FileSystem.h"
#include "ModSource.h"
#include "Text.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <string_view>
#include <system_error>

namespace tessera::cli {

namespace {

// Runs a command body; any failure becomes its message on standard error and status 1.
int Run(const char* command, const std::function<void()>& body)
{
    try {
        body();
        return kOk;
    } catch (const TesseraError& e) {
        std::string message = e.what();
        // These messages name the entry only; the kind says what is wrong with the package.
        if (e.Kind() == ErrorKind::BadPackage || e.Kind() == ErrorKind::UnsafeName)
            message = std::string(KindName(e.Kind())) + ": " + message;
        std::cerr << "tessera-cli " << command << ": " << message << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "tessera-cli " << command << ": out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "tessera-cli " << command << ": " << e.what() << "\n";
    }
    return kFailed;
}

bool HasExtension(std::string_view path, std::string_view extension)
{
    return path.size() > extension.size() && EqualsIgnoreCase(path.substr(path.size() - extension.size()), extension);
}

std::string WithoutExtension(const std::string& path, std::initializer_list<std::string_view> extensions)
{
    for (std::string_view extension : extensions)
        if (HasExtension(path, extension))
            return path.substr(0, path.size() - extension.size());
    return path;
}

std::string TrimTrailingSpaces(std::string s)
{
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ignored;
    return std::filesystem::equivalent(fs::NativePath(a), fs::NativePath(b), ignored);
}

std::string CrLfToLf(std::string s)
{
    for (std::size_t at; (at = s.find("\r\n")) != std::string::npos;)
        s.erase(at, 1);
    return s;
}

// Entries may share their bytes, so a small package may unpack to far more than it holds: the
// disk of the folder (or of its nearest parent, when it is to be made) must have room for every
// file at the largest it is written, before anything is written.
void CheckRoomToExtract(modArchive& archive, const std::string& folder)
{
    std::map<std::string, std::int64_t> largest;   // lower-cased file name -> its largest entry
    for (const auto& entry : archive.colImgFiles()) {
        std::int64_t& size = largest[LowerAscii(EntryFileName(*entry))];
        size = std::max<std::int64_t>(size, entry->lSize());
    }
    std::int64_t needed = 0;
    for (const auto& [name, size] : largest)
        needed += size;
    std::string existing = folder;
    while (!fs::FolderExists(existing)) {
        auto cut = existing.find_last_not_of("/\\");
        cut = cut == std::string::npos ? std::string::npos : existing.find_last_of("/\\", cut);
        if (cut == std::string::npos) {
            existing = ".";
            break;
        }
        existing.resize(cut + 1);
    }
    const std::int64_t free = fs::FreeSpace(existing);
    if (free < needed)
        throw TesseraError(ErrorKind::DiskFull, "Not enough free space on the disk of " + PrintableName(existing) + ": " + std::to_string(needed)
                + " bytes are needed, " + std::to_string(free) + " are free", existing);
}

[[noreturn]] void RefuseFile(const std::string& path, const std::string& reason)
{
    throw TesseraError(ErrorKind::InvalidArgument, "Cannot pack " + PrintableName(path) + ": " + reason, path);
}

} // namespace

int CmdList(const Options& o)
{
    const std::vector<std::string>& args = o.positional;
    if (args.size() != 1)
        return kUsage;
    return Run("list", [&] {
        modArchive archive;
        archive.ReadDirectory(WithoutExtension(args[0], {".dir", ".img", ".zpk"}));
        std::size_t number = 0;
        for (const auto& entry : archive.colImgFiles()) {
            char numbers[40];
            std::snprintf(numbers, sizeof numbers, "%6zu %10d %10d ", number++, static_cast<int>(entry->lOffset()),
                          static_cast<int>(entry->lSize()));
            std::cout << numbers << PrintableName(TrimTrailingSpaces(entry->sName())) << "\n";
        }
    });
}

int CmdExtract(const Options& o)
{
    const std::vector<std::string>& args = o.positional;
    if (args.size() != 2 || !HasExtension(args[0], ".zpk"))
        return kUsage;
    return Run("extract", [&] {
        const std::string base = WithoutExtension(args[0], {".zpk"});
        const std::string folder = fs::WithTrailingSeparator(args[1]);
        // The whole package is checked before the folder is even made.
        modArchive archive;
        archive.ReadPackage(base);
        CheckRoomToExtract(archive, folder);
        fs::CreateFolders(folder);
        const auto& entries = archive.colImgFiles();
        // Entries whose names extract to one file (cut at the first space, letter case aside):
        // the later one's bytes are what the file holds, as in an install.
        std::map<std::string, std::size_t> writtenBy;   // lower-cased file name -> the entry written last
        for (std::size_t i = 0; i < entries.Count(); ++i) {
            const std::string file = EntryFileName(*entries[i]);
            const auto [it, added] = writtenBy.try_emplace(LowerAscii(file), i);
            if (!added) {
                std::cout << "Entry " << it->second << " (" << PrintableName(TrimSpaces(entries[it->second]->sName())) << ") was replaced by entry "
                          << i << " (" << PrintableName(TrimSpaces(entries[i]->sName())) << "): both extract to the file " << PrintableName(file) << "\n";
                it->second = i;
            }
            archive.ExtractEntry(*entries[i], folder);
        }
        const std::size_t count = entries.Count();
        const std::size_t files = writtenBy.size();
        std::cout << "Extracted " << count << (count == 1 ? " entry" : " entries") << " into " << files << (files == 1 ? " file" : " files")
                  << " in " << args[1] << "\n";
    });
}

int CmdPack(const Options& o)
{
    const std::vector<std::string>& positional = o.positional;
    const std::string from = o.from.value_or(std::string());
    if (positional.size() != 2)
        return kUsage;
    return Run("pack", [&] {
        const std::string& source = positional[0];
        const std::string base = WithoutExtension(positional[1], {".zpk", ".dir"});
        const std::string zpkPath = base + ".zpk";
        const std::string dirPath = base + ".dir";
        if (!fs::PathExists(source))
            throw TesseraError(ErrorKind::PathNotFound, "The source " + source + " was not found", source);

        // Every name and size is checked before anything is written.
        ModListing listing;
        try {
            listing = ListModSource(source, from);
        } catch (const TesseraError& e) {
            if (e.Kind() == ErrorKind::UnsafeName || e.Kind() == ErrorKind::Overflow)
                throw TesseraError(ErrorKind::InvalidArgument, std::string("Cannot pack ") + e.what(), e.Path());
            throw;
        }
        if (listing.members.empty())
            throw TesseraError(ErrorKind::InvalidArgument, "The source " + source + " holds no files to pack", source);
        for (const ModMember& member : listing.members)
            if (listing.folder && (SameFile(member.file, zpkPath) || SameFile(member.file, dirPath)))
                RefuseFile(member.file, "it is the package being written; choose a BASE outside the folder");

        WriteModPackage(listing, base);
        const std::size_t count = listing.members.size();
        std::cout << "Packed " << count << (count == 1 ? " file" : " files") << " into " << zpkPath << " and " << dirPath << "\n";
        if (const std::string skipped = SkippedText(listing); !skipped.empty())
            std::cout << CrLfToLf(skipped) << "\n";
    });
}

} // namespace tessera::cli
