// The commands of tessera-cli. Each takes its arguments (after the command word) and returns
// the exit status: 0 success, 1 failure (message on standard error), 2 usage error.
#pragma once

#include <string>
#include <vector>

namespace tessera::cli {

using Args = std::vector<std::string>;

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// A text as a JSON string: quotes and backslashes escaped, other bytes outside printable ASCII as \u00XX.
std::string Json(const std::string& s);

int CmdList(const Args& args);
int CmdExtract(const Args& args);
int CmdPack(const Args& args);
int CmdInstall(const Args& args);
int CmdCheck(const Args& args);
int CmdRecover(const Args& args);
int CmdHistory(const Args& args);
int CmdUninstall(const Args& args);
int CmdRestore(const Args& args);
int CmdCompact(const Args& args);

} // namespace tessera::cli
