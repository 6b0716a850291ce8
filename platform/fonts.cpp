#include "platform/fonts.h"

#include <QStringList>

namespace kuvona {

QFont songtiFont(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QString::fromUtf8("宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans Mono CJK SC")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    // The font's own hinting, as the system draws 宋体: crisp at 12 and 16 pixels, and it spares
    // the auto-hinter's tables (2 MB of a start-up's memory with the fallback font).
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QFont dialogFont()
{
    return songtiFont(12);
}

} // namespace kuvona
