// The events of the install layer's jobs, and how a window shows them.
#include "InstallEvents.h"

namespace tessera {

namespace {

using namespace std::chrono_literals;
constexpr auto kQuietTime = 500ms;      // a file done sooner shows no progress
constexpr auto kProgressEvery = 250ms;  // the caption is never older than this

} // namespace

std::string InstallOutcome::Caption() const
{
    if (Failed())
        return std::string(kMainCaption);
    // A run that refused every file changed nothing, and must not read as a success.
    return installed > 0 ? "Mod installed!" : "No file installed";
}

std::string ProgressText(const std::string& name, std::int64_t done, std::int64_t total)
{
    const std::int64_t percent = total > 0 ? done * 100 / total : 100;
    return "Installing " + name + " " + std::to_string(percent) + "%";
}

std::optional<std::string> ProgressCaption::Next(const InstallEvent& event, Clock::time_point now)
{
    if (event.kind == InstallEvent::Kind::FileBegun || (event.kind == InstallEvent::Kind::FileProgress && event.name != name_)) {
        name_ = event.name;
        begun_ = now;
        percent_ = -1;
    }
    // A finished file needs no progress: the next caption follows at once.
    if (event.kind != InstallEvent::Kind::FileProgress || event.done >= event.total || now - begun_ < kQuietTime)
        return std::nullopt;
    const int percent = static_cast<int>(event.total > 0 ? event.done * 100 / event.total : 100);
    if (percent == percent_ && now - shown_ < kProgressEvery)
        return std::nullopt;
    percent_ = percent;
    shown_ = now;
    return ProgressText(event.name, event.done, event.total);
}

void ReportMessage(IInstallSink& sink, InstallEvent::Kind kind, const std::string& text, const std::string& title)
{
    InstallEvent event;
    event.kind = kind;
    event.text = text;
    event.title = title;
    sink.Report(event);
}

InstallOutcome ReportFinished(IInstallSink& sink, const InstallOutcome& outcome)
{
    InstallEvent event;
    event.kind = InstallEvent::Kind::Finished;
    event.outcome = outcome;
    sink.Report(event);
    return outcome;
}

void WindowPresenter::Report(const InstallEvent& event)
{
    switch (event.kind) {
    case InstallEvent::Kind::Started:
        window_.SetPointer(Pointer::Hourglass);
        window_.SetButtonEnabled(Button::Install, false);
        window_.SetButtonEnabled(Button::BrowseSource, false);
        // Unpacking a large package takes a while: the caption says so from the start, never
        // showing the outcome of an earlier run meanwhile.
        window_.SetCaption("Installing " + event.name);
        break;
    case InstallEvent::Kind::FileBegun:
        if (yields_)
            window_.DoEvents();
        window_.SetCaption("Installing " + event.name);
        break;
    case InstallEvent::Kind::FileProgress:
        if (const auto caption = progress_.Next(event))
            window_.SetCaption(*caption);
        break;
    case InstallEvent::Kind::FileRefused:
    case InstallEvent::Kind::Skipped:
    case InstallEvent::Kind::Recovered:
        window_.MsgBox(event.text, event.title);
        break;
    case InstallEvent::Kind::Finished:
        window_.SetCaption(event.outcome.Caption());
        // A failure's message, or what an install that stands left for next time.
        if (!event.outcome.message.empty())
            window_.MsgBox(event.outcome.message, event.outcome.title);
        window_.SetButtonEnabled(Button::Install, true);
        window_.SetButtonEnabled(Button::BrowseSource, true);
        window_.SetPointer(Pointer::Default);
        break;
    }
    if (event.kind == InstallEvent::Kind::FileBegun)
        progress_.Next(event);
}

} // namespace tessera
