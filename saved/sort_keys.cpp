#include "saved/sort_keys.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/gbk.h"
#include "common/text.h"

namespace kuvona {
namespace {

struct Cursor
{
    std::string_view text;
    std::size_t at = 0;

    // Up to `maxDigits` ASCII digits; 0 when there are none.
    int number(int maxDigits)
    {
        int value = 0;
        for (int i = 0; i < maxDigits && at < text.size() && text[at] >= '0' && text[at] <= '9'; ++i)
            value = value * 10 + (text[at++] - '0');
        return value;
    }

    // One separator, when one of `ascii` or the double-byte `word` follows.
    void separator(std::string_view ascii, const std::string& word)
    {
        if (at < text.size() && ascii.find(text[at]) != std::string_view::npos)
            ++at;
        else if (text.substr(at, word.size()) == word)
            at += word.size();
    }
};

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

SortMode sortModeOf(std::int32_t mode)
{
    return mode < 1 || mode > 4 ? SortMode::ByText : static_cast<SortMode>(mode);
}

std::string sortKeyOf(const std::string& cellText, SortMode mode)
{
    switch (mode) {
    case SortMode::ByInteger:
        return numberToText(textToNumber(cellText));
    case SortMode::ByDecimal4:
        return numberToText(textToNumber(cellText) * 10000);
    default:
        return cellText;
    }
}

double textToDateTime(const std::string& text)
{
    static const std::string year = gbk("年"), month = gbk("月"), day = gbk("日"), hour = gbk("时"),
                             minute = gbk("分"), second = gbk("秒");
    const std::string half = bytesToText(halfWidth(text));
    Cursor c{half};
    const int y = c.number(4);
    c.separator("-./:", year);
    const int mo = c.number(2);
    c.separator("-./:", month);
    const int d = c.number(2);
    c.separator(" -./:", day);
    const int h = c.number(2);
    c.separator("-./:", hour);
    const int mi = c.number(2);
    c.separator("-./:", minute);
    const int s = c.number(2);
    const std::string_view rest = c.text.substr(c.at);
    if (!rest.empty() && rest.substr(0, second.size()) != second)
        return kEarliestDateTime;
    if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 ||
        s > 59)
        return kEarliestDateTime;
    const auto days = static_cast<double>(
        daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - daysFromCivil(1899, 12, 30));
    const double time = (h * 3600 + mi * 60 + s) / 86400.0;
    return days < 0 ? days - time : days + time;
}

int compareDateTimes(double a, double b)
{
    // Before 1899-12-30 the fraction counts forward from a negative day, so the value is turned
    // into a plain count of days before it is compared.
    const auto linear = [](double v) {
        v = std::clamp(v, kEarliestDateTime, kLatestDateTime);
        return v < 0 ? 2 * std::trunc(v) - v : v;
    };
    const double x = linear(a), y = linear(b);
    return x > y ? 1 : x < y ? -1 : 0;
}

int compareIntegers(std::int32_t a, std::int32_t b)
{
    // Not a - b: that overflows for keys far apart.
    return a < b ? -1 : a > b ? 1 : 0;
}

} // namespace kuvona
