// The guard for Qt's AT-SPI bridge: pads calls to accessible objects before the bridge reads them.
#include "AtSpiGuard.h"

#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariant>

// Exported by Qt D-Bus (as plain Qt_6 API), though declared only in its private headers: a hook
// that sees every incoming method call in the main thread just before the object it is for.
void qDBusAddSpyHook(void (*hook)(const QDBusMessage&));

namespace tessera {

namespace {

// More than any call of the bridge reads (ScrollSubstringToPoint and SetExtents read five).
constexpr qsizetype kBridgeArguments = 8;

} // namespace

void PadAccessibleCall(const QDBusMessage& call)
{
    if (call.type() != QDBusMessage::MethodCallMessage || !call.path().startsWith(QLatin1String("/org/a11y/atspi/accessible")))
        return;
    QList<QVariant> arguments = call.arguments();
    if (arguments.size() >= kBridgeArguments)
        return;
    while (arguments.size() < kBridgeArguments)
        arguments.append(QString());
    // A copy shares the call's data, and setArguments changes it without detaching: the bridge
    // reads the padded list.
    QDBusMessage shared(call);
    shared.setArguments(arguments);
}

void GuardAtSpiBridge()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    qDBusAddSpyHook(&PadAccessibleCall);
}

} // namespace tessera
