#pragma once

// The comparison of Windows' lstrcmpA on GBK texts for the user's locale: the order a user expects
// from a sorted list, not byte order (see text_sort_key.h). Case-sensitive on a tie (lower case
// first), digits compared as characters ("10" before "9"), Latin letters and digits before Chinese
// characters, which follow the locale's collation (pinyin for Chinese), and hyphens and apostrophes
// only breaking ties ("SF-1001" between "SF1000" and "SF1002").

#include <QString>
#include <string>

namespace kuvona {

class DoubleByteWeights;

// Negative, 0 or positive as `a` sorts before, with or after `b`.
int compareTextsLinguistic(const std::string& a, const std::string& b);

// A text prepared once for many comparisons (a sort); comparing two keys gives the same sign as
// compareTextsLinguistic on their texts, at a fraction of the cost.
class LinguisticKey
{
public:
    explicit LinguisticKey(const std::string& text);
    int compare(const LinguisticKey& other) const;

private:
    std::u16string m_key;
};

// The locale the comparison follows: the user's locale, or Chinese (China) when the user has none
// (the C/POSIX locale), since the program's texts are GBK.
QString linguisticLocaleName();

// Where each double-byte character goes in that locale; built on first use.
const DoubleByteWeights& localeDoubleByteWeights();

} // namespace kuvona
