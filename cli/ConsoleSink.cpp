// The console's sink, and the signals that stop an install.
#include "ConsoleSink.h"

#include <csignal>

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

} // namespace tessera::cli
