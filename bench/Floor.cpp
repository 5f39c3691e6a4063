// The floor copies: unbuffered standard C streams through one 1 MB buffer, the least work that
// moves the bytes an install has to move.
#include "Floor.h"

#include "Error.h"
#include "FileSystem.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace tessera::bench {

namespace {

constexpr std::size_t kBuffer = 1 << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr Open(const std::string& path, const char* mode)
{
    FilePtr f(std::fopen(path.c_str(), mode));
    if (!f)
        throw TesseraError(ErrorKind::Io, "Floor: cannot open " + path, path);
    std::setvbuf(f.get(), nullptr, _IONBF, 0);
    return f;
}

void Copy(std::FILE* from, std::FILE* to, std::int64_t size, std::vector<char>& buffer, const std::string& what)
{
    for (std::int64_t done = 0; done < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - done, static_cast<std::int64_t>(buffer.size())));
        if (std::fread(buffer.data(), 1, n, from) != n || std::fwrite(buffer.data(), 1, n, to) != n)
            throw TesseraError(ErrorKind::Io, "Floor: copying " + what + " failed", what);
        done += static_cast<std::int64_t>(n);
    }
}

// A file descriptor closed at the end of its scope.
struct Fd {
    explicit Fd(const std::string& path, int flags) : fd(::open(path.c_str(), flags | O_CLOEXEC, 0644))
    {
        if (fd < 0)
            throw TesseraError(ErrorKind::Io, "Floor: cannot open " + path, path);
    }
    ~Fd() { ::close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

// size bytes from offset from of in to offset to of out: copy_file_range, else read and write.
void KernelCopy(int in, std::int64_t from, int out, std::int64_t to, std::int64_t size, std::vector<char>& buffer, const std::string& what)
{
    std::int64_t done = 0;
    while (done < size) {
        loff_t inAt = from + done, outAt = to + done;
        const ssize_t n = ::copy_file_range(in, &inAt, out, &outAt, static_cast<std::size_t>(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    while (done < size) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(size - done, static_cast<std::int64_t>(buffer.size())));
        const ssize_t n = ::pread(in, buffer.data(), want, from + done);
        if (n <= 0 || ::pwrite(out, buffer.data(), static_cast<std::size_t>(n), to + done) != n)
            throw TesseraError(ErrorKind::Io, "Floor: copying " + what + " failed", what);
        done += n;
    }
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

FloorTargets PrepareFloor(const BenchPackage& package, const std::string& gameTemplate, const std::string& floorFolder)
{
    FloorTargets targets;
    std::map<std::string, bool> prepared;
    for (const BenchFile& f : package.files) {
        const std::string relative = f.archive.empty() ? f.stockPath : f.archive + ".img";
        const std::string target = fs::NativePath(floorFolder + relative);
        if (!prepared[target]) {
            std::filesystem::create_directories(std::filesystem::path(target).parent_path());
            if (!f.archive.empty())
                std::filesystem::copy_file(fs::NativePath(gameTemplate + relative), target);
            prepared[target] = true;
            targets.distinct.push_back(target);
        }
        targets.perFile.push_back(target);
    }
    return targets;
}

FloorTimes MeasureFloor(const BenchPackage& package, const FloorTargets& targets, const std::string& scratch)
{
    std::vector<char> buffer(kBuffer);
    const std::string zpkPath = fs::NativePath(package.zpk);

    const auto start = std::chrono::steady_clock::now();
    {
        FilePtr zpk = Open(zpkPath, "rb");
        for (const BenchFile& f : package.files) {
            FilePtr out = Open(scratch + f.name, "wb");
            Copy(zpk.get(), out.get(), f.size, buffer, f.name);
        }
    }
    for (std::size_t i = 0; i < package.files.size(); ++i) {
        const BenchFile& f = package.files[i];
        FilePtr in = Open(scratch + f.name, "rb");
        FilePtr out = Open(targets.perFile[i], f.archive.empty() ? "wb" : "ab");
        Copy(in.get(), out.get(), f.size, buffer, f.name);
    }
    const auto copied = std::chrono::steady_clock::now();
    for (const std::string& target : targets.distinct)
        fs::FlushFile(target);
    const auto flushed = std::chrono::steady_clock::now();
    return {Seconds(copied - start), Seconds(flushed - copied)};
}

FloorTimes MeasurePlainFloor(const BenchPackage& package, const FloorTargets& targets, const std::string& scratchFile)
{
    std::vector<char> buffer(kBuffer);
    const std::string zpkPath = fs::NativePath(package.zpk);

    const auto start = std::chrono::steady_clock::now();
    {
        const Fd zpk(zpkPath, O_RDONLY);
        const Fd copy(scratchFile, O_WRONLY | O_CREAT | O_TRUNC);
        struct stat st {};
        ::fstat(zpk.fd, &st);
        KernelCopy(zpk.fd, 0, copy.fd, 0, st.st_size, buffer, scratchFile);
    }
    {
        const Fd copy(scratchFile, O_RDONLY);
        std::int64_t at = 0;
        for (std::size_t i = 0; i < package.files.size(); ++i) {
            const BenchFile& f = package.files[i];
            const Fd out(targets.perFile[i], f.archive.empty() ? O_WRONLY | O_CREAT | O_TRUNC : O_WRONLY);
            struct stat st {};
            ::fstat(out.fd, &st);
            KernelCopy(copy.fd, at, out.fd, f.archive.empty() ? 0 : st.st_size, f.size, buffer, f.name);
            at += f.size;
        }
    }
    // As a user would end it: one sync, which writes the scratch copy back too.
    const auto copied = std::chrono::steady_clock::now();
    ::sync();
    const auto flushed = std::chrono::steady_clock::now();
    return {Seconds(copied - start), Seconds(flushed - copied)};
}

} // namespace tessera::bench
