#include <QTest>
#include <chrono>

#include "common/gbk.h"
#include "common/hosts.h"
#include "platform/message_box.h"
#include "platform/worker.h"
#include "settings/update_check.h"
#include "tests/settings/raw_http_server.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;
using kuvona::test::RawHttpServer;

namespace {

const QByteArray newerText = g("发现更新，是否访问主页进行下载？");
const QByteArray latestText = g("本软件已是最新版本，不需要更新！");

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void versions_data();
    void versions();
    void unreachableServerIsUpToDate();
    void silentServerEndsWithinTimeouts();
    void startUpdateCheckRunsOnAWorker();
    void stoppedCheckShowsNothing();

private:
    void checkOnce(const std::string& url, const HttpTimeouts& timeouts = {});
    std::vector<std::string> m_opened;
};

void TestUpdateCheck::init()
{
    messageBoxSeam::clear();
    m_opened.clear();
    qputenv("KUVONA_HOMEPAGE_HOST", "home.kuvona.test");
}

void TestUpdateCheck::cleanup()
{
    messageBoxSeam::clear();
    qunsetenv("KUVONA_HOMEPAGE_HOST");
}

void TestUpdateCheck::checkOnce(const std::string& url, const HttpTimeouts& timeouts)
{
    UpdateCheckOptions options;
    options.versionUrl = url;
    options.timeouts = timeouts;
    options.openUrl = [this](const std::string& opened) {
        m_opened.push_back(opened);
    };
    checkForUpdate("2.1", options);
}

void TestUpdateCheck::versions_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("opensHomepage");

    // clang-format off
    QTest::newRow("2.2, OK")          << q(RawHttpServer::response("2.2"))        << 0 << newerText  << g("检查更新") << int(BoxInfoOkCancel) << true;
    QTest::newRow("2.2 CRLF, OK")     << q(RawHttpServer::response("2.2\r\n"))    << 0 << newerText  << g("检查更新") << int(BoxInfoOkCancel) << true;
    QTest::newRow("2.2, Cancel")      << q(RawHttpServer::response("2.2"))        << 1 << newerText  << g("检查更新") << int(BoxInfoOkCancel) << false;
    QTest::newRow("2.1")              << q(RawHttpServer::response("2.1"))        << 0 << latestText << g("无更新")   << int(BoxInfoOk)       << false;
    QTest::newRow("2.10000001")       << q(RawHttpServer::response("2.10000001")) << 0 << latestText << g("无更新")   << int(BoxInfoOk)       << false;
    QTest::newRow("1.9")              << q(RawHttpServer::response("1.9"))        << 0 << latestText << g("无更新")   << int(BoxInfoOk)       << false;
    QTest::newRow("error page")       << q(RawHttpServer::response("<h1>3.0</h1>", "404 Not Found")) << 0 << latestText << g("无更新") << int(BoxInfoOk) << false;
    QTest::newRow("text, no number")  << q(RawHttpServer::response("latest"))     << 0 << latestText << g("无更新")   << int(BoxInfoOk)       << false;
    // clang-format on
}

void TestUpdateCheck::versions()
{
    QFETCH(QByteArray, response);
    QFETCH(int, answer);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, title);
    QFETCH(int, kind);
    QFETCH(bool, opensHomepage);

    RawHttpServer server({response.toStdString()});
    messageBoxSeam::queueAnswer(answer);
    checkOnce(server.base() + "/soft/updata.gif");

    const auto boxes = messageBoxSeam::shown();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(q(boxes[0].text), text);
    QCOMPARE(q(boxes[0].title), title);
    QCOMPARE(boxes[0].kind, kind);
    QCOMPARE(m_opened, opensHomepage ? std::vector<std::string>{"http://home.kuvona.test"}
                                     : std::vector<std::string>{});
    const auto requests = server.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QVERIFY(q(requests[0]).startsWith("GET /soft/updata.gif HTTP/1.1\r\n"));
}

void TestUpdateCheck::unreachableServerIsUpToDate()
{
    messageBoxSeam::setAutoAnswer(true);
    checkOnce("http://127.0.0.1:" + std::to_string(RawHttpServer::unusedPort()) + "/soft/updata.gif");
    const auto boxes = messageBoxSeam::shown();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(q(boxes[0].text), latestText);
    QCOMPARE(q(boxes[0].title), g("无更新"));
    QVERIFY(m_opened.empty());
}

// The check's own time-outs are 18 s each; here they are shortened to keep the run short.
void TestUpdateCheck::silentServerEndsWithinTimeouts()
{
    RawHttpServer server({}, true);
    messageBoxSeam::setAutoAnswer(true);
    const auto start = std::chrono::steady_clock::now();
    checkOnce(server.base() + "/soft/updata.gif", HttpTimeouts{400, 400, 400});
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    QVERIFY2(elapsed < 3000, QByteArray::number(qint64(elapsed)).constData());
    const auto boxes = messageBoxSeam::shown();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(q(boxes[0].text), latestText);
}

void TestUpdateCheck::startUpdateCheckRunsOnAWorker()
{
    RawHttpServer server({RawHttpServer::response("2.2\r\n")});
    qputenv("KUVONA_HOMEPAGE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
    messageBoxSeam::queueAnswer(1); // Cancel: no browser is started
    const WorkerId id = startUpdateCheck("2.1");
    QVERIFY(id != 0);
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxSeam::shown().size(), std::size_t(1), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(id), 5000);
    QCOMPARE(q(messageBoxSeam::shown()[0].text), newerText);
    const auto requests = server.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QVERIFY(q(requests[0]).startsWith("GET /soft/updata.gif HTTP/1.1\r\n"));

    // Each use starts another worker.
    messageBoxSeam::queueAnswer(1);
    const WorkerId second = startUpdateCheck("2.2");
    QVERIFY(second != id);
    QTRY_COMPARE_WITH_TIMEOUT(messageBoxSeam::shown().size(), std::size_t(2), 10000);
    QCOMPARE(q(messageBoxSeam::shown()[1].text), latestText);
}

void TestUpdateCheck::stoppedCheckShowsNothing()
{
    RawHttpServer server({}, true);
    qputenv("KUVONA_HOMEPAGE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
    messageBoxSeam::setAutoAnswer(true);
    const WorkerId id = startUpdateCheck("2.1");
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), std::size_t(1), 5000);
    terminateWorker(id);
    QVERIFY(!workerRunning(id));
    QTest::qWait(1500);
    QVERIFY(messageBoxSeam::shown().empty());
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_update_check.moc"
