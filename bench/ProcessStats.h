// Facts about this process and machine that the benchmark reports: peak resident memory (with
// a reset between measurements), writing back dirty pages, and the machine's description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::bench {

// The peak resident set size (VmHWM) since the start or the last ResetPeakResident, in bytes.
std::int64_t PeakResidentBytes();
// Lowers the recorded peak to the current resident size, so the next peak is a new measurement.
void ResetPeakResident();
// Writes every dirty page of the system back to disk, so no measurement pays for an earlier one.
void WriteBackEverything();

// How a program run in a child process ended: its exit status (-1: killed or not started), its
// peak resident memory (ru_maxrss) and what it printed (both streams, the end of them).
struct ChildRun {
    int status = -1;
    std::int64_t peakBytes = 0;
    std::string output;
};

// Runs arguments[0] with the rest as its arguments, with HOME, the XDG folders and TMPDIR under
// home (an empty folder), so it reads and writes no real user's settings.
ChildRun RunChild(const std::vector<std::string>& arguments, const std::string& home);

// The option that makes tessera-bench run PeakOfChild: OPTION FILE PROGRAM ARGUMENTS...
inline constexpr const char* kPeakOfOption = "--peak-of-child";
// Runs arguments (a program and its arguments, ending in a null) in a child and writes its peak
// resident memory in bytes into peakPath; returns its exit status (127: not started).
int PeakOfChild(char** arguments, const std::string& peakPath);

// One line per fact: processors, memory, kernel, processor model.
std::string MachineFacts();

} // namespace tessera::bench
