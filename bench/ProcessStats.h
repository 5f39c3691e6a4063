// Facts about this process and machine that the benchmark reports: peak resident memory (with
// a reset between measurements), writing back dirty pages, and the machine's description.
#pragma once

#include <cstdint>
#include <string>

namespace tessera::bench {

// The peak resident set size (VmHWM) since the start or the last ResetPeakResident, in bytes.
std::int64_t PeakResidentBytes();
// Lowers the recorded peak to the current resident size, so the next peak is a new measurement.
void ResetPeakResident();
// Writes every dirty page of the system back to disk, so no measurement pays for an earlier one.
void WriteBackEverything();

// One line per fact: processors, memory, kernel, processor model.
std::string MachineFacts();

} // namespace tessera::bench
