// What the views of the main window and of the modal windows share.
#pragma once
#ifdef _WIN32

#include "FormLogic.h"
#include "Win32Text.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace tessera::win32ui {

// pixels at 96 dpi in the system's dpi.
int Scale(int pixels);

// Exceptions must not cross the system's window procedures: a failure that no routine handled
// is reported and ends the program.
template <class Handler>
void RunHandler(HWND owner, Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        ::MessageBoxA(owner && ::IsWindowVisible(owner) ? owner : nullptr, failure.what(), FailureTitle(failure).c_str(), MB_OK);
        ::ExitProcess(1);
    }
}

// Shows window modal over owner, the focus on focus, and runs messages until closed is set.
// Returns the quit code when the program was asked to end meanwhile, for EndModal to pass on.
std::optional<int> RunModal(HWND window, HWND owner, HWND focus, const bool& closed);

// Destroys a modal window once its view has let go of its form, and passes on a quit request.
void EndModal(HWND window, std::optional<int> quit);

// The program folder's open-file dialog.
std::string OpenFileDialog(HWND owner, const std::string& title, const std::string& filterDescription, const std::string& pattern,
                           const std::string& startFolder, const std::vector<FileFilter>& moreFilters);

} // namespace tessera::win32ui

#endif
