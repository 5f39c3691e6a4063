// Byte-text helpers: names are single-byte characters, letter case folds only for ASCII.
#pragma once

#include <string>
#include <string_view>

namespace tessera {

inline char LowerAsciiChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string LowerAscii(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = LowerAsciiChar(c);
    return r;
}

inline std::string UpperAscii(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = UpperAsciiChar(c);
    return r;
}

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i]))
            return false;
    return true;
}

// Ascending order of name with ASCII letter case ignored; ties broken by the bytes so the
// order is total.
inline bool LessIgnoreCase(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(LowerAsciiChar(a[i]));
        const auto y = static_cast<unsigned char>(LowerAsciiChar(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

// Leading and trailing spaces (code 32 only) removed.
inline std::string TrimSpaces(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(' ');
    return std::string(s.substr(first, last - first + 1));
}

inline bool EndsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

} // namespace tessera
