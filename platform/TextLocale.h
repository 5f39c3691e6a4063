// The character set that libraries converting names (libarchive) assume for narrow texts, and
// the program's narrow texts as UTF-8 for what is read by other programs (JSON).
#pragma once

#include <string>
#include <string_view>

namespace tessera {

// A name or path as this system's narrow texts hold it, in UTF-8: on Windows from the ANSI code
// page; elsewhere names are UTF-8 already, and a byte that is no part of a UTF-8 character is
// taken as Latin-1 (an archive name written on Windows), so the result is always valid UTF-8.
std::string ToUtf8(std::string_view text);

// While alive, this thread's narrow texts are UTF-8 whatever the process locale is, so names
// stored in UTF-8 come back as they are instead of failing to convert to the "C" locale's
// ASCII. On Windows, where names are converted through wide characters, it does nothing.
class ScopedUtf8Locale {
public:
    ScopedUtf8Locale();
    ~ScopedUtf8Locale();
    ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
    ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

private:
    void* locale_ = nullptr;     // the UTF-8 locale, made once for the process
    void* previous_ = nullptr;   // the thread's locale before it
};

} // namespace tessera
