#pragma once

// Linguistic comparison of GBK texts for the user's locale: the order a user expects from a sorted
// list, not byte order. Case-sensitive (lower case before upper case of the same letter), and digits
// are compared as characters, so "10" sorts before "9".

#include <QCollatorSortKey>
#include <string>

namespace kuvona {

// Negative, 0 or positive as `a` sorts before, with or after `b`.
int compareTextsLinguistic(const std::string& a, const std::string& b);

// A text prepared once for many comparisons (a sort); comparing two keys gives the same sign as
// compareTextsLinguistic on their texts, at a fraction of the cost.
class LinguisticKey
{
public:
    explicit LinguisticKey(const std::string& text);
    int compare(const LinguisticKey& other) const { return m_key.compare(other.m_key); }

private:
    QCollatorSortKey m_key;
};

// The locale the comparison follows: the user's locale, or Chinese (China) when the user has none
// (the C/POSIX locale), since the program's texts are GBK.
QString linguisticLocaleName();

} // namespace kuvona
