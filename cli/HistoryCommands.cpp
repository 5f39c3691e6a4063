// tessera-cli history, uninstall and restore: what is installed, and taking it back out.
#include "Commands.h"

#include "Compact.h"
#include "ConsoleSink.h"
#include "FileSystem.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "UserSettingsStore.h"
#include "Text.h"
#include "TextLocale.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>
#include <set>

namespace tessera::cli {

namespace {

// An install id: digits only, not zero.
std::optional<int> ParseId(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int id = std::stoi(text);
    return id > 0 ? std::optional<int>(id) : std::nullopt;
}

// The game folder: the one given with --game, or the one the desktop program stored.
std::string GameFolder(const std::optional<std::string>& given)
{
    if (given)
        return fs::WithTrailingSeparator(AbsoluteGameFolder(*given));
    UserSettingsStore stored;
    modMain settings(stored);
    settings.LoadSettings();
    if (settings.sGTA3Path == kNotFound)
        throw TesseraError(ErrorKind::PathNotFound, "No game folder is set: give one with --game FOLDER");
    return AbsoluteGameFolder(settings.sGTA3Path);
}

const char* KindWord(HistoryFile::Kind kind)
{
    switch (kind) {
    case HistoryFile::Kind::Stock: return "stock";
    case HistoryFile::Kind::Added: return "added";
    case HistoryFile::Kind::Renamed: return "set-aside";
    case HistoryFile::Kind::Refused: return "refused";
    }
    return "";
}

// A record's summary as JSON; names are UTF-8 strings.
nlohmann::ordered_json RecordJson(const HistoryRecord& r)
{
    return {{"id", r.id}, {"package", ToUtf8(r.package)}, {"date", ToUtf8(r.date)}, {"hash_name", r.hashName}, {"zpk_hash", r.zpkHash}, {"dir_hash", r.dirHash}};
}

void PrintList(const std::vector<HistoryRecord>& history, bool json)
{
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const HistoryRecord& r : history) {
            nlohmann::ordered_json j = RecordJson(r);
            j["added"] = r.Added();
            j["replaced"] = r.Replaced();
            j["refused"] = r.Refused();
            list.push_back(std::move(j));
        }
        std::cout << list.dump(1) << "\n";
        return;
    }
    if (history.empty()) {
        std::cout << kNoHistoryText << "\n";
        return;
    }
    for (const HistoryRecord& r : history)
        std::cout << HistoryListLine(r) << "\n";
}

void PrintOne(const std::vector<HistoryRecord>& history, const HistoryRecord& r, const std::string& game, bool json)
{
    const auto later = ChangedSince(history, r);
    if (json) {
        nlohmann::ordered_json j = RecordJson(r);
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const HistoryFile& f : r.files) {
            nlohmann::ordered_json file = {{"kind", KindWord(f.kind)}};
            if (f.kind == HistoryFile::Kind::Stock) {
                file["path"] = ToUtf8(ShownPath(f.path));
                file["made_old"] = f.madeOld;
                file["created"] = f.created;
                file["hash"] = f.hash;
            } else if (f.kind == HistoryFile::Kind::Added) {
                file["archive"] = ToUtf8(GameRelativePath(f.path, game));
                file["name"] = ToUtf8(f.name);
                file["entry"] = f.position;
                file["hash"] = f.hash;
            } else if (f.kind == HistoryFile::Kind::Renamed) {
                file["archive"] = ToUtf8(GameRelativePath(f.path, game));
                file["entry"] = f.position;
                file["name_before"] = ToUtf8(RecordNameText(f.before));
                file["name_after"] = ToUtf8(RecordNameText(f.after));
            } else {
                file["name"] = ToUtf8(f.name);
                file["reason"] = ToUtf8(f.reason);
            }
            files.push_back(std::move(file));
        }
        j["files"] = std::move(files);
        j["changed_since_by"] = nlohmann::ordered_json::array();
        for (const HistoryRecord* l : later)
            j["changed_since_by"].push_back(l->id);
        std::cout << j.dump(1) << "\n";
        return;
    }
    for (const std::string& line : HistoryDetails(history, r, game))
        std::cout << line << "\n";
}

// Runs a history command's body on the game folder, its history locked while the body runs.
int WithHistory(const Options& o, const std::function<int(const std::string& game, const LockedHistory& locked)>& body)
{
    return Guarded([&] {
        const std::string game = GameFolder(o.game);
        ConsoleSink console;
        const LockedHistory locked(game, console);
        return body(game, locked);
    });
}

// Prints what the history commands tell: problems to standard error.
void Tell(const std::string& line, bool problem) { (problem ? std::cerr : std::cout) << line << "\n"; }

} // namespace

int CmdHistory(const Options& o)
{
    std::optional<int> id;
    if (o.positional.size() == 1)
        id = ParseId(o.positional[0]);
    if (o.positional.size() > 1 || (o.positional.size() == 1 && !id))
        return kUsage;
    return WithHistory(o, [&](const std::string& game, const LockedHistory& locked) {
        if (!id) {
            PrintList(locked.History(), o.json);
            return kOk;
        }
        for (const HistoryRecord& r : locked.History()) {
            if (r.id == *id) {
                PrintOne(locked.History(), r, game, o.json);
                return kOk;
            }
        }
        std::cerr << "No install " << *id << " is recorded for " << game << "\n";
        return kFailed;
    });
}

int CmdUninstall(const Options& o)
{
    const std::optional<int> id = o.positional.size() == 1 ? ParseId(o.positional[0]) : std::nullopt;
    if (!id)
        return kUsage;
    return WithHistory(o, [&](const std::string& game, const LockedHistory& locked) {
        const auto chain = UninstallChain(locked.History(), *id, o.withLater, game, Tell);
        if (chain.empty())
            return kFailed;
        return TakeBackChain(locked, chain, o.dryRun, Tell) ? kOk : kFailed;
    });
}

int CmdRestore(const Options& o)
{
    if (!o.positional.empty())
        return kUsage;
    return WithHistory(o, [&](const std::string&, const LockedHistory& locked) {
        if (locked.History().empty()) {
            std::cout << "No install is recorded for this game folder: nothing to restore.\n";
            return kOk;
        }
        std::vector<const HistoryRecord*> chain;
        for (const HistoryRecord& r : locked.History())
            chain.push_back(&r);
        if (!TakeBackChain(locked, chain, o.dryRun, Tell))
            return kFailed;
        if (!o.dryRun)
            std::cout << "The game folder is as it was before install " << chain.back()->id << ".\n";
        return kOk;
    });
}

int CmdCompact(const Options& o)
{
    if (!o.positional.empty())
        return kUsage;
    return WithHistory(o, [&](const std::string& game, const LockedHistory& locked) {
        const std::vector<ArchiveCompaction> plan = PlanCompaction(game);
        bool refused = false;
        for (const ArchiveCompaction& a : plan) {
            if (!a.problem.empty()) {
                std::cerr << "The game archive " << a.relative << " cannot be compacted: " << a.problem << ".\n";
                refused = true;
            }
        }
        if (refused) {
            std::cerr << "Nothing was changed.\n";
            return kFailed;
        }
        if (plan.empty()) {
            std::cerr << "No game archive was found in " << ShownPath(game) << ".\n";
            return kFailed;
        }
        std::int64_t total = 0;
        for (const ArchiveCompaction& a : plan)
            total += a.needed ? a.imgLength - a.newImgLength : 0;
        if (!o.dryRun) {
            try {
                Compact(locked.Folder(), locked.JournalPathText(), game, plan);
            } catch (const std::exception& e) {
                std::cerr << "Compacting failed: " << e.what() << "\n";
                bool journalLeft = true;   // when it cannot be told, a recover does no harm
                try {
                    journalLeft = fs::FileExists(locked.JournalPathText());
                } catch (const TesseraError&) {
                }
                std::cerr << (journalLeft ? "It is finished by tessera-cli recover.\n" : "The game archives were left as they were.\n");
                return kFailed;
            }
        }
        for (const ArchiveCompaction& a : plan) {
            if (!a.needed)
                std::cout << a.relative << ": already compact\n";
            else
                std::cout << a.relative << (o.dryRun ? ": would give back " : ": gave back ") << a.imgLength - a.newImgLength << " bytes\n";
        }
        std::cout << (o.dryRun ? "Would give back " : "Gave back ") << total << " bytes in all.\n";
        return kOk;
    });
}

} // namespace tessera::cli
