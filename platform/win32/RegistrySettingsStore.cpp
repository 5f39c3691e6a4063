// The per-user settings store on Windows, kept in the registry.
#include "RegistrySettingsStore.h"

#include "Error.h"

#ifdef _WIN32

#include "Win32Text.h"

namespace tessera {

namespace {

constexpr const char* kOrganization = "Tessera";

std::string Where(const std::string& keyPath, const std::string& key) { return "HKEY_CURRENT_USER\\" + keyPath + " (" + key + ")"; }

} // namespace

std::string RegistrySettingsStore::KeyPath(const std::string& appName, const std::string& section)
{
    return std::string("Software\\") + kOrganization + "\\" + appName + "\\" + section;
}

std::string RegistrySettingsStore::GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                                              const std::string& defaultValue)
{
    const std::string keyPath = KeyPath(appName, section);
    HKEY handle = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, win32::Wide(keyPath).c_str(), 0, KEY_QUERY_VALUE, &handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return defaultValue;
    if (status != ERROR_SUCCESS)
        throw TesseraError(ErrorKind::AccessDenied, "Cannot read the setting " + Where(keyPath, key) + ": " + win32::ErrorText(static_cast<DWORD>(status)));
    const std::wstring name = win32::Wide(key);
    std::wstring value;
    DWORD type = 0;
    for (;;) {
        DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(handle, name.c_str(), nullptr, &type, value.empty() ? nullptr : reinterpret_cast<BYTE*>(value.data()), &bytes);
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && value.empty() && bytes > 0)) {
            value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
            continue;
        }
        if (status == ERROR_SUCCESS)
            value.resize(bytes / sizeof(wchar_t));
        break;
    }
    ::RegCloseKey(handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return defaultValue;
    if (status != ERROR_SUCCESS)
        throw TesseraError(ErrorKind::Io, "Cannot read the setting " + Where(keyPath, key) + ": " + win32::ErrorText(static_cast<DWORD>(status)));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw TesseraError(ErrorKind::Io, "Cannot read the setting " + Where(keyPath, key) + ": it is not a text");
    // The stored text may or may not carry its terminating NUL.
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return win32::Narrow(value);
}

void RegistrySettingsStore::SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                                        const std::string& value)
{
    const std::string keyPath = KeyPath(appName, section);
    HKEY handle = nullptr;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, win32::Wide(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        const std::wstring text = win32::Wide(value);
        status = ::RegSetValueExW(handle, win32::Wide(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        if (status == ERROR_SUCCESS)
            status = ::RegFlushKey(handle);
        ::RegCloseKey(handle);
    }
    if (status != ERROR_SUCCESS)
        throw TesseraError(ErrorKind::AccessDenied,
                           "The setting " + section + "\\" + key + " could not be saved to " + Where(keyPath, key) + ": "
                               + win32::ErrorText(static_cast<DWORD>(status)));
}

} // namespace tessera

#endif
