// The download is listed and made into a package before the install starts, so everything
// that can be wrong with it is found before the game folder is touched.
#include "InstallDownload.h"

#include "Archive.h"
#include "FileSystem.h"
#include "ModSource.h"

#include <new>
#include <optional>

namespace tessera {

namespace {

// A private folder for the package made from a download, removed with what it holds. What
// downloads of processes that died left is removed first.
class DownloadPackage {
public:
    DownloadPackage()
    {
        fs::RemoveDeadScratch(kDownloadScratchPrefix);
        folder_.emplace(kDownloadScratchPrefix);
    }

    std::string Base() const { return folder_->Path() + "download"; }
    std::string Path() const { return Base() + ".zpk"; }

    // Lists the source and writes its game files as this package; returns the listing.
    ModListing Make(const std::string& source, const std::string& from, IWindowServices* window)
    {
        ModListing listing = ListModSource(source, from);
        if (listing.members.empty())
            throw TesseraError(ErrorKind::InvalidArgument, "It holds no game files to install.", source);
        WriteModPackage(listing, Base(), [window] {
            if (window)
                window->DoEvents();
        });
        return listing;
    }

private:
    std::optional<fs::HeldScratchFolder> folder_;
};

} // namespace

InstallResult InstallDownload(const std::string& source, modMain& settings, IWindowServices& window,
                              const InstallOptions& options, const DownloadChoice& choice)
{
    window.SetPointer(Pointer::Hourglass);
    window.SetButtonEnabled(Button::Install, false);
    window.SetButtonEnabled(Button::BrowseSource, false);
    // A folder given with a trailing separator is named by its last component all the same.
    std::string shownSource = source;
    while (shownSource.size() > 1 && fs::IsSeparator(shownSource.back()))
        shownSource.pop_back();
    // Unpacking a large download takes a while; the install that follows names it the same way.
    window.SetCaption("Installing " + BaseName(shownSource));

    std::string failure;
    try {
        DownloadPackage package;
        const ModListing listing = package.Make(source, choice.from, &window);
        InstallOptions shown = options;
        shown.sourceName = shownSource;
        const InstallResult result = InstallPackage(package.Path(), settings, window, shown);
        if (result == InstallResult::Installed) {
            if (const std::string skipped = SkippedText(listing); !skipped.empty())
                window.MsgBox(skipped, kSkippedTitle);
        }
        return result;
    } catch (const std::bad_alloc&) {
        failure = "There is not enough memory.";
    } catch (const SameNameError& e) {
        failure = e.what() + choice.sameNameAdvice;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // Only the download's own refusals reach here: InstallPackage reports its failures itself.
    window.SetCaption(std::string(kMainCaption));
    window.MsgBox("The package " + shownSource + " could not be installed.\r\n" + failure + "\r\nThe game folder was left as it was.",
                  "Install failed");
    window.SetButtonEnabled(Button::Install, true);
    window.SetButtonEnabled(Button::BrowseSource, true);
    window.SetPointer(Pointer::Default);
    return InstallResult::Failed;
}

DownloadPlan PlanDownload(const std::string& source, modMain& settings, const std::string& from)
{
    DownloadPackage package;
    const ModListing listing = package.Make(source, from, nullptr);
    return {PlanInstall(package.Path(), settings), SkippedText(listing)};
}

} // namespace tessera
