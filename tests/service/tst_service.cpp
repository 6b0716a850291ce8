#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "common/gbk.h"
#include "common/text.h"
#include "platform/cancel.h"
#include "query/extraction.h"
#include "query/http_get.h"
#include "query/query_url.h"
#include "service/parcels.h"
#include "tests/service/local_service.h"

using namespace kuvona;
using kuvona::test::LocalService;

static std::string u(const QString& s)
{
    return gbk(s.toStdString());
}

// Fetches `url` on this thread, raising its stop flag after `milliseconds`.
static std::string fetchStoppedAfter(const std::string& url, int milliseconds)
{
    std::atomic<bool> flag{false};
    setThreadCancelFlag(&flag);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        flag = true;
    });
    std::string body = httpGetBytes(url);
    stopper.join();
    setThreadCancelFlag(nullptr);
    return body;
}

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parseErrors_data();
    void parseErrors();
    void sampleFileParses();
    void answers_data();
    void answers();
    void cellsKeptUnchanged();
    void wrongSecret();
    void homepageAndVersion();
    void versionFileReadEachTime();
    void delayedAnswerCanBeStopped();
    void piecesArriveOverTime();
    void badDataFileStopsTheService();

private:
    LocalService m_service;
};

void TestService::initTestCase()
{
    QVERIFY2(m_service.start({"--unsupported", "kuaijie,tnt", "--version-text", "2.2"}),
             qPrintable(m_service.error()));
}

void TestService::parseErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("error");

    // clang-format off
    QTest::newRow("key before number") << QByteArray("row: a | b\n")                    << QByteArray("line 1: ");
    QTest::newRow("no colon")          << QByteArray("number: 1\nrow a | b\n")          << QByteArray("line 2: expected");
    QTest::newRow("row without bar")   << QByteArray("number: 1\n\nrow: a b\n")         << QByteArray("line 3: a row needs");
    QTest::newRow("unknown key")       << QByteArray("number: 1\ncolour: red\n")        << QByteArray("line 2: unknown key");
    QTest::newRow("bad status")        << QByteArray("number: 1\nstatus: 99\n")         << QByteArray("line 2: unknown key or bad value");
    QTest::newRow("negative delay")    << QByteArray("number: 1\ndelay-ms: -5\n")       << QByteArray("line 2: unknown key or bad value");
    QTest::newRow("empty number")      << QByteArray("# c\nnumber:\n")                  << QByteArray("line 2: empty number");
    // clang-format on
}

void TestService::parseErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, error);
    std::string message;
    QVERIFY(!service::parseParcels(text.toStdString(), message));
    QVERIFY2(QByteArray::fromStdString(message).startsWith(error), message.c_str());
}

void TestService::sampleFileParses()
{
    std::ifstream in(KUVONA_SOURCE_DIR "/service/parcels.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const auto parcels = service::parseParcels(text, error);
    QVERIFY2(parcels, error.c_str());
    const auto longOne = std::find_if(parcels->begin(), parcels->end(),
                                      [](const service::Parcel& p) { return p.number == "1000000000500"; });
    QVERIFY(longOne != parcels->end());
    QCOMPARE(longOne->rows.size(), std::size_t(500));
}

void TestService::answers_data()
{
    QTest::addColumn<QByteArray>("com");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("message"); // the whole answer text, when it is one of the fixed texts
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("firstCell");

    // clang-format off
    QTest::newRow("six rows")              << QByteArray("zhongtong") << "368726491023"  << ""                 << 6   << "2024-03-01 08:12:45";
    QTest::newRow("other courier's")       << QByteArray("shentong")  << "368726491023"  << "单号不存在"        << 0   << "";
    QTest::newRow("sf express")            << QByteArray("shunfeng")  << "SF1234567890"  << ""                 << 4   << "2024-03-05 10:00:00";
    QTest::newRow("ems")                   << QByteArray("ems")       << "EA123456789CN" << ""                 << 2   << "2024-02-20 09:00:00";
    QTest::newRow("long, any courier")     << QByteArray("yunda")     << "1000000000500" << ""                 << 500 << "2024-03-01 00:07:13";
    QTest::newRow("unknown number")        << QByteArray("zhongtong") << "0000"          << "单号不存在"        << 0   << "";
    QTest::newRow("empty number")          << QByteArray("zhongtong") << ""              << "单号不存在"        << 0   << "";
    QTest::newRow("courier not in table")  << QByteArray("youzheng")  << "368726491023"  << "不支持的快递公司"  << 0   << "";
    QTest::newRow("courier unsupported")   << QByteArray("kuaijie")   << "1000000000500" << "不支持的快递公司"  << 0   << "";
    QTest::newRow("not found with 404")    << QByteArray("zhongtong") << "9000000000404" << "单号不存在"        << 0   << "";
    QTest::newRow("zero byte after row 2") << QByteArray("zhongtong") << "9000000000003" << ""                 << 2   << "2024-03-01 08:00:00";
    QTest::newRow("capital markers")       << QByteArray("zhongtong") << "9000000000005" << ""                 << 1   << "2024-03-01 08:00:00";
    QTest::newRow("error page, no cells")  << QByteArray("zhongtong") << "9000000000500" << ""                 << 0   << "";
    QTest::newRow("ampersand and hash")    << QByteArray("ems")       << "12&34#56"      << ""                 << 1   << "2024-03-01 08:00:00";
    QTest::newRow("inner blank")           << QByteArray("ems")       << "AB 12"         << ""                 << 1   << "2024-03-01 08:00:00";
    QTest::newRow("chinese number")        << QByteArray("ems")       << "测试123"       << ""                 << 1   << "2024-03-01 08:00:00";
    QTest::newRow("prefix of a number")    << QByteArray("ems")       << "12&34"         << "单号不存在"        << 0   << "";
    // clang-format on
}

// The query as the worker makes it: URL, fetch, answer text up to a zero byte, then the rows.
void TestService::answers()
{
    QFETCH(QByteArray, com);
    QFETCH(QString, number);
    QFETCH(QString, message);
    QFETCH(int, rows);
    QFETCH(QString, firstCell);

    const std::string answer =
        bytesToText(httpGetBytes(buildQueryUrl(m_service.hostAndPort(), com.toStdString(), u(number))));
    if (!message.isEmpty())
        QCOMPARE(answer, u(message));
    ResultCells cells(answer);
    QCOMPARE(cells.rowCount(), rows);
    if (rows > 0)
        QCOMPARE(cells.nextRow().time, u(firstCell));
}

void TestService::cellsKeptUnchanged()
{
    ResultCells cells(
        bytesToText(httpGetBytes(buildQueryUrl(m_service.hostAndPort(), "shunfeng", "SF1234567890"))));
    QCOMPARE(cells.rowCount(), 4);
    cells.nextRow();
    QCOMPARE(cells.nextRow().progress,
             gbk("快件在【深圳宝安集散中心】完成分拣，<br>准备发往 【北京顺义集散中心】"));
    QCOMPARE(cells.nextRow().progress, gbk("快件到达 【北京朝阳望京营业点】&nbsp;"));
}

void TestService::wrongSecret()
{
    const std::string url = m_service.url("/?id=581720&secret=00000000000000000000000000000000&com=zhongtong"
                                          "&nu=368726491023&type=html");
    const std::string answer = httpGetBytes(url);
    QVERIFY(answer.starts_with(gbk("参数错误")));
    QCOMPARE(resultRowCount(answer), 0);
}

void TestService::homepageAndVersion()
{
    const std::string page = httpGetBytes(m_service.url("/"));
    QVERIFY(page.starts_with("<html>"));
    QVERIFY(page.find(gbk("Kuvona 快递查询")) != std::string::npos);
    QCOMPARE(httpGetBytes(m_service.url("/soft/updata.gif")), std::string("2.2"));
}

void TestService::versionFileReadEachTime()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("version.txt");
    const auto write = [&](const char* text) {
        std::ofstream(path.toStdString(), std::ios::binary) << text;
    };
    write("2.3");
    LocalService site;
    QVERIFY2(site.start({"--version-file", path}), qPrintable(site.error()));
    QCOMPARE(httpGetBytes(site.url("/soft/updata.gif")), std::string("2.3"));
    write("3.0\r\n");
    QCOMPARE(httpGetBytes(site.url("/soft/updata.gif")), std::string("3.0\r\n"));
}

// The delayed parcel sends nothing for five seconds; a stop must not wait for it.
void TestService::delayedAnswerCanBeStopped()
{
    QElapsedTimer timer;
    timer.start();
    const std::string body =
        fetchStoppedAfter(buildQueryUrl(m_service.hostAndPort(), "zhongtong", "9000000000001"), 300);
    QVERIFY(body.empty());
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString("took %1 ms").arg(timer.elapsed())));
}

// The piece-by-piece parcel sends a row every 500 ms: stopped after 1.3 s, a few rows have come.
void TestService::piecesArriveOverTime()
{
    const std::string body =
        fetchStoppedAfter(buildQueryUrl(m_service.hostAndPort(), "zhongtong", "9000000000002"), 1300);
    const int rows = countMarker(body, "</td>", false) / 2;
    QVERIFY2(rows >= 1 && rows < 20, qPrintable(QString("%1 rows").arg(rows)));
}

void TestService::badDataFileStopsTheService()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("parcels.txt");
    std::ofstream(path.toStdString()) << "number: 1\nrow: no bar\n";
    QProcess process;
    process.start(KUVONA_BINARY_DIR "/service/kuvona-service", {"--port", "0", "--data", path});
    QVERIFY(process.waitForFinished(20000));
    QVERIFY(process.exitCode() != 0);
    QVERIFY(process.readAllStandardError().contains("line 2"));
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

QTEST_APPLESS_MAIN(TestService)
#include "tst_service.moc"
