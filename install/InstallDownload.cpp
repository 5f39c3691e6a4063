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

    // Lists the source and writes its game files as this package; returns the listing. Between
    // members, sink may stop it.
    ModListing Make(const std::string& source, const std::string& from, IInstallSink* sink)
    {
        ModListing listing = ListModSource(source, from);
        if (listing.members.empty())
            throw TesseraError(ErrorKind::InvalidArgument, "It holds no game files to install.", source);
        WriteModPackage(listing, Base(), [sink] {
            if (sink && sink->StopRequested())
                throw StopRequest{};
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
    WindowPresenter presenter(window);
    return InstallDownload(source, settings, static_cast<IInstallSink&>(presenter), options, choice).Result();
}

InstallOutcome InstallDownload(const std::string& source, modMain& settings, IInstallSink& sink, const InstallOptions& options,
                               const DownloadChoice& choice)
{
    // A folder given with a trailing separator is named by its last component all the same.
    std::string shownSource = source;
    while (shownSource.size() > 1 && fs::IsSeparator(shownSource.back()))
        shownSource.pop_back();
    // Unpacking a large download takes a while; the install that follows names it the same way.
    InstallEvent started;
    started.name = BaseName(shownSource);
    sink.Report(started);

    InstallOutcome outcome;
    outcome.kind = InstallOutcome::Kind::LeftAsItWas;
    std::string failure;
    try {
        DownloadPackage package;
        const ModListing listing = package.Make(source, choice.from, &sink);
        InstallOptions shown = options;
        shown.sourceName = shownSource;
        const InstallOutcome installed = InstallPackage(package.Path(), settings, sink, shown);
        if (installed.Result() == InstallResult::Installed) {
            if (const std::string skipped = SkippedText(listing); !skipped.empty()) {
                InstallEvent event;
                event.kind = InstallEvent::Kind::Skipped;
                event.text = skipped;
                event.title = kSkippedTitle;
                sink.Report(event);
            }
        }
        return installed;
    } catch (const StopRequest&) {
        outcome.stopped = true;
    } catch (const std::bad_alloc&) {
        failure = "There is not enough memory.";
    } catch (const SameNameError& e) {
        failure = e.what() + choice.sameNameAdvice;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // Only the download's own refusals and stops reach here, before any change: InstallPackage
    // reports its failures itself.
    if (outcome.stopped) {
        outcome.title = "Install stopped";
        outcome.message = "The install of " + shownSource + " was stopped.\r\n" + kLeftAsItWas;
    } else {
        outcome.title = "Install failed";
        outcome.message = "The package " + shownSource + " could not be installed.\r\n" + failure + "\r\n" + kLeftAsItWas;
    }
    return ReportFinished(sink, outcome);
}

DownloadPlan PlanDownload(const std::string& source, modMain& settings, const std::string& from, const InstallOptions& options)
{
    DownloadPackage package;
    const ModListing listing = package.Make(source, from, nullptr);
    return {PlanInstall(package.Path(), settings, options), SkippedText(listing)};
}

} // namespace tessera
