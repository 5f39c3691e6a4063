// tessera, the desktop program: loads the main window, whose load event runs the start-up.
#include "frmMain.h"
#include "Handlers.h"
#include "QtSettingsStore.h"

#include <QApplication>
#include <QIcon>

#include <exception>

int main(int argc, char** argv)
{
    // Qt reads its own options (such as -platform) here; the program itself takes none.
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessera"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessera"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessera"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessera.png")));

    tessera::QtSettingsStore store;
    tessera::frmMain window(store);
    try {
        window.Form_Load();
    } catch (const std::exception& failure) {
        tessera::ReportFailure(nullptr, failure);
        return 1;
    }
    // No game folder given: the window was closed without ever showing.
    if (!window.isVisible())
        return 0;
    return QApplication::exec();
}
