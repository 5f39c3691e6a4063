// Time spent per phase of an install, summed over the run, for the benchmark's split.
#pragma once

#include <chrono>

namespace tessera::timing {

enum class Phase { Extract, ReadDirectory, Append, Count };

// Total time of a phase since the last Reset.
std::chrono::nanoseconds Total(Phase phase);
void Reset();
void Add(Phase phase, std::chrono::nanoseconds elapsed);

// Adds the time from its creation to its end to a phase.
class Scoped {
public:
    explicit Scoped(Phase phase) : phase_(phase), start_(std::chrono::steady_clock::now()) {}
    ~Scoped() { Add(phase_, std::chrono::steady_clock::now() - start_); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

private:
    Phase phase_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace tessera::timing
