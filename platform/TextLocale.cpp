// The UTF-8 locale for name conversions, per thread (POSIX uselocale).
#include "TextLocale.h"

#ifndef _WIN32
#include <clocale>
#include <initializer_list>
#include <locale.h>
#endif

namespace tessera {

#ifndef _WIN32

namespace {

// Made once: loading a locale costs more than reading a small archive. Only the character set
// differs from the process locale, which the desktop program set at its start: the window's
// events that run while an archive is read see the same numbers and messages as ever.
locale_t Utf8Locale()
{
    static const locale_t utf8 = [] {
        for (const char* name : {"C.UTF-8", "en_US.UTF-8"}) {
            const locale_t base = duplocale(LC_GLOBAL_LOCALE);
            if (!base)
                return base;
            if (const locale_t l = newlocale(LC_CTYPE_MASK, name, base))
                return l;
            freelocale(base);
        }
        return static_cast<locale_t>(0);
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
