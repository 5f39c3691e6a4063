// tessera-cli history, uninstall and restore: what is installed, and taking it back out.
#include "Commands.h"

#include "Compact.h"
#include "ConsoleServices.h"
#include "FileSystem.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "UserSettingsStore.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <set>

namespace tessera::cli {

namespace {

struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> game;
    bool json = false, withLater = false, dryRun = false;
    bool ok = true;
};

Options Parse(const Args& args, const std::set<std::string>& flags)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--game" && i + 1 < args.size())
            o.game = args[++i];
        else if (flags.count(a) && a == "--json")
            o.json = true;
        else if (flags.count(a) && a == "--with-later")
            o.withLater = true;
        else if (flags.count(a) && a == "--dry-run")
            o.dryRun = true;
        else if (a.starts_with("-"))
            o.ok = false;
        else
            o.positional.push_back(a);
    }
    return o;
}

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

void PrintList(const std::vector<HistoryRecord>& history, bool json)
{
    if (json) {
        std::cout << "[";
        for (std::size_t i = 0; i < history.size(); ++i) {
            const HistoryRecord& r = history[i];
            std::cout << (i ? ",\n " : "") << "{\"id\": " << r.id << ", \"package\": " << Json(r.package) << ", \"date\": " << Json(r.date)
                      << ", \"zpk_sha256\": " << Json(r.zpkHash) << ", \"dir_sha256\": " << Json(r.dirHash) << ", \"added\": " << r.Added()
                      << ", \"replaced\": " << r.Replaced() << ", \"refused\": " << r.Refused() << "}";
        }
        std::cout << "]\n";
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
        std::cout << "{\"id\": " << r.id << ", \"package\": " << Json(r.package) << ", \"date\": " << Json(r.date)
                  << ", \"zpk_sha256\": " << Json(r.zpkHash) << ", \"dir_sha256\": " << Json(r.dirHash) << ", \"files\": [";
        for (std::size_t i = 0; i < r.files.size(); ++i) {
            const HistoryFile& f = r.files[i];
            std::cout << (i ? ",\n  " : "\n  ") << "{\"kind\": \"" << KindWord(f.kind) << "\"";
            if (f.kind == HistoryFile::Kind::Stock)
                std::cout << ", \"path\": " << Json(ShownPath(f.path)) << ", \"made_old\": " << (f.madeOld ? "true" : "false")
                          << ", \"created\": " << (f.created ? "true" : "false") << ", \"sha256\": " << Json(f.hash);
            else if (f.kind == HistoryFile::Kind::Added)
                std::cout << ", \"archive\": " << Json(GameRelativePath(f.path, game)) << ", \"name\": " << Json(f.name) << ", \"entry\": " << f.position
                          << ", \"sha256\": " << Json(f.hash);
            else if (f.kind == HistoryFile::Kind::Renamed)
                std::cout << ", \"archive\": " << Json(GameRelativePath(f.path, game)) << ", \"entry\": " << f.position
                          << ", \"name_before\": " << Json(RecordNameText(f.before)) << ", \"name_after\": " << Json(RecordNameText(f.after));
            else
                std::cout << ", \"name\": " << Json(f.name) << ", \"reason\": " << Json(f.reason);
            std::cout << "}";
        }
        std::cout << "], \"changed_since_by\": [";
        for (std::size_t i = 0; i < later.size(); ++i)
            std::cout << (i ? ", " : "") << later[i]->id;
        std::cout << "]}\n";
        return;
    }
    for (const std::string& line : HistoryDetails(history, r, game))
        std::cout << line << "\n";
}

// Prints what the history commands tell: problems to standard error.
void Tell(const std::string& line, bool problem) { (problem ? std::cerr : std::cout) << line << "\n"; }

} // namespace

std::string Json(const std::string& s)
{
    std::string r = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            r += '\\';
            r += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            r += hex;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r + "\"";
}

int CmdHistory(const Args& args)
{
    const Options o = Parse(args, {"--json"});
    std::optional<int> id;
    if (o.ok && o.positional.size() == 1)
        id = ParseId(o.positional[0]);
    if (!o.ok || o.positional.size() > 1 || (o.positional.size() == 1 && !id)) {
        std::cerr << "Usage: tessera-cli history [N] [--game FOLDER] [--json]\n";
        return kUsage;
    }
    try {
        const std::string game = GameFolder(o.game);
        ConsoleWindowServices console;
        const LockedHistory locked(game, console);
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
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

int CmdUninstall(const Args& args)
{
    const Options o = Parse(args, {"--with-later", "--dry-run"});
    const std::optional<int> id = o.positional.size() == 1 ? ParseId(o.positional[0]) : std::nullopt;
    if (!o.ok || !id) {
        std::cerr << "Usage: tessera-cli uninstall N [--game FOLDER] [--with-later] [--dry-run]\n";
        return kUsage;
    }
    try {
        const std::string game = GameFolder(o.game);
        ConsoleWindowServices console;
        const LockedHistory locked(game, console);
        const auto chain = UninstallChain(locked.History(), *id, o.withLater, game, Tell);
        if (chain.empty())
            return kFailed;
        return TakeBackChain(locked, chain, o.dryRun, Tell) ? kOk : kFailed;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

int CmdRestore(const Args& args)
{
    const Options o = Parse(args, {"--dry-run"});
    if (!o.ok || !o.positional.empty()) {
        std::cerr << "Usage: tessera-cli restore [--game FOLDER] [--dry-run]\n";
        return kUsage;
    }
    try {
        const std::string game = GameFolder(o.game);
        ConsoleWindowServices console;
        const LockedHistory locked(game, console);
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
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

int CmdCompact(const Args& args)
{
    const Options o = Parse(args, {"--dry-run"});
    if (!o.ok || !o.positional.empty()) {
        std::cerr << "Usage: tessera-cli compact [--game FOLDER] [--dry-run]\n";
        return kUsage;
    }
    try {
        const std::string game = GameFolder(o.game);
        ConsoleWindowServices console;
        const LockedHistory locked(game, console);
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
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

} // namespace tessera::cli
