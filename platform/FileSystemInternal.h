// Shared between the file-system implementations of each platform.
#pragma once

#include "FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessera::fs::detail {

// Called at the start of every call of the services: counts it and, in the test mode, fails
// the armed one.
void CountOperation(const char* what, const std::string& path);
// The same for a call on a file already open (a read, its length), which looks nothing up.
void CountOpenFileOperation(const char* what, const std::string& path);
// Tells the test mode's observer of a reading of folder for another spelling of a name; not
// counted, as it is part of the call that needs it.
void ObserveSearch(const std::string& folder);
// Whether the test mode skips the waits of flushes.
bool FlushesSkipped();
// The names in a folder by what they are, sorted as ListFiles and ListFolders promise.
FolderListing ListNames(const std::string& folder);
// A folder that cannot be removed because something is in it (AlreadyExists), named with this
// platform's separators.
[[noreturn]] void ThrowFolderNotEmpty(const std::string& path);
// The free space a disk reports, as the test mode lets it through.
std::int64_t LimitedFreeSpace(std::int64_t reported);

// Moves size bytes by as many calls of step as the system needs: step(done) moves some of what
// is left from done on and returns how many, 0 when the file ends first. Returns the bytes
// moved.
template <class Step>
std::size_t MoveInSteps(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const std::size_t n = step(done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// A range copy read and written through buffer (the part the kernel could not do), each piece
// shown to tap (when given) once written; not counted. Returns the bytes copied.
std::int64_t CopyThroughBuffer(const File& source, std::int64_t from, File& target, std::int64_t to, std::int64_t length,
                               std::span<std::byte> buffer, const CopyTap& tap = {});
// Whether the test mode has range copies go through the buffer.
bool CopyThroughBufferOnly();

} // namespace tessera::fs::detail
