// Linux implementation of the process facts: /proc/self/status, /proc/self/clear_refs, sync.
#include "ProcessStats.h"

#include "Error.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
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

ChildRun RunChild(const std::vector<std::string>& arguments, const std::string& home)
{
    for (const char* sub : {"/config", "/data", "/tmp"})
        std::filesystem::create_directories(home + sub);
    const std::string outputPath = home + "/output.txt";
    const std::string peakPath = home + "/peak.txt";
    // A child forked from this process starts with its pages, and the kernel keeps that peak
    // through exec: this program, started afresh, forks the program to measure from its own
    // small memory instead (PeakOfChild).
    std::vector<std::string> chain{"/proc/self/exe", std::string(kPeakOfOption), peakPath};
    chain.insert(chain.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (const std::string& a : chain)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::fflush(stdout);   // the child must not print what this process has buffered
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0)
        throw TesseraError(ErrorKind::Io, "Cannot start " + arguments.front());
    if (child == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("TMPDIR", (home + "/tmp").c_str(), 1);
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execv(argv.front(), argv.data());
        ::_exit(127);
    }
    ChildRun run;
    int status = 0;
    if (::waitpid(child, &status, 0) == child)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream(peakPath) >> run.peakBytes;
    std::ifstream in(outputPath);
    std::ostringstream text;
    text << in.rdbuf();
    run.output = text.str();
    if (run.output.size() > 2000)
        run.output = run.output.substr(run.output.size() - 2000);
    return run;
}

int PeakOfChild(char** arguments, const std::string& peakPath)
{
    const pid_t child = ::fork();
    if (child < 0)
        return 127;
    if (child == 0) {
        ::execv(arguments[0], arguments);
        ::_exit(127);
    }
    int status = 0;
    rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child)
        return 127;
    std::ofstream(peakPath) << static_cast<std::int64_t>(usage.ru_maxrss) * 1024 << "\n";   // counted in kB
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

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
