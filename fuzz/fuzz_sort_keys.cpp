// Sort keys of cell texts: any text reads as a date-time within the supported range (or the
// earliest one), compares equal to itself and consistently in both directions, and gives a key
// in every mode.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "saved/sort_keys.h"

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
    return 0;
}
