// The floor for start-up: a Qt Widgets program that shows one main window and ends as soon as the
// window has been shown, the same way the measured program is made to end. Built twice: empty, and
// (KUVONA_FLOOR_TEXT) with one line of Chinese text in the program's font, since any window with text
// pays for the font database and the Chinese font.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#ifdef KUVONA_FLOOR_TEXT
#include "platform/fonts.h"
#endif

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef KUVONA_FLOOR_TEXT
    QApplication::setFont(kuvona::dialogFont());
    window.setCentralWidget(new QLabel(QString::fromUtf8("请输入单号：快递查询"), &window));
#endif
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return QApplication::exec();
}
