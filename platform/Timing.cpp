// Per-phase time totals.
#include "Timing.h"

#include <array>

namespace tessera::timing {

namespace {
std::array<std::chrono::nanoseconds, static_cast<std::size_t>(Phase::Count)> gTotals{};
}

std::chrono::nanoseconds Total(Phase phase) { return gTotals[static_cast<std::size_t>(phase)]; }
void Reset() { gTotals.fill(std::chrono::nanoseconds::zero()); }
void Add(Phase phase, std::chrono::nanoseconds elapsed) { gTotals[static_cast<std::size_t>(phase)] += elapsed; }

} // namespace tessera::timing
