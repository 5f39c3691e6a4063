// The history store: records written as part of an install's commit, read back, and brought in
// line with the journal's outcome.
#include "HistoryStore.h"

#include "Error.h"
#include "GameRules.h"
#include "FileSystem.h"
#include "Hash.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>
#include <stdexcept>

namespace tessera {

namespace {

// ---- The record file: one line per fact, texts in hex so any byte of a name survives.


std::string Hex(const void* data, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* p = static_cast<const unsigned char*>(data);
    std::string r;
    for (std::size_t i = 0; i < size; ++i) {
        r += kDigits[p[i] >> 4];
        r += kDigits[p[i] & 15];
    }
    return r.empty() ? "-" : r;
}
std::string Hex(const std::string& s) { return Hex(s.data(), s.size()); }

std::string Unhex(const std::string& s, const std::string& path)
{
    if (s == "-")
        return {};
    auto damaged = [&] { return TesseraError(ErrorKind::Io, "The history record " + path + " is damaged", path); };
    if (s.size() % 2 != 0)
        throw damaged();
    auto value = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        throw damaged();
    };
    std::string r(s.size() / 2, '\0');
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<char>(value(s[2 * i]) * 16 + value(s[2 * i + 1]));
    return r;
}

RecordBytes UnhexRecord(const std::string& s, const std::string& path)
{
    const std::string raw = Unhex(s, path);
    if (raw.size() != kRecordSize)
        throw TesseraError(ErrorKind::Io, "The history record " + path + " is damaged", path);
    RecordBytes r;
    std::memcpy(r.data(), raw.data(), kRecordSize);
    return r;
}

// The id a history file belongs to (its leading digits), or 0.
int IdOf(const std::string& name)
{
    int id = 0;
    std::size_t i = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && i < 9; ++i)
        id = id * 10 + (name[i] - '0');
    return i == 0 || i >= name.size() || (name[i] != '.' && name[i] != '-') ? 0 : id;
}

// Format 2 adds the hash name, the stored journal's hash, the hashes of a stock file's stored
// copy and .old, and a last line with the hash of everything before it. Format 3 keeps paths
// relative to the game folder, and names the folder it was written under. Formats 1 (Tessera
// 1.2.0) and 2 keep absolute paths, and are read as they are.
constexpr const char* kMagic = "tessera-history 3";
constexpr const char* kMagicFormat2 = "tessera-history 2";
constexpr const char* kMagicFormat1 = "tessera-history 1";

std::string HashOrDash(const std::string& hash) { return hash.empty() ? "-" : hash; }

// Every line of a record but its last, the check line, which WriteHistoryRecord adds. Paths go
// relative to the folder the record is rooted at now, which it names.
void FormatBody(const HistoryRecord& r, std::ostream& out)
{
    const std::string root = fs::WithTrailingSeparator(r.gameFolder);
    const auto relative = [&](const std::string& path) {
        if (!LiesUnderFolder(path, root))
            throw TesseraError(ErrorKind::InvalidArgument, "The path " + path + " is not inside the game folder " + root, path);
        return Hex(path.data() + root.size(), path.size() - root.size());
    };
    out << kMagic << "\n"
        << "hash " << r.hashName << "\n"
        << "folder " << Hex(root) << "\n"
        << "id " << r.id << "\n"
        << "package " << Hex(r.package) << "\n"
        << "zpk " << r.zpkHash << "\n"
        << "dir " << r.dirHash << "\n"
        << "date " << Hex(r.date) << "\n"
        << "journal " << HashOrDash(r.journalHash) << "\n";
    for (const HistoryArchive& a : r.archives)
        out << "archive " << relative(a.base) << " " << a.imgBefore << " " << a.dirBefore << " " << a.imgAfter << " " << a.dirAfter << "\n";
    for (const HistoryFile& f : r.files) {
        switch (f.kind) {
        case HistoryFile::Kind::Stock:
            out << "stock " << relative(f.path) << " " << f.madeOld << " " << f.created << " " << f.hash << " " << Hex(f.replacedCopy) << " "
                << HashOrDash(f.copyHash) << " " << HashOrDash(f.oldHash) << "\n";
            break;
        case HistoryFile::Kind::Added:
            out << "added " << relative(f.path) << " " << Hex(f.name) << " " << f.position << " " << f.hash << " "
                << Hex(f.after.data(), f.after.size()) << "\n";
            break;
        case HistoryFile::Kind::Renamed:
            out << "renamed " << relative(f.path) << " " << f.position << " " << Hex(f.before.data(), f.before.size()) << " "
                << Hex(f.after.data(), f.after.size()) << "\n";
            break;
        case HistoryFile::Kind::Refused:
            out << "refused " << Hex(f.name) << " " << Hex(f.reason) << "\n";
            break;
        }
    }
    out << "end\n";
}

// A stream's bytes written to a file a slice at a time: a record of tens of thousands of files
// runs to megabytes, and never sits whole in memory.
class SliceWriter : public std::streambuf {
public:
    explicit SliceWriter(fs::File& file) : file_(file), slice_(std::size_t{256} << 10) { setp(slice_.data(), slice_.data() + slice_.size()); }
    std::int64_t Written()
    {
        Drain();
        return written_;
    }

protected:
    int_type overflow(int_type c) override
    {
        Drain();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

private:
    void Drain()
    {
        const auto n = static_cast<std::size_t>(pptr() - pbase());
        if (n > 0)
            file_.WriteAt(written_, std::as_bytes(std::span(pbase(), n)));
        written_ += static_cast<std::int64_t>(n);
        setp(slice_.data(), slice_.data() + slice_.size());
    }
    fs::File& file_;
    std::vector<char> slice_;
    std::int64_t written_ = 0;
};

// A record's text into file (empty), its check line last; not flushed.
void WriteRecordText(fs::File& file, const HistoryRecord& record)
{
    SliceWriter slices(file);
    std::ostream out(&slices);
    out.exceptions(std::ios::badbit);   // a failed write throws its own error through the stream
    FormatBody(record, out);
    const std::int64_t length = slices.Written();
    // The check line: the hash of every byte before it, as they are in the file.
    const std::string check = "check " + HashRangeAs(record.hashName, file, 0, length) + "\n";
    file.WriteAt(length, std::as_bytes(std::span(check.data(), check.size())));
}

bool IsCopyName(const std::string& name)
{
    const auto dash = name.find('-');
    if (IdOf(name) == 0 || dash == std::string::npos || !EndsWith(name, ".bytes") || name.size() <= dash + 7)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dash) + 1, name.end() - 6, [](char c) { return c >= '0' && c <= '9'; });
}

// A hash field: hex digits only ("-" for none).
bool LooksLikeHash(const std::string& s)
{
    return s == "-" || (!s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }));
}

HistoryRecord Parse(const std::string& text, const std::string& path)
{
    auto damaged = [&] { return TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " is damaged", path); };
    const auto firstLine = text.find('\n');
    const std::string magic = text.substr(0, firstLine);
    HistoryRecord r;
    if (magic == kMagicFormat1) {
        r.format = 1;
        r.hashName = kLegacyHashName;   // records of 1.2.0 name none; main's may
    } else if (magic == kMagicFormat2) {
        r.format = 2;
    } else if (magic != kMagic) {
        throw damaged();
    }
    std::string body = text;
    if (r.format >= 2) {
        // The last line holds the hash of all before it, under the hash the record names.
        const auto hashLine = text.find("\nhash ");
        if (hashLine != firstLine)
            throw damaged();
        r.hashName = text.substr(hashLine + 6, text.find('\n', hashLine + 1) - hashLine - 6);
        if (!CanHash(r.hashName))
            throw TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " names a hash (" + r.hashName
                                   + ") this Tessera does not know", path);
        const auto check = text.rfind("end\ncheck ");
        if (check == std::string::npos || text.back() != '\n')
            throw damaged();
        body = text.substr(0, check + 4);
        const std::string sum = text.substr(check + 10, text.size() - check - 11);
        if (sum != HashHexAs(r.hashName, std::as_bytes(std::span(body.data(), body.size()))))
            throw damaged();
    }
    std::istringstream in(body);
    std::string line;
    std::getline(in, line);
    bool end = false;
    auto hash = [&](std::string& into, const std::string& field) {
        if (!LooksLikeHash(field))
            throw damaged();
        into = field == "-" ? std::string() : field;
    };
    while (!end && std::getline(in, line)) {
        std::istringstream fields(line);
        std::string word, a, b, c, d, e;
        fields >> word;
        if (word == "hash" && r.format >= 2) {
            // read with the checksum
        } else if (word == "folder" && r.format >= 3 && r.recordedFolder.empty()) {
            if (!(fields >> a))
                throw damaged();
            r.recordedFolder = Unhex(a, path);
            if (r.recordedFolder.empty() || !fs::IsSeparator(r.recordedFolder.back()))
                throw damaged();
        } else if (word == "id") {
            if (!(fields >> r.id))
                throw damaged();
        } else if (word == "hash") {
            if (!(fields >> r.hashName) || !CanHash(r.hashName))
                throw damaged();
        } else if (word == "package" || word == "date") {
            if (!(fields >> a))
                throw damaged();
            (word == "package" ? r.package : r.date) = Unhex(a, path);
        } else if (word == "zpk") {
            fields >> r.zpkHash;
        } else if (word == "dir") {
            fields >> r.dirHash;
        } else if (word == "journal" && r.format >= 2) {
            if (!(fields >> a))
                throw damaged();
            hash(r.journalHash, a);
        } else if (word == "archive") {
            HistoryArchive x;
            if (!(fields >> a >> x.imgBefore >> x.dirBefore >> x.imgAfter >> x.dirAfter))
                throw damaged();
            // An install only appends: lengths that shrink or are not whole records are not its.
            if (x.imgBefore < 0 || x.dirBefore < 0 || x.imgBefore > x.imgAfter || x.dirBefore > x.dirAfter
                || x.dirBefore % static_cast<std::int64_t>(kRecordSize) != 0 || x.dirAfter % static_cast<std::int64_t>(kRecordSize) != 0)
                throw damaged();
            x.base = Unhex(a, path);
            r.archives.push_back(x);
        } else if (word == "stock") {
            HistoryFile f;
            if (!(fields >> a >> f.madeOld >> f.created >> f.hash >> b))
                throw damaged();
            if (r.format >= 2) {
                if (!(fields >> d >> e))
                    throw damaged();
                hash(f.copyHash, d);
                hash(f.oldHash, e);
            }
            f.path = Unhex(a, path);
            f.replacedCopy = Unhex(b, path);
            // A stored copy is one of the history folder's own files: "N-K.bytes".
            if (!f.replacedCopy.empty() && !IsCopyName(f.replacedCopy))
                throw damaged();
            r.files.push_back(f);
        } else if (word == "added" || word == "renamed") {
            // A record written into a game archive: a new entry (its name and hash), or one set
            // aside (its record before); either way the record as it was left.
            HistoryFile f;
            const bool added = word == "added";
            f.kind = added ? HistoryFile::Kind::Added : HistoryFile::Kind::Renamed;
            if (!(added ? fields >> a >> b >> f.position >> f.hash >> c : fields >> a >> f.position >> b >> c) || f.position < 0)
                throw damaged();
            f.path = Unhex(a, path);
            if (added)
                f.name = Unhex(b, path);
            else
                f.before = UnhexRecord(b, path);
            f.after = UnhexRecord(c, path);
            r.files.push_back(f);
        } else if (word == "refused") {
            HistoryFile f;
            f.kind = HistoryFile::Kind::Refused;
            if (!(fields >> a >> b))
                throw damaged();
            f.name = Unhex(a, path);
            f.reason = Unhex(b, path);
            r.files.push_back(f);
        } else if (word == "end") {
            end = true;
        } else {
            throw damaged();
        }
    }
    if (!end || r.id <= 0 || (r.format >= 3 && r.recordedFolder.empty()))
        throw damaged();
    // Every record an install added lies within what it appended to that archive, every record
    // it renamed before that.
    for (const HistoryFile& f : r.files) {
        if (f.kind != HistoryFile::Kind::Added && f.kind != HistoryFile::Kind::Renamed)
            continue;
        const std::int64_t at = f.position * static_cast<std::int64_t>(kRecordSize);
        const bool inside = std::any_of(r.archives.begin(), r.archives.end(), [&](const HistoryArchive& x) {
            return PathKey(x.base) == PathKey(f.path)
                && (f.kind == HistoryFile::Kind::Added ? at >= x.dirBefore && at + static_cast<std::int64_t>(kRecordSize) <= x.dirAfter
                                                       : at + static_cast<std::int64_t>(kRecordSize) <= x.dirBefore);
        });
        if (!inside)
            throw damaged();
    }
    return r;
}

// A record read and checked, its paths rooted at game (empty: at the folder it was written under).
HistoryRecord ReadRecord(const std::string& path, const std::string& gameFolder)
{
    const auto bytes = fs::ReadWholeFile(path);
    HistoryRecord r = Parse(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
    // Its name says whose it is.
    if (IdOf(BaseName(path)) != r.id)
        throw TesseraError(ErrorKind::Io, "The history record " + ShownPath(path) + " is damaged", path);
    RootRecordPaths(r, gameFolder, path);
    return r;
}

std::string Now()
{
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm* tm = std::gmtime(&t);   // one thread: its shared result is safe here
    char text[32] = "unknown date";
    if (tm)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", tm);
    return text;
}

std::string RecordPath(const std::string& folder, int id, const char* state)
{
    return folder + std::to_string(id) + "." + state;
}

// Everything an install left in the history folder under its id.
// The file of that state goes last: until it does, what is left still belongs to a record.
void DeleteInstallFiles(const std::string& folder, int id, const char* state)
{
    std::vector<std::string> last;
    for (const std::string& name : fs::ListFiles(folder)) {
        if (IdOf(name) != id)
            continue;
        if (EndsWith(name, state))
            last.push_back(name);
        else if (EndsWith(name, ".journal") || EndsWith(name, ".bytes"))
            fs::DeleteFile(folder + name);
    }
    for (const std::string& name : last)
        fs::DeleteFile(folder + name);
}

} // namespace

std::string HistoryLabel(const HistoryRecord& r) { return std::to_string(r.id) + " (" + r.package + ", " + r.date + ")"; }

void WriteHistoryFile(const std::string& path, const std::string& text)
{
    fs::File file(path, fs::OpenMode::Create);
    file.WriteAt(0, std::as_bytes(std::span(text.data(), text.size())));
    file.Flush();
}

void DeleteIfThere(const std::string& path)
{
    if (fs::FileExists(path))
        fs::DeleteFile(path);
}

RecordBytes DirRecordAt(const std::vector<std::byte>& dir, std::size_t i)
{
    RecordBytes r{};
    std::copy_n(dir.begin() + static_cast<std::ptrdiff_t>(i * kRecordSize), kRecordSize, r.begin());
    return r;
}

std::string EntryDataHash(std::string_view hashName, const std::string& base, const RecordBytes& record)
{
    const DirRecord r = DecodeRecord(record);
    if (r.lOffset < 0 || r.lSize < 0)
        return {};
    fs::File img(base + ".img", fs::OpenMode::Read);
    return HashRangeAs(hashName, img, r.lOffset * kBlockSize, r.lSize * kBlockSize);
}

std::string HistoryFilePath(const std::string& folder, int id, const char* state) { return RecordPath(folder, id, state); }

void WriteHistoryRecord(const std::string& path, const HistoryRecord& record)
{
    fs::File file(path, fs::OpenMode::Create);
    WriteRecordText(file, record);
    file.Flush();
}


int HistoryRecord::Added() const
{
    int n = 0;
    for (const HistoryFile& f : files)
        if ((f.kind == HistoryFile::Kind::Stock && f.created) || f.kind == HistoryFile::Kind::Added)
            ++n;
    for (const HistoryFile& f : files)
        if (f.kind == HistoryFile::Kind::Stock && !f.created)
            ++n;
    return n - Replaced();
}

int HistoryRecord::Replaced() const
{
    // An added entry replaces when this install set aside an entry of its name.
    std::set<std::pair<std::string, std::string>> setAside;
    for (const HistoryFile& f : files)
        if (f.kind == HistoryFile::Kind::Renamed)
            setAside.insert({PathKey(f.path), LowerAscii(TrimSpaces(RecordName(DecodeRecord(f.before).sName)))});
    int n = 0;
    for (const HistoryFile& f : files)
        if ((f.kind == HistoryFile::Kind::Stock && !f.created)
            || (f.kind == HistoryFile::Kind::Added && setAside.count({PathKey(f.path), LowerAscii(f.name)})))
            ++n;
    return n;
}

int HistoryRecord::Refused() const
{
    return static_cast<int>(std::count_if(files.begin(), files.end(), [](const HistoryFile& f) { return f.kind == HistoryFile::Kind::Refused; }));
}

std::string HistoryFolderOfJournal(const std::string& journalPath)
{
    std::string base = journalPath;
    if (EndsWith(base, ".journal"))
        base.resize(base.size() - 8);
    return base + ".history" + fs::kSeparator;
}

std::string HistoryFolder(const std::string& journalFolder, const std::string& gameFolder)
{
    return HistoryFolderOfJournal(JournalPath(journalFolder, gameFolder));
}

std::string WritePendingRecord(const std::string& folder, const Journal& journal, const std::string& packagePath,
                               const std::string& shownName, const std::vector<RefusedFile>& refused, const InstallHashes& hashes,
                               std::vector<std::string>& unflushed, const HistorySeen* seen)
{
    // Looked at again for a link: the install has taken a while. What it holds is as the caller
    // saw it, under the lock, when it was a folder then and now.
    const fs::PathKind kind = RefuseLinkedFolder(folder, "history folder");
    if (kind != fs::PathKind::Folder)
        fs::CreateFolder(folder);   // inside the data folder, which is there
    int id = 0;
    const bool known = seen && seen->kind == fs::PathKind::Folder;
    for (const std::string& name : kind != fs::PathKind::Folder ? std::vector<std::string>{} : known ? seen->files : fs::ListFiles(folder))
        id = std::max(id, IdOf(name));
    HistoryRecord r;
    r.id = id + 1;
    // The pending record's name comes first, empty: whatever else of this install is left by a
    // failure goes with it, so a stored journal or copy without a record is damage, never a
    // leftover (it is removed last, below and by the settling).
    const std::string pending = RecordPath(folder, r.id, "pending");
    fs::File(pending, fs::OpenMode::Create).Close();   // no bytes to flush: its name is what counts
    fs::FlushFolder(folder);
    r.package = BaseName(shownName.empty() ? packagePath : shownName);
    r.gameFolder = r.recordedFolder = journal.gameFolder;
    r.hashName = kHashName;
    r.zpkHash = hashes.zpk;
    r.dirHash = hashes.dir;
    r.date = Now();
    try {
        std::vector<std::string> written;
        int copies = 0;
        // Room for every file at once: a download may bring tens of thousands.
        std::size_t files = journal.ops.size() + refused.size() + hashes.added.size();
        for (const JournalOp& op : journal.ops)
            files += op.records.size();
        r.files.reserve(files);
        for (const JournalOp& op : journal.ops) {
            if (op.kind == JournalOp::Kind::Stock) {
                HistoryFile f;
                f.path = op.path;
                f.created = !op.existed;
                f.madeOld = !op.hadOld && op.existed;
                const auto hash = hashes.stock.find(op.path);
                f.hash = hash != hashes.stock.end() ? hash->second : HashFile(op.path);
                if (f.madeOld)   // an uninstall puts it back only as this install left it
                    f.oldHash = HashFile(op.path + ".old");
                if (op.hadOld && op.existed) {
                    // The .old holds the game's original; what this install replaced lives only here.
                    f.replacedCopy = std::to_string(r.id) + "-" + std::to_string(++copies) + ".bytes";
                    fs::CopyFile(FormerFileName(op.path), folder + f.replacedCopy);
                    written.push_back(folder + f.replacedCopy);
                    f.copyHash = HashFile(folder + f.replacedCopy);
                }
                r.files.push_back(f);
                continue;
            }
            const auto known = hashes.archives.find(op.path);
            const std::vector<std::byte> dir = known != hashes.archives.end() ? known->second.second : fs::ReadWholeFile(op.path + ".dir");
            const std::int64_t imgLength = known != hashes.archives.end() ? known->second.first : fs::FileLength(op.path + ".img");
            r.archives.push_back({op.path, op.imgLength, op.dirLength, imgLength, static_cast<std::int64_t>(dir.size())});
            for (const auto& [position, before] : op.records) {
                const auto at = static_cast<std::size_t>(position);
                if (at + kRecordSize > dir.size() || DirRecordAt(dir, at / kRecordSize) == before)
                    continue;
                HistoryFile f;
                f.kind = HistoryFile::Kind::Renamed;
                f.path = op.path;
                f.position = position / static_cast<std::int64_t>(kRecordSize);
                f.before = before;
                f.after = DirRecordAt(dir, at / kRecordSize);
                r.files.push_back(f);
            }
            for (std::size_t i = static_cast<std::size_t>(op.dirLength) / kRecordSize; i < dir.size() / kRecordSize; ++i) {
                // A record of unused space that keeps the chain apart is no file of the package;
                // it lies within what the install appended, which its uninstall takes back whole.
                if (IsUnusedSpace(DecodeRecord(DirRecordAt(dir, i))))
                    continue;
                HistoryFile f;
                f.kind = HistoryFile::Kind::Added;
                f.path = op.path;
                f.position = static_cast<std::int64_t>(i);
                f.after = DirRecordAt(dir, i);
                f.name = TrimSpaces(RecordName(DecodeRecord(f.after).sName));
                const auto hash = hashes.added.find({op.path, f.position});
                f.hash = hash != hashes.added.end() ? hash->second : EntryDataHash(kHashName, op.path, f.after);
                r.files.push_back(f);
            }
        }
        for (const RefusedFile& x : refused) {
            HistoryFile f;
            f.kind = HistoryFile::Kind::Refused;
            f.name = x.name;
            f.reason = x.reason.empty() ? "not supported by Tessera" : x.reason;
            r.files.push_back(f);
        }

        // The stored journal and the record's text are made durable by the caller, with the
        // install's changes: both count only with the commit mark, which follows that flush.
        Journal undo = journal;
        undo.committed = false;
        const std::vector<std::byte> undoBytes = JournalFileBytes(undo);
        const std::string stored = RecordPath(folder, r.id, "journal");
        fs::File(stored, fs::OpenMode::CreateNew).WriteAt(0, undoBytes);
        written.push_back(stored);
        r.journalHash = HashHexAs(r.hashName, undoBytes);
        {
            fs::File file(pending, fs::OpenMode::Create);
            WriteRecordText(file, r);
        }
        written.push_back(pending);
        unflushed.insert(unflushed.end(), written.begin(), written.end());
        return pending;
    } catch (...) {
        // Nothing of a record that never counted may stay behind; what cannot go now is
        // removed by the settling after the install's rollback or recovery.
        try {
            DeleteInstallFiles(folder, r.id, ".pending");
        } catch (const std::exception&) {
            // Left for the next settling; ids are taken past it.
        }
        throw;
    }
}

void PromoteRecord(const std::string& pendingPath)
{
    fs::RenameFile(pendingPath, pendingPath.substr(0, pendingPath.size() - 7) + "record");
    fs::FlushFolder(FolderOf(pendingPath));
}

void SettleHistory(const std::string& folder, const std::string& game, std::optional<bool> journalCommitted, HistorySeen* seen)
{
    if ((seen ? seen->kind : RefuseLinkedFolder(folder, "history folder")) != fs::PathKind::Folder)
        return;
    // The new versions of records that an uninstall or a compaction moved count with it: an
    // uninstall is done when its journal was rolled back, a compaction when its was committed.
    const std::vector<std::string> names = seen ? seen->files : fs::ListFiles(folder);
    bool changed = false;
    const bool removing = std::any_of(names.begin(), names.end(), [](const std::string& n) { return IdOf(n) != 0 && EndsWith(n, ".removing"); });
    const bool follow = removing ? journalCommitted.has_value() && !*journalCommitted : journalCommitted.value_or(false);
    for (const std::string& name : names) {
        if (IdOf(name) != 0 && EndsWith(name, ".next.new") && fs::Lookup(folder + name) == fs::PathKind::File) {
            fs::DeleteFile(folder + name);   // a stored journal's new version never put in place
            changed = true;
        }
        if (IdOf(name) == 0 || !EndsWith(name, ".next"))
            continue;
        changed = true;
        if (follow)
            fs::RenameFile(folder + name, folder + name.substr(0, name.size() - 5));
        else
            fs::DeleteFile(folder + name);
    }
    for (const std::string& name : names) {
        const int id = IdOf(name);
        if (id == 0 || !(EndsWith(name, ".pending") || EndsWith(name, ".removing")))
            continue;
        changed = true;
        if (EndsWith(name, ".pending")) {
            if (journalCommitted.value_or(false))
                PromoteRecord(folder + name);
            else
                DeleteInstallFiles(folder, id, ".pending");   // its install never stood
        } else if (EndsWith(name, ".removing")) {
            const std::string record = RecordPath(folder, id, "record");
            if (journalCommitted.has_value() && !*journalCommitted) {
                // The uninstall's rollback is done: the install is gone.
                if (fs::FileExists(record))
                    fs::RenameFile(record, RecordPath(folder, id, "removed"));
            } else if (fs::FileExists(record)) {
                // It stopped before its journal: only the copies put beside stock files remain.
                for (const HistoryFile& f : ReadRecord(record, game).files)
                    if (f.kind == HistoryFile::Kind::Stock && !f.replacedCopy.empty())
                        DeleteIfThere(FormerFileName(f.path));
            }
            fs::DeleteFile(folder + name);
        }
    }
    // Nothing to make durable, or to be seen anew, when nothing was left to settle.
    if (!changed)
        return;
    fs::FlushFolder(folder);
    if (seen)
        seen->files = fs::ListFiles(folder);
}

Journal ReadStoredJournal(const std::string& folder, const HistoryRecord& record)
{
    const std::string path = RecordPath(folder, record.id, "journal");
    if (!record.journalHash.empty() && HashFileAs(record.hashName, path) != record.journalHash)
        throw TesseraError(ErrorKind::Io, "The stored journal of install " + HistoryLabel(record) + " is damaged", path);
    Journal journal = ReadJournal(path);
    RerootJournal(journal, record.gameFolder, path);
    return journal;
}

std::vector<HistoryRecord> ReadHistoryOf(const std::string& gameFolder)
{
    const std::string game = fs::WithTrailingSeparator(AbsoluteGameFolder(gameFolder));
    return ReadHistory(HistoryFolder(JournalFolder({}), game), game);
}

std::vector<HistoryRecord> ReadHistory(const std::string& folder, const std::string& game)
{
    std::vector<HistoryRecord> history;
    if (RefuseLinkedFolder(folder, "history folder") != fs::PathKind::Folder)
        return history;
    const std::vector<std::string> names = fs::ListFiles(folder);
    std::set<int> counted;
    for (const std::string& name : names)
        if (IdOf(name) != 0 && (EndsWith(name, ".record") || EndsWith(name, ".removed") || EndsWith(name, ".pending")))
            counted.insert(IdOf(name));
    for (const std::string& name : names) {
        const int id = IdOf(name);
        if (id == 0)
            continue;
        if ((EndsWith(name, ".journal") || EndsWith(name, ".bytes")) && !counted.count(id))
            throw TesseraError(ErrorKind::Io, "The history in " + ShownPath(folder) + " is damaged: the record of install " + std::to_string(id)
                                   + " is missing", folder + name);
        if (EndsWith(name, ".record"))
            history.push_back(ReadRecord(folder + name, game));
    }
    std::sort(history.begin(), history.end(), [](const HistoryRecord& a, const HistoryRecord& b) { return a.id > b.id; });
    return history;
}

} // namespace tessera
