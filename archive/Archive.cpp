// Directory reading, package extraction and game archive update.
#include "Archive.h"

#include "FileSystem.h"
#include "HeldArchive.h"
#include "Text.h"
#include "Timing.h"

#include <algorithm>
#include <unordered_map>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace tessera {

namespace {

constexpr std::array<std::byte, kBlockSize> kZeros{};

std::int32_t ReadInt32(std::span<const std::byte> b, std::size_t at)
{
    const std::uint32_t v = std::to_integer<std::uint32_t>(b[at]) | (std::to_integer<std::uint32_t>(b[at + 1]) << 8)
        | (std::to_integer<std::uint32_t>(b[at + 2]) << 16) | (std::to_integer<std::uint32_t>(b[at + 3]) << 24);
    return static_cast<std::int32_t>(v);
}

void WriteInt32(std::span<std::byte> b, std::size_t at, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}

// Decodes 32 bytes into a record in place: every directory read goes through here.
void DecodeWholeRecord(std::span<const std::byte> b, DirRecord& record)
{
    record.lOffset = ReadInt32(b, kOffsetField);
    record.lSize = ReadInt32(b, kSizeField);
    std::memcpy(record.sName.data(), b.data() + kNameField, kNameSize);
}

// Walks of a text count in a signed 16-bit counter.
void CheckWalkLength(std::string_view s, const char* routine)
{
    if (s.size() >= 32767)
        throw TesseraError(ErrorKind::Overflow, std::string("Overflow: ") + routine + " of a text of " + std::to_string(s.size()) + " characters");
}

} // namespace

std::size_t ReadFrom(const fs::File& file, std::int64_t offset, std::span<std::byte> out) { return file.ReadAt(offset, out); }

void ReadRecordsInto(const fs::File& file, std::int64_t from, std::int64_t length, std::span<std::byte> buffer,
                     std::vector<DirRecord>& records, const ByteSink& seen)
{
    const auto count = static_cast<std::size_t>(RecordCount(length));
    // Storage of its own size and no more, even for a moment: what an earlier read left is given
    // back before anything larger is taken.
    records.clear();
    if (records.capacity() < count || records.capacity() > 2 * count + 4096)
        std::vector<DirRecord>().swap(records);
    records.resize(count);
    // Decoded piece by piece straight into the records: a game archive's directory is read
    // before every file an install puts into it.
    const std::size_t piece = buffer.size() / kRecordSize * kRecordSize;
    std::size_t index = 0;
    for (std::int64_t at = 0; index < count;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - at, static_cast<std::int64_t>(piece)));
        const std::size_t got = want == 0 ? 0 : file.ReadAt(from + at, buffer.first(want));
        if (seen && got > 0)
            seen(buffer.first(got));
        const std::size_t whole = std::min(got / kRecordSize, count - index);
        const std::byte* bytes = buffer.data();
        for (std::size_t i = 0; i < whole; ++i, ++index, bytes += kRecordSize)
            DecodeWholeRecord(std::span<const std::byte>(bytes, kRecordSize), records[index]);
        at += static_cast<std::int64_t>(got);
        if (got < want || at >= length) {
            if (index < count && got % kRecordSize != 0)   // a trailing record the file holds only in part
                records[index++] = DecodeRecord(buffer.subspan(whole * kRecordSize, got % kRecordSize));
            break;
        }
    }
    records.resize(index);   // fewer when the file was cut short meanwhile
}

RecordBytes EncodeRecord(const DirRecord& record)
{
    RecordBytes b{};
    WriteInt32(b, kOffsetField, record.lOffset);
    WriteInt32(b, kSizeField, record.lSize);
    std::memcpy(b.data() + kNameField, record.sName.data(), kNameSize);
    return b;
}

std::vector<std::byte> EncodeRecords(std::span<const DirRecord> records)
{
    std::vector<std::byte> bytes;
    bytes.reserve(records.size() * kRecordSize);
    for (const DirRecord& record : records) {
        const RecordBytes encoded = EncodeRecord(record);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    return bytes;
}

DirRecord DecodeRecord(std::span<const std::byte> bytes)
{
    RecordBytes full{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), kRecordSize), full.begin());
    DirRecord record;
    DecodeWholeRecord(full, record);
    return record;
}

RecordBytes WithOffset(RecordBytes record, std::int32_t offsetBlocks)
{
    WriteInt32(record, kOffsetField, offsetBlocks);
    return record;
}

RecordBytes WithNameOf(RecordBytes record, const RecordBytes& named)
{
    std::copy_n(named.begin() + kNameField, kNameSize, record.begin() + kNameField);
    return record;
}

void clsImgFile::sName(std::string_view value)
{
    sName_.assign(value.substr(0, kNameSize));
    sName_.resize(kNameSize, ' ');
}

std::string CleanName(std::string_view s)
{
    CheckWalkLength(s, "CleanName");
    std::string r;
    r.reserve(s.size());
    for (char c : s)
        if (c != '\0' && c != '\x10')
            r += c;
    return r;
}

std::string SpacesToNuls(std::string_view s)
{
    CheckWalkLength(s, "SpacesToNuls");
    std::string r(s);
    std::replace(r.begin(), r.end(), ' ', '\0');
    return r;
}

std::array<char, kNameSize> AddedNameField(std::string_view name)
{
    std::array<char, kNameSize> field{};
    const std::string text = SpacesToNuls(name.substr(0, kNameSize));
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

std::array<char, kNameSize> RenamedNameField(std::string_view name)
{
    std::array<char, kNameSize> field;
    field.fill(' ');
    const std::string_view text = name.substr(0, kNameSize);
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

std::string RecordName(const std::array<char, kNameSize>& field)
{
    const std::string_view all(field.data(), field.size());
    return CleanName(all.substr(0, all.find('\0')));
}

std::int64_t RecordCount(std::int64_t directoryLength)
{
    // last = round(L / 32 - 1), exact halves to the even neighbour; count = last + 1.
    const std::int64_t q = directoryLength / static_cast<std::int64_t>(kRecordSize);
    const std::int64_t r = directoryLength % static_cast<std::int64_t>(kRecordSize);
    std::int64_t last = q - 1;
    if (r > 16 || (r == 16 && last % 2 != 0))
        ++last;
    const std::int64_t count = last + 1;
    if (count > kMaxRecords)
        throw TesseraError(ErrorKind::Overflow, "Overflow: a directory of " + std::to_string(directoryLength) + " bytes has more records than 32-bit positions reach");
    return count;
}

void ParseDirectory(std::span<const std::byte> bytes, std::vector<DirRecord>& records)
{
    const auto count = static_cast<std::size_t>(RecordCount(static_cast<std::int64_t>(bytes.size())));
    records.resize(count);
    const std::size_t whole = std::min(count, bytes.size() / kRecordSize);
    for (std::size_t i = 0; i < whole; ++i)
        DecodeWholeRecord(bytes.subspan(i * kRecordSize, kRecordSize), records[i]);
    if (whole < count)   // a trailing record the file holds only in part
        records[whole] = DecodeRecord(bytes.subspan(whole * kRecordSize));
}

std::vector<DirRecord> ParseDirectory(std::span<const std::byte> bytes)
{
    std::vector<DirRecord> records;
    ParseDirectory(bytes, records);
    return records;
}

std::string EntryFileName(const clsImgFile& entry)
{
    const std::string name = SpacesToNuls(entry.sName());
    return name.substr(0, name.find('\0'));
}

std::string RecordFileName(const std::array<char, kNameSize>& field)
{
    std::string name = RecordName(field);
    return name.substr(0, name.find(' '));
}

std::vector<PackageFile> PackageFiles(std::span<const DirRecord> records)
{
    // Sorted by name, then by record number: one index per record, no copy of any name, so a
    // huge directory costs an eighth of its size more.
    struct Name {
        std::array<char, kNameSize> text;
        std::size_t size;
    };
    auto nameOf = [&](std::uint32_t i) {
        Name n{};
        const std::string name = RecordFileName(records[i].sName);
        n.size = name.size();
        std::copy(name.begin(), name.end(), n.text.begin());
        return n;
    };
    auto compare = [](const Name& a, const Name& b) {
        const std::size_t n = std::min(a.size, b.size);
        for (std::size_t i = 0; i < n; ++i) {
            const auto x = static_cast<unsigned char>(LowerAsciiChar(a.text[i]));
            const auto y = static_cast<unsigned char>(LowerAsciiChar(b.text[i]));
            if (x != y)
                return x < y ? -1 : 1;
        }
        return a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
    };
    if (records.size() > std::numeric_limits<std::uint32_t>::max())
        throw TesseraError(ErrorKind::Overflow, "Overflow: a directory of " + std::to_string(records.size()) + " records");
    std::vector<std::uint32_t> order(records.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int c = compare(nameOf(a), nameOf(b));
        return c != 0 ? c < 0 : a < b;
    });
    std::vector<PackageFile> files;
    for (std::size_t i = 0; i < order.size();) {
        const Name name = nameOf(order[i]);
        std::size_t j = i + 1;
        while (j < order.size() && compare(nameOf(order[j]), name) == 0)
            ++j;
        files.push_back({order[i], order[j - 1]});
        i = j;
    }
    return files;
}

std::string PrintableName(std::string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            r += "\\x";
            r += kHex[u >> 4];
            r += kHex[u & 15];
        } else {
            r += c;
        }
    }
    return r;
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RecordKey(const std::array<char, kNameSize>& field)
{
    return LowerAscii(TrimSpaces(RecordName(field)));
}

bool RecordNameMatches(const std::array<char, kNameSize>& field, std::string_view name)
{
    // In place: this runs for every record of a game archive before every file installed.
    const char* end = static_cast<const char*>(std::memchr(field.data(), '\0', kNameSize));
    const std::size_t length = end ? static_cast<std::size_t>(end - field.data()) : kNameSize;
    std::array<char, kNameSize> cleaned;
    std::size_t n = 0;
    if (!std::memchr(field.data(), '\x10', length)) {
        // No code 16 to drop, as in nearly every record: a name longer than wanted and its
        // trailing spaces cannot match, so most records end here.
        std::size_t last = length;
        while (last > 0 && field[last - 1] == ' ')
            --last;
        if (last < name.size())
            return false;
        std::memcpy(cleaned.data(), field.data(), last);
        n = last;
    } else {
        for (std::size_t i = 0; i < length; ++i)
            if (field[i] != '\x10')
                cleaned[n++] = field[i];
    }
    std::size_t first = 0;
    while (first < n && cleaned[first] == ' ')
        ++first;
    while (n > first && cleaned[n - 1] == ' ')
        --n;
    if (n - first != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (UpperAsciiChar(cleaned[first + i]) != UpperAsciiChar(name[i]))
            return false;
    return true;
}

const KeyedCollection<clsImgFile>& modArchive::colImgFiles()
{
    if (!entriesBuilt_) {
        entries_.Reserve(records_.size());
        for (std::size_t i = 0; i < records_.size(); ++i) {
            auto entry = std::make_shared<clsImgFile>();
            entry->sId(std::to_string(i));
            entry->sName(RecordName(records_[i].sName));
            entry->lOffset(records_[i].lOffset);
            entry->lSize(records_[i].lSize);
            entries_.Add(entry, entry->sId());
        }
        entriesBuilt_ = true;
    }
    return entries_;
}

bool modArchive::HasEntry(std::string_view name) const
{
    return std::any_of(records_.begin(), records_.end(), [&](const DirRecord& r) { return RecordNameMatches(r.sName, name); });
}

std::span<std::byte> modArchive::Buffer() { return {buffer_.Reserve(kTransferBufferSize), kTransferBufferSize}; }

void modArchive::ReadDirectory(const std::string& base)
{
    const timing::Scoped timed(timing::Phase::ReadDirectory);
    Forget(base);
    const fs::File dir(base + ".dir", fs::OpenMode::Read);
    ReadDirectoryOf(dir, dir.Length(), {});
}

modArchive::modArchive() = default;
modArchive::~modArchive() = default;

void modArchive::HoldArchive(const std::string& base)
{
    const timing::Scoped timed(timing::Phase::ReadDirectory);
    Held* current = held_ ? held_->current : nullptr;
    if (current && current->base != base) {
        // Set aside, with what was added since: what reading its directory again would give.
        current->records = std::move(records_);
        current->Fold(current->records);
        records_.clear();
        held_->current = current = nullptr;
    }
    entries_ = KeyedCollection<clsImgFile>();
    entriesBuilt_ = false;
    if (current) {
        current->Fold(records_);
        return;
    }
    if (held_) {
        for (const std::unique_ptr<Held>& h : held_->archives) {
            if (h->base == base) {
                records_ = std::move(h->records);
                h->records.clear();
                held_->current = h.get();
                sArchiveBase = base;
                return;
            }
        }
    }
    // Not held yet: the records read last, of an archive not held, make way.
    records_.clear();
    sArchiveBase = base;
    fs::File dir(base + ".dir", fs::OpenMode::ReadWrite);
    const std::int64_t dirLength = dir.Length();
    ReadDirectoryOf(dir, dirLength, {});
    fs::File img(base + ".img", fs::OpenMode::ReadWrite);
    const std::int64_t imgLength = img.Length();
    if (!held_)
        held_ = std::make_unique<Holds>();
    held_->archives.push_back(std::make_unique<Held>(Held{base, std::move(img), std::move(dir), imgLength, dirLength, {}, {}, {}, false}));
    held_->current = held_->archives.back().get();
}

void modArchive::ReleaseArchive() noexcept { held_.reset(); }

modArchive::Held& modArchive::CurrentHeld() const
{
    if (!held_ || !held_->current)
        throw std::logic_error("no archive is held");
    return *held_->current;
}

std::int64_t modArchive::HeldImgLength() const { return CurrentHeld().imgLength; }

std::int64_t modArchive::HeldDirLength() const { return CurrentHeld().dirLength; }

std::vector<fs::File*> modArchive::HeldFiles()
{
    std::vector<fs::File*> files;
    if (held_)
        for (const std::unique_ptr<Held>& h : held_->archives)
            files.insert(files.end(), {&h->img, &h->dir});
    return files;
}

void modArchive::AddRecord(const DirRecord& record)
{
    Held* held = &CurrentHeld();
    const std::string dirPath = sArchiveBase + ".dir";
    try {
        if (held->dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
            throw TesseraError(ErrorKind::BadArchive, "Cannot add to " + BaseName(dirPath) + ": its length (" + std::to_string(held->dirLength)
                                   + " bytes) is not a whole number of records", dirPath);
        CheckedInt32(held->dirLength + 1, "end of " + dirPath);
        held->dir.WriteAt(held->dirLength, EncodeRecord(record));
    } catch (...) {
        ReleaseArchive();
        throw;
    }
    held->dirLength += static_cast<std::int64_t>(kRecordSize);
    held->added.push_back(record);
    held->Fold(records_);
    entries_ = KeyedCollection<clsImgFile>();
    entriesBuilt_ = false;
}

void modArchive::Forget(const std::string& base)
{
    ReleaseArchive();
    records_.clear();
    entries_ = KeyedCollection<clsImgFile>();
    entriesBuilt_ = false;
    sArchiveBase = base;
}

void modArchive::ReadDirectoryOf(const fs::File& dir, std::int64_t length, const ByteSink& seen)
{
    // Read in pieces through the transfer buffer into records of the directory's own size; its
    // length is checked first so a hostile one fails before anything is read.
    RecordCount(length);
    ReadRecordsInto(dir, 0, length, Buffer(), records_, seen);
}

namespace {

// A part of a package, opened for reading; a missing one, or a folder, pipe or device in its
// place, is named as such.
fs::File OpenPackagePart(const std::string& path, const char* what)
{
    try {
        return fs::File(path, fs::OpenMode::Read);
    } catch (const TesseraError& e) {
        if (e.Kind() == ErrorKind::FileNotFound || e.Kind() == ErrorKind::PathNotFound)
            throw TesseraError(ErrorKind::FileNotFound, std::string(what) + path + " was not found", path);
        if (e.Kind() == ErrorKind::AccessDenied)
            fs::RequireFile(path, std::string(what) + path);
        throw;
    }
}

} // namespace

std::vector<PackageFile> modArchive::ReadPackage(const std::string& base, std::optional<fs::File>* data, const ByteSink& dirBytes)
{
    const std::string dirPath = base + ".dir";
    const std::string zpkPath = base + ".zpk";
    const timing::Scoped timed(timing::Phase::ReadDirectory);
    Forget(base);
    // Lengths and bytes come from the open files: each is looked up once.
    const fs::File dir = OpenPackagePart(dirPath, "The package directory ");
    fs::File zpk = OpenPackagePart(zpkPath, "The package data ");
    // A game archive's directory is read whole records and a rounded piece; a package's must be
    // whole records, or it was cut short and would lose entries without a word.
    const std::int64_t dirLength = dir.Length();
    if (dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
        throw TesseraError(ErrorKind::BadPackage, "The package directory " + dirPath + " is damaged: its length (" + std::to_string(dirLength)
                + " bytes) is not a whole number of " + std::to_string(kRecordSize) + "-byte records", dirPath);
    ReadDirectoryOf(dir, dirLength, dirBytes);
    std::vector<PackageFile> files;
    try {
        files = CheckPackageRecords(records_, zpk.Length(), BaseName(dirPath), BaseName(zpkPath));
    } catch (const TesseraError& e) {
        throw TesseraError(e.Kind(), e.what(), dirPath);
    }
    if (data)
        data->emplace(std::move(zpk));
    return files;
}

void modArchive::ExtractEntry(const clsImgFile& entry, const std::string& folder)
{
    const timing::Scoped timed(timing::Phase::Extract);
    const std::int32_t offset = entry.lOffset();
    const std::int32_t size = entry.lSize();
    const std::string zpk = sArchiveBase + ".zpk";
    const std::string label = "entry " + PrintableName(TrimSpaces(entry.sName())) + " of " + BaseName(zpk);
    CheckedInt32(static_cast<long long>(offset) + 1, "start of " + label);
    CheckedInt32(static_cast<long long>(size) - 1, "size of " + label);

    const std::string fileName = EntryFileName(entry);
    if (auto reason = UnsafeNameReason(fileName))
        throw TesseraError(ErrorKind::UnsafeName, "The " + label + " is refused: " + *reason, zpk);

    fs::File data(zpk, fs::OpenMode::Read);
    if (offset < 0 || size < 0 || static_cast<std::int64_t>(offset) + size > data.Length())
        throw TesseraError(ErrorKind::BadPackage, "The " + label + ": data runs past the end of the file", zpk);
    // Made anew, never through a link planted in the folder.
    fs::File out(folder + fileName, fs::OpenMode::Replace);
    if (fs::CopyRange(data, offset, out, 0, size, Buffer()) != size)
        throw TesseraError(ErrorKind::BadPackage, "The " + label + ": data runs past the end of the file", zpk);
    out.Close();
    data.Close();
}

void modArchive::RenameEntry(const std::string& name, const std::string& newName)
{
    Held* held = held_ ? held_->current : nullptr;
    std::vector<std::size_t> matching;
    if (held) {
        if (!held->indexed) {
            for (std::size_t i = 0; i < records_.size(); ++i)
                held->byKey[RecordKey(records_[i].sName)].push_back(i);
            held->indexed = true;
        }
        const auto found = held->byKey.find(LowerAscii(name));
        if (found != held->byKey.end())
            matching = std::move(found->second);
        if (found != held->byKey.end())
            held->byKey.erase(found);
        std::sort(matching.begin(), matching.end());
    } else {
        for (std::size_t i = 0; i < records_.size(); ++i)
            if (RecordNameMatches(records_[i].sName, name))
                matching.push_back(i);
    }
    for (const std::size_t i : matching) {
        DirRecord& record = records_[i];
        record.sName = RenamedNameField(newName);
        if (held)
            held->byKey[RecordKey(record.sName)].push_back(i);
        if (entriesBuilt_)
            entries_[i]->sName(newName);

        const std::string id = std::to_string(i);
        const std::int32_t position = CheckedInt32(static_cast<long long>(i) * static_cast<long long>(kRecordSize), "record position " + id);
        CheckedInt32(static_cast<long long>(position) + 1, "record position " + id);

        if (held) {
            try {
                held->dir.WriteAt(position, EncodeRecord(record));
            } catch (...) {
                ReleaseArchive();
                throw;
            }
            continue;
        }
        fs::File dir(sArchiveBase + ".dir", fs::OpenMode::ReadWrite);
        dir.WriteAt(position, EncodeRecord(record));
        dir.Close();
    }
}

void modArchive::AddFile(const std::string& path, const std::string& entryName)
{
    fs::File source(path, fs::OpenMode::Read);
    AddRange(source, 0, source.Length(), entryName, path);
    source.Close();
}

std::int64_t CopyInSlices(const fs::File& source, std::int64_t from, fs::File& target, std::int64_t to, std::int64_t length,
                          std::span<std::byte> buffer, const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap)
{
    if (!progress)
        return fs::CopyRange(source, from, target, to, length, buffer, tap);
    // Small enough that a slow disk still tells its progress a few times a second.
    constexpr std::int64_t kSlice = std::int64_t{2} << 20;
    std::int64_t done = 0;
    while (done < length) {
        const std::int64_t want = std::min(kSlice, length - done);
        const std::int64_t n = fs::CopyRange(source, from + done, target, to + done, want, buffer, tap);
        done += n;
        if (n < want)
            break;
        progress(done);
    }
    return done;
}

void modArchive::AddRange(const fs::File& source, std::int64_t from, std::int64_t length, const std::string& entryName,
                          const std::string& label, const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap)
{
    const timing::Scoped timed(timing::Phase::Append);
    const std::string imgPath = sArchiveBase + ".img";
    if (Held* held = held_ ? held_->current : nullptr) {
        // The lengths kept are right only while every write lands: a failed one lets go.
        try {
            const DirRecord record = AddRangeTo(held->img, held->imgLength, held->dir, held->dirLength, source, from, length,
                                                entryName, label, progress, tap);
            held->imgLength = (static_cast<std::int64_t>(record.lOffset) + record.lSize) * kBlockSize;
            held->dirLength += static_cast<std::int64_t>(kRecordSize);
            held->added.push_back(record);
        } catch (...) {
            ReleaseArchive();
            throw;
        }
        return;
    }
    fs::File img(imgPath, fs::OpenMode::ReadWrite);
    if (length == 0)
        throw TesseraError(ErrorKind::EmptyFile, "Cannot add " + label + " to " + BaseName(imgPath) + ": the file is empty", label);
    const std::int64_t imgLength = img.Length();
    fs::File dir(sArchiveBase + ".dir", fs::OpenMode::ReadWrite);
    AddRangeTo(img, imgLength, dir, dir.Length(), source, from, length, entryName, label, progress, tap);
    img.Close();
    dir.Close();
}

DirRecord modArchive::AddRangeTo(fs::File& img, std::int64_t imgLength, fs::File& dir, std::int64_t dirLength, const fs::File& source,
                                 std::int64_t from, std::int64_t length, const std::string& entryName, const std::string& label,
                                 const std::function<void(std::int64_t)>& progress, const fs::CopyTap& tap)
{
    const std::string imgPath = sArchiveBase + ".img";
    const std::string dirPath = sArchiveBase + ".dir";
    if (length == 0)
        throw TesseraError(ErrorKind::EmptyFile, "Cannot add " + label + " to " + BaseName(imgPath) + ": the file is empty", label);
    const std::int64_t blocks = (length + kBlockSize - 1) / kBlockSize;
    const std::int32_t bytes = CheckedInt32(blocks * kBlockSize, "size of " + label + " in whole blocks");
    CheckedInt32(static_cast<long long>(bytes) - 1, "size of " + label);

    // An .img that does not end on a block boundary is filled up first, so the record points at its data.
    const std::int64_t pad = (kBlockSize - imgLength % kBlockSize) % kBlockSize;
    const std::int64_t start = imgLength + pad;
    CheckedInt32(start + 1, "end of " + imgPath);
    const std::int32_t offset = CheckedInt32(start / kBlockSize, "block count of " + imgPath);

    if (dirLength % static_cast<std::int64_t>(kRecordSize) != 0)
        throw TesseraError(ErrorKind::BadArchive, "Cannot add to " + BaseName(dirPath) + ": its length (" + std::to_string(dirLength) + " bytes) is not a whole number of records", dirPath);
    CheckedInt32(dirLength + 1, "end of " + dirPath);

    DirRecord record;
    record.lOffset = offset;
    record.lSize = static_cast<std::int32_t>(blocks);
    record.sName = AddedNameField(entryName);

    // The fill up to the block boundary, the bytes straight from the source, zeros to the last
    // block's end; then the record.
    if (pad > 0)
        img.WriteAt(imgLength, std::span<const std::byte>(kZeros.data(), static_cast<std::size_t>(pad)));
    if (CopyInSlices(source, from, img, start, length, Buffer(), progress, tap) != length)
        throw TesseraError(ErrorKind::BadPackage, "Cannot add " + label + " to " + BaseName(imgPath) + ": its data ends early", label);
    if (const std::int64_t tail = bytes - length; tail > 0)
        img.WriteAt(start + length, std::span<const std::byte>(kZeros.data(), static_cast<std::size_t>(tail)));
    dir.WriteAt(dirLength, EncodeRecord(record));
    return record;
}

} // namespace tessera
