// The game's three archives, in one table: where each lives in the game folder, which file
// extensions an install routes to it, and whether the game streams it (reads its records in chains).
#pragma once

#include <array>
#include <string_view>

namespace tessera {

struct GameArchive {
    std::string_view relative;                    // base path in the game folder, "models\gta3"
    std::array<std::string_view, 3> extensions;   // lower-cased, with the dot; empty ones unused
    bool streamed;                                // models: chained reads, only .dff and .txd records
};

inline constexpr std::array<GameArchive, 3> kGameArchives{{
    {"models\\gta3", {".dff"}, true},
    {"models\\txd", {".txd"}, true},
    {"anim\\cuts", {".anm", ".dat", ".ifp"}, false},
}};

// The archive an install routes a file of this name to, by its last four characters in any
// letter case; nullptr for a type that goes to none.
const GameArchive* GameArchiveForFile(std::string_view fileName);

// The archive of this base path relative to the game folder ("models\gta3" or "models/gta3",
// letter case ignored); nullptr for none.
const GameArchive* GameArchiveNamed(std::string_view relative);

} // namespace tessera
