// The UTF-8 locale for name conversions, per thread (POSIX uselocale).
#include "TextLocale.h"

#ifndef _WIN32
#include <clocale>
#include <locale.h>
#endif

namespace tessera {

#ifndef _WIN32

namespace {

// Made once: loading a locale costs more than reading a small archive.
locale_t Utf8Locale()
{
    static const locale_t utf8 = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    }();
    return utf8;
}

} // namespace

ScopedUtf8Locale::ScopedUtf8Locale()
{
    locale_t utf8 = Utf8Locale();
    if (!utf8)
        return;   // names that are not ASCII then fail to convert, and are refused as such
    locale_ = utf8;
    previous_ = uselocale(utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale()
{
    if (locale_)
        uselocale(static_cast<locale_t>(previous_));
}

#else

ScopedUtf8Locale::ScopedUtf8Locale() = default;
ScopedUtf8Locale::~ScopedUtf8Locale() = default;

#endif

} // namespace tessera
