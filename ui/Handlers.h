// Running the windows' event handlers: a failure that no routine handles is reported to the
// user and ends the program.
#pragma once

#include <exception>
#include <utility>

class QWidget;

namespace tessera {

// Shows what failed (its message names the failure and the file) and ends the program.
void ReportFailure(QWidget* owner, const std::exception& failure);

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
