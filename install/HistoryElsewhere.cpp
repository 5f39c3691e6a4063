// Taking up a game folder's history recorded under another identity of the folder, for the
// history commands and for an install alike.
#include "HistoryElsewhere.h"

#include "FileSystem.h"
#include "Journal.h"
#include "Text.h"
#include "Uninstall.h"

#include <algorithm>

namespace tessera {

namespace {

std::string WithoutSeparator(const std::string& folder) { return folder.substr(0, folder.size() - 1); }

// What is at the history folder and the names of its files, as the caller saw them or looked at.
HistorySeen Seen(const std::string& folder, const HistorySeen* seen)
{
    if (seen)
        return *seen;
    HistorySeen looked;
    if (fs::FolderExists(folder)) {
        looked.kind = fs::PathKind::Folder;
        looked.files = fs::ListFiles(folder);
    }
    return looked;
}

} // namespace

std::string DamageAfterRereading(const std::function<void()>& read, const std::function<std::vector<std::string>()>& paths)
{
    for (int attempt = 0;; ++attempt) {
        try {
            read();
            return {};
        } catch (const TesseraError& e) {
            if (attempt == 0)
                continue;
            for (const std::string& path : paths())
                fs::ReadWholeFile(path);
            return e.what();
        }
    }
}

bool RecordedUnder(const std::vector<HistoryRecord>& history, const std::string& game)
{
    // The folder each record names (an older record: the one its paths lie under), resolved
    // when it was written, as game is now.
    return std::any_of(history.begin(), history.end(), [&](const HistoryRecord& r) { return SameFolder(r.recordedFolder, game); });
}

HistoryElsewhere TakeUpHistoryRecordedElsewhere(const std::string& folder, const std::string& gameFolder, IInstallSink& sink,
                                                const fs::FolderListing* listed, HistorySeen* seen)
{
    const std::string game = fs::WithTrailingSeparator(gameFolder);
    // A record of an install not taken back: the folder has a history of its own.
    const HistorySeen mineSeen = Seen(folder, seen);
    if (std::any_of(mineSeen.files.begin(), mineSeen.files.end(), [](const std::string& name) { return EndsWith(name, ".record"); }))
        return {};
    const std::string data = FolderOf(WithoutSeparator(folder));
    const std::string mine = BaseName(WithoutSeparator(folder));
    std::vector<std::string> found;
    std::string unreadable;   // why a history that may be this folder's does not check out
    for (const std::string& name : listed ? listed->folders : fs::ListFolders(data)) {
        if (!EndsWith(name, ".history") || name == mine)
            continue;
        const std::string candidate = data + name + fs::kSeparator;
        std::vector<HistoryRecord> history;
        const auto files = [&] {
            std::vector<std::string> paths;
            for (const std::string& file : fs::ListFiles(candidate))
                paths.push_back(candidate + file);
            return paths;
        };
        // A damaged history's folder cannot be told.
        if (std::string why = DamageAfterRereading([&] { history = ReadHistory(candidate, game); }, files); !why.empty())
            unreadable = DisplayMessage(why);
        else if (RecordedUnder(history, game))
            found.push_back(candidate);
    }
    if (!unreadable.empty())
        return {HistoryElsewhere::Outcome::NotTakenUp, "A mod history in the data folder does not check out (" + unreadable
                    + "), so Tessera cannot tell whether a history of " + DisplayPath(game)
                    + " was recorded when the folder was known by another identity (a drive plugged in again, or a copy put back)."};
    if (found.empty())
        return {};
    const std::string found1 = "A mod history of " + DisplayPath(game)
        + " was recorded when the folder was known by another identity (a drive plugged in again, or a copy put back), but ";
    if (found.size() > 1)
        return {HistoryElsewhere::Outcome::NotTakenUp,
                found1 + "there are " + std::to_string(found.size()) + " such histories, and Tessera cannot tell which is this folder's."};
    const std::string other = found.front();
    if (fs::PathExists(WithoutSeparator(other).substr(0, other.size() - 9) + ".journal"))
        return {HistoryElsewhere::Outcome::Interrupted,
                found1 + "a change recorded there was interrupted and must be finished first: run tessera-cli recover."};
    const std::vector<HistoryRecord> history = ReadHistory(other, game);
    std::vector<std::string> problems = CheckUntouched(history, history);
    // A file that cannot be read says nothing of whether the folder matches: that is an error.
    for (const HistoryRecord& r : history)
        for (std::string& p : CheckStoredFiles(other, r, true))
            problems.push_back(std::move(p));
    if (!problems.empty())
        return {HistoryElsewhere::Outcome::NotTakenUp, found1 + "the folder does not hold what that history last wrote: " + problems.front()};
    // The folder's own history holds no install: what it keeps (ids of installs taken back,
    // a record set aside) gives way to the history that is the folder's.
    if (mineSeen.kind == fs::PathKind::Folder) {
        for (const std::string& name : mineSeen.files)
            fs::DeleteFile(folder + name);
        fs::RemoveFolder(WithoutSeparator(folder));
    }
    fs::RenameFile(WithoutSeparator(other), WithoutSeparator(folder));
    fs::FlushFolder(data);
    if (seen)
        *seen = {fs::PathKind::Folder, fs::ListFiles(folder)};
    ReportMessage(sink, InstallEvent::Kind::Recovered,
                  "The mod history of " + DisplayPath(game) + " was recorded when the folder was known by another identity (a drive plugged in"
                      " again, or a copy put back). The folder holds what it last wrote, so it is taken up again.",
                  "Mod history found");
    return {HistoryElsewhere::Outcome::TakenUp, {}};
}

} // namespace tessera
