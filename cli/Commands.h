// The commands of tessera-cli. Each takes the options of its command line, parsed, and returns
// the exit status: 0 success, 1 failure (message on standard error), 2 usage error (the caller
// prints the command's usage).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

// What the command line gave; a command is only handed the options it takes.
struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> game;
    std::optional<std::string> from;
    bool dryRun = false;
    bool json = false;
    bool withLater = false;
};

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

int CmdList(const Options& o);
int CmdExtract(const Options& o);
int CmdPack(const Options& o);
int CmdInstall(const Options& o);
int CmdCheck(const Options& o);
int CmdRecover(const Options& o);
int CmdHistory(const Options& o);
int CmdUninstall(const Options& o);
int CmdRestore(const Options& o);
int CmdCompact(const Options& o);

} // namespace tessera::cli
