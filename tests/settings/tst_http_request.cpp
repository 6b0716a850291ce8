#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/gbk.h"
#include "platform/cancel.h"
#include "settings/http_request.h"
#include "settings/version_check.h"
#include "tests/settings/raw_http_server.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;
using kuvona::test::RawHttpServer;

namespace {

std::optional<std::string> optional(bool given, const QByteArray& value)
{
    return given ? std::optional<std::string>(s(value)) : std::nullopt;
}

// Expected requests are written with PORT for the server's port.
QByteArray withPort(QByteArray text, int port)
{
    return text.replace("PORT", QByteArray::number(port));
}

const QByteArray ua = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
const QByteArray acceptLine = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                              "application/x-shockwave-flash, application/vnd.ms-excel, "
                              "application/vnd.ms-powerpoint, application/msword, */*\r\n";
const QByteArray lang = "Accept-Language: zh-cn\r\n";
const QByteArray host = "Host: 127.0.0.1:PORT\r\n";

long long msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void requestOnTheWire_data();
    void requestOnTheWire();
    void requestThroughProxy();
    void responseBody_data();
    void responseBody();
    void bodyCappedAt8MiB();
    void responseHeaders_data();
    void responseHeaders();
    void getFollowsRedirect();
    void unreachableServerGivesEmptyText();
    void silentServerEndsWithinTimeouts();
    void stoppedWorkerAbortsTransfer();
    void callerValuesUnchanged();
    void versions_data();
    void versions();
    void unreachableServerIsNoUpdate();
};

void TestHttpRequest::requestOnTheWire_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("hasMethod");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("extraHeaders");
    QTest::addColumn<QByteArray>("postData");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray referer = "Referer: http://127.0.0.1:PORT/p?q=1\r\n";
    const QByteArray defaults = acceptLine + referer + lang;
    // clang-format off
    QTest::newRow("absent method is GET")   << QByteArray("/p?q=1") << false << QByteArray()       << QByteArray()           << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + defaults + "\r\n";
    QTest::newRow("lower-case get")         << QByteArray("/p?q=1") << true  << QByteArray("get")  << QByteArray()           << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + defaults + "\r\n";
    QTest::newRow("post sent as post")      << QByteArray("/p?q=1") << true  << QByteArray("post") << QByteArray()           << QByteArray("a=1&b=2")
        << "post /p?q=1 HTTP/1.1\r\n" + host + ua + defaults
           + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\na=1&b=2";
    QTest::newRow("POST with body")         << QByteArray("/p?q=1") << true  << QByteArray("POST") << QByteArray()           << QByteArray("x")
        << "POST /p?q=1 HTTP/1.1\r\n" + host + ua + defaults
           + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 1\r\n\r\nx";
    QTest::newRow("POST without body")      << QByteArray("/p?q=1") << true  << QByteArray("POST") << QByteArray()           << QByteArray()
        << "POST /p?q=1 HTTP/1.1\r\n" + host + ua + defaults + "\r\n";
    QTest::newRow("PUT becomes GET")        << QByteArray("/p?q=1") << true  << QByteArray("PUT")  << QByteArray()           << QByteArray("a=1")
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + defaults + "\r\n";
    QTest::newRow("empty method is GET")    << QByteArray("/p?q=1") << true  << QByteArray("")     << QByteArray()           << QByteArray("a=1")
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + defaults + "\r\n";
    QTest::newRow("own accept line kept")   << QByteArray("/p?q=1") << false << QByteArray()       << QByteArray("accept: text/html\r\n") << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + "accept: text/html\r\n" + referer + lang + "\r\n";
    QTest::newRow("extra lines go first")   << QByteArray("/p?q=1") << false << QByteArray()       << QByteArray("X-One: 1\r\nX-Two: 2\r\n") << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + "X-One: 1\r\nX-Two: 2\r\n" + defaults + "\r\n";
    QTest::newRow("all three given")        << QByteArray("/p?q=1") << false << QByteArray()
        << QByteArray("ACCEPT-LANGUAGE: en\r\nreferer: http://r/\r\nAccept: */*\r\n") << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + "ACCEPT-LANGUAGE: en\r\nreferer: http://r/\r\nAccept: */*\r\n\r\n";
    // "Accept: " is found inside "X-Accept: ", so no Accept line is added, and none of libcurl's own.
    QTest::newRow("accept inside a name")   << QByteArray("/p?q=1") << false << QByteArray()       << QByteArray("X-Accept: a\r\n") << QByteArray()
        << "GET /p?q=1 HTTP/1.1\r\n" + host + ua + "X-Accept: a\r\n" + referer + lang + "\r\n";
    QTest::newRow("root path")              << QByteArray("")       << false << QByteArray()       << QByteArray()           << QByteArray()
        << "GET / HTTP/1.1\r\n" + host + ua + acceptLine + "Referer: http://127.0.0.1:PORT\r\n" + lang + "\r\n";
    // clang-format on
}

void TestHttpRequest::requestOnTheWire()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, hasMethod);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, extraHeaders);
    QFETCH(QByteArray, postData);
    QFETCH(QByteArray, expected);

    RawHttpServer server({RawHttpServer::response("answer")});
    QVERIFY(server.port() > 0);
    const std::string body =
        httpRequest(server.base() + s(path), optional(hasMethod, method), std::nullopt,
                    optional(!extraHeaders.isEmpty(), extraHeaders), optional(!postData.isEmpty(), postData));
    QCOMPARE(q(body), QByteArray("answer"));
    const auto requests = server.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(q(requests[0]), withPort(expected, server.port()));
}

void TestHttpRequest::requestThroughProxy()
{
    RawHttpServer proxy({RawHttpServer::response("via proxy")});
    const std::string url = "http://Kuvona.invalid:81/soft/updata.gif";
    const std::string body = httpRequest(url, std::nullopt, "127.0.0.1:" + std::to_string(proxy.port()));
    QCOMPARE(q(body), QByteArray("via proxy"));
    const auto requests = proxy.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    const QByteArray request = q(requests[0]);
    QVERIFY2(request.startsWith("GET http://kuvona.invalid:81/soft/updata.gif HTTP/1.1\r\n"),
             request.constData());
    QVERIFY2(request.contains("\r\nHost: kuvona.invalid:81\r\n"), request.constData());
    QVERIFY2(request.contains("\r\nReferer: http://Kuvona.invalid:81/soft/updata.gif\r\n"),
             request.constData());
}

void TestHttpRequest::responseBody_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray big(5000, 'x'); // many pieces of 512 bytes and a remainder
    // clang-format off
    QTest::newRow("plain")             << q(RawHttpServer::response("2.2\r\n"))                      << QByteArray("2.2\r\n");
    QTest::newRow("error page")        << q(RawHttpServer::response("<html>gone</html>", "404 Not Found")) << QByteArray("<html>gone</html>");
    QTest::newRow("server error")      << q(RawHttpServer::response("oops", "500 Internal Server Error")) << QByteArray("oops");
    QTest::newRow("cut at zero byte")  << q(RawHttpServer::response(std::string("ab\0cd", 5)))       << QByteArray("ab");
    QTest::newRow("long body")         << q(RawHttpServer::response(s(big)))                         << big;
    QTest::newRow("empty body")        << q(RawHttpServer::response(""))                             << QByteArray();
    QTest::newRow("chunked")           << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n2.2\r\n2\r\nxy\r\n0\r\n\r\n")
                                                                                                     << QByteArray("2.2xy");
    QTest::newRow("close-delimited")   << QByteArray("HTTP/1.0 200 OK\r\n\r\nuntil close")          << QByteArray("until close");
    QTest::newRow("gbk bytes")         << q(RawHttpServer::response(gbk("单号不存在")))              << q(gbk("单号不存在"));
    // clang-format on
}

void TestHttpRequest::responseBody()
{
    QFETCH(QByteArray, response);
    QFETCH(QByteArray, expected);
    RawHttpServer server({s(response)});
    QCOMPARE(q(httpRequest(server.base() + "/x")), expected);
}

void TestHttpRequest::bodyCappedAt8MiB()
{
    std::string big(httpRequestBodyLimit + 1024 * 1024, 'a');
    big[httpRequestBodyLimit - 1] = 'z';
    big[httpRequestBodyLimit] = 'y';
    RawHttpServer server({RawHttpServer::response(big)});
    const std::string body = httpRequest(server.base() + "/big");
    QCOMPARE(body.size(), httpRequestBodyLimit);
    QCOMPARE(body.back(), 'z');
}

void TestHttpRequest::responseHeaders_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray longValue(1100, 'v');
    // The longest block that still fits: 1023 bytes and the zero byte.
    const QByteArray fitHead = "HTTP/1.1 200 OK\r\nX-Fill: ";
    const QByteArray fitTail = "\r\nContent-Length: 2\r\n\r\n";
    const QByteArray fill(1023 - fitHead.size() - fitTail.size(), 'f');
    const QByteArray fits = fitHead + fill + fitTail;
    const QByteArray tooLong = fitHead + fill + "f" + fitTail;
    // clang-format off
    QTest::newRow("raw block")       << QByteArray("HTTP/1.1 200 OK\r\nServer: t\r\nContent-Length: 2\r\n\r\nok")
                                     << QByteArray("HTTP/1.1 200 OK\r\nServer: t\r\nContent-Length: 2\r\n\r\n");
    QTest::newRow("lf line ends")    << QByteArray("HTTP/1.1 200 OK\nContent-Length: 2\n\nok")
                                     << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
    QTest::newRow("1023 bytes fit")  << fits + "ok"                         << fits;
    QTest::newRow("1024 do not fit") << tooLong + "ok"                      << QByteArray(1024, ' ');
    QTest::newRow("far too long")    << "HTTP/1.1 200 OK\r\nX-Long: " + longValue + "\r\nContent-Length: 2\r\n\r\nok"
                                     << QByteArray(1024, ' ');
    // clang-format on
}

void TestHttpRequest::responseHeaders()
{
    QFETCH(QByteArray, response);
    QFETCH(QByteArray, expected);
    RawHttpServer server({s(response)});
    std::string headers = "untouched";
    const std::string body =
        httpRequest(server.base() + "/h", std::nullopt, std::nullopt, std::nullopt, std::nullopt, &headers);
    QCOMPARE(q(body), QByteArray("ok"));
    QCOMPARE(q(headers), expected);
}

void TestHttpRequest::getFollowsRedirect()
{
    RawHttpServer server({RawHttpServer::response("moved", "302 Found", "Location: /final\r\n"),
                          RawHttpServer::response("final")});
    std::string headers;
    const std::string body = httpRequest(server.base() + "/start", std::nullopt, std::nullopt, std::nullopt,
                                         std::nullopt, &headers);
    QCOMPARE(q(body), QByteArray("final"));
    QVERIFY2(q(headers).startsWith("HTTP/1.1 200 OK\r\n"), headers.c_str());
    const auto requests = server.requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QVERIFY(q(requests[1]).startsWith("GET /final HTTP/1.1\r\n"));
}

void TestHttpRequest::unreachableServerGivesEmptyText()
{
    const std::string url = "http://127.0.0.1:" + std::to_string(RawHttpServer::unusedPort()) + "/x";
    std::string headers;
    const auto start = std::chrono::steady_clock::now();
    QCOMPARE(q(httpRequest(url, std::nullopt, std::nullopt, std::nullopt, std::nullopt, &headers)),
             QByteArray());
    QVERIFY(msSince(start) < 5000);
    QCOMPARE(q(headers), QByteArray(1024, ' '));

    // A port the routine cannot connect to at all leaves the header text alone.
    headers = "untouched";
    QCOMPARE(q(httpRequest("http://127.0.0.1:70000/x", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                           &headers)),
             QByteArray());
    QCOMPARE(q(headers), QByteArray("untouched"));
}

// The real time-outs are 18 s each; the test shortens them to keep the run short.
void TestHttpRequest::silentServerEndsWithinTimeouts()
{
    RawHttpServer server({}, true);
    const HttpTimeouts shortTimeouts{500, 500, 500};
    const auto start = std::chrono::steady_clock::now();
    const std::string body = httpRequest(server.base() + "/soft/updata.gif", std::nullopt, std::nullopt,
                                         std::nullopt, std::nullopt, nullptr, shortTimeouts);
    const long long elapsed = msSince(start);
    QCOMPARE(q(body), QByteArray());
    QVERIFY2(elapsed >= 500, QByteArray::number(elapsed).constData());
    QVERIFY2(elapsed < 3000, QByteArray::number(elapsed).constData());
    QCOMPARE(server.requests().size(), std::size_t(1));
}

void TestHttpRequest::stoppedWorkerAbortsTransfer()
{
    RawHttpServer server({}, true);
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        setThreadCancelFlag(&stop);
        httpRequest(server.base() + "/slow"); // default 18 s time-outs
        setThreadCancelFlag(nullptr);
        done = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), std::size_t(1), 5000);
    const auto start = std::chrono::steady_clock::now();
    stop = true;
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QVERIFY(msSince(start) < 3000);
}

void TestHttpRequest::callerValuesUnchanged()
{
    RawHttpServer server({RawHttpServer::response("ok")});
    const std::optional<std::string> method = std::string("put");
    const std::optional<std::string> headers = std::string("X-A: 1\r\n");
    httpRequest(server.base() + "/", method, std::nullopt, headers);
    QCOMPARE(*method, std::string("put"));
    QCOMPARE(*headers, std::string("X-A: 1\r\n"));
}

void TestHttpRequest::versions_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("newer");

    // clang-format off
    QTest::newRow("2.2")              << q(RawHttpServer::response("2.2"))                        << true;
    QTest::newRow("2.2 with CRLF")    << q(RawHttpServer::response("2.2\r\n"))                    << true;
    QTest::newRow("2.2 with LF")      << q(RawHttpServer::response("2.2\n"))                      << true;
    QTest::newRow("leading blanks")   << q(RawHttpServer::response("  2.2"))                      << true;
    QTest::newRow("full-width 2.2")   << q(RawHttpServer::response(gbk("２．２")))                << true;
    QTest::newRow("2.1")              << q(RawHttpServer::response("2.1"))                        << false;
    QTest::newRow("2.10000001")       << q(RawHttpServer::response("2.10000001"))                 << false;
    QTest::newRow("2.1000002")        << q(RawHttpServer::response("2.1000002"))                  << true;
    QTest::newRow("1.9")              << q(RawHttpServer::response("1.9"))                        << false;
    QTest::newRow("error page")       << q(RawHttpServer::response("<html>3.0</html>", "404 Not Found")) << false;
    QTest::newRow("version prefix")   << q(RawHttpServer::response("v2.2"))                       << false;
    QTest::newRow("empty body")       << q(RawHttpServer::response(""))                           << false;
    QTest::newRow("number on error")  << q(RawHttpServer::response("9", "500 Internal Server Error")) << true;
    // clang-format on
}

void TestHttpRequest::versions()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, newer);
    RawHttpServer server({s(response)});
    const std::string body = httpRequest(server.base() + "/soft/updata.gif");
    QCOMPARE(newerVersionAvailable(body, "2.1"), newer);
}

void TestHttpRequest::unreachableServerIsNoUpdate()
{
    const std::string url =
        "http://127.0.0.1:" + std::to_string(RawHttpServer::unusedPort()) + "/soft/updata.gif";
    QCOMPARE(newerVersionAvailable(httpRequest(url), "2.1"), false);
}

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_http_request.moc"
