// What the windows' logic asks of an open-file dialog, whatever toolkit shows it.
#pragma once

#include <string>
#include <vector>

namespace tessera {

// One more entry of an open-file dialog's filter list: what it shows, and the names it lists
// (wildcard patterns separated by spaces).
struct FileFilter {
    std::string description;
    std::string pattern;
};

} // namespace tessera
