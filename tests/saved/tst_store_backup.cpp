// kuvona-store as a user runs it: the file it uses by default, and its backup commands.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "common/gbk.h"
#include "saved/store_backup.h"
#include "saved/store_snapshot.h"
#include "tests/saved/lock_holder.h"
#include "tests/saved/store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;
using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run runTool(const QString& exe, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(exe, args);
    Run r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QString kTool = QStringLiteral(KUVONA_BINARY_DIR "/saved/kuvona-store");

QByteArray q(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string s(const QByteArray& bytes)
{
    return bytes.toStdString();
}

// The GBK bytes of a UTF-8 literal.
QByteArray g(const char* utf8)
{
    return q(gbk(utf8));
}

// The live records of a store file as the program reads them: number, courier, remark (GBK).
QList<QByteArrayList> savedRows(const QString& path)
{
    StoreSnapshot snapshot;
    std::string reason;
    if (!readStoreSnapshot(path.toStdString(), true, snapshot, reason))
        return {{QByteArray("unreadable: ") + reason.c_str()}};
    QList<QByteArrayList> rows;
    for (const std::string& record : snapshot.records)
        if (recordSerial(record) >= 0)
            rows.append({q(record.substr(4, 20).c_str()), q(record.substr(24, 12).c_str()),
                         q(record.substr(36, 100).c_str())});
    return rows;
}

// A store with `records` records and a CSV to import into it, in a folder of their own.
struct ImportFiles
{
    ImportFiles(int records, const std::string& csvBytes)
    {
        writeFile(store.toStdString(), storeWithRecords(records));
        writeFile(csv.toStdString(), csvBytes);
    }

    QTemporaryDir dir;
    QString store = dir.filePath(u"Danhao.edb"_s);
    QString csv = dir.filePath(u"in.csv"_s);
};

// A store whose remarks hold everything CSV has to quote, at the field widths' limits, with a
// marked record that a backup leaves out.
std::string nastyStore()
{
    const std::string remarks[] = {
        gbk("逗号, 引号\"内\"和\r\n换行"),
        "\"starts with a quote\", and \"\"doubled\"\"",
        gbk(" 前后空格 "),
        "line one\nline two\rline three",
        std::string(100, 'x'),
        gbk("备注写满一百个字节备注写满一百个字节备注写满一百个字节备注写满一百个字节备注写满一百个字节备注写"
            "满一百个字节") +
            "0123456789",
        "",
    };
    std::string bytes = templateBytes();
    std::int32_t serial = 34;
    for (const std::string& remark : remarks) {
        bytes += makeRecord(serial, "SF" + std::to_string(serial + 1), gbk("顺丰速运"), remark);
        ++serial;
    }
    bytes += makeRecord(-(serial++), "DELETED1", gbk("圆通"), "gone");
    bytes += makeRecord(serial++, "12345678901234567890", gbk("中通快递公司"), "=1+2");
    putInt32(bytes, 16, 9);
    putInt32(bytes, 20, serial);
    return bytes;
}

} // namespace

class TestStoreBackup : public QObject
{
    Q_OBJECT

private slots:
    void defaultFile_data();
    void defaultFile();
    void readCsv_data();
    void readCsv();
    void roundTrip_data();
    void roundTrip();
    void badImportWritesNothing_data();
    void badImportWritesNothing();
    void importIntoTheDefaultFile();
    void importWaitsForAnotherInstance_data();
    void importWaitsForAnotherInstance();
};

// A copy of the tool in a folder of its own, as a portable Kuvona keeps its files there, works on
// the Danhao.edb beside it.
void TestStoreBackup::defaultFile_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    // clang-format off
    QTest::newRow("check")       << QStringList{u"check"_s}            << 0 << u"{dir}/Danhao.edb: a store, 3 fields, 1 records"_s;
    QTest::newRow("dump")        << QStringList{u"dump"_s}             << 0 << u"{dir}/Danhao.edb"_s;
    QTest::newRow("dump --json") << QStringList{u"dump"_s, u"--json"_s} << 0 << u"\"file\": \"{dir}/Danhao.edb\""_s;
    // clang-format on
}

void TestStoreBackup::defaultFile()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString exe = dir.filePath(u"kuvona-store"_s);
    QVERIFY(QFile::copy(kTool, exe));
    std::string bytes = templateBytes();
    bytes += makeRecord(34, "YT123", gbk("圆通"), "");
    putInt32(bytes, 16, 1);
    putInt32(bytes, 20, 35);
    writeFile(dir.filePath(u"Danhao.edb"_s).toStdString(), bytes);

    const Run r = runTool(exe, args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.out).contains(says.replace(u"{dir}"_s, dir.path())), r.out.constData());
}

// Encoding: -1 detected, 0 UTF-8, 1 GBK. `rows` is the count read, or -1 when `error` is expected.
void TestStoreBackup::readCsv_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("lastRemark"); // GBK
    QTest::addColumn<QString>("error");

    const QByteArray header = "number,courier,remark\r\n";
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray gbkRow = g("SF1,顺丰,第一行\r\n");
    // clang-format off
    QTest::newRow("UTF-8 with BOM")       << bom + header + "SF1,顺丰,备注\r\n"            << -1 << 1 << g("备注") << QString();
    QTest::newRow("UTF-8, no BOM")        << header + "SF1,顺丰,备注"                      << -1 << 1 << g("备注") << QString();
    QTest::newRow("GBK detected")         << header + gbkRow                              << -1 << 1 << g("第一行") << QString();
    QTest::newRow("GBK named")            << header + gbkRow                              << 1  << 1 << g("第一行") << QString();
    QTest::newRow("store's own header")   << g("单号,公司,备注\n") + gbkRow                 << -1 << 1 << g("第一行") << QString();
    QTest::newRow("header any case")      << QByteArray("Number,COURIER,Remark\nA1,B,C\n")           << -1 << 1 << g("C") << QString();
    QTest::newRow("quoted breaks")        << header + "A1,B,\"x,\"\"y\"\"\r\nz\"\r\n"        << -1 << 1 << QByteArray("x,\"y\"\r\nz") << QString();
    QTest::newRow("LF and blank lines")   << header + "\nA1,B,\n\nA2,B,r\n\n"               << -1 << 2 << QByteArray("r") << QString();
    QTest::newRow("widths at the limit")  << header + "12345678901234567890,中通快递公司," + QByteArray(100, 'r') << -1 << 1 << QByteArray(100, 'r') << QString();
    QTest::newRow("header only")          << header                                       << -1 << 0 << QByteArray() << QString();

    QTest::newRow("no header")            << QByteArray("SF1,顺丰,\r\n")                  << -1 << -1 << QByteArray() << u"line 1: the first row must be number,courier,remark"_s;
    QTest::newRow("empty file")           << QByteArray()                                 << -1 << -1 << QByteArray() << u"line 1: the first row must be number,courier,remark"_s;
    QTest::newRow("two fields")           << header + "A1,B,C\r\nA2,B\r\n"                 << -1 << -1 << QByteArray() << u"line 3: 2 fields, not 3"_s;
    QTest::newRow("line after a break")   << header + "A1,B,\"a\nb\nc\"\nA2,B,C,D\n"         << -1 << -1 << QByteArray() << u"line 5: 4 fields, not 3"_s;
    QTest::newRow("quote not closed")     << header + "A1,B,C\nA2,B,\"open\n\n"            << -1 << -1 << QByteArray() << u"line 3: a quoted field is not closed"_s;
    QTest::newRow("text after quote")     << header + "A1,B,\"x\"y\n"                      << -1 << -1 << QByteArray() << u"line 2: text after the closing quote of a field"_s;
    QTest::newRow("quote inside")         << header + "A1,B,x\"y\"\n"                      << -1 << -1 << QByteArray() << u"line 2: a quote inside a field that does not start with one"_s;
    QTest::newRow("number 21 bytes")      << header + "123456789012345678901,B,C\n"      << -1 << -1 << QByteArray() << u"line 2: the number (单号) has 21 bytes in GBK, more than 20"_s;
    QTest::newRow("courier 14 GBK bytes") << header + "A1,中通快递公司总,C\n"                 << -1 << -1 << QByteArray() << u"line 2: the courier (公司) has 14 bytes in GBK, more than 12"_s;
    QTest::newRow("remark 101 bytes")     << header + "A1,B," + QByteArray(101, 'r')      << -1 << -1 << QByteArray() << u"line 2: the remark (备注) has 101 bytes in GBK, more than 100"_s;
    QTest::newRow("empty number")         << header + "A1,B,C\n,B,C\n"                     << -1 << -1 << QByteArray() << u"line 3: the number is empty"_s;
    QTest::newRow("not in GBK")           << header + "A1,B,\xF0\x9F\x93\xA6\n"            << 0  << -1 << QByteArray() << u"line 2: the remark (备注) has characters GBK cannot hold"_s;
    QTest::newRow("bad UTF-8 after BOM")  << bom + header + "A1,B,C\n" + gbkRow           << -1 << -1 << QByteArray() << u"line 3: not UTF-8 text"_s;
    QTest::newRow("bad GBK")              << header + "A1,B,\x81\n"                       << 1  << -1 << QByteArray() << u"line 2: the remark (备注) is not GBK text"_s;
    QTest::newRow("zero byte")            << header + QByteArray("A1,B,x\0y\n", 9)          << -1 << -1 << QByteArray() << u"line 2: the remark (备注) has a zero byte"_s;
    // clang-format on
}

void TestStoreBackup::readCsv()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, encoding);
    QFETCH(int, rows);
    QFETCH(QByteArray, lastRemark);
    QFETCH(QString, error);
    std::optional<CsvEncoding> named;
    if (encoding >= 0)
        named = encoding == 0 ? CsvEncoding::Utf8 : CsvEncoding::Gbk;
    std::vector<SavedNumber> read;
    std::string message;
    const bool ok = savedNumbersFromCsv(s(csv), named, read, message);
    QCOMPARE(QString::fromStdString(message), error);
    QCOMPARE(ok, rows >= 0);
    QCOMPARE(int(read.size()), std::max(rows, 0));
    if (rows > 0)
        QCOMPARE(q(read.back().remark), lastRemark);
}

// Export, then import into an empty store: the same numbers, couriers and remarks in the same
// order, whatever the remarks hold; the spreadsheet's file has its BOM (UTF-8) or none (GBK).
void TestStoreBackup::roundTrip_data()
{
    QTest::addColumn<QStringList>("encoding");
    QTest::addColumn<QByteArray>("starts");

    // clang-format off
    QTest::newRow("UTF-8 by default") << QStringList{}                              << QByteArray("\xEF\xBB\xBFnumber,courier,remark\r\nSF35,");
    QTest::newRow("GBK")              << QStringList{u"--encoding"_s, u"gbk"_s}      << QByteArray("number,courier,remark\r\nSF35,") + g("顺丰速运,\"逗号");
    // clang-format on
}

void TestStoreBackup::roundTrip()
{
    QFETCH(QStringList, encoding);
    QFETCH(QByteArray, starts);
    QTemporaryDir dir;
    const QString original = dir.filePath(u"Danhao.edb"_s);
    writeFile(original.toStdString(), nastyStore());

    const Run exported =
        runTool(kTool, QStringList{u"export"_s, u"--csv"_s} + encoding + QStringList{original});
    QCOMPARE(exported.exitCode, 0);
    QVERIFY2(exported.out.startsWith(starts), exported.out.left(80).constData());
    QVERIFY(!exported.out.contains("DELETED1"));
    const QString csv = dir.filePath(u"backup.csv"_s);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(exported.out) == exported.out.size());
    file.close();

    const QString restored = dir.filePath(u"restored.edb"_s);
    const Run imported = runTool(kTool, {u"import"_s, u"--csv"_s, csv, restored});
    QCOMPARE(imported.err, QString());
    QCOMPARE(imported.exitCode, 0);
    QList<QByteArrayList> expected = savedRows(original);
    QCOMPARE(expected.size(), 8);
    QCOMPARE(savedRows(restored), expected);
    // Imported again, the rows are appended after those already there, in order.
    QCOMPARE(runTool(kTool, {u"import"_s, u"--csv"_s, csv, restored}).exitCode, 0);
    QCOMPARE(savedRows(restored), expected + expected);
}

void TestStoreBackup::badImportWritesNothing_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("error");

    // clang-format off
    QTest::newRow("last line wrong") << QByteArray("number,courier,remark\nA1,B,C\nA2,B,C\nA3,B\n")          << u"line 4: 2 fields, not 3"_s;
    QTest::newRow("too wide")        << QByteArray("number,courier,remark\nA1,B,C\n") + "A2,B," + QByteArray(101, 'x') << u"line 3: the remark (备注) has 101 bytes in GBK, more than 100"_s;
    // clang-format on
}

void TestStoreBackup::badImportWritesNothing()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, error);
    const ImportFiles files(2, s(csv));
    const QString &store = files.store, &csvPath = files.csv;
    const Run r = runTool(kTool, {u"import"_s, u"--csv"_s, csvPath, store});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, csvPath + u": "_s + error + u"; nothing was imported\n"_s);
    QCOMPARE(readFile(store.toStdString()), storeWithRecords(2));
}

// Restoring on a new machine: without FILE the store Kuvona would use is made from the template
// and filled.
void TestStoreBackup::importIntoTheDefaultFile()
{
    QTemporaryDir dir;
    const QString exe = dir.filePath(u"kuvona-store"_s);
    QVERIFY(QFile::copy(kTool, exe));
    const QString csvPath = dir.filePath(u"in.csv"_s);
    writeFile(csvPath.toStdString(),
              std::string("number,courier,remark\r\nYT1,YTO,first\r\nYT2,YTO,second\r\n"));
    const Run r = runTool(exe, {u"import"_s, u"--csv"_s, csvPath});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(savedRows(dir.filePath(u"Danhao.edb"_s)),
             (QList<QByteArrayList>{{"YT1", "YTO", "first"}, {"YT2", "YTO", "second"}}));
    QCOMPARE(readFile(dir.filePath(u"Danhao.edb"_s).toStdString()).substr(0, 16),
             templateBytes().substr(0, 16));
}

// Another instance holding the store's locks for a moment (the count while it appends, the whole
// file while it rewrites) delays the import; one that keeps them makes it fail without a change.
void TestStoreBackup::importWaitsForAnotherInstance_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("releaseAfterMs");

    // clang-format off
    QTest::newRow("count, for a moment")      << qint64(16) << qint64(4) << 400;
    QTest::newRow("whole file, for a moment") << qint64(0)  << qint64(0) << 400;
    QTest::newRow("whole file, kept")         << qint64(0)  << qint64(0) << -1;
    // clang-format on
}

void TestStoreBackup::importWaitsForAnotherInstance()
{
    QFETCH(qint64, start);
    QFETCH(qint64, length);
    QFETCH(int, releaseAfterMs);
    const ImportFiles files(1, "number,courier,remark\nYT1,YTO,first\n");
    const QString &store = files.store, &csvPath = files.csv;
    LockHolder holder(store.toStdString(), start, length, releaseAfterMs);
    QVERIFY(holder.ok());
    const Run r = runTool(kTool, {u"import"_s, u"--csv"_s, csvPath, store});
    if (releaseAfterMs < 0) {
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.endsWith(u"nothing was imported\n"_s), qPrintable(r.err));
        QCOMPARE(readFile(store.toStdString()), storeWithRecords(1));
        return;
    }
    QCOMPARE(r.err, QString());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(savedRows(store), (QList<QByteArrayList>{{"N1", "C1", "R1"}, {"YT1", "YTO", "first"}}));
}

QTEST_GUILESS_MAIN(TestStoreBackup)
#include "tst_store_backup.moc"
