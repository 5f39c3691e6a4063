// The UTF-8 locale for name conversions, per thread (POSIX uselocale), and texts to UTF-8.
#include "TextLocale.h"

#ifdef _WIN32
#include "Win32Text.h"
#endif

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

#ifndef _WIN32
namespace {

// The length of the UTF-8 character starting at text[at], or 0 when none starts there.
std::size_t Utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t n = 0;
    unsigned char min2 = 0x80, max2 = 0xBF;   // the second byte's range excludes overlong and surrogate forms
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        min2 = lead == 0xE0 ? 0xA0 : 0x80;
        max2 = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        min2 = lead == 0xF0 ? 0x90 : 0x80;
        max2 = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (at + n > text.size() || byte(at + 1) < min2 || byte(at + 1) > max2)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return n;
}

} // namespace
#endif

std::string ToUtf8(std::string_view text)
{
#ifdef _WIN32
    return win32::Narrow(win32::Wide(std::string(text)), CP_UTF8);
#else
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t n = Utf8Length(text, at)) {
            utf8.append(text.substr(at, n));
            at += n;
        } else {
            const unsigned char c = static_cast<unsigned char>(text[at++]);
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
#endif
}

} // namespace tessera
