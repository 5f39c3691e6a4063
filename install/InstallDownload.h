// Installing a download as players get it (a .zip, .7z or .rar archive, or a folder of loose
// files): its game files are made into a package in a private temporary folder, which then
// installs like any other, all or nothing; the messages name the download.
#pragma once

#include "InstallPackage.h"

#include <string>

namespace tessera {

struct DownloadChoice {
    std::string from;             // the folder of the source to take the files from; empty: all
    std::string sameNameAdvice;   // added to the refusal of two files of one name
};

// Installs the game files of source. Documentation and pictures are skipped and told in one
// message at the end. Refusals of the download come before any change, as "Install failed"
// messages. Never throws for a failed install.
InstallOutcome InstallDownload(const std::string& source, modMain& settings, IInstallSink& sink, const InstallOptions& options = {},
                               const DownloadChoice& choice = {});
// The same, shown on window as the main window shows it (WindowPresenter).
InstallResult InstallDownload(const std::string& source, modMain& settings, IWindowServices& window,
                              const InstallOptions& options = {}, const DownloadChoice& choice = {});

struct DownloadPlan {
    InstallPlan plan;
    std::string skipped;   // as SkippedText gives it
};

// What InstallDownload would do, changing nothing in the game folder. A download that is
// refused throws.
DownloadPlan PlanDownload(const std::string& source, modMain& settings, const std::string& from = {}, const InstallOptions& options = {});

// The names of the private folders downloads are made into packages in, under the temporary
// location; a run removes those that processes which died left.
inline constexpr const char* kDownloadScratchPrefix = "tessera-download-";

// The title of the message that tells the skipped files.
inline constexpr const char* kSkippedTitle = "Skipped files";

} // namespace tessera
