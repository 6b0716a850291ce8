#include "platform/xp_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace kuvona {

XpStyle::XpStyle(int scheme) : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), m_scheme(scheme)
{}

QColor XpStyle::frameColor(int scheme)
{
    switch (scheme) {
    case 2:
        return QColor(164, 185, 127);
    case 3:
        return QColor(198, 197, 215);
    default:
        return QColor(123, 158, 189);
    }
}

void XpStyle::polish(QPalette& palette)
{
    QProxyStyle::polish(palette);
    const QColor face(236, 233, 216); // the classic XP dialog face
    palette.setColor(QPalette::Window, face);
    palette.setColor(QPalette::Button, face);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(49, 106, 197));
}

void XpStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    if (element == PE_FrameLineEdit) {
        painter->save();
        painter->setPen(frameColor(m_scheme));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void XpStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                 const QWidget* widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control == CC_ComboBox) {
        painter->save();
        painter->setPen(frameColor(m_scheme));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
}

void enableXpStyle(int scheme)
{
    if (qobject_cast<XpStyle*>(QApplication::style()))
        return;
    QApplication::setStyle(new XpStyle(scheme));
}

} // namespace kuvona
