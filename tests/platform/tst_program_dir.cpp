// Where the program keeps Danhao.edb and set.ini: beside itself in a folder of its own, in the
// user's data folder when installed.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "platform/program_dir.h"

using namespace kuvona;
using namespace Qt::StringLiterals;

class TestProgramDir : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dataFolder_data();
    void dataFolder();
    void filesBesideProgram_data();
    void filesBesideProgram();
    void runningProgram();

private:
    QByteArray m_xdg, m_home;
    bool m_hadXdg = false, m_hadHome = false;
};

void TestProgramDir::init()
{
    m_hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_xdg = qgetenv("XDG_DATA_HOME");
    m_home = qgetenv("HOME");
}

void TestProgramDir::cleanup()
{
    if (m_hadXdg)
        qputenv("XDG_DATA_HOME", m_xdg);
    else
        qunsetenv("XDG_DATA_HOME");
    if (m_hadHome)
        qputenv("HOME", m_home);
    else
        qunsetenv("HOME");
}

// XDG_DATA_HOME and HOME: "-" for unset; "{tmp}" stands for the test's folder. `expected` is the
// folder chosen, or empty when none can be, and then `error` is part of the message.
void TestProgramDir::dataFolder_data()
{
    QTest::addColumn<bool>("besideProgram");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("error");

    const QString tmp = u"{tmp}"_s;
    const QString homeData = u"{tmp}/home/.local/share/kuvona"_s;
    // clang-format off
    QTest::newRow("writable folder")           << true  << u"{tmp}/xdg"_s  << u"{tmp}/home"_s << u"{tmp}/prog"_s      << QString();
    QTest::newRow("installed, XDG unset")      << false << u"-"_s          << u"{tmp}/home"_s << homeData             << QString();
    QTest::newRow("installed, XDG set")        << false << u"{tmp}/xdg"_s  << u"{tmp}/home"_s << u"{tmp}/xdg/kuvona"_s << QString();
    QTest::newRow("installed, XDG slash")      << false << u"{tmp}/xdg/"_s << u"{tmp}/home"_s << u"{tmp}/xdg/kuvona"_s << QString();
    QTest::newRow("installed, XDG empty")      << false << QString()       << u"{tmp}/home"_s << homeData             << QString();
    QTest::newRow("installed, XDG relative")   << false << u"xdg"_s        << u"{tmp}/home"_s << homeData             << QString();
    QTest::newRow("installed, HOME relative")  << false << u"{tmp}/xdg"_s  << u"home"_s       << u"{tmp}/xdg/kuvona"_s << QString();
    QTest::newRow("installed, no HOME or XDG") << false << u"-"_s          << u"-"_s          << QString()
                                               << u"neither XDG_DATA_HOME nor HOME"_s;
    QTest::newRow("installed, under a file")   << false << u"{tmp}/file"_s << u"{tmp}/home"_s << QString()
                                               << u"cannot create the data folder {tmp}/file/kuvona: Not a directory"_s;
    QTest::newRow("installed, folder a file")  << false << u"{tmp}/taken"_s << u"{tmp}/home"_s << QString()
                                               << u"cannot create the data folder {tmp}/taken/kuvona: Not a directory"_s;
    // clang-format on
}

void TestProgramDir::dataFolder()
{
    QFETCH(bool, besideProgram);
    QFETCH(QString, xdg);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    QFETCH(QString, error);

    QTemporaryDir dir;
    const QString tmp = dir.path();
    QVERIFY(QDir(tmp).mkpath(u"prog"_s) && QDir(tmp).mkpath(u"home"_s) && QDir(tmp).mkpath(u"taken"_s));
    for (const QString& file : {u"file"_s, u"taken/kuvona"_s}) {
        QFile f(tmp + u'/' + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const auto expand = [&tmp](QString text) {
        return text.replace(u"{tmp}"_s, tmp);
    };
    const auto setOrUnset = [&expand](const char* name, const QString& value) {
        if (value == u"-"_s)
            qunsetenv(name);
        else
            qputenv(name, expand(value).toUtf8());
    };
    setOrUnset("XDG_DATA_HOME", xdg);
    setOrUnset("HOME", home);
    const std::string program = (tmp + u"/prog"_s).toStdString();

    // Choosing alone touches nothing on disk.
    const DataDirectory chosen = locateDataDirectory(program, besideProgram, false);
    const QStringList before = QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (!expected.isEmpty() && !besideProgram)
        QVERIFY(!QFileInfo::exists(expand(expected)));

    const DataDirectory made = locateDataDirectory(program, besideProgram, true);
    QCOMPARE(QString::fromStdString(made.path), expand(expected));
    if (expected.isEmpty()) {
        QVERIFY(QString::fromStdString(made.error).contains(expand(error)));
        return;
    }
    QCOMPARE(QString::fromStdString(chosen.path), expand(expected));
    QVERIFY(made.error.empty());
    QVERIFY(QFileInfo(expand(expected)).isDir());
    // Only the chosen folder is made: with the files beside the program, the data folders stay
    // untouched.
    if (besideProgram)
        QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    else
        QCOMPARE(QFileInfo(expand(expected)).permissions() & 0x0077, QFile::Permissions());
}

void TestProgramDir::filesBesideProgram_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("beside");

    // clang-format off
    QTest::newRow("own folder")     << u"{tmp}"_s          << true;
    QTest::newRow("read-only")      << u"{tmp}/ro"_s       << false;
    QTest::newRow("/usr/bin")       << u"/usr/bin"_s       << false;
    QTest::newRow("/usr/local/bin") << u"/usr/local/bin"_s << false;
    // clang-format on
}

void TestProgramDir::filesBesideProgram()
{
    QFETCH(QString, folder);
    QFETCH(bool, beside);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(u"ro"_s));
    QVERIFY(QFile::setPermissions(dir.path() + u"/ro"_s, QFile::ReadOwner | QFile::ExeOwner));
    if (folder.endsWith(u"/ro"_s) && geteuid() == 0)
        QSKIP("root can write to any folder");
    // Installed to /usr/bin, even a program run by root keeps its files out of it.
    QCOMPARE(keepsFilesBesideProgram(folder.replace(u"{tmp}"_s, dir.path()).toStdString()), beside);
    QFile::setPermissions(dir.path() + u"/ro"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The test runs from its build folder, one it can write to: its files stay beside it, and the
// working directory stays where it was without `create`.
void TestProgramDir::runningProgram()
{
    const QString cwd = QDir::currentPath();
    std::string error;
    QVERIFY(initProgramDirectory(false, error));
    QCOMPARE(QString::fromStdString(programDirectory()), QCoreApplication::applicationDirPath());
    QCOMPARE(QString::fromStdString(kuvona::dataDirectory()), QCoreApplication::applicationDirPath());
    QCOMPARE(QString::fromStdString(programFile("set.ini")),
             QCoreApplication::applicationDirPath() + u"/set.ini"_s);
    QCOMPARE(QDir::currentPath(), cwd);
}

QTEST_GUILESS_MAIN(TestProgramDir)
#include "tst_program_dir.moc"
