// What an installed program shows outside its window: its command line, answered without a
// display, and the icon its windows carry.

#include <QApplication>
#include <QIcon>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/app_icon.h"
#include "app/main_window.h"
#include "platform/program_dir.h"

using namespace Qt::StringLiterals;

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void windowIcon();
};

void TestInstallation::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString usage = u"usage: kuvona [--version | --help]\n"_s;
    // clang-format off
    QTest::newRow("version")         << QStringList{u"--version"_s}             << 0 << u"Kuvona 2.1\n"_s << QString();
    QTest::newRow("help")            << QStringList{u"--help"_s}                << 0 << usage             << QString();
    QTest::newRow("unknown option")  << QStringList{u"--verbose"_s}             << 2 << QString()         << u"kuvona: unexpected argument '--verbose'\n"_s + usage;
    QTest::newRow("a file")          << QStringList{u"Danhao.edb"_s}            << 2 << QString()         << u"kuvona: unexpected argument 'Danhao.edb'\n"_s + usage;
    QTest::newRow("toolkit option")  << QStringList{u"-platform"_s, u"xcb"_s}   << 2 << QString()         << u"kuvona: unexpected argument '-platform'\n"_s + usage;
    QTest::newRow("version and more")<< QStringList{u"--version"_s, u"x"_s}     << 2 << QString()         << u"kuvona: unexpected argument 'x'\n"_s + usage;
    // clang-format on
}

// Without a display the toolkit cannot start on X11 and would abort: every answer here must come
// before it.
void TestInstallation::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KUVONA_EXE), args);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()), err);
    // The help names the folder this program keeps its files in: its own build folder.
    if (args == QStringList{u"--help"_s})
        QVERIFY2(stdOut.contains(u"For this program: "_s + QStringLiteral(KUVONA_EXE).section(u'/', 0, -2) +
                                 u"\n"_s),
                 qPrintable(stdOut));
}

// The drawing of the desktop's menu, in every size it was rendered to, on the main window and on
// windows that set none of their own.
void TestInstallation::windowIcon()
{
    const QIcon icon = kuvona::applicationIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
        QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
    }
    QTemporaryDir dir; // the window opens its store there
    kuvona::setProgramDirectory(dir.path().toStdString());
    kuvona::MainWindow window;
    QCOMPARE(window.windowIcon().availableSizes(), icon.availableSizes());
}

QTEST_MAIN(TestInstallation)
#include "tst_installation.moc"
