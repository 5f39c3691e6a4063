// The one error type that every layer throws: a kind, a message and the path it concerns.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessera {

enum class ErrorKind {
    FileNotFound,
    PathNotFound,
    AccessDenied,
    DiskFull,
    Overflow,
    BadPackage,   // a package whose records do not fit its data file
    UnsafeName,   // a package entry whose name could write outside its folder
    BadArchive,   // a game archive whose files are not in the expected layout
    EmptyFile,
    DuplicateKey,
    KeyNotFound,
    InvalidArgument,
    AlreadyExists,   // a name that must be new is taken
    Io,
};

// A short human name for the kind, for messages ("File not found", "Overflow", ...).
const char* KindName(ErrorKind kind);

class TesseraError : public std::runtime_error {
public:
    TesseraError(ErrorKind kind, const std::string& message, std::string path = {});

    ErrorKind Kind() const noexcept { return kind_; }
    const std::string& Path() const noexcept { return path_; }

private:
    ErrorKind kind_;
    std::string path_;
};

// Signed 32-bit arithmetic that raises the overflow error instead of wrapping.
std::int32_t CheckedInt32(long long value, const std::string& what);

} // namespace tessera
