// Linux implementation of the process facts: /proc/self/status, /proc/self/clear_refs, sync.
#include "ProcessStats.h"

#include "Error.h"

#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace tessera::bench {

namespace {

// The value of the first line of a /proc file that starts with key, without the key.
std::string ProcField(const char* file, const std::string& key)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key))
            return line.substr(key.size());
    return {};
}

std::string Trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t:");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::int64_t PeakResidentBytes()
{
    const std::string value = ProcField("/proc/self/status", "VmHWM:");
    if (value.empty())
        throw TesseraError(ErrorKind::Io, "Cannot read VmHWM from /proc/self/status", "/proc/self/status");
    return std::stoll(value) * 1024;   // the field counts kB
}

void ResetPeakResident()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.close();
    if (!out)
        throw TesseraError(ErrorKind::Io, "Cannot reset the peak memory through /proc/self/clear_refs", "/proc/self/clear_refs");
}

void WriteBackEverything() { ::sync(); }

std::string MachineFacts()
{
    std::ostringstream facts;
    std::string release;
    std::getline(std::ifstream("/proc/sys/kernel/osrelease") >> std::ws, release);
    facts << "processors: " << std::thread::hardware_concurrency() << " (" << Trimmed(ProcField("/proc/cpuinfo", "model name")) << ")\n"
          << "memory: " << Trimmed(ProcField("/proc/meminfo", "MemTotal:")) << "\n"
          << "kernel: " << release << "\n";
    return facts.str();
}

} // namespace tessera::bench
