// The registry of data built into the program.
#include "Error.h"
#include "Services.h"

#include <map>
#include <utility>

namespace tessera {

namespace {
std::map<std::pair<std::string, int>, std::span<const std::byte>>& Registry()
{
    static std::map<std::pair<std::string, int>, std::span<const std::byte>> registry;
    return registry;
}
} // namespace

void RegisterResData(int id, std::string_view type, std::span<const std::byte> bytes)
{
    Registry()[{std::string(type), id}] = bytes;
}

std::span<const std::byte> LoadResData(int id, std::string_view type)
{
    const auto it = Registry().find({std::string(type), id});
    if (it == Registry().end())
        throw TesseraError(ErrorKind::KeyNotFound, "Resource not found: " + std::string(type) + " " + std::to_string(id));
    return it->second;
}

} // namespace tessera
