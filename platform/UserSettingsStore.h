// The per-user settings store of this platform: the registry on Windows, Qt's settings
// elsewhere.
#pragma once

#ifdef _WIN32
#include "RegistrySettingsStore.h"
namespace tessera {
using UserSettingsStore = RegistrySettingsStore;
}
#else
#include "QtSettingsStore.h"
namespace tessera {
using UserSettingsStore = QtSettingsStore;
}
#endif
