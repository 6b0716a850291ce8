#include <QTest>
#include <cstdlib>
#include <string>

#include "common/gbk.h"
#include "query/query_url.h"

using namespace kuvona;

static std::string s(const QByteArray& b)
{
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

class TestQueryUrl : public QObject
{
    Q_OBJECT

private slots:
    void init() { unsetenv("KUVONA_QUERY_HOST"); }
    void cleanup() { unsetenv("KUVONA_QUERY_HOST"); }
    void wholeUrl();
    void number_data();
    void number();
    void host_data();
    void host();
};

void TestQueryUrl::wholeUrl()
{
    QCOMPARE(buildQueryUrl("api.ickd.cn", "zhongtong", "368726491023"),
             std::string("http://api.ickd.cn/?id=581720&secret=7b1e04c9a2d85f36e0c4b97a1d3f2e58&com=zhongtong"
                         "&nu=368726491023&type=html"));
    QCOMPARE(buildQueryUrl("127.0.0.1:8080", "ems", ""),
             std::string("http://127.0.0.1:8080/?id=581720&secret=7b1e04c9a2d85f36e0c4b97a1d3f2e58&com=ems"
                         "&nu=&type=html"));
}

void TestQueryUrl::number_data()
{
    QTest::addColumn<QByteArray>("number"); // GBK bytes
    QTest::addColumn<QByteArray>("encoded");

    // clang-format off
    QTest::newRow("letters and digits") << QByteArray("SF1234567890")           << QByteArray("SF1234567890");
    QTest::newRow("unreserved marks")   << QByteArray("a-b.c_d~e")              << QByteArray("a-b.c_d~e");
    QTest::newRow("ampersand")          << QByteArray("12&34")                  << QByteArray("12%2634");
    QTest::newRow("key injection")      << QByteArray("1&com=ems")              << QByteArray("1%26com%3Dems");
    QTest::newRow("hash")               << QByteArray("12#34")                  << QByteArray("12%2334");
    QTest::newRow("inner blank")        << QByteArray("AB 12")                  << QByteArray("AB%2012");
    QTest::newRow("plus and percent")   << QByteArray("a+b%c")                  << QByteArray("a%2Bb%25c");
    QTest::newRow("slash and question") << QByteArray("a/b?c")                  << QByteArray("a%2Fb%3Fc");
    QTest::newRow("line break")         << QByteArray("a\r\nb")                 << QByteArray("a%0D%0Ab");
    QTest::newRow("gbk bytes")          << QByteArray::fromStdString(gbk("测试1")) << QByteArray("%B2%E2%CA%D41");
    QTest::newRow("full-width blank")   << QByteArray("\xA1\xA1")               << QByteArray("%A1%A1");
    QTest::newRow("empty")              << QByteArray()                         << QByteArray();
    // clang-format on
}

// The number must reach the service as one value of `nu`, whatever bytes it holds.
void TestQueryUrl::number()
{
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, encoded);
    QCOMPARE(QByteArray::fromStdString(percentEncode(s(number))), encoded);
    const std::string url = buildQueryUrl("h", "yunda", s(number));
    const std::string expected =
        "http://h/?id=581720&secret=7b1e04c9a2d85f36e0c4b97a1d3f2e58&com=yunda&nu=" + encoded.toStdString() +
        "&type=html";
    QCOMPARE(url, expected);
}

void TestQueryUrl::host_data()
{
    QTest::addColumn<QByteArray>("variable"); // "-" leaves it unset
    QTest::addColumn<QByteArray>("host");

    // clang-format off
    QTest::newRow("unset")           << QByteArray("-")                 << QByteArray("api.ickd.cn");
    QTest::newRow("empty")           << QByteArray("")                  << QByteArray("api.ickd.cn");
    QTest::newRow("host and port")   << QByteArray("127.0.0.1:8080")    << QByteArray("127.0.0.1:8080");
    QTest::newRow("name")            << QByteArray("kuaidi.example")    << QByteArray("kuaidi.example");
    QTest::newRow("ipv6")            << QByteArray("[::1]:9000")        << QByteArray("[::1]:9000");
    QTest::newRow("trailing dot")    << QByteArray("kuaidi.example.")   << QByteArray();
    QTest::newRow("with a path")     << QByteArray("evil.example/x?")   << QByteArray();
    QTest::newRow("with user info")  << QByteArray("u@evil.example")    << QByteArray();
    QTest::newRow("with a blank")    << QByteArray("a b")               << QByteArray();
    QTest::newRow("with a scheme")   << QByteArray("http://a.example")  << QByteArray();
    QTest::newRow("empty host")      << QByteArray(":8080")             << QByteArray();
    QTest::newRow("empty port")      << QByteArray("a.example:")        << QByteArray();
    QTest::newRow("port 0")          << QByteArray("a.example:0")       << QByteArray();
    QTest::newRow("port 65536")      << QByteArray("a.example:65536")   << QByteArray();
    QTest::newRow("port 65535")      << QByteArray("a.example:65535")   << QByteArray("a.example:65535");
    QTest::newRow("two colons")      << QByteArray("a.example:80:81")   << QByteArray();
    QTest::newRow("hyphen first")    << QByteArray("-a.example")        << QByteArray();
    QTest::newRow("long label")      << QByteArray(64, 'a')             << QByteArray();
    QTest::newRow("ipv6 unclosed")   << QByteArray("[::1:80")           << QByteArray();
    QTest::newRow("ipv6 not hex")    << QByteArray("[::g]")             << QByteArray();
    QTest::newRow("after brackets")  << QByteArray("[::1]x")            << QByteArray();
    // clang-format on
}

void TestQueryUrl::host()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, host);
    if (variable != "-")
        setenv("KUVONA_QUERY_HOST", variable.constData(), 1);
    QCOMPARE(QByteArray::fromStdString(queryHost()), host);
    // A refused host builds no URL, so nothing is fetched, and no other host takes its place.
    const std::string url = buildQueryUrl("ems", "1");
    if (host.isEmpty())
        QCOMPARE(url, std::string());
    else
        QVERIFY(url.starts_with("http://" + host.toStdString() + "/?id="));
}

QTEST_APPLESS_MAIN(TestQueryUrl)
#include "tst_query_url.moc"
