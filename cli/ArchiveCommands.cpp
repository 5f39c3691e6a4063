// tessera-cli list, extract and pack.
#include "Commands.h"

#include <iostream>

namespace tessera::cli {

int CmdList(const Args&) { std::cerr << "list: not built yet\n"; return kFailed; }
int CmdExtract(const Args&) { std::cerr << "extract: not built yet\n"; return kFailed; }
int CmdPack(const Args&) { std::cerr << "pack: not built yet\n"; return kFailed; }

} // namespace tessera::cli
