// Helpers shared by the tests.
#include "TestSupport.h"

#include "FileSystem.h"
#ifdef _WIN32
#include "Win32Text.h"
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace tessera::test {

TempDir::TempDir() : path_(fs::MakeScratchFolder("tessera-test-")) {}

TempDir::~TempDir()
{
    try {
        fs::RemoveTree(path_);
    } catch (...) {
    }
}

Bytes ToBytes(std::string_view text)
{
    Bytes b(text.size());
    if (!text.empty())   // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(b.data(), text.data(), text.size());
    return b;
}

Bytes Pattern(std::size_t size, unsigned seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::byte>((x >> 24) | 1u);
    }
    return b;
}

Bytes Zeros(std::size_t size) { return Bytes(size); }

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes r;
    for (const auto& p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

Bytes Record(std::int32_t offset, std::int32_t size, std::string_view name, char fill)
{
    DirRecord r;
    r.lOffset = offset;
    r.lSize = size;
    r.sName.fill(fill);
    std::memcpy(r.sName.data(), name.data(), std::min(name.size(), kNameSize));
    const RecordBytes e = EncodeRecord(r);
    return Bytes(e.begin(), e.end());
}

void WriteFile(const std::string& path, const Bytes& bytes) { fs::WriteWholeFile(path, bytes); }
Bytes ReadFile(const std::string& path) { return fs::ReadWholeFile(path); }

std::string ReadText(const std::string& path)
{
    const Bytes b = ReadFile(path);
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void WritePackage(const std::string& base, const std::vector<PackageEntry>& entries)
{
    Bytes dir;
    Bytes zpk;
    for (const auto& e : entries) {
        const Bytes rec = Record(static_cast<std::int32_t>(zpk.size()), static_cast<std::int32_t>(e.bytes.size()), e.name);
        dir.insert(dir.end(), rec.begin(), rec.end());
        zpk.insert(zpk.end(), e.bytes.begin(), e.bytes.end());
    }
    WriteFile(base + ".dir", dir);
    WriteFile(base + ".zpk", zpk);
}

namespace {

// A path as the services' byte texts: Windows names in the ANSI code page, not the UTF-8 that
// std::filesystem gives there.
std::string PathText(const std::filesystem::path& path, bool generic)
{
#ifdef _WIN32
    std::string text = win32::Narrow(path.wstring());
    if (generic)
        std::replace(text.begin(), text.end(), '\\', '/');
    return text;
#else
    return generic ? path.generic_string() : path.string();
#endif
}

} // namespace

Snapshot TakeSnapshot(const std::string& folder)
{
    Snapshot snapshot;
    const std::filesystem::path root(fs::NativePath(folder));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string relative = PathText(std::filesystem::relative(entry.path(), root), true);
        if (entry.is_regular_file())
            snapshot[relative] = ReadFile(PathText(entry.path(), false));
        else if (entry.is_directory())
            snapshot[relative + "/"] = {};
    }
    return snapshot;
}

void PutBack(const std::string& folder, const Snapshot& snapshot)
{
    if (fs::FolderExists(folder))
        for (const std::string& path : Tree(folder))
            if (std::count(path.begin(), path.end(), '/') <= (path.back() == '/' ? 1 : 0))
                fs::RemoveTree(folder + path);
    fs::CreateFolders(folder);
    for (const auto& [path, bytes] : snapshot) {
        if (path.back() == '/')
            fs::CreateFolders(folder + path);
        else
            WriteFile(folder + path, bytes);
    }
}

std::string DescribeDifferences(const Snapshot& before, const Snapshot& after)
{
    std::ostringstream out;
    for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        if (it == after.end())
            out << "missing: " << path << "\n";
        else if (it->second != bytes)
            out << "changed: " << path << " (" << bytes.size() << " -> " << it->second.size() << " bytes)\n";
    }
    for (const auto& [path, bytes] : after)
        if (!before.count(path))
            out << "added: " << path << "\n";
    return out.str();
}

Bytes Blocks(const Bytes& data)
{
    Bytes r = data;
    r.resize((data.size() + kBlockSize - 1) / kBlockSize * kBlockSize);
    return r;
}

void WriteArchive(const std::string& base, const std::vector<GameEntry>& entries)
{
    Bytes dir;
    Bytes img;
    for (const auto& e : entries) {
        const Bytes data = Blocks(e.bytes);
        const Bytes rec = Record(static_cast<std::int32_t>(img.size() / kBlockSize),
                                 static_cast<std::int32_t>(data.size() / kBlockSize), e.name);
        dir.insert(dir.end(), rec.begin(), rec.end());
        img.insert(img.end(), data.begin(), data.end());
    }
    WriteFile(base + ".dir", dir);
    WriteFile(base + ".img", img);
}

std::string MakeGameFolder(const std::string& root)
{
    const std::string game = fs::WithTrailingSeparator(root) + "game/";
    for (const char* folder : {"", "anim", "data", "models", "text"})
        fs::CreateFolder(game + folder);
    WriteFile(game + "gta3.exe", ToBytes("game executable"));
    WriteFile(game + "data/default.dat", ToBytes("stock default.dat"));
    WriteFile(game + "models/hud.txd", ToBytes("stock hud.txd"));
    WriteFile(game + "anim/ped.ifp", ToBytes("stock ped.ifp"));
    WriteFile(game + "text/american.gxt", ToBytes("stock american.gxt"));
    WriteArchive(game + "models/gta3", {{"car.dff", Pattern(3000, 11)}, {"bike.dff", Pattern(100, 12)}});
    WriteArchive(game + "models/txd", {{"car.txd", Pattern(5000, 13)}});
    WriteArchive(game + "anim/cuts", {{"intro.dat", Pattern(10, 14)}});
    return game;
}

#ifdef _WIN32

namespace {
std::wstring IsolatedKeyPath(const std::string& home)
{
    return L"Software\\TesseraTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(home.size());
}
} // namespace

void IsolatedHome::SetUp()
{
    home_ = fs::MakeScratchFolder(prefix_);
    fs::CreateFolder(home_ + "AppData");
    ::_putenv_s("USERPROFILE", home_.c_str());
    ::_putenv_s("APPDATA", (home_ + "AppData").c_str());
    // The registry's current-user branch of this process becomes a private key, so the
    // settings store writes nowhere else.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, IsolatedKeyPath(home_).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void IsolatedHome::TearDown()
{
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, IsolatedKeyPath(home_).c_str());
    fs::RemoveTree(home_);
}

#else

void IsolatedHome::SetUp()
{
    home_ = fs::MakeScratchFolder(prefix_);
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home_ + "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home_ + "data").c_str(), 1);
}

void IsolatedHome::TearDown() { fs::RemoveTree(home_); }

#endif

std::vector<std::string> Tree(const std::string& folder)
{
    std::vector<std::string> r;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        r.push_back(PathText(std::filesystem::relative(e.path(), folder), true) + (e.is_directory() ? "/" : ""));
    std::sort(r.begin(), r.end());
    return r;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

std::string WithAbsolutePaths(const std::string& record)
{
    std::istringstream in(record);
    std::string line, folder, text;
    while (std::getline(in, line)) {
        if (line.starts_with("folder ")) {
            folder = line.substr(7);
            continue;
        }
        if (line == "tessera-history 3")
            line = "tessera-history 2";
        for (const std::string word : {"stock ", "added ", "renamed ", "archive "})
            if (line.starts_with(word))
                line.insert(word.size(), folder);   // both in hex: the folder's bytes go first
        text += line + "\n";
    }
    return text;
}

std::string AsFirstFormat(const std::string& record, bool keepHashName)
{
    std::istringstream in(WithAbsolutePaths(record));
    std::string line, text;
    while (std::getline(in, line)) {
        if ((line.starts_with("hash ") && !keepHashName) || line.starts_with("journal ") || line.starts_with("check "))
            continue;
        if (line == "tessera-history 2")
            line = "tessera-history 1";
        if (line.starts_with("stock "))
            line = line.substr(0, line.rfind(' ', line.rfind(' ') - 1));   // without the two hashes
        text += line + "\n";
    }
    return text;
}

std::string ShellQuote(const std::string& s)
{
    std::string r = "'";
    for (char c : s)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

void SetEnv(const char* name, const char* value)
{
#ifdef _WIN32
    ::_putenv_s(name, value ? value : "");
#else
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

std::string CliUnderTest(const char* builtIn)
{
    const char* given = std::getenv("TESSERA_TEST_CLI");
    return given && *given ? given : builtIn;
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args, const std::string& env)
{
    TempDir capture;
    std::string command = env + (env.empty() ? "" : " ") + ShellQuote(program);
    for (const auto& a : args)
        command += " " + ShellQuote(a);
    command += " >" + ShellQuote(capture / "out") + " 2>" + ShellQuote(capture / "err") + " </dev/null; echo $? >"
        + ShellQuote(capture / "status");
    CommandResult r;
    if (std::system(command.c_str()) == -1)
        return r;
    r.status = std::stoi(ReadText(capture / "status"));
    r.out = ReadText(capture / "out");
    r.err = ReadText(capture / "err");
    return r;
}

} // namespace tessera::test
