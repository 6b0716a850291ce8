#include "platform/text_compare.h"

#include <QCollator>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <utility>
#include <vector>

#include "common/gbk.h"
#include "platform/text_sort_key.h"

namespace kuvona {
namespace {

QLocale comparisonLocale()
{
    const QLocale system = QLocale::system();
    // The C locale would compare code points, which is byte order in disguise.
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Chinese, QLocale::China);
    return system;
}

const QCollator& collator()
{
    static const QCollator instance = [] {
        QCollator c(comparisonLocale());
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return instance;
}

// The character of every double-byte code, 0 where GBK assigns none, decoded in one pass: each code
// is followed by a line feed, which no decoding error can swallow.
std::vector<char32_t> doubleByteCharacters()
{
    std::string codes;
    codes.reserve(DoubleByteWeights::kCount * 3);
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            if (DoubleByteWeights::isTrail(static_cast<unsigned char>(trail)))
                codes.append({static_cast<char>(lead), static_cast<char>(trail), '\n'});
    const QStringList decoded = QString::fromStdString(utf8FromGbk(codes)).split(QLatin1Char('\n'));
    std::vector<char32_t> characters(DoubleByteWeights::kCount, 0);
    for (std::size_t i = 0; i < characters.size() && i < static_cast<std::size_t>(decoded.size()); ++i) {
        const QList<uint> ucs4 = decoded[static_cast<qsizetype>(i)].toUcs4();
        if (ucs4.size() == 1 && ucs4[0] != 0xFFFD)
            characters[i] = ucs4[0];
    }
    return characters;
}

enum class Group
{
    WideSymbol,
    AccentedLatin,
    OtherScript,
    Han,
    Unassigned,
};

struct Member
{
    std::size_t index;
    char32_t character;
    Group group;
};

// The ASCII letter an accented Latin letter is built on (ǎ: a), or 0.
char32_t latinBase(char32_t c)
{
    if (QChar::script(c) != QChar::Script_Latin)
        return 0;
    const QString decomposition = QChar::decomposition(c);
    if (decomposition.isEmpty())
        return 0;
    const char16_t base = decomposition[0].unicode();
    return (base >= u'a' && base <= u'z') || (base >= u'A' && base <= u'Z') ? base : 0;
}

DoubleByteWeights buildWeights()
{
    DoubleByteWeights table;
    const std::vector<char32_t> characters = doubleByteCharacters();
    std::vector<Member> members;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char32_t c = characters[i];
        // The full-width forms and the ideographic space are their ASCII twins, wider.
        if (c == 0x3000 || (c >= 0xFF01 && c <= 0xFF5E)) {
            CharWeights w = asciiWeights(static_cast<unsigned char>(c == 0x3000 ? ' ' : c - 0xFEE0));
            w.variant += 1;
            table.at(i) = w;
            continue;
        }
        Group group = Group::WideSymbol;
        if (c == 0)
            group = Group::Unassigned;
        else if (QChar::script(c) == QChar::Script_Han)
            group = Group::Han;
        else if (latinBase(c))
            group = Group::AccentedLatin;
        else if (QChar::isLetterOrNumber(c))
            group = Group::OtherScript;
        members.push_back({i, c, group});
    }

    // Within a group the locale's collation decides; the code decides what it leaves equal.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(members.size());
    for (const Member& m : members)
        keys.push_back(collator().sortKey(m.character ? QString::fromUcs4(&m.character, 1) : QString()));
    std::vector<std::size_t> order(members.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (members[a].group != members[b].group)
            return members[a].group < members[b].group;
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : members[a].index < members[b].index;
    });

    // The primary weights of each group, first and last, in the order of Group; an accented Latin
    // letter takes its letter's.
    // clang-format off
    static constexpr std::pair<std::size_t, std::size_t> range[] = {
        {weights::kWideSymbols,  weights::kDigits - 1},
        {0,                      0},
        {weights::kOtherScripts, weights::kHan - 1},
        {weights::kHan,          weights::kUnassigned - 1},
        {weights::kUnassigned,   weights::kStrayByte - 1},
    };
    // clang-format on
    std::size_t rank = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const Member& m = members[order[k]];
        rank = k > 0 && members[order[k - 1]].group == m.group ? rank + 1 : 0;
        CharWeights w;
        if (m.group == Group::AccentedLatin) {
            // An accented letter sorts with its letter; the accent counts on the second level.
            w = asciiWeights(static_cast<unsigned char>(latinBase(m.character)));
            w.diacritic = static_cast<std::uint16_t>(std::min<std::size_t>(rank + 1, 0xFFF0));
        } else {
            const auto [first, last] = range[static_cast<std::size_t>(m.group)];
            w.primary = static_cast<std::uint16_t>(std::min(first + rank, last));
        }
        table.at(m.index) = w;
    }
    return table;
}

} // namespace

const DoubleByteWeights& localeDoubleByteWeights()
{
    static const DoubleByteWeights table = buildWeights();
    return table;
}

int compareTextsLinguistic(const std::string& a, const std::string& b)
{
    const DoubleByteWeights& table = localeDoubleByteWeights();
    return compareTextSortKeys(textSortKey(a, table), textSortKey(b, table));
}

LinguisticKey::LinguisticKey(const std::string& text) : m_key(textSortKey(text, localeDoubleByteWeights())) {}

int LinguisticKey::compare(const LinguisticKey& other) const
{
    return compareTextSortKeys(m_key, other.m_key);
}

QString linguisticLocaleName()
{
    return collator().locale().name();
}

} // namespace kuvona
