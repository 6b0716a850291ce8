// Sort keys of cell texts: any text reads as a date-time within the supported range (or the
// earliest one), compares equal to itself and consistently in both directions, and gives a key
// in every mode. The text comparison of the column sort is a strict weak ordering on any three
// texts (irreflexive, antisymmetric, transitive, equality transitive too), whatever their bytes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text_sort_key.h"
#include "saved/sort_keys.h"

namespace {

// A table with every kind of entry the locale's can hold: characters that count for nothing,
// characters sharing a weight, accents, case and width, hyphen-like specials.
const kuvona::DoubleByteWeights& fuzzTable()
{
    static const kuvona::DoubleByteWeights table = [] {
        kuvona::DoubleByteWeights t;
        for (std::size_t i = 0; i < kuvona::DoubleByteWeights::kCount; ++i) {
            const auto h = static_cast<std::uint32_t>(i * 2654435761u);
            const bool ignored = h % 11 == 0;
            t.at(i) = {static_cast<std::uint16_t>(ignored ? 0 : 0x10 + (h >> 16) % 400),
                       static_cast<std::uint16_t>((h >> 8) % 3), static_cast<std::uint16_t>((h >> 4) % 4),
                       static_cast<std::uint16_t>(ignored ? (h >> 12) % 3 : 0)};
        }
        return t;
    }();
    return table;
}

int compareTexts(std::string_view a, std::string_view b)
{
    return kuvona::compareTextSortKeys(kuvona::textSortKey(a, fuzzTable()),
                                       kuvona::textSortKey(b, fuzzTable()));
}

void checkTextOrder(const std::uint8_t* data, std::size_t size)
{
    // The first two bytes cut the rest into three texts.
    if (size < 2)
        return;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t n1 = data[0] % (rest.size() + 1);
    const std::size_t n2 = data[1] % (rest.size() - n1 + 1);
    const std::array<std::string_view, 3> t = {rest.substr(0, n1), rest.substr(n1, n2), rest.substr(n1 + n2)};
    int c[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            c[i][j] = compareTexts(t[static_cast<std::size_t>(i)], t[static_cast<std::size_t>(j)]);
    for (int i = 0; i < 3; ++i) {
        if (c[i][i] != 0)
            std::abort();
        for (int j = 0; j < 3; ++j) {
            if (c[i][j] != -c[j][i] || c[i][j] < -1 || c[i][j] > 1)
                std::abort();
            for (int k = 0; k < 3; ++k) {
                // x <= y <= z gives x <= z, and x < z as soon as one step is strict.
                if (c[i][j] <= 0 && c[j][k] <= 0 &&
                    (c[i][k] > 0 || ((c[i][j] < 0 || c[j][k] < 0) && c[i][k] == 0)))
                    std::abort();
            }
        }
    }
    // A text ends at its first zero byte, as a C string does.
    const std::string withTail = std::string(t[0]) + '\0' + std::string(t[1]);
    if (compareTexts(withTail, t[0].substr(0, t[0].find('\0'))) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double t = kuvona::textToDateTime(text);
    // Within a day of the earliest and the latest day: before 1899-12-30 the time of day counts
    // away from zero, so 0100-01-01 23:59:59 lies just under a day below the earliest day.
    if (!std::isfinite(t) || t <= kuvona::kEarliestDateTime - 1 || t >= kuvona::kLatestDateTime + 1)
        std::abort();
    if (kuvona::compareDateTimes(t, t) != 0)
        std::abort();
    const std::size_t half = size / 2;
    const double u = kuvona::textToDateTime(text.substr(0, half));
    if (kuvona::compareDateTimes(t, u) != -kuvona::compareDateTimes(u, t))
        std::abort();
    for (std::int32_t mode = 0; mode <= 5; ++mode)
        (void)kuvona::sortKeyOf(text, kuvona::sortModeOf(mode));
    checkTextOrder(data, size);
    return 0;
}
