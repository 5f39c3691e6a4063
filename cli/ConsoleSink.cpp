// The console's sink, the signals that stop an install, and a failed command's report.
#include "ConsoleSink.h"

#include "Commands.h"

#include <csignal>
#include <exception>
#include <iostream>

namespace tessera::cli {

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void OnStopSignal(int signal)
{
    caught = signal;
}

} // namespace

bool ConsoleSink::StopRequested() { return caught != 0; }

void CatchStopSignals()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

int StopStatus() { return caught == 0 ? 0 : 128 + caught; }

int Guarded(const std::function<int()>& body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

} // namespace tessera::cli
