// tessera-cli list, extract and pack: a package's or game archive's records, a package's
// entries written into a folder, and a package made from the files of a folder.
#include "Commands.h"

#include "Archive.h"
#include "FileSystem.h"
#include "Text.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <string_view>
#include <system_error>

namespace tessera::cli {

namespace {

int UsageError(const char* usage)
{
    std::cerr << "Usage: tessera-cli " << usage << "\n";
    return kUsage;
}

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

[[noreturn]] void RefuseFile(const std::string& path, const std::string& reason)
{
    throw TesseraError(ErrorKind::InvalidArgument, "Cannot pack " + PrintableName(path) + ": " + reason, path);
}

} // namespace

int CmdList(const Args& args)
{
    if (args.size() != 1)
        return UsageError("list ARCHIVE");
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

int CmdExtract(const Args& args)
{
    if (args.size() != 2 || !HasExtension(args[0], ".zpk"))
        return UsageError("extract PACKAGE.zpk FOLDER");
    return Run("extract", [&] {
        const std::string base = WithoutExtension(args[0], {".zpk"});
        const std::string folder = fs::WithTrailingSeparator(args[1]);
        // The whole package is checked before the folder is even made.
        CheckPackage(base);
        fs::CreateFolders(folder);
        modArchive archive;
        archive.ReadDirectory(base);
        for (const auto& entry : archive.colImgFiles())
            archive.ExtractEntry(*entry, folder);
        const std::size_t count = archive.colImgFiles().Count();
        std::cout << "Extracted " << count << (count == 1 ? " entry" : " entries") << " into " << args[1] << "\n";
    });
}

int CmdPack(const Args& args)
{
    if (args.size() != 2)
        return UsageError("pack FOLDER BASE");
    return Run("pack", [&] {
        const std::string folder = fs::WithTrailingSeparator(args[0]);
        const std::string base = WithoutExtension(args[1], {".zpk", ".dir"});
        const std::string zpkPath = base + ".zpk";
        const std::string dirPath = base + ".dir";
        if (!fs::FolderExists(folder))
            throw TesseraError(ErrorKind::PathNotFound, "The folder " + args[0] + " was not found", args[0]);

        // Every name and size is checked before anything is written.
        const std::vector<std::string> names = fs::ListFiles(folder);
        if (names.empty())
            throw TesseraError(ErrorKind::InvalidArgument, "The folder " + args[0] + " holds no files to pack", args[0]);
        std::int64_t total = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& name = names[i];
            const std::string path = folder + name;
            if (name.size() >= kNameSize)
                RefuseFile(path, "the name is longer than " + std::to_string(kNameSize - 1) + " characters");
            if (name.find(' ') != std::string::npos)
                RefuseFile(path, "the name contains a space");
            if (auto reason = UnsafeNameReason(name))
                RefuseFile(path, *reason);
            // The listing sorts names that differ only in letter case next to each other.
            if (i > 0 && EqualsIgnoreCase(name, names[i - 1]))
                RefuseFile(path, "the name differs from " + PrintableName(names[i - 1]) + " only in letter case");
            if (SameFile(path, zpkPath) || SameFile(path, dirPath))
                RefuseFile(path, "it is the package being written; choose a BASE outside the folder");
            total += fs::FileLength(path);
            if (total > std::numeric_limits<std::int32_t>::max())
                RefuseFile(path, "the package would hold more than " + std::to_string(std::numeric_limits<std::int32_t>::max()) + " bytes");
        }

        // Made before the try: when it cannot be created, nothing has changed yet.
        fs::File zpk(zpkPath, fs::OpenMode::Create);
        try {
            std::vector<std::byte> directory;
            directory.reserve(names.size() * kRecordSize);
            std::int64_t offset = 0;
            for (const std::string& name : names) {
                const std::vector<std::byte> bytes = fs::ReadWholeFile(folder + name);
                DirRecord record;
                record.lOffset = CheckedInt32(offset, "offset of " + name + " in " + zpkPath);
                record.lSize = CheckedInt32(static_cast<std::int64_t>(bytes.size()), "size of " + name);
                CheckedInt32(offset + record.lSize, "length of " + zpkPath);
                std::copy(name.begin(), name.end(), record.sName.begin());   // the rest stays NUL
                zpk.WriteAt(offset, bytes);
                const RecordBytes encoded = EncodeRecord(record);
                directory.insert(directory.end(), encoded.begin(), encoded.end());
                offset += record.lSize;
            }
            zpk.Close();
            fs::WriteWholeFile(dirPath, directory);
        } catch (...) {
            // A half-written package would be taken for a whole one.
            zpk.Close();
            for (const std::string& path : {zpkPath, dirPath}) {
                try {
                    if (fs::FileExists(path))
                        fs::DeleteFile(path);
                } catch (const TesseraError&) {
                }
            }
            throw;
        }
        std::cout << "Packed " << names.size() << (names.size() == 1 ? " file" : " files") << " into " << zpkPath << " and "
                  << dirPath << "\n";
    });
}

} // namespace tessera::cli
