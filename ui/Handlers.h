// Running the windows' event handlers: a failure that no routine handles is reported to the
// user and ends the program.
#pragma once

#include <exception>
#include <utility>

class QWidget;

namespace tessera {

// Shows what failed (its message names the failure and the file) and ends the program: the
// modal dialog it came from closes, and the event loops are asked to end.
void ReportFailure(QWidget* owner, const std::exception& failure);

// Whether a failure was reported. An exit request made before the main event loop runs is
// lost, so the start-up asks this after its dialog instead.
bool FailureReported() noexcept;
void ClearFailureReport() noexcept;   // for tests, which go on after a reported failure

template <class Handler>
void RunHandler(QWidget* owner, Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& failure) {
        // Exceptions must not cross Qt's event loop.
        ReportFailure(owner, failure);
    }
}

} // namespace tessera
