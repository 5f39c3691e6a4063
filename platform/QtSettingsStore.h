// The per-user settings store of the desktop program, kept by Qt: on Linux the file
// $XDG_CONFIG_HOME/Tessera/<application>.conf, on Windows the current user's registry branch.
#pragma once

#include "Services.h"

#include <string>

namespace tessera {

// Values are addressed as organization "Tessera", application appName, group section, key.
// Texts pass through the local 8-bit encoding, so byte paths round-trip.
class QtSettingsStore : public ISettingsStore {
public:
    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    // Written through to storage at once; a store that cannot be written fails with AccessDenied.
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;
};

} // namespace tessera
