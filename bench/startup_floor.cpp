// The floor for start-up: a Qt Widgets program that shows one empty main window and ends as soon
// as the window has been shown, the same way the measured program is made to end.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return QApplication::exec();
}
