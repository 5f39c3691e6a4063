// tessera-cli history, uninstall and restore: what is installed, and taking it back out.
#include "Commands.h"

#include "ConsoleServices.h"
#include "FileSystem.h"
#include "History.h"
#include "InstallPackage.h"
#include "Journal.h"
#include "UserSettingsStore.h"
#include "RecordingServices.h"
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
        return fs::WithTrailingSeparator(*given);
    UserSettingsStore stored;
    modMain settings(stored);
    settings.LoadSettings();
    if (settings.sGTA3Path == kNotFound)
        throw TesseraError(ErrorKind::PathNotFound, "No game folder is set: give one with --game FOLDER");
    return settings.sGTA3Path;
}

std::string Label(const HistoryRecord& r) { return std::to_string(r.id) + " (" + r.package + ", " + r.date + ")"; }

// A path with the platform's separators only.
std::string Shown(std::string path)
{
    for (char& c : path)
        if (fs::IsSeparator(c))
            c = fs::kSeparator;
    return path;
}

// The archive base as the game folder names it: "models/gta3".
std::string Relative(const std::string& path, const std::string& game)
{
    if (path.size() > game.size() && EqualsIgnoreCase(path.substr(0, game.size()), game))
        return Shown(path.substr(game.size()));
    return Shown(path);
}

std::string RecordNameOf(const RecordBytes& bytes) { return TrimSpaces(RecordName(DecodeRecord(bytes).sName)); }

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

// Later installs that changed a stock file or an archive record install id wrote.
std::vector<const HistoryRecord*> ChangedSince(const std::vector<HistoryRecord>& history, const HistoryRecord& r)
{
    std::set<std::string> stock;
    std::set<std::pair<std::string, std::int64_t>> records;
    for (const HistoryFile& f : r.files) {
        if (f.kind == HistoryFile::Kind::Stock)
            stock.insert(LowerAscii(f.path));
        else if (f.kind == HistoryFile::Kind::Added || f.kind == HistoryFile::Kind::Renamed)
            records.insert({LowerAscii(f.path), f.position});
    }
    std::vector<const HistoryRecord*> later;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->id <= r.id)
            continue;
        const bool changed = std::any_of(it->files.begin(), it->files.end(), [&](const HistoryFile& f) {
            return (f.kind == HistoryFile::Kind::Stock && stock.count(LowerAscii(f.path)))
                || (f.kind == HistoryFile::Kind::Renamed && records.count({LowerAscii(f.path), f.position}));
        });
        if (changed)
            later.push_back(&*it);
    }
    return later;
}

std::string Describe(const HistoryFile& f, const std::string& game)
{
    switch (f.kind) {
    case HistoryFile::Kind::Stock:
        return BaseName(f.path) + ": " + (f.created ? "created " : "replaced ") + Shown(f.path)
            + (f.created ? " (neither it nor its .old existed)" : f.madeOld ? " (the game's version kept as .old)" : " (the bytes it replaced kept in the history)");
    case HistoryFile::Kind::Added:
        return f.name + ": added to " + Relative(f.path, game) + " as entry " + std::to_string(f.position);
    case HistoryFile::Kind::Renamed:
        return RecordNameOf(f.before) + ": entry " + std::to_string(f.position) + " of " + Relative(f.path, game) + " set aside as "
            + RecordNameOf(f.after);
    case HistoryFile::Kind::Refused:
        return f.name + ": refused (" + f.reason + ")";
    }
    return {};
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
        std::cout << "No install is recorded for this game folder.\n";
        return;
    }
    for (const HistoryRecord& r : history)
        std::cout << r.id << "  " << r.date << "  " << r.package << "  added " << r.Added() << ", replaced " << r.Replaced()
                  << ", refused " << r.Refused() << "\n";
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
                std::cout << ", \"path\": " << Json(Shown(f.path)) << ", \"made_old\": " << (f.madeOld ? "true" : "false")
                          << ", \"created\": " << (f.created ? "true" : "false") << ", \"sha256\": " << Json(f.hash);
            else if (f.kind == HistoryFile::Kind::Added)
                std::cout << ", \"archive\": " << Json(Relative(f.path, game)) << ", \"name\": " << Json(f.name) << ", \"entry\": " << f.position
                          << ", \"sha256\": " << Json(f.hash);
            else if (f.kind == HistoryFile::Kind::Renamed)
                std::cout << ", \"archive\": " << Json(Relative(f.path, game)) << ", \"entry\": " << f.position
                          << ", \"name_before\": " << Json(RecordNameOf(f.before)) << ", \"name_after\": " << Json(RecordNameOf(f.after));
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
    std::cout << "Install " << r.id << ": " << r.package << ", " << r.date << "\n";
    for (const HistoryFile& f : r.files)
        std::cout << "  " << Describe(f, game) << "\n";
    if (later.empty()) {
        std::cout << "No later install has changed its files.\n";
        return;
    }
    std::cout << "Changed since by:";
    for (const HistoryRecord* m : later)
        std::cout << " " << Label(*m);
    std::cout << "\n";
}

// The history of a game folder, held under its lock with every interrupted change finished.
class LockedHistory {
public:
    explicit LockedHistory(const std::string& game)
        : game_(game), journalPath_(JournalPath(JournalFolder({}), game)), folder_(HistoryFolderOfJournal(journalPath_))
    {
        ConsoleWindowServices console;
        RecoverInterruptedInstalls(console, game);
        fs::CreateFolders(JournalFolder({}));
        lock_.emplace(journalPath_ + ".lock");
        if (!lock_->Held())
            throw TesseraError(ErrorKind::AccessDenied, "Another install into " + game + " is running", game);
        if (fs::FileExists(journalPath_))
            throw TesseraError(ErrorKind::Io, "An install into " + game + " still needs recovery: run tessera-cli recover", game);
        SettleHistory(folder_, std::nullopt);
        history_ = ReadHistory(folder_);
    }

    const std::vector<HistoryRecord>& History() const noexcept { return history_; }
    const std::string& Folder() const noexcept { return folder_; }
    const std::string& JournalPathText() const noexcept { return journalPath_; }

private:
    std::string game_, journalPath_, folder_;
    std::optional<fs::ExclusiveLock> lock_;
    std::vector<HistoryRecord> history_;
};

// Takes back the chain (newest first) after checking it whole; prints what it did.
int TakeBackChain(const LockedHistory& locked, const std::vector<const HistoryRecord*>& chain, bool dryRun)
{
    std::vector<HistoryRecord> records;
    for (const HistoryRecord* r : chain)
        records.push_back(*r);
    const auto problems = CheckUntouched(records);
    if (!problems.empty()) {
        for (const std::string& p : problems)
            std::cerr << p << "\n";
        std::cerr << "Nothing was changed.\n";
        return kFailed;
    }
    for (const HistoryRecord& r : records) {
        if (dryRun) {
            std::cout << "Would take back install " << Label(r) << "\n";
            continue;
        }
        try {
            TakeBack(locked.Folder(), locked.JournalPathText(), r);
        } catch (const std::exception& e) {
            std::cerr << "Taking back install " << Label(r) << " failed: " << e.what() << "\n";
            if (fs::FileExists(locked.JournalPathText()))
                std::cerr << "It is finished by tessera-cli recover.\n";
            else
                std::cerr << "That install is still in place.\n";
            return kFailed;
        }
        std::cout << "Took back install " << Label(r) << "\n";
    }
    return kOk;
}

} // namespace

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
        const LockedHistory locked(game);
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
        const LockedHistory locked(game);
        const auto& history = locked.History();
        const auto it = std::find_if(history.begin(), history.end(), [&](const HistoryRecord& r) { return r.id == *id; });
        if (it == history.end()) {
            std::cerr << "No install " << *id << " is recorded for " << game << "\n";
            return kFailed;
        }
        std::vector<const HistoryRecord*> chain;
        for (int later : LaterInstallsInTheWay(history, *id))
            for (const HistoryRecord& r : history)
                if (r.id == later)
                    chain.insert(chain.begin(), &r);   // newest first
        if (!chain.empty() && !o.withLater) {
            std::cerr << "Install " << Label(*it) << " cannot be taken back alone: later installs changed what it wrote"
                      << " or added to the same archives:";
            for (auto r = chain.rbegin(); r != chain.rend(); ++r)
                std::cerr << " " << Label(**r);
            std::cerr << "\nTake them back first, or use --with-later. Nothing was changed.\n";
            return kFailed;
        }
        chain.push_back(&*it);
        return TakeBackChain(locked, chain, o.dryRun);
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
        const LockedHistory locked(game);
        if (locked.History().empty()) {
            std::cout << "No install is recorded for this game folder: nothing to restore.\n";
            return kOk;
        }
        std::vector<const HistoryRecord*> chain;
        for (const HistoryRecord& r : locked.History())
            chain.push_back(&r);
        const int status = TakeBackChain(locked, chain, o.dryRun);
        if (status == kOk && !o.dryRun)
            std::cout << "The game folder is as it was before install " << chain.back()->id << ".\n";
        return status;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

} // namespace tessera::cli
