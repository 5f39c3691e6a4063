// The character set that libraries converting names (libarchive) assume for narrow texts.
#pragma once

namespace tessera {

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
