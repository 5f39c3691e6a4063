// POSIX letter-case resolution: Windows path semantics on a case-sensitive file system. A name
// missing as spelled is looked for in another letter case, component by component, except in
// the folders whose names this process knows: Tessera's own (its data folder) and the scratch
// folders it keeps the listing of.
#ifndef _WIN32

#include "FileSystem.h"
#include "FileSystemInternal.h"
#include "PosixInternal.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace tessera::fs {

using posix::Exists;
using posix::InOwnFolder;
using posix::IsAbsence;
using posix::Join;
using posix::NextEntry;
using posix::ThrowErrno;

namespace {

// Folders only Tessera makes names in (LookupOwnFolder), as spelled on disk, without a trailing
// separator. The window's thread may look at files while an install runs on another.
std::set<std::string> gOwnFolders;
std::mutex gOwnFoldersMutex;

} // namespace

bool posix::InOwnFolder(const std::string& text)
{
    if (text.find("/..") != std::string::npos)
        return false;   // it may lead out
    const std::lock_guard<std::mutex> hold(gOwnFoldersMutex);
    return std::any_of(gOwnFolders.begin(), gOwnFolders.end(), [&](const std::string& own) {
        return text.compare(0, own.size(), own) == 0 && (text.size() == own.size() || text[own.size()] == '/');
    });
}

bool posix::Exists(const std::string& native)
{
    struct stat st {};
    if (::lstat(native.c_str(), &st) == 0)
        return true;
    if (!IsAbsence(errno))
        ThrowErrno("look for", native);
    return false;
}

void posix::TakeAsOwnFolder(const std::string& text)
{
    const std::lock_guard<std::mutex> hold(gOwnFoldersMutex);
    gOwnFolders.insert(text);
}

namespace {

// The scratch folders this process made to keep a listing of, each with the names in it by
// lower-cased name. They are private, so the listing this process keeps of its own creations
// and deletions is the folder's; a new name there is looked up without listing the folder,
// which extraction would otherwise do once for every file it writes.
std::map<std::string, std::unordered_map<std::string, std::string>> gOwnedFolders;

std::pair<std::string, std::string> SplitLeaf(const std::string& native)
{
    const auto slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return {".", native};
    return {slash == 0 ? "/" : native.substr(0, slash), native.substr(slash + 1)};
}

} // namespace

void posix::NoteName(const std::string& native, bool made)
{
    const auto [folder, leaf] = SplitLeaf(native);
    const auto it = gOwnedFolders.find(folder);
    if (it == gOwnedFolders.end())
        return;
    if (made)
        it->second.emplace(LowerAscii(leaf), leaf);
    else if (auto name = it->second.find(LowerAscii(leaf)); name != it->second.end() && name->second == leaf)
        it->second.erase(name);
}

void posix::KeepListing(const std::string& folder, bool keep)
{
    if (keep)
        gOwnedFolders[folder];
    else
        gOwnedFolders.erase(folder);
}

const dirent* posix::NextEntry(DIR* dir, const std::string& folder)
{
    errno = 0;
    const dirent* e = ::readdir(dir);
    if (!e && errno != 0) {
        const int err = errno;
        ::closedir(dir);
        ThrowErrno("list the folder", folder, err);
    }
    return e;
}

namespace {

// The entry of folder whose name equals name ignoring ASCII case; empty when there is none.
// Several candidates (possible only on a case-sensitive disk) resolve to the first in name order.
std::string FindIgnoringCase(const std::string& folder, const std::string& name)
{
    const std::string path = folder.empty() ? "." : folder;
    if (const auto owned = gOwnedFolders.find(path); owned != gOwnedFolders.end()) {
        const auto it = owned->second.find(LowerAscii(name));
        return it == owned->second.end() ? std::string() : it->second;
    }
    detail::ObserveSearch(path);
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        if (IsAbsence(errno))
            return {};
        ThrowErrno("list the folder", path);
    }
    std::string found;
    while (const dirent* e = NextEntry(dir, path)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..")
            continue;
        if (EqualsIgnoreCase(entry, name) && (found.empty() || entry < found))
            found = entry;
    }
    ::closedir(dir);
    return found;
}

} // namespace

std::string posix::Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string NativePath(const std::string& path)
{
    std::string text = path;
    std::replace(text.begin(), text.end(), '\\', '/');
    if (text.empty() || InOwnFolder(text) || Exists(text))
        return text;   // the common case: spelled as it is on disk
    return posix::ResolveMissing(text);
}

namespace {

// The spellings searches found, by the path text asked for: the next time, the one found is tried
// first and taken when it is there. Each of its parts matches the text asked ignoring case, so it
// is what the search would find again; one that went is searched for anew.
std::unordered_map<std::string, std::string> gFound;
std::mutex gFoundMutex;

std::string FoundBefore(const std::string& asked)
{
    std::string found;
    {
        const std::lock_guard<std::mutex> hold(gFoundMutex);
        const auto it = gFound.find(asked);
        if (it == gFound.end())
            return {};
        found = it->second;
    }
    return Exists(found) ? found : std::string();
}

void NoteFound(const std::string& asked, const std::string& found)
{
    const std::lock_guard<std::mutex> hold(gFoundMutex);
    gFound[asked] = found;
}

} // namespace

std::string posix::ResolveMissing(const std::string& text)
{
    if (InOwnFolder(text))
        return text;   // Tessera's own name: no other spelling of it can be there
    const bool trailing = text.back() == '/';
    std::string bare = text;
    while (bare.size() > 1 && bare.back() == '/')
        bare.pop_back();
    if (const std::string found = FoundBefore(bare); !found.empty())
        return found + (trailing ? "/" : "");
    // A new file in a folder spelled as it is on disk, or as found before: only its own name
    // needs a look.
    if (const auto slash = bare.find_last_of('/'); slash != std::string::npos && slash > 0 && slash + 1 < bare.size()) {
        const std::string folder = bare.substr(0, slash);
        const std::string leaf = bare.substr(slash + 1);
        std::string onDisk = folder;
        if (leaf != "." && leaf != ".." && (Exists(folder) || !(onDisk = FoundBefore(folder)).empty())) {
            // In a folder found under another spelling, the name may be there as asked.
            if (onDisk != folder && Exists(onDisk + "/" + leaf)) {
                NoteFound(bare, onDisk + "/" + leaf);
                return onDisk + "/" + leaf + (trailing ? "/" : "");
            }
            const std::string match = FindIgnoringCase(onDisk, leaf);
            if (!match.empty())
                NoteFound(bare, onDisk + "/" + match);
            return onDisk + "/" + (match.empty() ? leaf : match) + (trailing ? "/" : "");
        }
    }
    const bool absolute = text.front() == '/';

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('/', start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }

    std::string current = absolute ? "/" : "";
    std::string asked = current;
    bool resolving = true;
    for (const std::string& part : parts) {
        std::string next = Join(current, part);
        asked = Join(asked, part);
        if (resolving && part != ".." && !Exists(next)) {
            const std::string match = FindIgnoringCase(current, part);
            if (!match.empty()) {
                next = Join(current, match);
                NoteFound(asked, next);
            } else {
                resolving = false;   // nothing below a missing component can exist
            }
        }
        current = std::move(next);
    }
    if (current.empty())
        current = std::string(absolute ? "/" : ".");   // a plain assignment trips a false -Wrestrict of g++ 12 at -O3
    if (trailing && current.back() != '/')
        current += '/';
    return current;
}

} // namespace tessera::fs

#endif
