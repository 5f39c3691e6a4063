// The catalogue and the game-folder setting.
#include "modMain.h"

namespace tessera {

modMain::modMain(ISettingsStore& store) : store_(store) {}

StockCollection& modMain::StockFiles()
{
    if (!colStockFiles)
        colStockFiles = std::make_shared<StockCollection>();
    return *colStockFiles;
}

} // namespace tessera
