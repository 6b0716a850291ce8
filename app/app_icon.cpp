#include "app/app_icon.h"

#include <QString>

namespace kuvona {

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/io.github.kuvona.Kuvona.png").arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace kuvona
