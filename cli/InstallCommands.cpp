// tessera-cli install, check and recover: the install procedure with a console for a window.
#include "Commands.h"

#include "Archive.h"
#include "ConsoleSink.h"
#include "FileSystem.h"
#include "GameRules.h"
#include "History.h"
#include "InstallDownload.h"
#include "InstallPackage.h"
#include "ModSource.h"
#include "UserSettingsStore.h"
#include "Text.h"
#include "TextLocale.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>
#include <optional>

namespace tessera::cli {

namespace {

constexpr const char* kFromAdvice = " Choose the folder to install from with --from FOLDER.";
constexpr const char* kGameAdvice = "give another game folder with --game FOLDER";

// The settings the command works with: the folder given with --game, or the stored setting.
// A folder given is used as it stands and never stored.
struct Settings {
    UserSettingsStore stored;
    std::unique_ptr<modMain> main;

    explicit Settings(const std::optional<std::string>& game) : main(std::make_unique<modMain>(stored))
    {
        if (game) {
            main->sGTA3Path = fs::WithTrailingSeparator(AbsoluteGameFolder(*game));
            main->LoadStockList();
        } else {
            main->LoadSettings();
        }
    }
};

// "; it replaces what install N (package, date) wrote", or nothing.
std::string WrittenBy(const HistoryRecord* r) { return r ? "; " + WrittenByText(*r) : std::string(); }

void PrintPlan(const std::vector<PlannedFile>& plan, const std::vector<HistoryRecord>& history)
{
    for (const PlannedFile& f : plan) {
        std::cout << f.name << ": ";
        switch (f.kind) {
        case PlannedFile::Kind::Stock:
            if (fs::FileExists(f.target + ".old"))
                std::cout << "replaces the stock file " << f.target << " (its .old backup is kept" << WrittenBy(WriterOf(history, f)) << ")";
            else if (fs::FileExists(f.target))
                std::cout << "replaces the stock file " << f.target << " (the game's version is kept as .old" << WrittenBy(WriterOf(history, f)) << ")";
            else
                std::cout << "becomes the stock file " << f.target << " (the game folder has none, so nothing is kept)";
            break;
        case PlannedFile::Kind::Archive:
            std::cout << "goes into the archive " << f.archive << (f.entryName != f.name ? " as " + f.entryName : std::string())
                      << (f.setsAside ? " (the entry of that name is set aside as " + f.entryName + ".old" + WrittenBy(WriterOf(history, f)) + ")"
                                      : " (new entry)");
            break;
        case PlannedFile::Kind::Refused:
            std::cout << "refused: " << (f.reason.empty() ? "not supported by Tessera" : f.reason);
            break;
        }
        std::cout << "\n";
    }
}

std::string LinesOf(std::string text)
{
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

} // namespace

int CmdInstall(const Options& o)
{
    // A package is installed as it is; anything else is a download to take the game files from.
    const bool package = o.positional.size() == 1 && EndsWith(LowerAscii(o.positional[0]), ".zpk");
    if (o.positional.size() != 1 || (package && o.from))
        return kUsage;
    const std::string& source = o.positional[0];
    const std::string from = o.from.value_or(std::string());
    try {
        Settings settings(o.game);
        if (settings.main->sGTA3Path == kNotFound) {
            std::cerr << "No game folder is set: give one with --game FOLDER\n";
            return kFailed;
        }
        // A name mistyped is said as such, not as a part of the package that was not found.
        if (!fs::PathExists(source)) {
            std::cerr << source << " does not exist.\n";
            return kFailed;
        }
        InstallOptions options;
        options.changeFolderAdvice = kGameAdvice;
        options.gameFolderResolved = o.game.has_value();
        if (o.dryRun) {
            InstallPlan plan;
            std::string skipped;
            if (package) {
                plan = PlanInstall(source, *settings.main, options);
            } else {
                DownloadPlan download = PlanDownload(source, *settings.main, from, options);
                plan = std::move(download.plan);
                skipped = std::move(download.skipped);
            }
            // What recorded installs wrote that this one would replace, and whether it is one of them again.
            const std::vector<HistoryRecord> history = ReadHistoryOf(settings.main->sGTA3Path);
            if (package)
                if (const HistoryRecord* r = EarlierInstallOfPackage(history, source))
                    std::cout << ReinstallText(*r) << "\n";
            PrintPlan(plan.files, history);
            if (!plan.gameReading.empty()) {
                std::cout << "After the install, the game would not read everything as meant:\n";
                for (const std::string& line : plan.gameReading)
                    std::cout << "  " << line << "\n";
            }
            if (!skipped.empty())
                std::cout << LinesOf(skipped) << "\n";
            if (plan.problem.empty())
                return kOk;
            std::cerr << "The install would fail: " << plan.problem << "\n";
            return kFailed;
        }
        ConsoleSink console;
        CatchStopSignals();
        const InstallOutcome outcome =
            package ? InstallPackage(source, *settings.main, console, options)
                    : InstallDownload(source, *settings.main, console, options, DownloadChoice{from, std::string(kFromAdvice)});
        if (outcome.stopped)
            return StopStatus();
        return outcome.Result() == InstallResult::Installed ? kOk : kFailed;
    } catch (const SameNameError& e) {
        std::cerr << e.what() << kFromAdvice << "\n";
        return kFailed;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}

int CmdCheck(const Options& o)
{
    const bool json = o.json;
    const std::vector<std::string>& positional = o.positional;
    if (positional.size() != 1 || positional[0].empty())
        return kUsage;
    return Guarded([&] {
        const std::string game = fs::WithTrailingSeparator(positional[0]);
        std::size_t errors = 0, warnings = 0;
        nlohmann::ordered_json archives = nlohmann::ordered_json::array();
        for (const GameArchive& archive : kGameArchives) {
            const std::vector<RuleFinding> findings = CheckGameArchive(game, archive);
            const std::string base = game + std::string(archive.relative);
            nlohmann::ordered_json jsonArchive = {{"archive", ToUtf8(std::string(archive.relative))}};
            std::string counts;
            if (fs::FileExists(base + ".dir") && fs::FileExists(base + ".img")) {
                const std::int64_t records = RecordCount(fs::FileLength(base + ".dir"));
                const std::int64_t blocks = fs::FileLength(base + ".img") / kBlockSize;
                counts = std::to_string(records) + " records, " + std::to_string(blocks) + " blocks: ";
                jsonArchive["records"] = records;
                jsonArchive["blocks"] = blocks;
            }
            std::size_t archiveErrors = 0;
            nlohmann::ordered_json jsonFindings = nlohmann::ordered_json::array();
            for (const RuleFinding& f : findings) {
                const bool error = f.severity == RuleFinding::Severity::Error;
                ++(error ? archiveErrors : warnings);
                if (!json)
                    std::cout << (error ? "error: " : "warning: ") << f.text << "\n";
                nlohmann::ordered_json finding = {{"severity", error ? "error" : "warning"}, {"rule", f.rule}};
                if (f.record >= 0) {
                    finding["record"] = f.record;
                    finding["name"] = ToUtf8(f.name);
                }
                finding["message"] = ToUtf8(f.text);
                jsonFindings.push_back(std::move(finding));
            }
            errors += archiveErrors;
            const std::size_t archiveWarnings = findings.size() - archiveErrors;
            if (!json) {
                std::cout << archive.relative << ": " << counts;
                if (findings.empty())
                    std::cout << "ok\n";
                else
                    std::cout << archiveErrors << (archiveErrors == 1 ? " error, " : " errors, ") << archiveWarnings
                              << (archiveWarnings == 1 ? " warning\n" : " warnings\n");
            }
            jsonArchive["findings"] = std::move(jsonFindings);
            archives.push_back(std::move(jsonArchive));
        }
        if (json) {
            const nlohmann::ordered_json report = {{"folder", ToUtf8(game)}, {"errors", errors}, {"warnings", warnings}, {"archives", std::move(archives)}};
            std::cout << report.dump(1) << "\n";
        }
        return errors == 0 ? kOk : kFailed;
    });
}

int CmdRecover(const Options& o)
{
    if (!o.positional.empty())
        return kUsage;
    return Guarded([&] {
        ConsoleSink console;
        // Every folder's journals, as at the desktop program's start, with the stored folder as
        // where a folder moved or renamed since its journal was recorded is now.
        InstallOptions options;
        if (!o.game) {
            const Settings stored(o.game);
            if (stored.main->sGTA3Path != kNotFound)
                options.gameFolderNow = stored.main->sGTA3Path;
        }
        const RecoveryReport report
            = RecoverInterruptedInstalls(console, o.game ? fs::WithTrailingSeparator(AbsoluteGameFolder(*o.game)) : std::string(), options);
        if (report.rolledBack > 0)
            std::cout << "Interrupted installs rolled back: " << report.rolledBack << "\n";
        if (report.compactionsRolledBack > 0)
            std::cout << "Interrupted compactions rolled back: " << report.compactionsRolledBack << "\n";
        if (report.finished > 0)
            std::cout << "Interrupted uninstalls and compactions finished: " << report.finished << "\n";
        if (report.pending > 0)
            std::cout << "Game folders that still need recovery: " << report.pending << "\n";
        if (report.refused > 0)
            std::cout << "Damaged journals set aside unused: " << report.refused << "\n";
        if (report.rolledBack == 0 && report.compactionsRolledBack == 0 && report.finished == 0 && report.Clean())
            std::cout << "No interrupted install was found.\n";
        return report.Clean() ? kOk : kFailed;
    });
}

} // namespace tessera::cli
