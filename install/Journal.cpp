// The install journal and rollback. On disk: a header (magic, format version, what wrote it,
// record count, for an uninstall the install it takes back, the game folder's identity and
// text) with its CRC-32C, then one framed record per change,
// each with its own CRC-32C, then the commit mark, a record of its own that counts only whole.
#include "Journal.h"

#include "Error.h"
#include "FileSystem.h"
#include "GameArchives.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <array>
#include <cstring>
#include <iomanip>
#include <optional>
#include <set>
#include <sstream>

namespace tessera {

namespace {

constexpr std::array<std::byte, 4> kMagic = {std::byte{'T'}, std::byte{'S'}, std::byte{'R'}, std::byte{'J'}};
constexpr std::uint16_t kVersion = 2;
constexpr std::uint8_t kStockRecord = 1;
constexpr std::uint8_t kArchiveRecord = 2;
constexpr std::uint8_t kCommitRecord = 3;
// What wrote a journal; 0, an install, is what the header held before it said.
constexpr std::uint16_t kInstallJournal = 0;
constexpr std::uint16_t kUninstallJournal = 1;
constexpr std::uint16_t kCompactionJournal = 2;
constexpr std::size_t kCommitSize = 4 + 1 + 4 + 4;   // length, kind, header checksum, checksum
constexpr std::size_t kMaxText = 4096;

// CRC-32C (Castagnoli), the checksum of iSCSI and ext4's metadata.
std::uint32_t Crc32c(std::span<const std::byte> data)
{
    static const auto kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            table[i] = c;
        }
        return table;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::byte b : data)
        crc = kTable[(crc ^ static_cast<std::uint8_t>(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

class Writer {
public:
    void U8(std::uint8_t v) { bytes.push_back(static_cast<std::byte>(v)); }
    void U16(std::uint16_t v) { Little(v, 2); }
    void U32(std::uint32_t v) { Little(v, 4); }
    void I64(std::int64_t v) { Little(static_cast<std::uint64_t>(v), 8); }
    void Raw(std::span<const std::byte> data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    void Text(const std::string& s)
    {
        U16(static_cast<std::uint16_t>(s.size()));
        Raw(std::as_bytes(std::span(s.data(), s.size())));
    }
    std::vector<std::byte> bytes;

private:
    void Little(std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            U8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

// Reads fields from a span; any read past its end is a damaged journal.
class Reader {
public:
    Reader(std::span<const std::byte> data, const std::string& journal) : data_(data), journal_(journal) {}
    std::uint64_t Little(int n)
    {
        Need(static_cast<std::size_t>(n));
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(data_[at_ + static_cast<std::size_t>(i)])) << (8 * i);
        at_ += static_cast<std::size_t>(n);
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Little(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Little(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Little(4)); }
    std::int64_t I64() { return static_cast<std::int64_t>(Little(8)); }
    std::span<const std::byte> Raw(std::size_t n)
    {
        Need(n);
        const auto r = data_.subspan(at_, n);
        at_ += n;
        return r;
    }
    std::string Text()
    {
        const std::size_t n = U16();
        if (n > kMaxText)
            throw DamagedJournal(journal_, "a name is too long");
        const auto r = Raw(n);
        return std::string(reinterpret_cast<const char*>(r.data()), r.size());
    }
    bool AtEnd() const { return at_ == data_.size(); }
    std::size_t At() const { return at_; }
    std::size_t Left() const { return data_.size() - at_; }

private:
    void Need(std::size_t n)
    {
        if (n > Left())
            throw DamagedJournal(journal_, "it ends early");
    }
    std::span<const std::byte> data_;
    std::string journal_;
    std::size_t at_ = 0;
};

// A record framed with its length and checksum.
void AppendRecord(Writer& out, const std::vector<std::byte>& payload)
{
    Writer framed;
    framed.U32(static_cast<std::uint32_t>(payload.size()));
    framed.Raw(payload);
    framed.U32(Crc32c(framed.bytes));
    out.Raw(framed.bytes);
}

std::vector<std::byte> ReadRecord(Reader& in, const std::string& journal, std::size_t number)
{
    const std::size_t start = in.At();
    const std::uint32_t length = in.U32();
    if (length > in.Left())
        throw DamagedJournal(journal, "record " + std::to_string(number) + " runs past its end");
    const auto payload = in.Raw(length);
    Writer framed;
    framed.U32(length);
    framed.Raw(payload);
    if (in.U32() != Crc32c(framed.bytes))
        throw DamagedJournal(journal, "record " + std::to_string(number) + " fails its checksum (at byte " + std::to_string(start) + ")");
    return {payload.begin(), payload.end()};
}

std::vector<std::byte> Header(const Journal& journal)
{
    Writer h;
    h.Raw(kMagic);
    h.U16(kVersion);
    switch (journal.kind) {
    case Journal::Kind::Install: h.U16(kInstallJournal); break;
    case Journal::Kind::Uninstall: h.U16(kUninstallJournal); break;
    case Journal::Kind::Compaction: h.U16(kCompactionJournal); break;
    }
    h.U32(static_cast<std::uint32_t>(journal.ops.size()));
    if (journal.kind == Journal::Kind::Uninstall)
        h.U32(static_cast<std::uint32_t>(journal.installId));
    h.Text(journal.identity);
    h.Text(journal.gameFolder);
    h.U32(Crc32c(h.bytes));
    return h.bytes;
}

std::vector<std::byte> CommitMark(std::uint32_t headerChecksum)
{
    Writer payload;
    payload.U8(kCommitRecord);
    payload.U32(headerChecksum);
    Writer mark;
    AppendRecord(mark, payload.bytes);
    return mark.bytes;
}

// A path inside the game folder as the journal keeps it: relative, no way up or out.
std::string Relative(const std::string& gameFolder, const std::string& path)
{
    if (path.size() <= gameFolder.size() || path.compare(0, gameFolder.size(), gameFolder) != 0)
        throw TesseraError(ErrorKind::InvalidArgument, "The path " + path + " is not inside the game folder " + gameFolder, path);
    return path.substr(gameFolder.size());
}

bool IsGameArchive(const std::string& relative)
{
    return GameArchiveNamed(relative) != nullptr;
}

std::string LeafOf(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Before a stock file goes back under its exact name: a file of that name in another letter
// case is the install's version (on a disk that tells case apart), and would keep the name.
void ClearCaseVariant(const std::string& target)
{
    const std::string resolved = fs::NativePath(target);
    if (LeafOf(resolved) != LeafOf(target) && fs::Lookup(resolved) == fs::PathKind::File)
        fs::DeleteFile(resolved);
}

void RollBackStock(const JournalOp& op)
{
    const std::string& target = op.path;
    const std::string backup = target + ".old";
    const std::string former = FormerFileName(target);
    if (!op.hadOld && !op.existed) {
        if (fs::FileExists(target))
            fs::DeleteFile(target);   // this install made it, keeping nothing
    } else if (!op.hadOld && fs::FileExists(backup)) {
        // Any .old is the one this install made: the game's version goes back under its name.
        ClearCaseVariant(target);
        fs::RenameFile(backup, target);
    } else if (op.hadOld && fs::FileExists(former)) {
        ClearCaseVariant(target);
        fs::RenameFile(former, target);
    } else if (!op.existed && fs::FileExists(target)) {
        fs::DeleteFile(target);   // this install created it
    }
    // Only a plain file is the install's: a link planted there is not followed, nor removed.
    if (fs::Lookup(NewFileName(target)) == fs::PathKind::File)
        fs::DeleteFile(NewFileName(target));
    std::string flushed = FolderOf(target);
    for (const std::string& folder : op.madeFolders) {
        if (!fs::FolderExists(folder))
            continue;
        try {
            fs::RemoveFolder(folder);
        } catch (const TesseraError& e) {
            if (e.Kind() != ErrorKind::AlreadyExists)
                throw;
            break;   // something else was put there meanwhile: it stays, with its parents
        }
        flushed = FolderOf(folder.substr(0, folder.size() - 1));
    }
    fs::FlushFolder(flushed);
}

void RollBackArchive(const JournalOp& op)
{
    const std::string img = op.path + ".img";
    const std::string dir = op.path + ".dir";
    // The install never removes or shortens an archive: one that is missing or shorter than it
    // was has been changed by something else, and cannot be put back.
    for (const auto& [path, length] : {std::pair{img, op.imgLength}, std::pair{dir, op.dirLength}}) {
        if (!fs::FileExists(path))
            throw TesseraError(ErrorKind::FileNotFound, "The game archive " + DisplayPath(path) + " is missing", path);
        if (fs::FileLength(path) < length)
            throw TesseraError(ErrorKind::BadArchive, "The game archive " + DisplayPath(path) + " is shorter than before the install ("
                    + std::to_string(fs::FileLength(path)) + " bytes, was " + std::to_string(length) + ")", path);
    }
    {
        fs::File file(img, fs::OpenMode::ReadWrite);
        if (file.Length() > op.imgLength)
            file.Truncate(op.imgLength);
        file.Flush();
        file.Close();
    }
    fs::File file(dir, fs::OpenMode::ReadWrite);
    for (const auto& [position, bytes] : op.records)
        file.WriteAt(position, bytes);
    if (file.Length() > op.dirLength)
        file.Truncate(op.dirLength);
    file.Flush();
    file.Close();
}

} // namespace

std::optional<std::string> UnsafeRelative(const std::string& relative)
{
    if (relative.empty())
        return "a path is empty";
    if (fs::IsSeparator(relative.front()))
        return "a path is absolute";
    if (relative.find(':') != std::string::npos || relative.find('\0') != std::string::npos)
        return "a path holds a drive or a NUL";
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = start;
        while (end < relative.size() && !fs::IsSeparator(relative[end]))
            ++end;
        const std::string part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return "a path leads out of the game folder";
        start = end + 1;
    }
    return std::nullopt;
}

DamagedJournal::DamagedJournal(const std::string& journalPath, const std::string& why)
    : TesseraError(ErrorKind::BadArchive, "The install journal " + DisplayPath(journalPath) + " is damaged: " + why, journalPath), why_(why)
{
}

namespace {

// The journal's bytes and the checksum of its header, which binds the commit mark to it.
std::vector<std::byte> JournalBytes(const Journal& journal, std::uint32_t& headerChecksum)
{
    Writer out;
    const std::vector<std::byte> header = Header(journal);
    headerChecksum = Crc32c(std::span(header).first(header.size() - 4));
    out.Raw(header);
    for (const JournalOp& op : journal.ops) {
        Writer payload;
        payload.U8(op.kind == JournalOp::Kind::Stock ? kStockRecord : kArchiveRecord);
        payload.Text(Relative(journal.gameFolder, op.path));
        if (op.kind == JournalOp::Kind::Stock) {
            payload.U8(op.hadOld ? 1 : 0);
            payload.U8(op.existed ? 1 : 0);
            // The folders made for it, innermost first, without their trailing separator.
            payload.U16(static_cast<std::uint16_t>(op.madeFolders.size()));
            for (const std::string& folder : op.madeFolders) {
                const std::string relative = Relative(journal.gameFolder, folder);
                payload.Text(relative.substr(0, relative.size() - (fs::IsSeparator(relative.back()) ? 1 : 0)));
            }
        } else {
            payload.I64(op.imgLength);
            payload.I64(op.dirLength);
            payload.U32(static_cast<std::uint32_t>(op.records.size()));
            for (const auto& [position, bytes] : op.records) {
                payload.I64(position);
                payload.Raw(bytes);
            }
        }
        AppendRecord(out, payload.bytes);
    }
    if (journal.committed)
        out.Raw(CommitMark(headerChecksum));
    return std::move(out.bytes);
}

// Appends the commit mark at length and flushes it; takes it back when that fails.
void AppendCommitMark(fs::File& file, std::int64_t length, std::uint32_t headerChecksum)
{
    try {
        file.WriteAt(length, CommitMark(headerChecksum));
        file.Flush();
    } catch (const TesseraError& e) {
        // Until it is on the disk the install did not happen: the mark goes before any undo.
        try {
            file.Truncate(length);
            file.Flush();
        } catch (const TesseraError& again) {
            throw UncertainCommit(e.Kind(), std::string(e.what()) + "; the mark could not be taken back either: " + again.what(), e.Path());
        }
        throw;
    }
}

} // namespace

JournalFile::JournalFile(const std::string& path, const Journal& given, bool* placed) : path_(path)
{
    Journal journal = given;
    if (journal.identity.empty())
        journal.identity = fs::FolderIdentity(journal.gameFolder);
    const std::vector<std::byte> bytes = JournalBytes(journal, headerChecksum_);
    length_ = static_cast<std::int64_t>(bytes.size());

    // Whole and on the disk under a name of its own before it takes the journal's name.
    const std::string fresh = path + ".new";
    try {
        file_.emplace(fresh, fs::OpenMode::Held);
        file_->WriteAt(0, bytes);
        file_->Flush();
        file_->RenameNoReplace(path);
        if (placed)
            *placed = true;
    } catch (const TesseraError&) {
        const bool renamed = file_ && file_->PathText() == path;
        file_.reset();
        if (!renamed) {
            try {
                if (fs::Lookup(fresh) == fs::PathKind::File)
                    fs::DeleteFile(fresh);
            } catch (const TesseraError&) {
                // Never taken for a journal; the next install or recovery removes it.
            }
        }
        throw;
    }
    fs::FlushFolder(FolderOf(path));
}

void JournalFile::MarkCommitted()
{
    AppendCommitMark(*file_, length_, headerChecksum_);
    length_ += static_cast<std::int64_t>(kCommitSize);
}

void JournalFile::Remove()
{
    file_->Remove();
    file_.reset();
}

void WriteJournal(const std::string& path, const Journal& journal, bool* placed) { JournalFile(path, journal, placed); }

std::vector<std::byte> JournalFileBytes(Journal journal)
{
    if (journal.identity.empty())
        journal.identity = fs::FolderIdentity(journal.gameFolder);
    std::uint32_t headerChecksum = 0;
    return JournalBytes(journal, headerChecksum);
}

Journal ReadJournal(const std::string& path)
{
    const auto bytes = fs::ReadWholeFile(path);
    Reader in(bytes, path);
    const auto damaged = [&](const std::string& why) { return DamagedJournal(path, why); };

    if (!std::equal(kMagic.begin(), kMagic.end(), in.Raw(kMagic.size()).begin()))
        throw damaged("it is not an install journal");
    if (in.U16() != kVersion)
        throw damaged("it was written in another format");
    Journal journal;
    switch (in.U16()) {
    case kInstallJournal: journal.kind = Journal::Kind::Install; break;
    case kUninstallJournal: journal.kind = Journal::Kind::Uninstall; break;
    case kCompactionJournal: journal.kind = Journal::Kind::Compaction; break;
    default: throw damaged("its header is not valid");
    }
    const std::uint32_t count = in.U32();
    if (journal.kind == Journal::Kind::Uninstall) {
        const std::uint32_t id = in.U32();
        if (id == 0 || id > 999999999u)
            throw damaged("its header is not valid");
        journal.installId = static_cast<int>(id);
    }
    journal.identity = in.Text();
    journal.gameFolder = in.Text();
    const std::size_t headerEnd = in.At();
    const std::uint32_t headerChecksum = Crc32c(std::span(bytes).first(headerEnd));
    if (in.U32() != headerChecksum)
        throw damaged("its header fails its checksum");
    if (journal.identity.empty() || journal.gameFolder.empty())
        throw damaged("it names no game folder");

    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string number = std::to_string(i);
        const auto payload = ReadRecord(in, path, i);
        Reader record(payload, path);
        JournalOp op;
        const std::uint8_t kind = record.U8();
        const std::string relative = record.Text();
        if (auto why = UnsafeRelative(relative))
            throw damaged("record " + number + ": " + *why);
        op.path = journal.gameFolder + relative;
        if (kind == kStockRecord) {
            const std::uint8_t hadOld = record.U8(), existed = record.U8();
            if (hadOld > 1 || existed > 1)
                throw damaged("record " + number + " is not valid");
            op.hadOld = hadOld == 1;
            op.existed = existed == 1;
            const std::uint16_t folders = record.U16();
            if (folders > 0 && (op.hadOld || op.existed))
                throw damaged("record " + number + " is not valid");
            std::string inner = relative;
            for (std::uint16_t f = 0; f < folders; ++f) {
                // Each one a folder above the file, and above the one before it.
                const std::string folder = record.Text();
                if (auto why = UnsafeRelative(folder))
                    throw damaged("record " + number + ": " + *why);
                if (inner.size() <= folder.size() + 1 || inner.compare(0, folder.size(), folder) != 0
                    || !fs::IsSeparator(inner[folder.size()]))
                    throw damaged("record " + number + " names a made folder that is not above its file");
                op.madeFolders.push_back(journal.gameFolder + folder + inner[folder.size()]);
                inner = folder;
            }
        } else if (kind == kArchiveRecord) {
            op.kind = JournalOp::Kind::Archive;
            if (!IsGameArchive(relative))
                throw damaged("record " + number + " names no game archive");
            op.imgLength = record.I64();
            op.dirLength = record.I64();
            const std::uint32_t records = record.U32();
            if (op.imgLength < 0 || op.dirLength < 0 || op.dirLength % static_cast<std::int64_t>(kRecordSize) != 0
                || records > static_cast<std::uint64_t>(op.dirLength) / kRecordSize)
                throw damaged("record " + number + " is not valid");
            for (std::uint32_t r = 0; r < records; ++r) {
                const std::int64_t position = record.I64();
                if (position < 0 || position % static_cast<std::int64_t>(kRecordSize) != 0 || position >= op.dirLength)
                    throw damaged("record " + number + " is not valid");
                RecordBytes saved;
                const auto raw = record.Raw(kRecordSize);
                std::copy(raw.begin(), raw.end(), saved.begin());
                op.records.emplace_back(position, saved);
            }
        } else {
            throw damaged("record " + number + " is of no known kind");
        }
        if (!record.AtEnd())
            throw damaged("record " + number + " is not valid");
        journal.ops.push_back(std::move(op));
    }

    // The commit mark counts only whole: one cut short by a crash was never flushed.
    if (in.Left() >= kCommitSize) {
        const auto mark = CommitMark(headerChecksum);
        if (in.Left() != kCommitSize || !std::equal(mark.begin(), mark.end(), in.Raw(kCommitSize).begin()))
            throw damaged("its commit mark is not valid");
        journal.committed = true;
    }
    return journal;
}

void MarkCommitted(const std::string& path)
{
    fs::File file(path, fs::OpenMode::ReadWrite);
    const std::int64_t length = file.Length();
    std::vector<std::byte> header(static_cast<std::size_t>(std::min<std::int64_t>(length, 64 * 1024)));
    header.resize(file.ReadAt(0, header));
    // The header's checksum binds the mark to this journal.
    Reader in(header, path);
    in.Raw(kMagic.size() + 2);
    const std::uint16_t kind = in.U16();
    in.U32();
    if (kind == kUninstallJournal)
        in.U32();
    in.Text();
    in.Text();
    AppendCommitMark(file, length, Crc32c(std::span(header).first(in.At())));
}

std::optional<std::string> LinkOnTheWay(const Journal& journal)
{
    std::set<std::string> looked;   // a folder on the way of many files is looked at once
    for (const JournalOp& op : journal.ops) {
        // Every folder on the way, and the archives an undo shortens or rewrites, must be what
        // they seem. Stock files themselves are only renamed, which never follows a link.
        std::vector<std::string> steps;
        for (std::size_t at = journal.gameFolder.size(); at < op.path.size(); ++at)
            if (fs::IsSeparator(op.path[at]) && looked.insert(op.path.substr(0, at)).second)
                steps.push_back(op.path.substr(0, at));
        if (op.kind == JournalOp::Kind::Archive) {
            steps.push_back(op.path + ".img");
            steps.push_back(op.path + ".dir");
        }
        for (const std::string& step : steps)
            if (fs::Lookup(step) == fs::PathKind::Link)
                return step;
    }
    return std::nullopt;
}

void VerifyGameFolder(const std::string& journalPath, const Journal& journal)
{
    if (fs::FolderIdentity(journal.gameFolder) != journal.identity)
        throw DamagedJournal(journalPath, DisplayPath(journal.gameFolder) + " is no longer the folder the install changed");
    if (const auto link = LinkOnTheWay(journal))
        throw DamagedJournal(journalPath, DisplayPath(*link) + " is a link, which could lead out of the game folder");
}

void RerootJournal(Journal& journal, const std::string& folder, const std::string& journalPath)
{
    const std::string from = fs::WithTrailingSeparator(journal.gameFolder);
    const std::string to = fs::WithTrailingSeparator(folder);
    const auto moved = [&](const std::string& path) {
        if (!LiesUnderFolder(path, from))
            throw DamagedJournal(journalPath, DisplayPath(path) + " does not lie under the game folder it recorded, " + DisplayPath(from));
        return to + path.substr(from.size());
    };
    for (JournalOp& op : journal.ops) {
        op.path = moved(op.path);
        for (std::string& made : op.madeFolders)
            made = moved(made);
    }
    journal.gameFolder = to;
}

void RollBack(const Journal& journal)
{
    for (auto it = journal.ops.rbegin(); it != journal.ops.rend(); ++it) {
        if (it->kind == JournalOp::Kind::Stock)
            RollBackStock(*it);
        else
            RollBackArchive(*it);
    }
}

namespace {

// Tries every leftover; those that stay are returned, with the error of the first.
std::vector<std::string> TryRemoveLeftovers(const Journal& journal, std::optional<TesseraError>& firstError)
{
    std::vector<std::string> left;
    for (const JournalOp& op : journal.ops) {
        if (op.kind != JournalOp::Kind::Stock)
            continue;
        for (const std::string& leftover : {FormerFileName(op.path), NewFileName(op.path)}) {
            try {
                if (fs::Lookup(leftover) == fs::PathKind::File)
                    fs::DeleteFile(leftover);
            } catch (const TesseraError& e) {
                if (!firstError)
                    firstError = e;
                left.push_back(leftover);
            }
        }
    }
    return left;
}

} // namespace

std::vector<std::string> RemoveLeftovers(const Journal& journal)
{
    std::optional<TesseraError> firstError;
    return TryRemoveLeftovers(journal, firstError);
}

void FinishCommitted(const Journal& journal)
{
    std::optional<TesseraError> firstError;
    TryRemoveLeftovers(journal, firstError);
    if (firstError)
        throw *firstError;
}

} // namespace tessera
