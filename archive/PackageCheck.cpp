// The checks of a whole package before anything of it is written: every entry's bytes inside
// the .zpk, every entry's file name one that stays in its folder on every system.
#include "Archive.h"

#include "Error.h"
#include "Text.h"

#include <string_view>

namespace tessera {

namespace {

std::string EntryLabel(const std::string& dirName, std::size_t index, std::string_view name)
{
    return dirName + ", entry " + std::to_string(index) + " (" + PrintableName(name) + ")";
}

} // namespace

std::optional<std::string> UnsafeNameReason(std::string_view name)
{
    if (name.empty())
        return "the name is empty";
    if (name == "." || name == "..")
        return "the name is " + std::string(name);
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\')
            return "the name contains a path separator";
        if (c == ':')
            return "the name contains a drive colon";
        if (u < 32 || u == 127)
            return "the name contains a control character";
        if (std::string_view("<>\"|?*").find(c) != std::string_view::npos)
            return std::string("the name contains the character ") + c;
    }
    if (name.back() == '.')
        return "the name ends in a dot";
    // Windows opens a device for these names, with or without an extension.
    const std::string stem = UpperAscii(name.substr(0, name.find('.')));
    static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kDevices)
        if (stem == device)
            return "the name is the reserved device name " + std::string(device);
    if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT"))) {
        const auto digit = static_cast<unsigned char>(stem[3]);
        // 1-9, and the superscripts one, two and three of Windows-1252.
        if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
            return "the name is the reserved device name " + stem.substr(0, 3) + std::string(1, stem[3]);
    }
    return std::nullopt;
}

std::vector<PackageFile> CheckPackageRecords(std::span<const DirRecord> records, std::int64_t zpkLength, const std::string& dirName,
                                             const std::string& zpkName)
{
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DirRecord& r = records[i];
        clsImgFile entry;
        entry.sName(RecordName(r.sName));
        const std::string shown = TrimSpaces(entry.sName());
        const std::string label = EntryLabel(dirName, i, shown);
        if (r.lOffset < 0)
            throw TesseraError(ErrorKind::BadPackage, label + ": the data offset is negative (" + std::to_string(r.lOffset) + ")");
        if (r.lSize < 0)
            throw TesseraError(ErrorKind::BadPackage, label + ": the data size is negative (" + std::to_string(r.lSize) + ")");
        if (static_cast<std::int64_t>(r.lOffset) + r.lSize > zpkLength)
            throw TesseraError(ErrorKind::BadPackage, label + ": data runs past the end of " + zpkName);
        if (auto reason = UnsafeNameReason(EntryFileName(entry)))
            throw TesseraError(ErrorKind::UnsafeName, label + ": " + *reason);
    }
    // Entries may share their bytes, as a packer that stores identical files once makes them:
    // what they unpack to is bounded by whoever writes it (free space, an archive's 2 GiB).
    return PackageFiles(records);
}

void CheckPackage(const std::string& base)
{
    modArchive archive;
    archive.ReadPackage(base);
}

} // namespace tessera
