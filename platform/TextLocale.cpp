// The UTF-8 locale for name conversions, per thread (POSIX uselocale).
#include "TextLocale.h"

#ifndef _WIN32
#include <clocale>
#include <locale.h>
#endif

namespace tessera {

#ifndef _WIN32

ScopedUtf8Locale::ScopedUtf8Locale()
{
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8)
        utf8 = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    if (!utf8)
        return;   // names that are not ASCII then fail to convert, and are refused as such
    locale_ = utf8;
    previous_ = uselocale(utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale()
{
    if (!locale_)
        return;
    uselocale(static_cast<locale_t>(previous_));
    freelocale(static_cast<locale_t>(locale_));
}

#else

ScopedUtf8Locale::ScopedUtf8Locale() = default;
ScopedUtf8Locale::~ScopedUtf8Locale() = default;

#endif

} // namespace tessera
