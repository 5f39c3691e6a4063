// A guard for Qt's AT-SPI bridge, the D-Bus service through which screen readers and other
// assistive tools read the windows' accessibility tree on Linux.
#pragma once

class QDBusMessage;

namespace tessera {

// Qt 6.4 (as Debian 12 ships it, 6.4.2) reads the second argument of every
// org.freedesktop.DBus.Properties call to an accessible object without checking that the call
// has one. GetAll has only one, and gdbus introspect, D-Feet and zbus-based tools send it: the
// program then crashes in QVariant::toString. Installed once, before the first window, the guard
// pads every call to an accessible object with empty arguments before the bridge reads it; the
// bridge ignores what it does not read and takes an empty text where it reads one, so GetAll gets
// an "unknown method" error instead of a crash. Harmless where Qt has mended it.
void GuardAtSpiBridge();

// The padding itself, done on the call that is about to be delivered.
void PadAccessibleCall(const QDBusMessage& call);

} // namespace tessera
