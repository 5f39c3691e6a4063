// Mods as players download them: a .zip, .7z or .rar archive, or a folder of loose files. A
// source is listed into the files it would install, each known only by the last component of
// its path, and those files are then written out as a package (.zpk + .dir) that installs like
// any other.
#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera {

// Whether a path names an archive download by its extension (.zip, .7z, .rar, any letter case).
bool IsModArchiveName(std::string_view path);

// Whether this build reads downloads at all (a build without libarchive refuses them).
bool DownloadsSupported();

// Documentation and pictures that downloads carry beside the game files; never installed.
bool IsDocumentationName(std::string_view name);

// One file of a source that would be installed.
struct ModMember {
    std::string path;          // inside the source, '/' between folders
    std::string name;          // the last component of path: what the file installs as
    std::int64_t size = -1;    // as the source states it; -1 when it states none
    std::size_t ordinal = 0;   // archive: the member's position among the archive's headers
    std::string file;          // folder: the file's own path text
};

struct ModListing {
    std::string source;                   // the archive or folder as given
    bool folder = false;
    std::vector<ModMember> members;       // the files to install, in name order
    std::vector<std::string> skipped;     // documentation and pictures, by path
    std::vector<std::string> special;     // links and devices, by path
    std::int64_t statedTotal = 0;         // sum of the stated sizes
};

// Two files of a source that would install under one name: which one the user wants is theirs
// to say.
class SameNameError : public TesseraError {
public:
    SameNameError(const std::string& message, const std::string& source, std::vector<std::string> folders)
        : TesseraError(ErrorKind::InvalidArgument, message, source), folders_(std::move(folders))
    {
    }
    // The folders that hold those files, the source's top left out, each once, in name order:
    // the choices of a folder to take the files from.
    const std::vector<std::string>& Folders() const noexcept { return folders_; }

private:
    std::vector<std::string> folders_;
};

// Lists a source. Refuses, with a TesseraError naming the source and the member, before anything
// is written: an archive in an unknown format, damaged or truncated; an encrypted member; a path
// that leads out of the archive (absolute, a drive, ".."); a name that no package entry could
// hold; two files of one name (letter case ignored; a SameNameError). With from, only the files below that
// folder of the source are taken.
ModListing ListModSource(const std::string& source, const std::string& from = {});

// Writes the listed files as the package base.zpk + base.dir, records in name order, after
// checking the free space of base's disk. Reads every member again and refuses the archive as
// damaged when a member's bytes do not match what the archive states (size or checksum). On any
// failure nothing of the package is left. yield, when given, runs before every member.
void WriteModPackage(const ModListing& listing, const std::string& base, const std::function<void()>& yield = {});

// "Skipped, not game files: readme.txt, shot1.jpg", also naming links and devices; empty when
// nothing was skipped.
std::string SkippedText(const ModListing& listing);

// The label of a member in messages: "mod.zip, member Option A/car.dff" or the file's path.
std::string MemberLabel(const ModListing& listing, const ModMember& member);

} // namespace tessera
