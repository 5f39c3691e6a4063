// Runs tessera-cli.exe through wine (and tessera-cli natively) in child processes and times them.
#include "WineTime.h"

#include "ProcessStats.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessera::bench {

namespace {

// The TMPDIR this program was started with, under which the Wine server kept running has its
// socket (Wine looks for it there). The pass in memory sets another: a Wine program started with
// that finds no server, starts one of its own and counts Wine's start-up after all.
const std::optional<std::string> kServerTmpdir = [] {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir ? std::optional<std::string>(tmpdir) : std::nullopt;
}();

// A Unix path as Wine's drive Z: shows it.
std::string OnDriveZ(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

// Runs arguments (a program found on PATH and its arguments) with its output thrown away;
// its exit status (-1: killed or not started) and wall time.
std::pair<int, double> RunTimed(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        return {-1, 0};
    if (child == 0) {
        // No window of Wine's own on the benchmark's display.
        ::unsetenv("DISPLAY");
        if (kServerTmpdir)
            ::setenv("TMPDIR", kServerTmpdir->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execvp(argv.front(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return {-1, 0};
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds};
}

// Where the Windows program keeps its journals and histories: %APPDATA%\Tessera in the prefix.
std::string WineDataFolder()
{
    const char* prefix = std::getenv("WINEPREFIX");
    const passwd* user = ::getpwuid(::getuid());
    if (!prefix || !user)
        return {};
    return std::string(prefix) + "/drive_c/users/" + user->pw_name + "/AppData/Roaming/Tessera";
}

} // namespace

WineTimes TimeUnderWine(const std::string& exe, const std::string& cli, const std::string& zpk, const std::string& game,
                        const std::string& home, int repetitions, const std::function<void()>& fresh,
                        const std::function<void()>& check)
{
    WineTimes times;
    const std::string data = WineDataFolder();
    if (data.empty()) {
        times.failure = "no WINEPREFIX (run through scripts/bench.sh)";
        return times;
    }
    // The first start reads the program and Wine's libraries from the disk; the timed ones find them cached.
    for (int i = 0; i < 4; ++i) {
        const auto [status, seconds] = RunTimed({"wine", exe, "--version"});
        if (status != 0) {
            times.failure = "wine " + exe + " --version failed (status " + std::to_string(status) + ")";
            return times;
        }
        if (i > 0 && (times.start == 0 || seconds < times.start))
            times.start = seconds;
    }
    for (int i = 0; i < repetitions; ++i) {
        for (const bool underWine : {i % 2 == 0, i % 2 != 0}) {
            fresh();
            std::filesystem::remove_all(data);
            std::filesystem::remove_all(home);
            std::filesystem::create_directories(home);
            WriteBackEverything();
            double seconds = 0;
            if (underWine) {
                const auto [status, wall] = RunTimed({"wine", exe, "install", OnDriveZ(zpk), "--game", OnDriveZ(game)});
                if (status != 0) {
                    times.failure = "wine " + exe + " install failed (status " + std::to_string(status) + ")";
                    return times;
                }
                seconds = wall;
            } else {
                const auto start = std::chrono::steady_clock::now();
                const ChildRun run = RunChild({cli, "install", zpk, "--game", game}, home);
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (run.status != 0) {
                    times.failure = cli + " install failed (status " + std::to_string(run.status) + "): " + run.output;
                    return times;
                }
            }
            check();
            (underWine ? times.wine : times.native).push_back(seconds);
        }
    }
    std::filesystem::remove_all(data);
    return times;
}

} // namespace tessera::bench
