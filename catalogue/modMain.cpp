// The catalogue and the game-folder setting.
#include "modMain.h"

#include "Error.h"
#include "FileSystem.h"
#include "Text.h"

#include <cstdint>
#include <limits>

namespace tessera {

namespace {

void RegisterStockList() { RegisterResData(kStockListId, kStockListType, StockListBytes()); }

// Registered at start-up so that the list can be fetched like any built-in item; LoadStockList
// registers it again in case this runs after a caller's own static start-up code.
const bool kStockListRegistered = (RegisterStockList(), true);

} // namespace

std::string GetFolder(std::string_view path)
{
    // The position counts in a signed 16-bit integer, as in every routine that walks a text.
    if (path.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
        throw TesseraError(ErrorKind::Overflow, "Overflow: a path of " + std::to_string(path.size()) +
                                                    " characters is too long to take its folder");
    // A slash separates too: Windows accepts it, and game folders elsewhere are written with it,
    // so the top-level stock file keeps its bare name as its key.
    const auto last = path.find_last_of("\\/");
    if (last == std::string_view::npos)
        return {};
    return std::string(path.substr(0, last + 1));
}

modMain::modMain(ISettingsStore& store) : store_(store) {}

StockCollection& modMain::StockFiles()
{
    if (!colStockFiles)
        colStockFiles = std::make_shared<StockCollection>();
    return *colStockFiles;
}

void modMain::LoadSettings()
{
    colStockFiles = std::make_shared<StockCollection>();
    sGTA3Path = store_.GetSetting(std::string(kProgramTitle), std::string(kSettingsSection), std::string(kGTA3PathKey),
                                  std::string(kNotFound));
    // The game's paths are the folder with a name appended: a folder stored without its
    // trailing separator would put them beside it. An empty one stays empty (it is no folder).
    if (!sGTA3Path.empty() && sGTA3Path != kNotFound)
        sGTA3Path = fs::WithTrailingSeparator(sGTA3Path);
    LoadStockList();
}

void modMain::SaveSettings()
{
    store_.SaveSetting(std::string(kProgramTitle), std::string(kSettingsSection), std::string(kGTA3PathKey), sGTA3Path);
}

void modMain::LoadStockList()
{
    (void)kStockListRegistered;
    RegisterStockList();
    // Parsed in memory: the program folder may be read-only and is shared by every running copy.
    LoadStockList(LoadResData(kStockListId, kStockListType));
}

void modMain::LoadStockList(std::span<const std::byte> listBytes)
{
    const std::string_view text(reinterpret_cast<const char*>(listBytes.data()), listBytes.size());
    StockCollection& files = StockFiles();
    if (files.Empty())
        files.Reserve(kStockFileCount);

    std::size_t pos = 0;
    long lineNumber = 0;
    while (pos < text.size()) {
        // A line ends at a CR; the CR and an LF right behind it are not part of it.
        const std::size_t cr = text.find('\r', pos);
        const std::size_t end = cr == std::string_view::npos ? text.size() : cr;
        const std::string line = TrimSpaces(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size()) {
            ++pos;
            if (pos < text.size() && text[pos] == '\n')
                ++pos;
        }
        ++lineNumber;
        if (line.empty())
            continue;

        auto file = std::make_shared<clsFile>();
        file->sFullPath(sGTA3Path + line);
        file->sPath(GetFolder(file->sFullPath()));
        file->sFileName(file->sFullPath().substr(file->sPath().size()));
        file->sId(file->sFullPath());
        try {
            files.Add(file, file->sFileName());
        } catch (const TesseraError& e) {
            throw TesseraError(e.Kind(), "Stock list, line " + std::to_string(lineNumber) + " (" + line + "): " + e.what(),
                               file->sFullPath());
        }
    }
}

} // namespace tessera
