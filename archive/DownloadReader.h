// The reader of a download archive (.zip, .7z, .rar) through libarchive, fed from the
// platform's file services so paths, letter case and failures behave as everywhere else. Used
// by ModSource only; a build without libarchive has none.
#pragma once

#ifndef TESSERA_NO_LIBARCHIVE

#include "FileSystem.h"
#include "TextLocale.h"

#include <archive.h>
#include <archive_entry.h>
#ifdef _WIN32
// archive_entry.h brings in windows.h, whose macros would rename the file services' calls.
#undef DeleteFile
#undef CopyFile
#endif

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <vector>

namespace tessera {

// Failures of the file itself come back as they are; what libarchive finds wrong with the
// bytes is a damaged archive (BadArchive), named with the file and the member.
class ArchiveReader {
public:
    explicit ArchiveReader(const std::string& path);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next member's header, or null at the end of the archive.
    archive_entry* Next();
    // Up to out.size() bytes of the current member's data; 0 at its end.
    std::size_t Read(std::span<std::byte> out, const std::string& member);
    void Skip(const std::string& member);
    // The member's path as single-byte characters: UTF-8 names are converted to the game's code
    // page; names libarchive cannot give as UTF-8 are taken as the bytes stored. representable
    // turns false for a name the code page cannot hold (it is then shown as stored).
    std::string PathOf(archive_entry* entry, bool* representable = nullptr) const;
    [[noreturn]] void Damaged(const std::string& member);

private:
    // Whether the file begins as a zip, 7z or rar file does.
    bool HasArchiveSignature() const;
    std::string ErrorText() const;
    void RethrowFileFailure();
    static la_ssize_t ReadCallback(archive*, void* data, const void** out);
    static la_int64_t SeekCallback(archive*, void* data, la_int64_t offset, int whence);
    static la_int64_t SkipCallback(archive*, void* data, la_int64_t request);

    ScopedUtf8Locale utf8_;   // first in, last out: libarchive converts names as long as it lives
    std::string path_;
    fs::File file_;
    std::vector<std::byte> buffer_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::exception_ptr failure_;
    archive* a_ = nullptr;
};

} // namespace tessera

#endif
