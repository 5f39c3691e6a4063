// Helpers shared by the tests: temporary folders, byte buffers, directory records.
#pragma once

#include "Archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessera::test {

using Bytes = std::vector<std::byte>;

// A fresh folder under the temporary location, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder text, ending in a separator.
    const std::string& Path() const noexcept { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

Bytes ToBytes(std::string_view text);
Bytes Pattern(std::size_t size, unsigned seed = 1);   // deterministic non-zero-ish content
Bytes Zeros(std::size_t size);
Bytes Concat(std::initializer_list<Bytes> parts);

// A 32-byte record with the name field holding exactly the given bytes (up to 24), then fill.
Bytes Record(std::int32_t offset, std::int32_t size, std::string_view name, char fill = '\0');

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

// A package base (no extension) from (name, bytes) pairs laid out one after the other.
struct PackageEntry {
    std::string name;
    Bytes bytes;
};
void WritePackage(const std::string& base, const std::vector<PackageEntry>& entries);

// Every file below a folder, by its path relative to it (with '/'), with its bytes.
using Snapshot = std::map<std::string, Bytes>;
Snapshot TakeSnapshot(const std::string& folder);
// The paths that differ between two snapshots, for readable failures.
std::string DescribeDifferences(const Snapshot& before, const Snapshot& after);
// Puts a folder's contents back as a snapshot held them. The folder itself stays (a game
// folder's identity keys its journal); it is made when missing.
void PutBack(const std::string& folder, const Snapshot& snapshot);

// A small game folder: gta3.exe, some stock files and the three archives, each holding a few
// entries. Returns the folder text, ending in a separator.
struct GameEntry {
    std::string name;
    Bytes bytes;   // written in whole blocks
};
std::string MakeGameFolder(const std::string& root);
// Writes an archive (base without extension) holding the entries back to back in whole blocks.
void WriteArchive(const std::string& base, const std::vector<GameEntry>& entries);
// The bytes a run of whole blocks holds for data: the data, then zeros to the block's end.
Bytes Blocks(const Bytes& data);

// Points HOME, XDG_CONFIG_HOME and XDG_DATA_HOME at a folder of the test program's own, so no
// test sees the real user's settings (on Windows: USERPROFILE, APPDATA and a private registry
// key standing in for HKEY_CURRENT_USER). Register it before any test runs, as Qt fixes its
// configuration folder at first use:
//   testing::AddGlobalTestEnvironment(new IsolatedHome("tessera-x-home-"));
class IsolatedHome : public ::testing::Environment {
public:
    explicit IsolatedHome(std::string prefix) : prefix_(std::move(prefix)) {}
    void SetUp() override;
    void TearDown() override;

private:
    std::string prefix_;
    std::string home_;
};

// Sets an environment variable of this process, or removes it when value is null.
void SetEnv(const char* name, const char* value);

// Every path under a folder, relative and sorted, folders ending in '/'.
std::vector<std::string> Tree(const std::string& folder);
Bytes Slice(const Bytes& b, std::size_t from, std::size_t n);

// A history record's text with its paths absolute, as the first two formats kept them: the
// folder line goes, and its folder goes before every path. Its checksum line is left as it was.
std::string WithAbsolutePaths(const std::string& record);
// A history record's text as the first format has it: no checksum line, no hash of the stored
// journal, of stored copies or of .old files; the hash line kept only when keepHashName (1.2.0
// wrote none and used SHA-256).
std::string AsFirstFormat(const std::string& record, bool keepHashName);

// A command line run through the shell, with its exit status and what it printed.
struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};
std::string ShellQuote(const std::string& s);
// Runs program with args; env is put before it as NAME=value words (already quoted).
// The tessera-cli that the console tests run: builtIn, unless TESSERA_TEST_CLI names another
// (scripts/windows-test.sh names a wrapper that runs tessera-cli.exe under Wine).
std::string CliUnderTest(const char* builtIn);
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args, const std::string& env = {});

} // namespace tessera::test
