// The per-user settings store on Windows: the current user's registry branch, at the key that
// Qt's settings use for organization "Tessera", so a Qt build on Windows finds the same values:
// HKEY_CURRENT_USER\Software\Tessera\<application>\<section>, value <key>, a REG_SZ text.
#pragma once

#include "Services.h"

#include <string>

namespace tessera {

class RegistrySettingsStore : public ISettingsStore {
public:
    // A missing key or value gives the default; any other failure to read (a value of another
    // type, a key this user may not read) fails with a message naming the key.
    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    // Creates the key when missing; a store that cannot be written fails with AccessDenied.
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

    // The key under HKEY_CURRENT_USER that holds a section's values.
    static std::string KeyPath(const std::string& appName, const std::string& section);
};

} // namespace tessera
