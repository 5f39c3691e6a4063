// The per-user settings store of the desktop program, kept by QSettings.
#include "QtSettingsStore.h"

#include "Error.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace tessera {

namespace {

constexpr const char* kOrganization = "Tessera";

QString FromBytes(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

std::string ToBytes(const QString& s)
{
    const QByteArray b = s.toLocal8Bit();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString KeyPath(const std::string& section, const std::string& key) { return FromBytes(section) + '/' + FromBytes(key); }

} // namespace

std::string QtSettingsStore::GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                                        const std::string& defaultValue)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, FromBytes(appName));
    const QVariant value = settings.value(KeyPath(section, key));
    if (!value.isValid())
        return defaultValue;
    // Texts that the local encoding cannot carry were stored as raw bytes.
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray b = value.toByteArray();
        return std::string(b.constData(), static_cast<std::size_t>(b.size()));
    }
    return ToBytes(value.toString());
}

void QtSettingsStore::SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                                  const std::string& value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, FromBytes(appName));
    const QString text = FromBytes(value);
    if (ToBytes(text) == value)
        settings.setValue(KeyPath(section, key), text);
    else
        settings.setValue(KeyPath(section, key), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw TesseraError(ErrorKind::AccessDenied,
                           "The setting " + section + "\\" + key + " could not be saved to " + ToBytes(settings.fileName()),
                           ToBytes(settings.fileName()));
}

} // namespace tessera
