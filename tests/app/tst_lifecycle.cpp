// The program's ways to end, seen from outside: the real executable runs as a child process,
// driven through its test-action and message-box seams.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "../service/local_service.h"
#include "../settings/raw_http_server.h"

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1000;
    QStringList boxes; // "kind<TAB>title<TAB>text" lines
    QString err;
};

// Runs a copy of the program placed in `dir`, so its directory (and its files) are the test's.
Run runProgram(const QString& dir, const QString& actions, const QStringList& extraEnv = {},
               bool keepTemp = true)
{
    const QString exe = dir + u"/kuvona"_s;
    if (!QFile::exists(exe))
        QFile::copy(QStringLiteral(KUVONA_EXE), exe);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"KUVONA_TEST_ACTIONS"_s, actions);
    env.insert(u"KUVONA_MSGBOX_LOG"_s, dir + u"/boxes.log"_s);
    env.insert(u"KUVONA_OPENURL_LOG"_s, dir + u"/urls.log"_s);
    if (!keepTemp)
        env.remove(u"TEMP"_s);
    for (const QString& kv : extraEnv)
        env.insert(kv.section(u'=', 0, 0), kv.section(u'=', 1));
    process.setProcessEnvironment(env);
    process.start(exe, {});
    Run run;
    const bool finished = process.waitForFinished(60000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    // Kept for the checks, and passed on so that a sanitizer's report is not lost.
    const QByteArray err = process.readAllStandardError();
    std::fwrite(err.constData(), 1, std::size_t(err.size()), stderr);
    if (!finished)
        return run;
    run.err = QString::fromUtf8(err);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -999;
    QFile log(dir + u"/boxes.log"_s);
    if (log.open(QIODevice::ReadOnly))
        run.boxes = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return run;
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void closingDeletesLeftoverTempFile();
    void closingWithoutTempVariable();
    void exitMenu();
    void endingDuringAQuery_data();
    void endingDuringAQuery();
    void updateCheckFromTheMenu_data();
    void updateCheckFromTheMenu();
    void refusedHostsSendNothing_data();
    void refusedHostsSendNothing();
    void missingSkinLibraryIsFatal();
    void skinLibraryBesideTheProgram();
};

void TestLifecycle::closingDeletesLeftoverTempFile()
{
    QTemporaryDir dir, temp;
    QFile leftover(temp.path() + u"/temp.htm"_s);
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    QFile other(temp.path() + u"/other.htm"_s);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();
    const Run run = runProgram(dir.path(), u"wait:100;close"_s, {u"TEMP="_s + temp.path()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFile::exists(leftover.fileName()));
    QVERIFY(QFile::exists(other.fileName()));
    QVERIFY(run.boxes.isEmpty());
}

void TestLifecycle::closingWithoutTempVariable()
{
    QTemporaryDir dir;
    const Run run = runProgram(dir.path(), u"close"_s, {}, false);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.boxes.isEmpty());
}

void TestLifecycle::exitMenu()
{
    QTemporaryDir dir;
    const Run run = runProgram(dir.path(), u"trigger:actionExit"_s);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.boxes.isEmpty());
}

void TestLifecycle::endingDuringAQuery_data()
{
    QTest::addColumn<QString>("ending");
    // clang-format off
    QTest::newRow("close box")  << u"close"_s;
    QTest::newRow("exit menu")  << u"trigger:actionExit"_s;
    // clang-format on
}

void TestLifecycle::endingDuringAQuery()
{
    QFETCH(QString, ending);
    kuvona::test::LocalService service;
    QVERIFY2(service.start(), qPrintable(service.error()));
    QTemporaryDir dir;
    // 500 rows take half a minute to come in; the program must end at once all the same. Its
    // ending waits for the first two rows, so the query is surely under way on a slow machine.
    const QString actions = u"type:1000000000500;tick:0;click:快递查询;rows:2;"_s + ending;
    QElapsedTimer timer;
    timer.start();
    const Run run = runProgram(dir.path(), actions,
                               {u"KUVONA_QUERY_HOST="_s + QString::fromStdString(service.hostAndPort())});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(timer.elapsed() < 10000, "the program waited for its worker");
    QVERIFY(run.boxes.isEmpty());
    QVERIFY(service.lastRequestLines().value(0).contains("nu=1000000000500"));
}

void TestLifecycle::updateCheckFromTheMenu_data()
{
    QTest::addColumn<QString>("siteVersion");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("opensHomepage");

    // clang-format off
    QTest::newRow("newer")    << u"2.2"_s << u"65\t检查更新\t发现更新，是否访问主页进行下载？"_s << true;
    QTest::newRow("same")     << u"2.1"_s << u"64\t无更新\t本软件已是最新版本，不需要更新！"_s   << false;
    // clang-format on
}

void TestLifecycle::updateCheckFromTheMenu()
{
    QFETCH(QString, siteVersion);
    QFETCH(QString, box);
    QFETCH(bool, opensHomepage);
    kuvona::test::LocalService service;
    QVERIFY2(service.start({u"--version-text"_s, siteVersion}), qPrintable(service.error()));
    QTemporaryDir dir;
    const QString host = QString::fromStdString(service.hostAndPort());
    // The check runs on a worker; the boxes' log shows when it has answered.
    const Run run = runProgram(dir.path(), u"trigger:actionUpdate;wait:3000;close"_s,
                               {u"KUVONA_HOMEPAGE_HOST="_s + host});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.boxes, QStringList{box});
    QFile urls(dir.path() + u"/urls.log"_s);
    const QString opened = urls.open(QIODevice::ReadOnly) ? QString::fromUtf8(urls.readAll()) : QString();
    QCOMPARE(opened, opensHomepage ? u"http://"_s + host + u"\n"_s : QString());
    QVERIFY(service.lastRequestLines().value(0).startsWith("GET /soft/updata.gif HTTP/1.1"));
}

void TestLifecycle::refusedHostsSendNothing_data()
{
    QTest::addColumn<QString>("value"); // "PORT" stands for the port of a listening recorder
    // clang-format off
    QTest::newRow("path")           << u"127.0.0.1:PORT/x"_s;
    QTest::newRow("user info")      << u"u@127.0.0.1:PORT"_s;
    QTest::newRow("scheme")         << u"http://127.0.0.1:PORT"_s;
    QTest::newRow("blank before")   << u" 127.0.0.1:PORT"_s;
    QTest::newRow("inner blank")    << u"127.0.0.1 :PORT"_s;
    QTest::newRow("empty host")     << u":PORT"_s;
    QTest::newRow("port too large") << u"127.0.0.1:99999"_s;
    QTest::newRow("port zero")      << u"127.0.0.1:0"_s;
    QTest::newRow("empty port")     << u"127.0.0.1:"_s;
    QTest::newRow("two ports")      << u"127.0.0.1:PORT:80"_s;
    QTest::newRow("open bracket")   << u"[::1:PORT"_s;
    QTest::newRow("empty label")    << u"a..example"_s;
    // clang-format on
}

// A host variable that names no plain host is reported once and no request leaves the program: not
// to the value, not to the built-in host (the proxy variables lead any such request to the recorder
// too), for a query twice and for the update check.
void TestLifecycle::refusedHostsSendNothing()
{
    QFETCH(QString, value);
    kuvona::test::RawHttpServer recorder({kuvona::test::RawHttpServer::response("9.9")});
    QVERIFY(recorder.port() > 0);
    value.replace(u"PORT"_s, QString::number(recorder.port()));
    const QString proxy = QString::fromStdString(recorder.base());
    QTemporaryDir dir;
    const Run run = runProgram(dir.path(),
                               u"type:123456;tick:0;click:快递查询;wait:700;click:快递查询;wait:700;"
                               "trigger:actionUpdate;wait:1500;close"_s,
                               {u"KUVONA_QUERY_HOST="_s + value, u"KUVONA_HOMEPAGE_HOST="_s + value,
                                u"http_proxy="_s + proxy, u"HTTP_PROXY="_s + proxy, u"https_proxy="_s + proxy,
                                u"all_proxy="_s + proxy, u"no_proxy="_s, u"NO_PROXY="_s});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(recorder.requests().size(), std::size_t(0));
    // A failed fetch: no rows and no message for the query; no newer version for the update check.
    QCOMPARE(run.boxes, QStringList{u"64\t无更新\t本软件已是最新版本，不需要更新！"_s});
    for (const QString& variable : {u"KUVONA_QUERY_HOST"_s, u"KUVONA_HOMEPAGE_HOST"_s})
        QVERIFY2(run.err.count(variable + u"=\""_s + value + u"\" is not a host"_s) == 1,
                 qPrintable(run.err));
}

void TestLifecycle::missingSkinLibraryIsFatal()
{
    QTemporaryDir dir;
    const Run run = runProgram(dir.path(), u"trigger:actionDefaultSkin;wait:5000;close"_s);
    QCOMPARE(run.exitCode, 255); // -1 as a Linux exit status
    QCOMPARE(run.boxes.size(), 1);
    QCOMPARE(
        run.boxes.first(),
        u"16\t错误\t运行时出错!\\r\\n\\r\\n错误信息：无法找到指定DLL库文件“KillAD.dll”中的输出命令“SkinH_Detach”\\r\\n"_s);
}

void TestLifecycle::skinLibraryBesideTheProgram()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(KUVONA_SKIN_LIB), dir.path() + u"/KillAD.dll"_s));
    const QString marker = dir.path() + u"/detached"_s;
    const Run run = runProgram(dir.path(), u"trigger:actionDefaultSkin;trigger:actionDefaultSkin;close"_s,
                               {u"KUVONA_SKIN_MARKER="_s + marker});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFile::exists(marker));
    QVERIFY(run.boxes.isEmpty());
}

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
