#pragma once

// The program's look for standard controls: a light, XP-like theme with three colour schemes.
// Switched on once for the whole application, it covers every window, present and later.

#include <QColor>
#include <QProxyStyle>

namespace kuvona {

class XpStyle : public QProxyStyle
{
    Q_OBJECT

public:
    explicit XpStyle(int scheme);

    int scheme() const { return m_scheme; }
    // The frame colour of edit and combo boxes in the given scheme (1 to 3).
    static QColor frameColor(int scheme);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    void polish(QPalette& palette) override;
    using QProxyStyle::polish;

private:
    int m_scheme;
};

// Installs XpStyle with the scheme for the application (once; later calls change nothing).
void enableXpStyle(int scheme);

} // namespace kuvona
