#pragma once

// The order in which Windows' lstrcmpA compares texts, on GBK bytes and without a toolkit.
//
// A text is compared level by level: first the letters, digits and symbols alone (symbols before
// digits, digits before Latin letters, letters without regard to case, Latin before the other
// scripts and those before Chinese characters), then accents, then case and width (lower case and
// half width first), and last the hyphens and apostrophes, which the first three levels leave out:
// "co-op" sorts next to "coop", after it. Control characters other than blanks count for nothing.
// Where a double-byte character goes is given by a table that the caller fills for the user's
// locale (text_compare.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kuvona {

struct CharWeights
{
    std::uint16_t primary = 0;   // 0: the character counts for nothing
    std::uint16_t diacritic = 0; // 0: no accent
    std::uint16_t variant = 0;   // case and width: 0 lower case, half width
    std::uint16_t special = 0;   // nonzero for hyphen and apostrophe, which have no primary weight
};

// Ranges of primary weights, in the order of the groups.
namespace weights {
inline constexpr std::uint16_t kSymbols = 0x0010;      // blanks and ASCII punctuation
inline constexpr std::uint16_t kWideSymbols = 0x0100;  // other punctuation and symbols
inline constexpr std::uint16_t kDigits = 0x2000;       // 0-9
inline constexpr std::uint16_t kLatin = 0x2100;        // a-z, any case, any accent
inline constexpr std::uint16_t kOtherScripts = 0x2200; // Greek, Cyrillic, kana, ...
inline constexpr std::uint16_t kHan = 0x4000;          // Chinese characters
inline constexpr std::uint16_t kUnassigned = 0xE000;   // double-byte codes GBK leaves unassigned
inline constexpr std::uint16_t kStrayByte = 0xFF00;    // a byte that starts no character
} // namespace weights

// The weights of a single-byte (ASCII) character.
CharWeights asciiWeights(unsigned char c);

// The weights of every double-byte code: a lead byte 0x81-0xFE followed by a trail byte 0x40-0x7E
// or 0x80-0xFE. All zero until filled.
class DoubleByteWeights
{
public:
    static constexpr std::size_t kCount = 126 * 190;
    static bool isLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
    static bool isTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }
    // The index of a lead and a trail byte, 0 .. kCount - 1.
    static std::size_t indexOf(unsigned char lead, unsigned char trail)
    {
        return static_cast<std::size_t>(lead - 0x81) * 190 + trail - 0x40 - (trail > 0x7F ? 1 : 0);
    }

    CharWeights& at(std::size_t index) { return m_weights[index]; }
    const CharWeights& at(std::size_t index) const { return m_weights[index]; }

private:
    std::vector<CharWeights> m_weights = std::vector<CharWeights>(kCount);
};

// The key of a text up to its first zero byte: two keys compare as strings of 16-bit units in the
// order of their texts. Built once per text, so that a sort does no work per comparison beyond that.
std::u16string textSortKey(std::string_view gbkText, const DoubleByteWeights& table);

// -1, 0 or 1 as key `a` sorts before, with or after key `b`.
inline int compareTextSortKeys(const std::u16string& a, const std::u16string& b)
{
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace kuvona
