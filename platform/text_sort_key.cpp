#include "platform/text_sort_key.h"

#include <algorithm>

namespace kuvona {
namespace {

// Windows puts the math signs after the other symbols, and the line-breaking blanks before the space.
constexpr std::string_view kSymbolOrder = "\t\n\v\f\r !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";

// Lower than every weight: ends a level, so that a text sorts before the longer texts it begins.
constexpr char16_t kLevelEnd = 1;

char16_t unit(std::size_t weight)
{
    return static_cast<char16_t>(std::min<std::size_t>(weight, 0xFFFF));
}

// Calls `visit(weights, position)` for each character of `text`, position counting characters.
template <typename Visit>
void forEachCharacter(std::string_view text, const DoubleByteWeights& table, Visit visit)
{
    std::size_t position = 0;
    for (std::size_t i = 0; i < text.size(); ++position) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            visit(asciiWeights(b), position);
            ++i;
        } else if (DoubleByteWeights::isLead(b) && i + 1 < text.size() &&
                   DoubleByteWeights::isTrail(static_cast<unsigned char>(text[i + 1]))) {
            visit(table.at(DoubleByteWeights::indexOf(b, static_cast<unsigned char>(text[i + 1]))), position);
            i += 2;
        } else {
            visit(CharWeights{static_cast<std::uint16_t>(weights::kStrayByte + b), 0, 0, 0}, position);
            ++i;
        }
    }
}

} // namespace

CharWeights asciiWeights(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return {static_cast<std::uint16_t>(weights::kDigits + (c - '0')), 0, 0, 0};
    if (c >= 'a' && c <= 'z')
        return {static_cast<std::uint16_t>(weights::kLatin + (c - 'a')), 0, 0, 0};
    if (c >= 'A' && c <= 'Z')
        return {static_cast<std::uint16_t>(weights::kLatin + (c - 'A')), 0, 2, 0};
    if (c == '\'')
        return {0, 0, 0, 1};
    if (c == '-')
        return {0, 0, 0, 2};
    const std::size_t symbol = kSymbolOrder.find(static_cast<char>(c));
    if (c != 0 && symbol != std::string_view::npos)
        return {static_cast<std::uint16_t>(weights::kSymbols + symbol), 0, 0, 0};
    return {};
}

std::u16string textSortKey(std::string_view gbkText, const DoubleByteWeights& table)
{
    const std::string_view text = gbkText.substr(0, gbkText.find('\0'));
    std::u16string key;
    key.reserve(text.size() * 3 + 3);
    forEachCharacter(text, table, [&](const CharWeights& w, std::size_t) {
        if (w.primary != 0)
            key += static_cast<char16_t>(w.primary);
    });
    key += kLevelEnd;
    forEachCharacter(text, table, [&](const CharWeights& w, std::size_t) {
        if (w.primary != 0)
            key += unit(w.diacritic + 2u);
    });
    key += kLevelEnd;
    forEachCharacter(text, table, [&](const CharWeights& w, std::size_t) {
        if (w.primary != 0)
            key += unit(w.variant + 2u);
    });
    key += kLevelEnd;
    forEachCharacter(text, table, [&](const CharWeights& w, std::size_t position) {
        if (w.primary == 0 && w.special != 0) {
            key += unit(position + 2);
            key += static_cast<char16_t>(w.special);
        }
    });
    return key;
}

} // namespace kuvona
