#pragma once

// Finding the message box a worker has put on screen (such boxes are top-level and non-modal).

#include <QApplication>
#include <QMessageBox>

namespace kuvona::test {

inline QMessageBox* visibleMessageBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

} // namespace kuvona::test
