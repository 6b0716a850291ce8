#include <QTest>

#include "common/gbk.h"
#include "common/hosts.h"
#include "settings/url.h"
#include "settings/version_check.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {} // namespace

class TestUrl : public QObject
{
    Q_OBJECT

private slots:
    void parts_data();
    void parts();
    void updateCheckUrl();
};

void TestUrl::parts_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("path");

    // clang-format off
    QTest::newRow("capital scheme")     << QByteArray("HTTP://WWW.Example.COM:81/a/b?c=1") << QByteArray("www.example.com") << 81 << QByteArray("/a/b?c=1");
    QTest::newRow("mixed-case host")    << QByteArray("http://Kuvona.Com/soft/updata.gif") << QByteArray("kuvona.com")      << 80 << QByteArray("/soft/updata.gif");
    QTest::newRow("ends at host")       << QByteArray("http://www.example.com")            << QByteArray("www.example.com") << 80 << QByteArray("/");
    QTest::newRow("ends at port")       << QByteArray("http://www.example.com:8080")       << QByteArray("www.example.com") << 8080 << QByteArray("/");
    QTest::newRow("slash after host")   << QByteArray("http://example.com/")               << QByteArray("example.com")     << 80 << QByteArray("/");
    QTest::newRow("no scheme")          << QByteArray("www.example.com/x/y")               << QByteArray("www.example.com") << 80 << QByteArray("/x/y");
    QTest::newRow("no scheme, port")    << QByteArray("Example.com:81/a?b=C")              << QByteArray("example.com")     << 81 << QByteArray("/a?b=C");
    QTest::newRow("no scheme, no path") << QByteArray("example.com")                       << QByteArray("example.com")     << 80 << QByteArray("/");
    QTest::newRow("port not a number")  << QByteArray("http://host:abc/x")                 << QByteArray("host")            << 0  << QByteArray("/x");
    QTest::newRow("port with fraction") << QByteArray("http://host:81.9/x")                << QByteArray("host")            << 81 << QByteArray("/x");
    QTest::newRow("port empty")         << QByteArray("http://host:/x")                    << QByteArray("host")            << 0  << QByteArray("/x");
    QTest::newRow("port huge")          << QByteArray("http://host:99999999999/x")         << QByteArray("host")            << 2147483647 << QByteArray("/x");
    QTest::newRow("host inside http")   << QByteArray("http://t/abc")                      << QByteArray("t")               << 80 << QByteArray("/abc");
    QTest::newRow("host p with port")   << QByteArray("http://p:81/q")                     << QByteArray("p")               << 81 << QByteArray("/q");
    QTest::newRow("host in path too")   << QByteArray("http://a.com/x/a.com/y")            << QByteArray("a.com")           << 80 << QByteArray("/x/a.com/y");
    QTest::newRow("query without path") << QByteArray("http://host?x=1")                   << QByteArray("host?x=1")        << 80 << QByteArray("/");
    QTest::newRow("scheme only")        << QByteArray("http://")                           << QByteArray("")                << 80 << QByteArray("/");
    QTest::newRow("empty")              << QByteArray("")                                  << QByteArray("")                << 80 << QByteArray("/");
    QTest::newRow("other scheme")       << QByteArray("https://h.com/x")                   << QByteArray("https")           << 0  << QByteArray("//h.com/x");
    // 丂 is 81 41: its trail byte is an "A" and must stay one.
    QTest::newRow("trail byte capital") << g("http://丂X.com/a")                        << g("丂x.com")              << 80 << QByteArray("/a");
    QTest::newRow("gbk host and path")  << g("http://快递.CN/路径?单号=1")                 << g("快递.cn")              << 80 << g("/路径?单号=1");
    // clang-format on
}

void TestUrl::parts()
{
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    QFETCH(QByteArray, path);
    QCOMPARE(q(urlHost(s(url))), host);
    QCOMPARE(urlPort(s(url)), port);
    QCOMPARE(q(urlPath(s(url))), path);
}

void TestUrl::updateCheckUrl()
{
    qunsetenv("KUVONA_HOMEPAGE_HOST");
    QCOMPARE(kuvona::updateCheckUrl(), homepageUrl() + "/soft/updata.gif");
    QVERIFY(kuvona::updateCheckUrl().starts_with("http://"));

    qputenv("KUVONA_HOMEPAGE_HOST", "127.0.0.1:8080");
    const std::string url = kuvona::updateCheckUrl();
    QCOMPARE(url, std::string("http://127.0.0.1:8080/soft/updata.gif"));
    QCOMPARE(urlHost(url), std::string("127.0.0.1"));
    QCOMPARE(urlPort(url), 8080);
    QCOMPARE(urlPath(url), std::string("/soft/updata.gif"));

    // A refused host gives no URL at all rather than the built-in host's.
    qputenv("KUVONA_HOMEPAGE_HOST", "127.0.0.1:8080/x");
    QCOMPARE(kuvona::updateCheckUrl(), std::string());
    QCOMPARE(homepageUrl(), std::string());
    qunsetenv("KUVONA_HOMEPAGE_HOST");
}

QTEST_GUILESS_MAIN(TestUrl)
#include "tst_url.moc"
