// The install journal and rollback.
#include "Journal.h"

#include "Error.h"
#include "FileSystem.h"
#include "Text.h"

#include <algorithm>
#include <sstream>

namespace tessera {

namespace {

constexpr const char* kMagic = "tessera-journal 1";

std::string Hex(const void* data, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* p = static_cast<const unsigned char*>(data);
    std::string r;
    r.reserve(size * 2 + 1);
    for (std::size_t i = 0; i < size; ++i) {
        r += kDigits[p[i] >> 4];
        r += kDigits[p[i] & 15];
    }
    return r.empty() ? "-" : r;
}

std::string Hex(const std::string& s) { return Hex(s.data(), s.size()); }

std::vector<std::byte> Unhex(const std::string& s, const std::string& journalPath)
{
    if (s == "-")
        return {};
    if (s.size() % 2 != 0)
        throw TesseraError(ErrorKind::Io, "The install journal " + journalPath + " is damaged", journalPath);
    auto value = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        throw TesseraError(ErrorKind::Io, "The install journal " + journalPath + " is damaged", journalPath);
    };
    std::vector<std::byte> r(s.size() / 2);
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<std::byte>(value(s[2 * i]) * 16 + value(s[2 * i + 1]));
    return r;
}

std::string UnhexText(const std::string& s, const std::string& journalPath)
{
    const auto bytes = Unhex(s, journalPath);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The game folder as a key: separators and letter case folded, no trailing separator.
std::string FolderKey(const std::string& folder)
{
    std::string key = LowerAscii(folder);
    std::replace(key.begin(), key.end(), '\\', '/');
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}


void RollBackStock(const JournalOp& op)
{
    const std::string& target = op.path;
    const std::string backup = target + ".old";
    const std::string former = FormerFileName(target);
    if (!op.hadOld && !op.existed) {
        if (fs::FileExists(target))
            fs::DeleteFile(target);   // this install made it, keeping nothing
    } else if (!op.hadOld) {
        // Any .old is the one this install made: the game's version goes back under its name.
        if (fs::FileExists(backup))
            fs::RenameFile(backup, target);
    } else if (fs::FileExists(former)) {
        fs::RenameFile(former, target);
    } else if (!op.existed && fs::FileExists(target)) {
        fs::DeleteFile(target);   // this install created it
    }
    if (fs::FileExists(NewFileName(target)))
        fs::DeleteFile(NewFileName(target));
    std::string flushed = FolderOf(target);
    for (const std::string& folder : op.madeFolders) {
        if (!fs::FolderExists(folder))
            continue;
        try {
            fs::RemoveFolder(folder);
        } catch (const TesseraError&) {
            break;   // something else was put there meanwhile: it stays, with its parents
        }
        flushed = FolderOf(folder.substr(0, folder.size() - 1));
    }
    fs::FlushFolder(flushed);
}

} // namespace

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool SameFolder(const std::string& a, const std::string& b) { return FolderKey(a) == FolderKey(b); }

std::string NewFileName(const std::string& target) { return target + ".tessera-new"; }
std::string FormerFileName(const std::string& target) { return target + ".tessera-former"; }

std::string JournalFolder(const std::string& given) { return given.empty() ? fs::UserDataFolder() : fs::WithTrailingSeparator(given); }

std::string JournalPath(const std::string& journalFolder, const std::string& gameFolder)
{
    // FNV-1a of the folder key: one journal per game folder, whatever its spelling.
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : FolderKey(gameFolder)) {
        h ^= c;
        h *= 1099511628211ull;
    }
    std::ostringstream name;
    name << "install-" << std::hex << h << ".journal";
    return fs::WithTrailingSeparator(journalFolder) + name.str();
}

void WriteJournal(const std::string& path, const Journal& journal)
{
    std::string text = std::string(kMagic) + "\n";
    text += "game " + Hex(journal.gameFolder) + "\n";
    for (const JournalOp& op : journal.ops) {
        if (op.kind == JournalOp::Kind::Stock) {
            text += "stock " + Hex(op.path) + " " + (op.hadOld ? "1" : "0") + " " + (op.existed ? "1" : "0");
            for (const std::string& folder : op.madeFolders)
                text += " " + Hex(folder);
            text += "\n";
            continue;
        }
        text += "archive " + Hex(op.path) + " " + std::to_string(op.imgLength) + " " + std::to_string(op.dirLength) + " "
            + std::to_string(op.records.size());
        for (const auto& [position, bytes] : op.records)
            text += " " + std::to_string(position) + " " + Hex(bytes.data(), bytes.size());
        text += "\n";
    }
    text += "ready\n";
    if (journal.committed)
        text += "committed\n";

    try {
        fs::File file(path, fs::OpenMode::Create);
        file.WriteAt(0, std::as_bytes(std::span(text.data(), text.size())));
        file.Flush();
    } catch (const TesseraError&) {
        // No change was made yet; a journal half written would only be dropped later.
        fs::faults::Suspend noFaults;
        if (fs::FileExists(path))
            fs::DeleteFile(path);
        throw;
    }
    fs::FlushFolder(FolderOf(path));
}

Journal ReadJournal(const std::string& path)
{
    const auto bytes = fs::ReadWholeFile(path);
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    std::string line;
    auto damaged = [&]() { return TesseraError(ErrorKind::Io, "The install journal " + path + " is damaged", path); };
    if (!std::getline(in, line) || line != kMagic)
        throw damaged();
    Journal journal;
    bool ready = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "game") {
            std::string hex;
            fields >> hex;
            journal.gameFolder = UnhexText(hex, path);
        } else if (word == "stock") {
            JournalOp op;
            std::string hex;
            int hadOld = 0, existed = 1;
            if (!(fields >> hex >> hadOld >> existed))
                throw damaged();
            op.path = UnhexText(hex, path);
            op.hadOld = hadOld != 0;
            op.existed = existed != 0;
            for (std::string folder; fields >> folder;)
                op.madeFolders.push_back(UnhexText(folder, path));
            journal.ops.push_back(std::move(op));
        } else if (word == "archive") {
            JournalOp op;
            op.kind = JournalOp::Kind::Archive;
            std::string hex;
            std::size_t count = 0;
            if (!(fields >> hex >> op.imgLength >> op.dirLength >> count))
                throw damaged();
            op.path = UnhexText(hex, path);
            for (std::size_t i = 0; i < count; ++i) {
                std::int64_t position = 0;
                std::string recordHex;
                if (!(fields >> position >> recordHex))
                    throw damaged();
                const auto record = Unhex(recordHex, path);
                if (record.size() != kRecordSize)
                    throw damaged();
                RecordBytes bytes;
                std::copy(record.begin(), record.end(), bytes.begin());
                op.records.emplace_back(position, bytes);
            }
            journal.ops.push_back(std::move(op));
        } else if (word == "ready") {
            ready = true;
        } else if (word == "committed" && ready) {
            journal.committed = true;
        } else {
            throw damaged();
        }
    }
    if (!ready)
        throw damaged();
    return journal;
}

void MarkCommitted(const std::string& path)
{
    static constexpr char kMark[] = "committed\n";
    fs::File file(path, fs::OpenMode::ReadWrite);
    file.WriteAt(file.Length(), std::as_bytes(std::span(kMark, sizeof kMark - 1)));
    file.Flush();
}

void RollBack(const Journal& journal)
{
    fs::faults::Suspend noFaults;   // the undo must run whatever the test mode says
    for (auto it = journal.ops.rbegin(); it != journal.ops.rend(); ++it) {
        const JournalOp& op = *it;
        if (op.kind == JournalOp::Kind::Stock) {
            RollBackStock(op);
            continue;
        }
        const std::string img = op.path + ".img";
        const std::string dir = op.path + ".dir";
        if (fs::FileExists(img)) {
            fs::File file(img, fs::OpenMode::ReadWrite);
            if (file.Length() > op.imgLength)
                file.Truncate(op.imgLength);
            file.Flush();
        }
        if (fs::FileExists(dir)) {
            fs::File file(dir, fs::OpenMode::ReadWrite);
            for (const auto& [position, bytes] : op.records)
                file.WriteAt(position, bytes);
            if (file.Length() > op.dirLength)
                file.Truncate(op.dirLength);
            file.Flush();
        }
    }
}

void FinishCommitted(const Journal& journal)
{
    fs::faults::Suspend noFaults;
    for (const JournalOp& op : journal.ops) {
        if (op.kind != JournalOp::Kind::Stock)
            continue;
        for (const std::string& leftover : {FormerFileName(op.path), NewFileName(op.path)}) {
            try {
                if (fs::FileExists(leftover))
                    fs::DeleteFile(leftover);
            } catch (const TesseraError&) {
                // A leftover that cannot be deleted harms nothing; the next recovery tries again.
            }
        }
    }
}


} // namespace tessera
