#include "platform/mouse.h"

#include <QGuiApplication>

namespace kuvona {

bool leftMouseButtonDown()
{
    return QGuiApplication::mouseButtons() & Qt::LeftButton;
}

} // namespace kuvona
