// tessera-cli install, check and recover.
#include "Commands.h"

#include <iostream>

namespace tessera::cli {

int CmdInstall(const Args&) { std::cerr << "install: not built yet\n"; return kFailed; }
int CmdCheck(const Args&) { std::cerr << "check: not built yet\n"; return kFailed; }
int CmdRecover(const Args&) { std::cerr << "recover: not built yet\n"; return kFailed; }

} // namespace tessera::cli
