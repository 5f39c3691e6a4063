// The per-user settings store of the desktop program, kept by QSettings.
#include "QtSettingsStore.h"

#include "Error.h"
#include "FileSystem.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
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

// QSettings reads its files as it is made, and would wait for ever on a pipe or read a device:
// only regular files (or links to them) may stand where it looks; anything else is an error
// naming it. It looks for the program's file and the organization's, per user then system-wide.
void CheckSettingsFiles(const std::string& appName)
{
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        for (const QString& file : {folder + '/' + kOrganization + '/' + FromBytes(appName) + ".conf", folder + '/' + kOrganization + ".conf"}) {
            const std::string path = ToBytes(file);
            if (fs::PathExists(path) && !fs::FileExists(path))
                throw TesseraError(ErrorKind::AccessDenied, "The settings file " + path + " is not a regular file", path);
        }
    }
}

// The text of a value as the file holds it. QSettings splits an unquoted value at its commas
// (one written by hand: C:\Games\GTA3, Steam\) and drops the spaces around them, so such a value
// is read here instead: quotes around it dropped, and the escapes Qt writes undone.
std::string RawValue(const QString& file, const std::string& section, const std::string& key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw TesseraError(ErrorKind::AccessDenied, "The settings file " + ToBytes(file) + " cannot be read", ToBytes(file));
    bool inSection = false;
    std::string value;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        const auto equals = line.indexOf('=');
        if (line.startsWith('['))
            inSection = line == QByteArray::fromStdString("[" + section + "]");
        else if (inSection && equals > 0 && line.left(equals).trimmed() == QByteArray::fromStdString(key))
            value = line.mid(equals + 1).trimmed().toStdString();
    }
    std::string text;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == '\\' && i + 1 < value.size())
            text += value[++i] == '0' ? '\0' : value[i];
        else
            text += c;
    }
    return text;
}

} // namespace

std::string QtSettingsStore::GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                                        const std::string& defaultValue)
{
    CheckSettingsFiles(appName);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, FromBytes(appName));
    const QVariant value = settings.value(KeyPath(section, key));
    // A file that cannot be read is not a missing setting.
    if (settings.status() != QSettings::NoError)
        throw TesseraError(ErrorKind::AccessDenied, "The settings file " + ToBytes(settings.fileName()) + " cannot be read",
                           ToBytes(settings.fileName()));
    if (!value.isValid())
        return defaultValue;
    // Texts that the local encoding cannot carry were stored as raw bytes.
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray b = value.toByteArray();
        return std::string(b.constData(), static_cast<std::size_t>(b.size()));
    }
    if (value.typeId() == QMetaType::QStringList)
        return RawValue(settings.fileName(), section, key);
    return ToBytes(value.toString());
}

void QtSettingsStore::SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                                  const std::string& value)
{
    CheckSettingsFiles(appName);
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
