#include "app/about_window.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

#include "app/globals.h"
#include "common/hosts.h"
#include "common/open_url.h"
#include "platform/ui_text.h"
#include "platform/window_place.h"

namespace kuvona {
namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QPixmap aboutPicture()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(214, 160, 90));
    p.setPen(QPen(QColor(120, 80, 30), 2));
    p.drawRoundedRect(QRectF(4, 12, 40, 30), 4, 4);
    p.drawLine(24, 12, 24, 42);
    p.drawLine(4, 24, 44, 24);
    return pixmap;
}

// A bordered text whose lines are as tall as the font's em square, as a 宋体 label draws them; a
// fallback font's taller default spacing would push the change log out of the frame.
class CreditsLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QFrame::paintEvent(event); // the border only
        QTextDocument doc;
        doc.setDefaultFont(font());
        doc.setDocumentMargin(0);
        doc.setTextWidth(contentsRect().width() - 2);
        doc.setPlainText(text());
        for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
            QTextCursor cursor(block);
            QTextBlockFormat format = block.blockFormat();
            format.setLineHeight(fontInfo().pixelSize() + 1, QTextBlockFormat::FixedHeight);
            cursor.setBlockFormat(format);
        }
        QPainter painter(this);
        const QRect area = contentsRect();
        const qreal top = area.top() + std::max<qreal>(0, (area.height() - doc.size().height()) / 2);
        painter.translate(area.left() + 1, top);
        doc.drawContents(&painter);
    }
};

} // namespace

QString AboutWindow::creditsText()
{
    const QString indent(11, QLatin1Char(' '));
    const QString host = QString::fromStdString(homepageHost());
    QStringList lines;
    lines << QString(13, QLatin1Char(' '));
    lines << indent + q("作    者 : Tamsor");
    lines << indent + q("编译日期 : 2014.3.5");
    lines << indent + q("主    页 : ") + host;
    lines << QString() << q("更新记录:") << QString();
    lines << q("采用全新搜索引擎-爱查快递，查询速度更快更稳定。结果输出采用列表方式，更加美观简洁。");
    lines << QString();
    lines << q("目前支持21个快递查询，根据需求会逐步增加。");
    lines << QString();
    lines << q("NM，都2014年了，我能说上次更新还是2012年吗，2年才更新一次，2年啊，责任，你有没有啊。");
    return lines.join(q("\r\n"));
}

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(q("AboutWindow"));
    setWindowTitle(q("关于Kuvona"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Client area of a 430 x 296 frame.
    setFixedSize(422, 262);
    centreOnScreen(this);

    auto* picture = new QLabel(this);
    picture->setObjectName(q("图片框1"));
    picture->setGeometry(16, 46, 48, 48);
    picture->setPixmap(aboutPicture());

    auto* homepage = new QPushButton(q("访问主页(&H)"), this);
    homepage->setObjectName(q("访问主页"));
    homepage->setGeometry(250, 232, 80, 28);
    homepage->setAutoDefault(false);

    auto* close = new QPushButton(q("关闭(&C)"), this);
    close->setObjectName(q("关闭按钮"));
    close->setGeometry(336, 232, 80, 28);
    close->setDefault(true);

    auto* credits = new CreditsLabel(this);
    credits->setObjectName(q("标签1"));
    credits->setGeometry(9, 32, 407, 192);
    credits->setFrameShape(QFrame::Box);
    credits->setFrameShadow(QFrame::Plain);
    credits->setWordWrap(true);
    credits->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // CR LF pairs would show as two breaks in a label; the text keeps them, the label shows lines.
    credits->setText(creditsText().replace(q("\r\n"), q("\n")));

    auto* title = new QLabel(this);
    title->setObjectName(q("标签3"));
    title->setGeometry(13, 6, 352, 24);
    title->setWordWrap(true);
    title->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette pal = title->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    title->setPalette(pal);
    // onAboutWindowCreated: the title line is the main window's caption.
    title->setText(toQString("Kuvona v" + appVersion + captionSuffix));
    title->setAccessibleName(title->text());

    picture->raise(); // the picture sits inside the credits frame, left of the indented lines

    connect(homepage, &QPushButton::clicked, this, [] { openUrl(homepageUrl()); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(close, homepage);
    close->setFocus();
}

void AboutWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Without a window manager nothing else would make the new window the active one.
    activateWindow();
    findChild<QPushButton*>(QStringLiteral("关闭按钮"))->setFocus();
}

void showAboutWindow(QWidget* parent)
{
    AboutWindow window(parent);
    window.exec();
}

} // namespace kuvona
