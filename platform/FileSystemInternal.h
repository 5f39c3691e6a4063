// Shared between the file-system implementations of each platform.
#pragma once

#include <string>

namespace tessera::fs::detail {

// Called before every write, rename, copy, truncation and flush: counts it and, in the test
// mode, fails the armed one.
void CountOperation(const char* what, const std::string& path);

} // namespace tessera::fs::detail
