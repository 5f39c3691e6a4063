// What the console shows of an install, a download's install or a recovery: the events as the
// main window shows them (captions on standard output, messages on standard error), and Ctrl+C
// or SIGTERM stopping an install where it can still be undone; and a failed command reported.
#pragma once

#include "ConsoleServices.h"
#include "InstallEvents.h"

#include <functional>

namespace tessera::cli {

class ConsoleSink : public IInstallSink {
public:
    ConsoleSink() = default;
    void Report(const InstallEvent& event) override { presenter_.Report(event); }
    bool StopRequested() override;

private:
    ConsoleWindowServices console_;
    WindowPresenter presenter_{console_};
};

// From here on, Ctrl+C (SIGINT) and SIGTERM stop the install at its next safe point instead of
// ending the program; a stopped install rolls back.
void CatchStopSignals();
// The exit status for an install stopped by a signal: 128 + its number (130, 143); 0 when no
// signal came.
int StopStatus();

// Runs a command's body and returns its status; a failure the body does not handle itself
// becomes its message on standard error and status 1.
int Guarded(const std::function<int()>& body);

} // namespace tessera::cli
