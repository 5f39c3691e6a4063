// The main window's start-up time, watched through Xlib: every window mapped on the root is
// seen as a MapNotify, and the first whose name is the main window's title ends the clock.
#include "WindowTime.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessera::bench {

namespace {

constexpr const char* kMainTitle = "Orlen's Tessera";

bool HasTitle(Display* display, Window window)
{
    char* name = nullptr;
    const bool match = XFetchName(display, window, &name) && name && std::string(name) == kMainTitle;
    if (name)
        XFree(name);
    return match;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }   // a window gone before we asked its name

} // namespace

std::optional<double> TimeMainWindow(const std::string& program, const std::string& home, const std::string& gameFolder)
{
    Display* display = XOpenDisplay(nullptr);
    for (int attempt = 0; !display && attempt < 20 && std::getenv("DISPLAY"); ++attempt) {
        ::usleep(100'000);   // the server may still be taking the last start's connections down
        display = XOpenDisplay(nullptr);
    }
    if (!display) {
        std::fprintf(stderr, "tessera-bench: no X display (run under xvfb-run) for the window's start-up time\n");
        return std::nullopt;
    }
    XSetErrorHandler(IgnoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    std::filesystem::create_directories(home + "/config/Tessera");
    std::filesystem::create_directories(home + "/data");
    std::ofstream(home + "/config/Tessera/Tessera.conf") << "[Settings]\nGTA3Path=" << gameFolder << "\n";

    std::fflush(stdout);   // the child must not print what this process has buffered
    std::fflush(stderr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::optional<double> seconds;
    const auto deadline = start + std::chrono::seconds(20);
    while (!seconds && std::chrono::steady_clock::now() < deadline) {
        if (XPending(display) == 0) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&fd, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && HasTitle(display, event.xmap.window))
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    if (!seconds)
        std::fprintf(stderr, "tessera-bench: %s showed no window \"%s\" within 20 s\n", program.c_str(), kMainTitle);
    return seconds;
}

} // namespace tessera::bench
