// A test with a small game folder of its own: the folder made (MakeGameFolder), the settings
// pointing at it and loaded, a recording window, and install options whose journal goes into
// the test's folder, never the user's.
#pragma once

#include "InstallPackage.h"
#include "RecordingServices.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace tessera::test {

class GameFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = MakeGameFolder(root.Path());
        options.journalFolder = root / "journal/";
        store.SaveSetting("Tessera", "Settings", "GTA3Path", game);
        settings.LoadSettings();
    }

    TempDir root;
    std::string game;
    MemorySettingsStore store;
    modMain settings{store};
    RecordingWindowServices window;
    InstallOptions options;
};

} // namespace tessera::test
