// The Windows console program under Wine against the Linux one on the same machine: the same
// package, each install into a fresh copy of the game folder, timed from start to exit.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tessera::bench {

struct WineTimes {
    std::string failure;                // why nothing was measured, or empty
    std::vector<double> wine, native;   // each install's wall time, in seconds
    double start = 0;                   // the fastest bare start of the program under Wine (--version)
};

// Installs zpk into game (a native folder ending in '/') with exe under Wine and with cli,
// repetitions times each, taking turns going first. fresh() puts the game folder back before
// each install, check() checks what it did; home is an empty folder for cli's settings. Wine's
// prefix and server are the caller's (WINEPREFIX, a server kept running), so its start-up is
// not counted; what a Windows install leaves in the prefix's data folder is removed before each.
WineTimes TimeUnderWine(const std::string& exe, const std::string& cli, const std::string& zpk, const std::string& game,
                        const std::string& home, int repetitions, const std::function<void()>& fresh,
                        const std::function<void()>& check);

} // namespace tessera::bench
