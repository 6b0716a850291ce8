#pragma once

// The keys the column sort of a list compares, without any toolkit: the sort modes, the key of a
// cell text in each mode, and the date-time reading of a text.

#include <cstdint>
#include <string>

namespace kuvona {

enum class SortMode : std::int32_t
{
    ByText = 1,
    ByDateTime = 2,
    ByInteger = 3,
    ByDecimal4 = 4,
};

// Any value outside 1..4 sorts as text.
SortMode sortModeOf(std::int32_t mode);

// The key of a cell text: the text itself for ByText and ByDateTime; numberToText(textToNumber(text))
// for ByInteger and numberToText(textToNumber(text) * 10000) for ByDecimal4.
std::string sortKeyOf(const std::string& cellText, SortMode mode);

// An OLE Automation date: days since 1899-12-30 00:00 with the time of day as the fraction; for
// earlier days the integer part is negative and the fraction still counts forward (-1.25 is
// 1899-12-29 06:00).
constexpr double kEarliestDateTime = -657434.0; // 0100-01-01 00:00
constexpr double kLatestDateTime = 2958465.0;   // 9999-12-31 00:00

// Reads year, month, day, hour, minute and second (1-4 digits for the year, 1-2 for the others),
// each followed by an optional separator ("-", ".", "/", ":" or 年/月/日/时/分, a blank after the
// day); a missing number counts as 0, and after the second the text ends or goes on with 秒.
// Full-width characters count as their half-width twins. Anything else, and a part out of range,
// gives kEarliestDateTime.
double textToDateTime(const std::string& text);

// 1, -1 or 0 as `a` is later than, earlier than or the same moment as `b`, after clamping both to
// kEarliestDateTime..kLatestDateTime.
int compareDateTimes(double a, double b);

// -1, 0 or 1 as `a` is less than, equal to or greater than `b`, for any two 32-bit values.
int compareIntegers(std::int32_t a, std::int32_t b);

} // namespace kuvona
