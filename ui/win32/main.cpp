// tessera.exe, the native Win32 desktop program: loads the main window, whose load event runs
// the start-up; a package path given as the argument is then taken as if chosen with Browse.
#include "FileSystem.h"
#include "UserSettingsStore.h"
#include "Win32Forms.h"

#include <cstdlib>
#include <exception>
#include <vector>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    using namespace tessera;
    win32ui::Initialise(instance);
    UserSettingsStore store;
    modMain settings(store);
    win32ui::frmMainView view;
    MainForm form(settings, view);
    view.Attach(form);
    try {
        if (!form.Form_Load())
            return 0;
        if (__argc == 2 && __argv[1][0] != '\0') {
            std::vector<char> full(MAX_PATH * 4, '\0');
            const DWORD n = ::GetFullPathNameA(__argv[1], static_cast<DWORD>(full.size()), full.data(), nullptr);
            form.TakeGivenFile(n > 0 && n < full.size() ? std::string(full.data(), n) : std::string(__argv[1]));
        }
    } catch (const std::exception& failure) {
        ::MessageBoxA(nullptr, failure.what(), FailureTitle(failure).c_str(), MB_OK);
        return 1;
    }
    return win32ui::RunMessageLoop();
}
