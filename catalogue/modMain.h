// The game catalogue and the game-folder setting: clsFile, the stock-file catalogue
// colStockFiles built from the built-in stock list, sGTA3Path and the routines around them.
#pragma once

#include "KeyedCollection.h"
#include "Services.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tessera {

// The marker that no game folder is known; compared exactly.
inline constexpr std::string_view kNotFound = "[NOT FOUND]";

// Where the game folder is stored: application kProgramTitle, this section and key.
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kGTA3PathKey = "GTA3Path";

// The built-in stock list: its type and identifier, and how many files it names.
inline constexpr std::string_view kStockListType = "CUSTOM";
inline constexpr int kStockListId = 101;
inline constexpr std::size_t kStockFileCount = 389;

// The stock list's bytes as built into the program (registered as CUSTOM 101 as well).
std::span<const std::byte> StockListBytes();

// One stock file of the game.
class clsFile {
public:
    void sFullPath(std::string value) { sFullPath_ = std::move(value); }
    const std::string& sFullPath() const noexcept { return sFullPath_; }
    void sPath(std::string value) { sPath_ = std::move(value); }
    const std::string& sPath() const noexcept { return sPath_; }
    void sFileName(std::string value) { sFileName_ = std::move(value); }
    const std::string& sFileName() const noexcept { return sFileName_; }
    void sId(std::string value) { sId_ = std::move(value); }
    const std::string& sId() const noexcept { return sId_; }

private:
    std::string sFullPath_;
    std::string sPath_;
    std::string sFileName_;
    std::string sId_;
};

using StockCollection = KeyedCollection<clsFile>;

// The path up to and including its last backslash; empty when it holds none.
std::string GetFolder(std::string_view path);

// Whether the collection holds an element under key; never fails.
template <class T>
bool IsInCollection(const std::string& key, const KeyedCollection<T>& collection)
{
    try {
        collection.Fetch(key);
        return true;
    } catch (const TesseraError&) {
        return false;
    }
}

// The module state of modMain: the game folder text and the catalogue built under it.
class modMain {
public:
    explicit modMain(ISettingsStore& store);

    std::string sGTA3Path;
    // Shared so that an install keeps the catalogue it started with while the user rebuilds it.
    std::shared_ptr<StockCollection> colStockFiles;

    // colStockFiles, created empty on first use.
    StockCollection& StockFiles();

    void LoadSettings();
    void SaveSettings();
    void LoadStockList();
    // The same build from a list given as bytes (lines separated by CR LF).
    void LoadStockList(std::span<const std::byte> listBytes);

private:
    ISettingsStore& store_;
};

} // namespace tessera
