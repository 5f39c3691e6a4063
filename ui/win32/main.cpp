// tessera.exe, the native Win32 desktop program: loads the main window, whose load event runs
// the start-up.
#include "FileSystem.h"
#include "UserSettingsStore.h"
#include "Win32Forms.h"

#include <exception>

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
    } catch (const std::exception& failure) {
        ::MessageBoxA(nullptr, failure.what(), FailureTitle(failure).c_str(), MB_OK);
        return 1;
    }
    return win32ui::RunMessageLoop();
}
