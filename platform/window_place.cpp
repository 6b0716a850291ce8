#include "platform/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kuvona {

void centreOnScreen(QWidget* window)
{
    const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    if (!window->isVisible() && parent && parent->isVisible()) {
        // The frame of a window not shown yet is unknown; the parent's is the best guess.
        const QRect outer = parent->frameGeometry();
        const QRect inner = parent->geometry();
        frame = window->geometry().marginsAdded(
            QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom()));
    }
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace kuvona
