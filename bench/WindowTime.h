// How long the desktop program takes to show its main window: started with a game folder stored
// in fresh settings, timed until the X server maps a window of the main window's title.
#pragma once

#include <optional>
#include <string>

namespace tessera::bench {

// Seconds from starting program until its main window is mapped on the X display of $DISPLAY,
// with HOME and the settings under home (an empty folder) and gameFolder stored. Nothing when
// there is no display or the window did not come up within 20 s (why goes to standard error).
std::optional<double> TimeMainWindow(const std::string& program, const std::string& home, const std::string& gameFolder);

} // namespace tessera::bench
