#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "common/gbk.h"
#include "tests/saved/lock_holder.h"
#include "tests/saved/store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KUVONA_BINARY_DIR "/saved/kuvona-store"), args);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestStoreTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void check_data();
    void check();
    void dumpTable();
    void dumpJson();
    void dumpNeverRepairs();
    void pendingRecovery();
    void specialFile();
    void usage();

private:
    QString file(const std::string& bytes, const char* name = "Danhao.edb")
    {
        const QString p = m_dir.filePath(name);
        writeFile(p.toStdString(), bytes);
        return p;
    }

    QTemporaryDir m_dir;
};

// The example store: one record YT123 / 圆通, a second marked deleted with a remark.
static std::string exampleStore()
{
    std::string bytes = templateBytes();
    bytes += makeRecord(34, "YT123", gbk("圆通"), "");
    bytes += makeRecord(-35, "SF9", gbk("顺丰"), gbk("备注 \"引号\"\n第二行"));
    putInt32(bytes, 16, 2);
    putInt32(bytes, 20, 36);
    return bytes;
}

void TestStoreTool::check_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    std::string badMagic = templateBytes();
    badMagic[0] = 'X';
    std::string newer = templateBytes();
    putInt32(newer, 4, 65537);
    std::string badName = templateBytes();
    badName.replace(116 + 72, 17, std::string(17, 'n'));
    std::string halfRecord = storeWithRecords(3) + std::string(68, 'x');
    putInt32(halfRecord, 16, 5);
    std::string hugeRecords = storeWithRecords(10);
    putInt32(hugeRecords, 24, 0x7FFFFFFF);
    std::string surplus = storeWithRecords(3);
    putInt32(surplus, 16, 1);

    auto qb = [](const std::string& s) {
        return QByteArray(s.data(), qsizetype(s.size()));
    };
    // clang-format off
    QTest::newRow("template")       << qb(templateBytes())      << 0 << "a store, 3 fields, 0 records";
    QTest::newRow("two records")    << qb(exampleStore())       << 0 << "a store, 3 fields, 2 records";
    QTest::newRow("would repair")   << qb(halfRecord)           << 0 << "storedRecordCount 5 -> 3, file length 808 -> 740";
    QTest::newRow("short")          << QByteArray("WEDB")       << 1 << "not a store: shorter than the 112-byte header";
    QTest::newRow("bad magic")      << qb(badMagic)             << 1 << "not a store: magic is not WEDB";
    QTest::newRow("newer version")  << qb(newer)                << 1 << "not a store: formatVersion is newer than 65536";
    QTest::newRow("long name")      << qb(badName)              << 1 << "not a store: field 2: a field name has no terminating zero";
    QTest::newRow("huge records")   << qb(hugeRecords)          << 1 << "not a store: recordLength is far longer than its fields need";
    QTest::newRow("two surplus")    << qb(surplus)              << 1 << "not a store: more than one record's bytes lie beyond";
    // clang-format on
}

void TestStoreTool::check()
{
    QFETCH(QByteArray, content);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const QString path = file(std::string(content.constData(), std::size_t(content.size())));
    const Run r = runTool({"check", path});
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.out.contains(says), qPrintable(r.out));
    QCOMPARE(r.out.count('\n'), 1);
    QCOMPARE(readFile(path.toStdString()), std::string(content.constData(), std::size_t(content.size())));
}

void TestStoreTool::dumpTable()
{
    const QString path = file(exampleStore());
    const Run r = runTool({"dump", path});
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.out.split('\n');
    QVERIFY(lines.contains("nextSerial         36"));
    QVERIFY(lines.contains("createdTime        40205.992476851854 (2010-01-27 23:49:10)"));
    QVERIFY(lines.contains("1      单号  10    4       20"));
    QVERIFY(lines.contains("3      备注  10    36      100"));
    QVERIFY(lines.contains("record  serial  deleted  单号   公司  备注"));
    QVERIFY(lines.contains("1       34      no       YT123  圆通"));
    QVERIFY(lines.contains("2       -35     yes      SF9    顺丰  备注 \"引号\"\\n第二行"));

    const Run missing = runTool({"dump", m_dir.filePath("missing.edb")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains("cannot open"));
}

void TestStoreTool::dumpJson()
{
    const QString path = file(exampleStore());
    const Run r = runTool({"dump", "--json", path});
    QCOMPARE(r.exitCode, 0);
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc["header"]["nextSerial"].toInt(), 36);
    QCOMPARE(doc["header"]["dataStart"].toInt(), 332);
    QCOMPARE(doc["fields"].toArray().size(), 3);
    QCOMPARE(doc["fields"][1]["name"].toString(), QString("公司"));
    QCOMPARE(doc["fields"][2]["width"].toInt(), 100);
    const QJsonArray records = doc["records"].toArray();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0]["serial"].toInt(), 34);
    QCOMPARE(records[0]["deleted"].toBool(), false);
    QCOMPARE(records[0]["values"][1].toString(), QString("圆通"));
    QCOMPARE(records[1]["deleted"].toBool(), true);
    QCOMPARE(records[1]["values"][2].toString(), QString("备注 \"引号\"\n第二行"));
    QCOMPARE(runTool({"dump", path, "--json"}).out, r.out);
}

void TestStoreTool::dumpNeverRepairs()
{
    std::string bytes = storeWithRecords(3) + std::string(68, 'x');
    putInt32(bytes, 16, 5);
    const QString path = file(bytes);
    const Run r = runTool({"dump", "--json", path});
    QCOMPARE(r.exitCode, 0);
    const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(doc["records"].toArray().size(), 3);
    QCOMPARE(doc["header"]["storedRecordCount"].toInt(), 5);
    QVERIFY(doc["repair"].toString().contains("5 -> 3"));
    QCOMPARE(readFile(path.toStdString()), bytes);

    // A writer in another process holds the file: the tool says so instead of reading torn data.
    LockHolder holder(path.toStdString(), 16, 1);
    QVERIFY(holder.ok());
    const Run locked = runTool({"check", path});
    QCOMPARE(locked.exitCode, 1);
    QVERIFY(locked.out.contains("locked by another process"));
}

void TestStoreTool::pendingRecovery()
{
    const InterruptedPurge p = interruptedPurge();
    const QString path = file(p.halfDone);
    const std::string journalPath = path.toStdString() + "-journal";
    writeFile(journalPath, p.journal);
    const Run r = runTool({"check", path});
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.out.contains("pending recovery: " + QString::fromStdString(journalPath)), qPrintable(r.out));
    QCOMPARE(r.out.count('\n'), 1);
    const Run d = runTool({"dump", path});
    QCOMPARE(d.exitCode, 0);
    QVERIFY(d.err.contains("pending recovery"));
    // Nothing is rolled back by the tool.
    QCOMPARE(readFile(path.toStdString()), p.halfDone);
    QCOMPARE(readFile(journalPath), p.journal);
    {
        // While the change is still running in another process, its journal is no pending recovery.
        LockHolder writer(path.toStdString(), 0, 0x7FFFFFFF);
        QVERIFY(writer.ok());
        const Run running = runTool({"check", path});
        QCOMPARE(running.exitCode, 1);
        QVERIFY2(running.out.contains("locked by another process"), qPrintable(running.out));
    }

    // A journal cut short never reached the file: the file is judged as it is.
    writeFile(path.toStdString(), p.original);
    writeFile(journalPath, p.journal.substr(0, 100));
    const Run cut = runTool({"check", path});
    QCOMPARE(cut.exitCode, 0);
    QVERIFY(cut.out.contains("a store, 3 fields, 8 records"));
    ::unlink(journalPath.c_str());
}

void TestStoreTool::specialFile()
{
    // Opened for reading without O_NONBLOCK, a FIFO would hang the tool until a writer came.
    const QString path = m_dir.filePath("fifo.edb");
    QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    const Run r = runTool({"check", path});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.contains("not a regular file"));
    QVERIFY(timer.elapsed() < 10000);
}

void TestStoreTool::usage()
{
    const Run help = runTool({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("3  pending recovery"));
    QCOMPARE(runTool({}).exitCode, 2);
    QCOMPARE(runTool({"repair", "x"}).exitCode, 2);
    QCOMPARE(runTool({"dump", "--xml", "x"}).exitCode, 2);
}

QTEST_GUILESS_MAIN(TestStoreTool)
#include "tst_store_tool.moc"
