// The install procedure: route every file of a package to its place in the game folder, all or
// nothing.
#pragma once

#include "InstallEvents.h"
#include "Recovery.h"
#include "Services.h"
#include "modMain.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessera {

// Installs the package whose data file is packagePath (ending in ".zpk") into the game folder
// and catalogue that settings hold when it starts, telling sink how it goes; the last event is
// Finished, with the outcome it returns. Never throws for a failed or stopped install.
InstallOutcome InstallPackage(const std::string& packagePath, modMain& settings, IInstallSink& sink, const InstallOptions& options = {});
// The same, shown on window as the main window shows it (WindowPresenter).
InstallResult InstallPackage(const std::string& packagePath, modMain& settings, IWindowServices& window,
                             const InstallOptions& options = {});

} // namespace tessera

namespace tessera {

// Where one file of a package goes.
struct PlannedFile {
    enum class Kind { Stock, Archive, Refused };
    Kind kind = Kind::Refused;
    std::string name;          // the file name its package entries unpack to
    std::string target;        // stock file: its full path; archive: the game archive base
    std::string archive;       // archive: "models\txd", "models\gta3" or "anim\cuts"
    std::string entryName;     // archive: the name its record gets, which the game reads (Car.Dff -> Car.dff)
    bool setsAside = false;    // archive: an entry of this name is kept under name.old
    std::string reason;        // refused: why, when the type is supported but the file is not
    bool hadOld = false;       // stock: target.old was there when the install was planned
    bool existed = false;      // stock: target was there then
    std::int64_t offset = 0;   // where its bytes start in the package's .zpk
    std::int64_t size = 0;
};

struct InstallPlan {
    std::vector<PlannedFile> files;   // in the order the install takes them
    std::string problem;              // why the install would fail before its first change; empty when it would not
    // What the game would skip, ignore or read wrong in the archives after the install, of the
    // records it adds or anything newly broken, each naming archive, record and name.
    std::vector<std::string> gameReading;
};

// What InstallPackage would do with every file of the package, changing nothing in the game
// folder. A package that cannot be read throws.
InstallPlan PlanInstall(const std::string& packagePath, modMain& settings, const InstallOptions& options = {});

// The texts an install shows.
std::string BadFileMessage(const std::string& name);
std::string RefusedFileMessage(const std::string& name, const std::string& reason);

} // namespace tessera
