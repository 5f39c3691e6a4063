// The package's hashes, taken in a read of their own or from the copies.
#include "PackageHashes.h"

#include "InstallChecks.h"

#include <algorithm>
#include <array>

namespace tessera {

namespace {

// Read a slice at a time that the processor's cache holds while it is hashed, into the start of
// the transfer buffer only (its pages are touched, and so paid for, as they fill).
constexpr std::size_t kSlice = std::size_t{1} << 20;

// The hash of what a planned file writes, its bytes given to hash: an archive entry's last block
// is filled up with zeros.
std::string Finished(ContentHash& hash, const PlannedFile& f)
{
    static constexpr std::array<std::byte, kBlockSize> kZeros{};
    if (f.kind == PlannedFile::Kind::Archive)
        hash.Update(std::span(kZeros).first(static_cast<std::size_t>(BlockBytes(f.size) - f.size)));
    return hash.HexDigest();
}

} // namespace

std::vector<std::string> HashPackage(const fs::File& zpk, modArchive& archive, const std::vector<PlannedFile>& plan, std::string& zpkHash)
{
    struct Range {
        std::int64_t begin = 0, end = 0;
        std::size_t file = 0;
    };
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < plan.size(); ++i)
        if (plan[i].kind != PlannedFile::Kind::Refused)
            ranges.push_back({plan[i].offset, plan[i].offset + plan[i].size, i});
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });

    std::vector<std::string> hashes(plan.size());
    std::vector<std::pair<Range, ContentHash>> open;   // ranges the read has reached and not passed
    auto finish = [&](std::pair<Range, ContentHash>& r) { hashes[r.first.file] = Finished(r.second, plan[r.first.file]); };
    ContentHash whole;
    const std::span<std::byte> buffer = archive.Buffer().first(kSlice);
    const std::int64_t length = zpk.Length();
    std::size_t next = 0;
    for (std::int64_t at = 0; at < length;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - at, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = zpk.ReadAt(at, buffer.first(want));
        if (got == 0)
            break;   // cut short meanwhile: the copy that needs the missing bytes says so
        const std::int64_t end = at + static_cast<std::int64_t>(got);
        whole.Update(buffer.first(got));
        for (; next < ranges.size() && ranges[next].begin < end; ++next) {
            // A range within this slice is hashed and done at once: a package of many small
            // entries must not hold a hash state for each of them.
            std::pair<Range, ContentHash> r(ranges[next], ContentHash());
            if (r.first.end > end) {
                open.push_back(std::move(r));
                continue;
            }
            r.second.Update(buffer.subspan(static_cast<std::size_t>(r.first.begin - at), static_cast<std::size_t>(r.first.end - r.first.begin)));
            finish(r);
        }
        for (auto& r : open) {
            const std::int64_t from = std::max(r.first.begin, at), to = std::min(r.first.end, end);
            if (to > from)
                r.second.Update(buffer.subspan(static_cast<std::size_t>(from - at), static_cast<std::size_t>(to - from)));
        }
        const auto done = std::partition(open.begin(), open.end(), [&](const auto& r) { return r.first.end > end; });
        std::for_each(done, open.end(), finish);
        open.erase(done, open.end());
        at = end;
    }
    for (; next < ranges.size(); ++next)
        open.emplace_back(ranges[next], ContentHash());
    std::for_each(open.begin(), open.end(), finish);
    zpkHash = whole.HexDigest();
    return hashes;
}

bool HashesInCopy::Fits(const std::vector<PlannedFile>& plan)
{
    std::int64_t end = 0;
    for (const PlannedFile& f : plan) {
        if (f.kind == PlannedFile::Kind::Refused)
            continue;
        if (f.offset < end)
            return false;
        end = f.offset + f.size;
    }
    return true;
}

HashesInCopy::HashesInCopy(const fs::File& zpk, modArchive& archive, const std::vector<PlannedFile>& plan)
    : zpk_(zpk), archive_(archive), plan_(plan), hashes_(plan.size())
{
}

void HashesInCopy::ReadUpTo(std::int64_t end)
{
    const std::span<std::byte> buffer = archive_.Buffer().first(kSlice);
    while (hashedTo_ < end) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - hashedTo_, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = zpk_.ReadAt(hashedTo_, buffer.first(want));
        if (got == 0)
            return;   // cut short meanwhile: the copy that needs the missing bytes says so
        whole_.Update(buffer.first(got));
        hashedTo_ += static_cast<std::int64_t>(got);
    }
}

fs::CopyTap HashesInCopy::Tap(std::size_t i)
{
    ReadUpTo(plan_[i].offset);
    file_ = ContentHash();
    return [this](std::span<const std::byte> bytes) {
        whole_.Update(bytes);
        file_.Update(bytes);
    };
}

void HashesInCopy::Copied(std::size_t i)
{
    hashes_[i] = Finished(file_, plan_[i]);
    hashedTo_ = plan_[i].offset + plan_[i].size;
}

std::vector<std::string> HashesInCopy::Finish(std::string& zpkHash)
{
    ReadUpTo(zpk_.Length());
    zpkHash = whole_.HexDigest();
    return std::move(hashes_);
}

} // namespace tessera
