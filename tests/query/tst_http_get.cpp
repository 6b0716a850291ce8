#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/gbk.h"
#include "platform/cancel.h"
#include "query/http_get.h"
#include "query/query_url.h"
#include "tests/service/local_service.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;
using kuvona::test::LocalService;

// A port on which nothing listens: bound once to learn a free number, then closed again.
static int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Raises the calling thread's stop flag from another thread after a delay.
class DelayedStop
{
public:
    explicit DelayedStop(int milliseconds)
    {
        setThreadCancelFlag(&m_flag);
        m_thread = std::thread([this, milliseconds] {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            m_flag.store(true, std::memory_order_release);
        });
    }
    ~DelayedStop()
    {
        m_thread.join();
        setThreadCancelFlag(nullptr);
    }

private:
    std::atomic<bool> m_flag{false};
    std::thread m_thread;
};

class TestHttpGet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void splitUrl_data();
    void splitUrl();
    void requestAsReceived();
    void bodyWhateverTheStatus_data();
    void bodyWhateverTheStatus();
    void redirects_data();
    void redirects();
    void redirectChainIsBounded();
    void fragmentIsCut();
    void partLimits_data();
    void partLimits();
    void unreachableGivesEmpty();
    void blankInTargetIsNotSent();
    void zeroBytesKept();
    void bodyCap();
    void smallerCap();
    void stopDuringTransfer();
    void stopBeforeStart();
    void environmentProxy();
    void concurrentFetches();

private:
    LocalService m_service;
};

void TestHttpGet::initTestCase()
{
    // The loopback service must be reached directly whatever proxy the machine has.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    unsetenv("http_proxy");
    unsetenv("all_proxy");
    QVERIFY2(m_service.start({"--version-text", "9.9"}), qPrintable(m_service.error()));
}

void TestHttpGet::splitUrl_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("target");

    // clang-format off
    QTest::newRow("plain")            << QByteArray("http://h.example/a?b=1")      << true  << QByteArray("h.example") << 80   << QByteArray("/a?b=1");
    QTest::newRow("scheme capitals")  << QByteArray("HTTP://h/")                   << true  << QByteArray("h")         << 80   << QByteArray("/");
    QTest::newRow("https")            << QByteArray("https://h/x")                 << true  << QByteArray("h")         << 443  << QByteArray("/x");
    QTest::newRow("port")             << QByteArray("http://h:8080/x")             << true  << QByteArray("h")         << 8080 << QByteArray("/x");
    QTest::newRow("ipv6")             << QByteArray("http://[::1]:81/x")           << true  << QByteArray("[::1]")     << 81   << QByteArray("/x");
    QTest::newRow("no path")          << QByteArray("http://h")                    << true  << QByteArray("h")         << 80   << QByteArray("/");
    QTest::newRow("query only")       << QByteArray("http://h?a=1")                << true  << QByteArray("h")         << 80   << QByteArray("/?a=1");
    QTest::newRow("fragment cut")     << QByteArray("http://h/a?nu=1#2&type=html") << true  << QByteArray("h")         << 80   << QByteArray("/a?nu=1");
    QTest::newRow("user info")        << QByteArray("http://u:p@h/")               << true  << QByteArray("h")         << 80   << QByteArray("/");
    QTest::newRow("no scheme")        << QByteArray("h.example/a")                 << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("ftp")              << QByteArray("ftp://h/a")                   << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("file")             << QByteArray("file:///etc/passwd")          << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("no host")          << QByteArray("http:///a")                   << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("port zero")        << QByteArray("http://h:0/")                 << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("port too big")     << QByteArray("http://h:65536/")             << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("port not numeric") << QByteArray("http://h:8a/")                << false << QByteArray()            << 0    << QByteArray();
    QTest::newRow("empty")            << QByteArray()                              << false << QByteArray()            << 0    << QByteArray();
    // clang-format on
}

void TestHttpGet::splitUrl()
{
    QFETCH(QByteArray, url);
    QFETCH(bool, ok);
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    QFETCH(QByteArray, target);
    const auto parts = kuvona::splitUrl(url.toStdString());
    QCOMPARE(parts.has_value(), ok);
    if (!ok)
        return;
    QCOMPARE(q(parts->host), host);
    QCOMPARE(parts->port, port);
    QCOMPARE(q(requestTarget(*parts)), target);
}

// What reaches the server: an HTTP/1.0 GET with the old browser's user agent, one Accept line and the
// headers that keep caches out of the way; no referrer, no cookies.
void TestHttpGet::requestAsReceived()
{
    const std::string url = buildQueryUrl(m_service.hostAndPort(), "zhongtong", "368726491023");
    const std::string body = httpGetBytes(url);
    QVERIFY(body.find("<td>") != std::string::npos);

    const QByteArrayList lines = m_service.lastRequestLines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), QByteArray("GET /?id=581720&secret=7b1e04c9a2d85f36e0c4b97a1d3f2e58&com=zhongtong"
                                       "&nu=368726491023&type=html HTTP/1.0"));
    const QByteArrayList headers = lines.mid(1);
    QCOMPARE(headers, (QByteArrayList{
                          "Host: " + q(m_service.hostAndPort()),
                          "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                          "Accept: */*",
                          "Pragma: no-cache",
                          "Cache-Control: no-cache",
                      }));
}

void TestHttpGet::bodyWhateverTheStatus_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body"); // UTF-8; the service sends GBK

    // clang-format off
    QTest::newRow("404 not found text") << QByteArray("/status?code=404&body=%E5%8D%95%E5%8F%B7%E4%B8%8D%E5%AD%98%E5%9C%A8")
                                                                                       << QByteArray("单号不存在");
    QTest::newRow("500 page")           << QByteArray("/status?code=500&body=oops") << QByteArray("oops");
    QTest::newRow("204 nothing")        << QByteArray("/status?code=204")           << QByteArray();
    QTest::newRow("version file")       << QByteArray("/soft/updata.gif")           << QByteArray("9.9");
    // clang-format on
}

void TestHttpGet::bodyWhateverTheStatus()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QCOMPARE(q(httpGetBytes(m_service.url(path.toStdString()))), q(gbk(body.toStdString())));
}

void TestHttpGet::redirects_data()
{
    QTest::addColumn<QByteArray>("path"); // PORT stands for the service's port
    QTest::addColumn<QByteArray>("body");

    // clang-format off
    QTest::newRow("302 relative")       << QByteArray("/r?to=/soft/updata.gif")                                    << QByteArray("9.9");
    QTest::newRow("301")                << QByteArray("/r?code=301&to=/soft/updata.gif")                           << QByteArray("9.9");
    QTest::newRow("303")                << QByteArray("/r?code=303&to=/soft/updata.gif")                           << QByteArray("9.9");
    QTest::newRow("307")                << QByteArray("/r?code=307&to=/soft/updata.gif")                           << QByteArray("9.9");
    QTest::newRow("absolute")           << QByteArray("/r?to=http%3A%2F%2F127.0.0.1%3APORT%2Fsoft%2Fupdata.gif")   << QByteArray("9.9");
    QTest::newRow("twice")              << QByteArray("/r?to=%2Fr%3Fto%3D%2Fsoft%2Fupdata.gif")                    << QByteArray("9.9");
    QTest::newRow("to a file: refused") << QByteArray("/r?to=file%3A%2F%2F%2Fetc%2Fhostname")                      << QByteArray();
    // clang-format on
}

void TestHttpGet::redirects()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    path.replace("PORT", QByteArray::number(m_service.port()));
    QCOMPARE(q(httpGetBytes(m_service.url(path.toStdString()))), body);
}

void TestHttpGet::redirectChainIsBounded()
{
    const qsizetype before = m_service.requestHeads().size();
    httpGetBytes(m_service.url("/loop?n=0"));
    const QByteArrayList heads = m_service.requestHeads().mid(before);
    QCOMPARE(heads.size(), 11); // the first request and ten redirects
    QVERIFY(heads.last().startsWith("GET /loop?n=10 HTTP/1.0"));
}

void TestHttpGet::fragmentIsCut()
{
    // A raw "#" in a number ends the target there: the number is cut and the type key is lost.
    httpGetBytes(m_service.url("/?id=581720&nu=12#34&type=html"));
    QCOMPARE(m_service.lastRequestLines().first(), QByteArray("GET /?id=581720&nu=12 HTTP/1.0"));
}

void TestHttpGet::partLimits_data()
{
    QTest::addColumn<int>("pathLength");
    QTest::addColumn<int>("userLength");
    QTest::addColumn<int>("passwordLength");
    QTest::addColumn<bool>("sent");

    // clang-format off
    QTest::newRow("path 2047")     << 2047 << 0   << 0   << true;
    QTest::newRow("path 2048")     << 2048 << 0   << 0   << false;
    QTest::newRow("user 127")      << 30   << 127 << 0   << true;
    QTest::newRow("user 128")      << 30   << 128 << 0   << false;
    QTest::newRow("password 127")  << 30   << 1   << 127 << true;
    QTest::newRow("password 128")  << 30   << 1   << 128 << false;
    // clang-format on
}

// Parts are held in fixed buffers; a part that does not fit means no request at all.
void TestHttpGet::partLimits()
{
    QFETCH(int, pathLength);
    QFETCH(int, userLength);
    QFETCH(int, passwordLength);
    QFETCH(bool, sent);

    std::string path = "/status?code=200&body=";
    path += std::string(static_cast<std::size_t>(pathLength) - path.size(), 'x');
    std::string userInfo;
    if (userLength > 0) {
        userInfo = std::string(static_cast<std::size_t>(userLength), 'u');
        if (passwordLength > 0)
            userInfo += ":" + std::string(static_cast<std::size_t>(passwordLength), 'p');
        userInfo += "@";
    }
    const std::string url = "http://" + userInfo + m_service.hostAndPort() + path;
    const qsizetype before = m_service.requestHeads().size();
    const std::string body = httpGetBytes(url);
    QCOMPARE(m_service.requestHeads().size() - before, sent ? 1 : 0);
    QCOMPARE(body.empty(), !sent);
    if (sent)
        QVERIFY(
            m_service.lastRequestLines().first().startsWith("GET " + QByteArray::fromStdString(path) + " "));
}

void TestHttpGet::unreachableGivesEmpty()
{
    QElapsedTimer timer;
    timer.start();
    QVERIFY(httpGetBytes("http://127.0.0.1:" + std::to_string(closedPort()) + "/").empty());
    QVERIFY(httpGetBytes("").empty());
    QVERIFY(httpGetBytes("http://" + std::string(256, 'h') + "/").empty());
    QVERIFY2(timer.elapsed() < 10000, "a refused connection must not wait for a time-out");
    // Untimed: how long a failed lookup takes depends on the machine's resolver.
    QVERIFY(httpGetBytes("http://kuvona-no-such-host.invalid/").empty());
}

// httpGetBytes hands back bytes, not text: what follows a zero byte is still there.
// A raw blank would split the request line; such a URL is refused rather than sent.
void TestHttpGet::blankInTargetIsNotSent()
{
    const qsizetype before = m_service.requestHeads().size();
    QVERIFY(httpGetBytes(m_service.url("/status?code=200&body=a b")).empty());
    QCOMPARE(m_service.requestHeads().size(), before);
}

void TestHttpGet::zeroBytesKept()
{
    const std::string body = httpGetBytes(buildQueryUrl(m_service.hostAndPort(), "ems", "9000000000003"));
    const std::size_t zero = body.find('\0');
    QVERIFY(zero != std::string::npos);
    QVERIFY(body.find(gbk("零字节后第四行"), zero) != std::string::npos);
}

void TestHttpGet::bodyCap()
{
    const std::string exact = httpGetBytes(m_service.url("/big?bytes=" + std::to_string(httpMaxBodyBytes)));
    QCOMPARE(exact.size(), httpMaxBodyBytes);

    const std::string cut =
        httpGetBytes(m_service.url("/big?bytes=" + std::to_string(httpMaxBodyBytes + 1024 * 1024)));
    QCOMPARE(cut.size(), httpMaxBodyBytes);
    QCOMPARE(q(cut.substr(0, 64)), q(exact.substr(0, 64))); // the bytes kept are the first ones
    QCOMPARE(q(cut.substr(cut.size() - 64)), q(exact.substr(exact.size() - 64)));
}

void TestHttpGet::smallerCap()
{
    const std::string full = httpGetBytes(m_service.url("/big?bytes=5000"));
    QCOMPARE(full.size(), std::size_t(5000));
    QCOMPARE(q(httpGetBytes(m_service.url("/big?bytes=5000"), 1000)), q(full.substr(0, 1000)));
    QCOMPARE(q(httpGetBytes(m_service.url("/big?bytes=5000"), 5000)), q(full));
}

// A stop ends the transfer at once, with the pieces that came before it.
void TestHttpGet::stopDuringTransfer()
{
    QElapsedTimer timer;
    std::string body;
    {
        DelayedStop stop(600);
        timer.start();
        body = httpGetBytes(m_service.url("/slow?pieces=50&ms=200")); // ten seconds in all
    }
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 1500, qPrintable(QString("took %1 ms").arg(elapsed)));
    QVERIFY(body.starts_with("piece 000001\n"));
    QVERIFY(body.size() < 50 * 13);
}

void TestHttpGet::stopBeforeStart()
{
    std::atomic<bool> stopped{true};
    setThreadCancelFlag(&stopped);
    const qsizetype before = m_service.requestHeads().size();
    const std::string body = httpGetBytes(m_service.url("/soft/updata.gif"));
    setThreadCancelFlag(nullptr);
    QVERIFY(body.empty());
    // A request that followed it is the only one the service saw.
    QCOMPARE(q(httpGetBytes(m_service.url("/status?code=200&body=after"))), QByteArray("after"));
    const QByteArrayList heads = m_service.requestHeads().mid(before);
    QCOMPARE(heads.size(), 1);
    QVERIFY(heads.first().startsWith("GET /status?code=200&body=after "));
}

// The proxy of the environment is used: the request reaches the proxy in absolute form.
void TestHttpGet::environmentProxy()
{
    setenv("http_proxy", ("http://" + m_service.hostAndPort()).c_str(), 1);
    unsetenv("no_proxy");
    httpGetBytes("http://kuvona-proxy-check.invalid/soft/updata.gif");
    unsetenv("http_proxy");
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    const QByteArrayList lines = m_service.lastRequestLines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), QByteArray("GET http://kuvona-proxy-check.invalid/soft/updata.gif HTTP/1.0"));
    QVERIFY(lines.contains("Host: kuvona-proxy-check.invalid"));
}

// Workers fetch on their own threads, several at a time.
void TestHttpGet::concurrentFetches()
{
    constexpr int threads = 4;
    constexpr int fetches = 5;
    std::atomic<int> good{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int i = 0; i < fetches; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                if (httpGetBytes(m_service.url("/status?code=200&body=" + tag)) == tag)
                    ++good;
            }
        });
    for (auto& th : pool)
        th.join();
    QCOMPARE(good.load(), threads * fetches);
}

QTEST_APPLESS_MAIN(TestHttpGet)
#include "tst_http_get.moc"
