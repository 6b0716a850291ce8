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
    return font;
}

QFont dialogFont()
{
    return songtiFont(12);
}

} // namespace kuvona
