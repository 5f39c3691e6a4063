// The error type shared by all layers.
#include "Error.h"

#include <cstdint>
#include <limits>
#include <string>

namespace tessera {

const char* KindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileNotFound: return "File not found";
    case ErrorKind::PathNotFound: return "Path not found";
    case ErrorKind::AccessDenied: return "Access denied";
    case ErrorKind::DiskFull: return "Disk full";
    case ErrorKind::Overflow: return "Overflow";
    case ErrorKind::BadPackage: return "Damaged package";
    case ErrorKind::UnsafeName: return "Unsafe package";
    case ErrorKind::BadArchive: return "Damaged archive";
    case ErrorKind::EmptyFile: return "Empty file";
    case ErrorKind::DuplicateKey: return "Duplicate key";
    case ErrorKind::KeyNotFound: return "Key not found";
    case ErrorKind::InvalidArgument: return "Invalid argument";
    case ErrorKind::AlreadyExists: return "Already exists";
    case ErrorKind::Io: return "I/O error";
    }
    return "Error";
}

namespace {

// what() is read up to its first NUL: one inside a name (a setting, a path) is shown, not
// allowed to cut the message off.
std::string NulsShown(std::string message)
{
    for (std::size_t at = message.find('\0'); at != std::string::npos; at = message.find('\0', at + 4))
        message.replace(at, 1, "\\x00");
    return message;
}

} // namespace

TesseraError::TesseraError(ErrorKind kind, const std::string& message, std::string path)
    : std::runtime_error(NulsShown(message)), kind_(kind), path_(std::move(path))
{
}

std::int32_t CheckedInt32(long long value, const std::string& what)
{
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw TesseraError(ErrorKind::Overflow, "Overflow: " + what);
    return static_cast<std::int32_t>(value);
}

} // namespace tessera
