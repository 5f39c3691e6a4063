// tessera, the desktop program: loads the main window, whose load event runs the start-up; a
// package path given as the argument is then taken as if chosen with Browse.
#include "AtSpiGuard.h"
#include "frmMain.h"
#include "Handlers.h"
#include "QtSettingsStore.h"
#include "Services.h"

#include <QApplication>
#include <QIcon>

#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage = "Usage: tessera [PACKAGE.zpk]\n"
                               "Installs mod packages into a GTA3 game folder. A package given here is chosen\n"
                               "as with Browse, once the game folder is known.\n"
                               "  -h, --help     show this help\n"
                               "  --version      show the version\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "tessera " << tessera::kVersionMajor << "." << tessera::kVersionMinor << "."
                  << tessera::kVersionRevision << "\n";
        return 0;
    }
    // Qt takes its own options (such as -platform) out of argv here.
    QApplication application(argc, argv);
    // Before the first window: from then on screen readers may read the windows.
    tessera::GuardAtSpiBridge();
    std::vector<std::string> arguments;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
            std::cerr << "tessera: unknown option " << argument << "\n" << kUsage;
            return 2;
        } else {
            arguments.push_back(argument);
        }
    }
    if (arguments.size() > 1) {
        std::cerr << "tessera: one package at a time\n" << kUsage;
        return 2;
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Tessera"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessera"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessera"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));

    tessera::QtSettingsStore store;
    tessera::frmMain window(store);
    try {
        tessera::StartProgram(window, arguments);
    } catch (const std::exception& failure) {
        tessera::ReportFailure(nullptr, failure);
        return 1;
    }
    // A failure at start-up was reported, or no game folder was given: the window was closed
    // without ever showing.
    if (tessera::FailureReported())
        return 1;
    if (!window.isVisible())
        return 0;
    return QApplication::exec();
}
