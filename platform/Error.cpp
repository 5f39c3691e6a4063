// The error type shared by all layers.
#include "Error.h"

#include <cstdint>
#include <limits>

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

TesseraError::TesseraError(ErrorKind kind, const std::string& message, std::string path)
    : std::runtime_error(message), kind_(kind), path_(std::move(path))
{
}

std::int32_t CheckedInt32(long long value, const std::string& what)
{
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw TesseraError(ErrorKind::Overflow, "Overflow: " + what);
    return static_cast<std::int32_t>(value);
}

} // namespace tessera
