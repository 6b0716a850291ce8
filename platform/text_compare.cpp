#include "platform/text_compare.h"

#include <QCollator>
#include <QLocale>

#include "platform/ui_text.h"

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

} // namespace

int compareTextsLinguistic(const std::string& a, const std::string& b)
{
    const int result = collator().compare(toQString(a), toQString(b));
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

LinguisticKey::LinguisticKey(const std::string& text) : m_key(collator().sortKey(toQString(text))) {}

QString linguisticLocaleName()
{
    return collator().locale().name();
}

} // namespace kuvona
