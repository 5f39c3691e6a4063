// Downloads as players get them, made at test time: .zip and .7z archives through libarchive's
// writer, .rar archives (which nothing here writes) by hand, and folders of loose files.
#pragma once

#include "TestSupport.h"

#include <string>
#include <vector>

namespace tessera::test {

enum class Format { Zip, ZipStored, SevenZip, Rar, Folder };

const char* FormatName(Format format);
// The file name ending of the format: ".zip", ".7z", ".rar", or nothing for a folder.
std::string Extension(Format format);

struct Member {
    std::string path;   // UTF-8, '/' between folders, unless raw
    Bytes bytes;        // a link: its target
    enum class Kind { File, Folder, Symlink } kind = Kind::File;
    bool raw = false;   // the name's bytes stored as they are, with no charset
};

// A RAR 4 archive whose files are stored: marker, main header, one header per file, end.
Bytes MakeRar(const std::vector<Member>& members);

// Writes the members as a download at path (an archive file, or a folder) in the format, with
// libarchive writer options ("zip:encryption=zipcrypt") and a passphrase where given.
void MakeDownload(const std::string& path, Format format, const std::vector<Member>& members, const char* options = nullptr,
                  const char* passphrase = nullptr);

} // namespace tessera::test
