// The game folder and the names an install makes in it, as the journal, the history and the
// messages spell them: folders, display texts, the names beside a stock file, and where the
// journal of a game folder lives.
#include "Journal.h"

#include "FileSystem.h"
#include "Text.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <sstream>

namespace tessera {

namespace {

// The game folder as a key: separators and letter case folded, no trailing separator.
std::string FolderKey(const std::string& folder)
{
    std::string key = LowerAscii(folder);
    std::replace(key.begin(), key.end(), '\\', '/');
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

} // namespace

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool SameFolder(const std::string& a, const std::string& b) { return FolderKey(a) == FolderKey(b); }

bool LiesUnderFolder(const std::string& path, const std::string& folder)
{
    std::string key = FolderKey(folder);
    if (key.empty() || key.back() != '/')
        key += '/';
    std::string under = LowerAscii(path);
    std::replace(under.begin(), under.end(), '\\', '/');
    return under.size() > key.size() && under.starts_with(key);
}

std::string DisplayPath(const std::string& path)
{
    std::string shown = path;
    for (char& c : shown)
        if (fs::IsSeparator(c))
            c = fs::kSeparator;
    return shown;
}

static bool OddFolderText(const std::string& folder)
{
    return folder.empty() || folder.front() == ' ' || folder.back() == ' '
        || std::any_of(folder.begin(), folder.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string AbsoluteGameFolder(const std::string& folder)
{
    if (OddFolderText(folder))
        return folder;
    const std::string absolute = fs::AbsolutePath(folder);
    // Every spelling of one folder (a link to it, "..", a doubled separator) gives one text, so
    // the history compares what it recorded under any of them. A folder that is not there keeps
    // its text, for the message that says so.
    try {
        std::string resolved = fs::ResolvedFolder(absolute);
        if (!absolute.empty() && !fs::IsSeparator(absolute.back()))
            resolved.pop_back();
        return resolved;
    } catch (const TesseraError& e) {
        if (e.Kind() == ErrorKind::PathNotFound || e.Kind() == ErrorKind::FileNotFound)
            return absolute;
        throw;
    }
}

std::string DisplayMessage(const std::string& text)
{
    std::string shown = text;
    const auto hex = [&](std::size_t i) { return i < shown.size() && std::isxdigit(static_cast<unsigned char>(shown[i])); };
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (!fs::IsSeparator(shown[i]))
            continue;
        if (shown[i] == '\\' && i + 1 < shown.size() && shown[i + 1] == 'x' && hex(i + 2) && hex(i + 3)) {
            i += 3;
            continue;
        }
        shown[i] = fs::kSeparator;
    }
    return shown;
}

std::string GameFolderLabel(const std::string& folder)
{
    if (OddFolderText(folder))
        return "the stored game folder \"" + PrintableName(folder) + "\"";
    return "the game folder " + DisplayPath(folder);
}

std::string NewFileName(const std::string& target) { return target + ".tessera-new"; }
std::string FormerFileName(const std::string& target) { return target + ".tessera-former"; }

fs::PathKind RefuseLinkedFolder(const std::string& folder, const char* what, std::string* disk)
{
    std::string path = folder;
    while (path.size() > 1 && fs::IsSeparator(path.back()))
        path.pop_back();
    const fs::PathKind kind = fs::LookupOwnFolder(path, disk);
    if (kind == fs::PathKind::Link)
        throw TesseraError(ErrorKind::AccessDenied, std::string("The ") + what + " " + DisplayPath(path)
                + " is a link; Tessera keeps its journals and records only in a folder of its own, never through a link", path);
    return kind;
}

std::string JournalFolder(const std::string& given) { return given.empty() ? fs::UserDataFolder() : fs::WithTrailingSeparator(given); }

std::string JournalPath(const std::string& journalFolder, const std::string& gameFolder)
{
    return JournalPathOfIdentity(journalFolder, fs::FolderIdentity(gameFolder));
}

std::string JournalPathOfIdentity(const std::string& journalFolder, const std::string& identity)
{
    // FNV-1a of the folder's identity: one journal per game folder, whatever its spelling.
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : identity) {
        h ^= c;
        h *= 1099511628211ull;
    }
    std::ostringstream name;
    name << "install-" << std::hex << std::setw(16) << std::setfill('0') << h << ".journal";
    return fs::WithTrailingSeparator(journalFolder) + name.str();
}

} // namespace tessera
