// What the install layer's long jobs (an install, a download's install, a recovery) tell while
// they run, and how they ended. The jobs never touch a window: the windows and the console turn
// these events into captions, pointer, buttons, messages and lines.
#pragma once

#include "Services.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tessera {

enum class InstallResult {
    Installed,          // reached "Mod installed!": at least one file went in (some may have been refused)
    NothingInstalled,   // every file was refused, or there was none: "No file installed"
    Failed,             // stopped with the "Install failed" message, which says whether the game
                        // folder is as it was or still needs recovery
};

// Said of the game folder when it was checked to be as it was before the install.
inline constexpr const char* kLeftAsItWas = "The game folder was left as it was.";

// How an install ended.
struct InstallOutcome {
    enum class Kind {
        Done,            // reached its end: installed files went in (installed may be 0: every file refused)
        LeftAsItWas,     // failed or stopped, and the game folder was checked to be as it was
        NeedsRecovery,   // failed, and the game folder still needs recovery (the message says how)
    };
    Kind kind = Kind::Done;
    std::size_t installed = 0;   // Done: the files that went in
    bool stopped = false;        // the user stopped it
    std::string message;         // failed: the whole text of the failure message; done: what its
                                 // clean-up left for next time, if anything
    std::string title;           // its title

    bool Failed() const noexcept { return kind != Kind::Done; }
    InstallResult Result() const;
    // The caption the main window shows once it has ended.
    std::string Caption() const;
};

struct InstallEvent {
    enum class Kind {
        Started,        // name: the source's name, shown while it is read and unpacked
        FileBegun,      // name: the file now being installed
        FileProgress,   // name: that file; done of total bytes written
        FileRefused,    // name: the file; text and title: the message
        Skipped,        // text and title: the files of a download that were left out
        Recovered,      // text and title: what a recovery found and did
        Finished,       // outcome: how the install ended
    };
    Kind kind = Kind::Started;
    std::string name;
    std::string text;
    std::string title;
    std::int64_t done = 0;
    std::int64_t total = 0;
    InstallOutcome outcome;
};

// Where a job's events go. A job may run off the window's thread: Report and StopRequested are
// then called on the job's thread.
class IInstallSink {
public:
    virtual ~IInstallSink() = default;
    // Returns when the event has been taken; an event with a message returns once it was shown.
    virtual void Report(const InstallEvent& event) = 0;
    // Asked where the job can stop and still undo everything; true stops it there.
    virtual bool StopRequested() { return false; }
};

// The job was stopped because its sink asked it to.
struct StopRequest {};

// Reports an event that only tells the user something.
void ReportMessage(IInstallSink& sink, InstallEvent::Kind kind, const std::string& text, const std::string& title);
// Reports the end of a job and returns its outcome.
InstallOutcome ReportFinished(IInstallSink& sink, const InstallOutcome& outcome);

// The caption that shows a file's progress, or nothing while none is due: only for a file that
// takes more than about half a second, then at most every quarter of a second and whenever its
// percentage changes after that.
class ProgressCaption {
public:
    using Clock = std::chrono::steady_clock;
    std::optional<std::string> Next(const InstallEvent& event, Clock::time_point now = Clock::now());

private:
    std::string name_;
    Clock::time_point begun_{};
    Clock::time_point shown_{};
    int percent_ = -1;
};

std::string ProgressText(const std::string& name, std::int64_t done, std::int64_t total);

// Shows a job's events on a window as the main window always has: the hourglass and both
// buttons disabled on start, a caption per file, a message box per refused file and per
// recovery, and on the end the caption, the failure message, both buttons and the pointer.
// The job runs on the window's thread, yielding to its events before each file, unless the job
// runs on a thread of its own (yields false).
class WindowPresenter : public IInstallSink {
public:
    explicit WindowPresenter(IWindowServices& window, bool yields = true) : window_(window), yields_(yields) {}
    void Report(const InstallEvent& event) override;

private:
    IWindowServices& window_;
    bool yields_;
    ProgressCaption progress_;
};

} // namespace tessera
