#include "common/text.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <locale.h>

namespace kuvona {
namespace {

bool isLeadByte(unsigned char c)
{
    return c >= 0x80;
}

unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool matchesAt(std::string_view text, std::size_t at, std::string_view sought, bool ignoreCase)
{
    if (text.size() - at < sought.size())
        return false;
    for (std::size_t k = 0; k < sought.size(); ++k) {
        auto a = static_cast<unsigned char>(text[at + k]);
        auto b = static_cast<unsigned char>(sought[k]);
        if (ignoreCase ? foldAscii(a) != foldAscii(b) : a != b)
            return false;
    }
    return true;
}

// The number parsers follow the C rules regardless of the user's locale, which the toolkit installs
// for the whole process: a German desktop must not turn "2.1" into 2.
locale_t cLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

} // namespace

int findText(std::string_view text, std::string_view sought, int start, bool ignoreCase)
{
    const auto length = static_cast<long long>(text.size());
    long long from = start <= 1 ? 0 : static_cast<long long>(start) - 1;
    if (from >= length)
        return -1;
    if (sought.empty())
        return 1;
    auto i = static_cast<std::size_t>(from);
    while (i < text.size()) {
        if (matchesAt(text, i, sought, ignoreCase))
            return static_cast<int>(i + 1);
        if (isLeadByte(static_cast<unsigned char>(text[i]))) {
            if (i + 1 >= text.size())
                break; // lead byte cut off by the end of the text
            i += 2;
        } else {
            i += 1;
        }
    }
    return -1;
}

std::string textLeft(std::string_view text, int n)
{
    if (n <= 0)
        return {};
    return std::string(text.substr(0, static_cast<std::size_t>(n)));
}

std::string textRight(std::string_view text, int n)
{
    if (n <= 0)
        return {};
    auto count = std::min(text.size(), static_cast<std::size_t>(n));
    return std::string(text.substr(text.size() - count));
}

int textLength(std::string_view text)
{
    return static_cast<int>(text.size());
}

std::string trimBlanks(std::string_view text)
{
    // Split into character units first so a trailing A1 A1 is only recognised on a unit boundary.
    std::size_t begin = 0;
    std::size_t end = 0;      // end of the last non-blank unit
    bool seenContent = false; // a non-blank unit has been met
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t unit = 1;
        bool blank = c == ' ';
        if (isLeadByte(c)) {
            if (i + 1 >= text.size())
                break; // a lone lead byte at the very end is dropped
            unit = 2;
            blank = c == 0xA1 && static_cast<unsigned char>(text[i + 1]) == 0xA1;
        }
        if (!blank) {
            if (!seenContent)
                begin = i;
            seenContent = true;
            end = i + unit;
        }
        i += unit;
    }
    if (!seenContent)
        return {};
    return std::string(text.substr(begin, end - begin));
}

std::string bytesToText(std::string_view bytes)
{
    auto zero = bytes.find('\0');
    return std::string(zero == std::string_view::npos ? bytes : bytes.substr(0, zero));
}

std::string integerToText(std::int32_t value)
{
    return std::to_string(value);
}

std::string halfWidth(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!isLeadByte(c) || i + 1 >= text.size()) {
            out.push_back(text[i]);
            ++i;
            continue;
        }
        const auto t = static_cast<unsigned char>(text[i + 1]);
        if (c == 0xA3 && t >= 0xA1 && t <= 0xFE)
            out.push_back(static_cast<char>(t - 0x80));
        else if (c == 0xA1 && t == 0xA1)
            out.push_back(' ');
        else if (c == 0xA1 && t == 0xAB)
            out.push_back('~');
        else if (c == 0xA1 && (t == 0xEE || t == 0xEF))
            out.push_back('*');
        else
            out.append(text.substr(i, 2));
        i += 2;
    }
    return out;
}

double textToNumber(std::string_view text)
{
    const std::string s = bytesToText(halfWidth(text));
    return strtod_l(s.c_str(), nullptr, cLocale());
}

std::int32_t textToInteger(std::string_view text)
{
    const std::string s = bytesToText(halfWidth(text));
    const long long v = strtoll_l(s.c_str(), nullptr, 10, cLocale());
    return static_cast<std::int32_t>(std::clamp<long long>(v, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

std::string numberToText(double value)
{
    const locale_t previous = uselocale(cLocale());
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", value);
    uselocale(previous);
    return buffer;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (isLeadByte(x)) {
            // A trail byte may fall in the ASCII letter range; it must compare exactly.
            if (x != y || (i + 1 < a.size() && a[i + 1] != b[i + 1]))
                return false;
            ++i;
            continue;
        }
        if (foldAscii(x) != foldAscii(y))
            return false;
    }
    return true;
}

} // namespace kuvona
