// The whole-store operations the commands build on: one-pass reads, crash-atomic replacement, the
// waiting append and change scope, the rollback journal, and template creation.

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/gbk.h"
#include "saved/store.h"
#include "tests/saved/lock_holder.h"
#include "tests/saved/store_fixture.h"
#include "tests/support/fault_injection.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

const std::string kNumber = gbk("单号"), kCompany = gbk("公司"), kRemark = gbk("备注");

QByteArray qb(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}
std::string sb(const QByteArray& b)
{
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// Records whose fields hold bytes after their terminators, which a rewrite has to keep.
std::string storeWithLeftovers(int count)
{
    std::string bytes = storeWithRecords(count);
    for (int i = 0; i < count; ++i)
        bytes.replace(332 + 136 * std::size_t(i) + 4 + 10, 4, "old" + std::to_string(i % 10));
    return bytes;
}

std::string recordAt(const std::string& bytes, int index)
{
    return bytes.substr(332 + 136 * std::size_t(index), 136);
}

} // namespace

class TestStoreChanges : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init()
    {
        closeStore();
        ::unlink(path().c_str());
        ::unlink(journal().c_str());
    }
    void cleanup() { closeStore(); }

    void readAllRecordsInOnePass();
    void replaceKeepsBytesAndSerials();
    void replaceRefuses_data();
    void replaceRefuses();
    void replaceMatchesClearAndAppend();
    void appendRecordWritesOneRecord();
    void appendRecordWaitsForAnotherInstance_data();
    void appendRecordWaitsForAnotherInstance();
    void changeScopeHoldsTheFile();
    void leftJournal_data();
    void leftJournal();
    void leftJournalBeforeAnAppend();
    void createStoreIfMissing_data();
    void createStoreIfMissing();
    void specialFilesAreNotOpened();

private:
    std::string path() const { return m_dir.filePath("Danhao.edb").toStdString(); }
    std::string journal() const { return path() + "-journal"; }
    void openWith(const std::string& bytes)
    {
        writeFile(path(), bytes);
        QVERIFY(openStore(path()));
    }
    QTemporaryDir m_dir;
};

void TestStoreChanges::readAllRecordsInOnePass()
{
    std::string bytes = storeWithRecords(3000);
    putInt32(bytes, 332 + 136 * 7, -41);
    openWith(bytes);
    bool ok = false;
    std::int32_t next = 0;
    std::vector<StoredRecord> records;
    {
        FaultInjector counter;
        records = readAllRecords(&ok, &next);
        // The header's count and nextSerial, then the record area: never a read per record.
        QCOMPARE(counter.calls(FaultKind::Read), 2);
    }
    QVERIFY(ok);
    QCOMPARE(next, 34 + 3000);
    QCOMPARE(records.size(), std::size_t(3000));
    QCOMPARE(records[7].serial, -41);
    QCOMPARE(records[2999].serial, 34 + 2999);
    QCOMPARE(records[1].texts, (std::vector<std::string>{"N2", "C2", "R2"}));
    QCOMPARE(records[1].bytes, recordAt(bytes, 1));
    QCOMPARE(currentRecordIndex(), 0);

    closeStore();
    QVERIFY(readAllRecords(&ok).empty());
    QVERIFY(!ok);
    openWith(templateBytes());
    QVERIFY(readAllRecords(&ok).empty());
    QVERIFY(ok);
}

void TestStoreChanges::replaceKeepsBytesAndSerials()
{
    const std::string bytes = storeWithLeftovers(5);
    openWith(bytes);
    auto records = readAllRecords();
    std::reverse(records.begin(), records.end());
    records.pop_back(); // the first record goes: the area shrinks
    QVERIFY(goToRecord(3));
    QVERIFY(replaceAllRecords(records));
    QCOMPARE(currentRecordIndex(), 0);
    std::string expected = bytes.substr(0, 332);
    putInt32(expected, 16, 4);
    for (int i = 4; i >= 1; --i)
        expected += recordAt(bytes, i);
    QCOMPARE(readFile(path()), expected);
    QVERIFY(::access(journal().c_str(), F_OK) != 0);

    // Same records again: nothing is written at all.
    {
        FaultInjector counter;
        QVERIFY(replaceAllRecords(readAllRecords()));
        QCOMPARE(counter.calls(FaultKind::Write), 0);
        QCOMPARE(counter.calls(FaultKind::Sync), 0);
    }
    // A new serial for a record, and nextSerial raised.
    records = readAllRecords();
    records[1].serial = 77;
    QVERIFY(replaceAllRecords(records, 80));
    const std::string file = readFile(path());
    QCOMPARE(getInt32(file, 20), 80);
    QCOMPARE(getInt32(file, 332 + 136), 77);
    QCOMPARE(file.substr(332 + 136 + 4, 132), recordAt(bytes, 3).substr(4));
}

void TestStoreChanges::replaceRefuses_data()
{
    QTest::addColumn<int>("recordLength");
    QTest::addColumn<int>("nextSerial"); // 0: not given
    // clang-format off
    QTest::newRow("record too short")  << 135 << 0;
    QTest::newRow("record too long")   << 137 << 0;
    QTest::newRow("nextSerial lowered") << 136 << 38;
    QTest::newRow("nextSerial 0")       << 136 << -1;
    // clang-format on
}

void TestStoreChanges::replaceRefuses()
{
    QFETCH(int, recordLength);
    QFETCH(int, nextSerial);
    const std::string bytes = storeWithRecords(5); // nextSerial 39
    openWith(bytes);
    auto records = readAllRecords();
    records[2].bytes.resize(std::size_t(recordLength));
    const auto next = nextSerial == 0 ? std::nullopt : std::optional<std::int32_t>(std::max(0, nextSerial));
    QVERIFY(!replaceAllRecords(records, next));
    QCOMPARE(readFile(path()), bytes);

    // Another instance holding any byte: no waiting, nothing written.
    records = readAllRecords();
    std::reverse(records.begin(), records.end());
    LockHolder holder(path(), 900, 1);
    QVERIFY(holder.ok());
    QVERIFY(!replaceAllRecords(records));
    QCOMPARE(readFile(path()), bytes);
}

void TestStoreChanges::replaceMatchesClearAndAppend()
{
    // The drag used to clear the store and append every row; one replacement must leave the same bytes.
    const std::vector<std::vector<std::string>> rows = {
        {"YT1", gbk("圆通"), "a"}, {std::string(25, '9'), gbk("顺丰速运顺丰速运"), ""}, {"", "", "r"}};
    openWith(storeWithLeftovers(4));
    QVERIFY(clearStore());
    for (const auto& row : rows) {
        QVERIFY(appendBlankRecord());
        QVERIFY(writeField(kNumber, row[0]) && writeField(kCompany, row[1]) && writeField(kRemark, row[2]));
    }
    const std::string byAppends = readFile(path());
    closeStore();

    openWith(storeWithLeftovers(4));
    std::int32_t next = 0;
    {
        StoreChange change;
        QVERIFY(change.ok());
        bool ok = false;
        readAllRecords(&ok, &next);
        QVERIFY(ok);
        std::vector<StoredRecord> composed;
        for (std::size_t i = 0; i < rows.size(); ++i)
            composed.push_back(composeRecord(next + std::int32_t(i), rows[i]));
        QCOMPARE(composed[1].texts,
                 (std::vector<std::string>{std::string(20, '9'), gbk("顺丰速运顺丰"), ""}));
        QVERIFY(replaceAllRecords(composed, next + std::int32_t(rows.size())));
    }
    QCOMPARE(readFile(path()), byAppends);
}

void TestStoreChanges::appendRecordWritesOneRecord()
{
    const std::string bytes = storeWithRecords(2);
    openWith(bytes);
    {
        FaultInjector counter;
        QVERIFY(appendRecord({"YT123", gbk("圆通"), std::string(120, 'r')}));
        // The whole record, then count and nextSerial together.
        QCOMPARE(counter.calls(FaultKind::Write), 2);
    }
    QCOMPARE(currentRecordIndex(), 2);
    std::string expected = bytes + makeRecord(36, "YT123", gbk("圆通"), std::string(100, 'r'));
    putInt32(expected, 16, 3);
    putInt32(expected, 20, 37);
    QCOMPARE(readFile(path()), expected);
    QVERIFY(appendRecord({"a", "b", "c", "values beyond the fields are ignored"}));
    QCOMPARE(readField(kRemark), std::string("c"));
}

void TestStoreChanges::appendRecordWaitsForAnotherInstance_data()
{
    QTest::addColumn<qint64>("lockStart");
    QTest::addColumn<qint64>("lockLength");
    QTest::addColumn<int>("releaseAfterMs"); // -1: never
    // clang-format off
    QTest::newRow("count, released")      << qint64(16)         << qint64(1)          << 300;
    QTest::newRow("new record, released") << qint64(332 + 272)  << qint64(1)          << 300;
    QTest::newRow("whole file, released") << qint64(0)          << qint64(0x7FFFFFFF) << 300;
    QTest::newRow("count, held")          << qint64(16)         << qint64(1)          << -1;
    // clang-format on
}

void TestStoreChanges::appendRecordWaitsForAnotherInstance()
{
    QFETCH(qint64, lockStart);
    QFETCH(qint64, lockLength);
    QFETCH(int, releaseAfterMs);
    const std::string bytes = storeWithRecords(2);
    openWith(bytes);
    LockHolder holder(path(), lockStart, lockLength, releaseAfterMs);
    QVERIFY(holder.ok());
    QElapsedTimer timer;
    timer.start();
    const bool ok = appendRecord({"X"});
    const qint64 elapsed = timer.elapsed();
    if (releaseAfterMs < 0) {
        QVERIFY(!ok);
        QVERIFY2(elapsed >= 1990 && elapsed < 2600, qPrintable(QString::number(elapsed)));
        QCOMPARE(readFile(path()), bytes); // no blank or partial record left behind
    } else {
        QVERIFY(ok);
        QVERIFY2(elapsed >= 250 && elapsed < 1500, qPrintable(QString::number(elapsed)));
        QCOMPARE(recordCount(), 3);
    }
}

void TestStoreChanges::changeScopeHoldsTheFile()
{
    openWith(storeWithRecords(3));
    {
        StoreChange change;
        QVERIFY(change.ok());
        LockHolder other(path(), 16, 1);
        QVERIFY(!other.ok()); // another instance cannot even append meanwhile
        {
            StoreChange nested;
            QVERIFY(nested.ok());
            QVERIFY(appendRecord({"in scope"}));
        }
        LockHolder stillHeld(path(), 16, 1);
        QVERIFY(!stillHeld.ok());
        QVERIFY(purgeDeleted());
    }
    {
        LockHolder afterwards(path(), 16, 1, 0);
        QVERIFY(afterwards.ok());
    }

    // Another instance's change: the scope waits for it, up to two seconds.
    {
        LockHolder holder(path(), 0, 0x7FFFFFFF, 300);
        QVERIFY(holder.ok());
        QElapsedTimer timer;
        timer.start();
        StoreChange change;
        QVERIFY(change.ok());
        QVERIFY2(timer.elapsed() >= 250 && timer.elapsed() < 1500,
                 qPrintable(QString::number(timer.elapsed())));
    }
    {
        LockHolder holder(path(), 468, 1);
        QVERIFY(holder.ok());
        QElapsedTimer timer;
        timer.start();
        StoreChange change;
        QVERIFY(!change.ok());
        QVERIFY(timer.elapsed() >= 1990);
    }
    // Closing the store inside the scope ends its hold; the scope's end then touches nothing.
    {
        StoreChange change;
        QVERIFY(change.ok());
        closeStore();
        {
            LockHolder free(path(), 16, 1, 0);
            QVERIFY(free.ok());
        }
        QVERIFY(openStore(path()));
    }
    QVERIFY(clearStore());
}

void TestStoreChanges::leftJournal_data()
{
    QTest::addColumn<QByteArray>("main");
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QByteArray>("afterOpen");

    const InterruptedPurge p = interruptedPurge();
    std::string flipped = p.journal;
    flipped[200] ^= 1;
    const std::string outside = journalBytes(std::int64_t(p.original.size()),
                                             {{std::int64_t(p.original.size()) - 10, std::string(20, 'x')}});
    const std::string longer =
        journalBytes(std::int64_t(p.original.size()) + 1000000, {{0, p.original.substr(0, 112)}});
    // clang-format off
    QTest::newRow("hot: rolled back")              << qb(p.halfDone) << qb(p.journal)                          << qb(p.original);
    QTest::newRow("hot, file already cut")         << qb(p.halfDone.substr(0, 332 + 136 * 6)) << qb(p.journal) << qb(p.original);
    QTest::newRow("hot, file not yet touched")     << qb(p.original) << qb(p.journal)                          << qb(p.original);
    QTest::newRow("checksum wrong: deleted")       << qb(p.original) << qb(flipped)                            << qb(p.original);
    QTest::newRow("cut short: deleted")            << qb(p.original) << qb(p.journal.substr(0, 300))           << qb(p.original);
    QTest::newRow("empty: deleted")                << qb(p.original) << QByteArray()                           << qb(p.original);
    QTest::newRow("segment past the end: deleted") << qb(p.original) << qb(outside)                            << qb(p.original);
    QTest::newRow("claims a longer file: deleted") << qb(p.original) << qb(longer)                             << qb(p.original);
    // clang-format on
}

void TestStoreChanges::leftJournal()
{
    QFETCH(QByteArray, main);
    QFETCH(QByteArray, journal);
    QFETCH(QByteArray, afterOpen);
    writeFile(path(), sb(main));
    writeFile(this->journal(), sb(journal));
    QVERIFY(openStore(path()));
    QCOMPARE(qb(readFile(path())), afterOpen);
    QVERIFY(::access(this->journal().c_str(), F_OK) != 0);

    // Something else under the journal's name is no journal: left alone, and the store still opens.
    closeStore();
    QVERIFY(QDir().mkdir(QString::fromStdString(this->journal())));
    QVERIFY(openStore(path()));
    QCOMPARE(qb(readFile(path())), afterOpen);
    QVERIFY(QDir().rmdir(QString::fromStdString(this->journal())));
}

void TestStoreChanges::leftJournalBeforeAnAppend()
{
    // The store was opened before another instance died in the middle of its purge: the append
    // rolls the purge back first instead of adding to a half-moved file.
    const InterruptedPurge p = interruptedPurge();
    openWith(p.original);
    writeFile(path(), p.halfDone);
    writeFile(journal(), p.journal);
    QVERIFY(appendRecord({"after"}));
    std::string expected = p.original + makeRecord(42, "after", "", "");
    putInt32(expected, 16, 9);
    putInt32(expected, 20, 43);
    QCOMPARE(readFile(path()), expected);
    QVERIFY(::access(journal().c_str(), F_OK) != 0);
}

void TestStoreChanges::createStoreIfMissing_data()
{
    QTest::addColumn<QString>("there"); // "", "empty", "store", "directory"
    QTest::addColumn<bool>("created");
    // clang-format off
    QTest::newRow("nothing")     << ""          << true;
    QTest::newRow("empty file")  << "empty"     << true;
    QTest::newRow("a store")     << "store"     << false;
    QTest::newRow("a directory") << "directory" << false;
    // clang-format on
}

void TestStoreChanges::createStoreIfMissing()
{
    QFETCH(QString, there);
    QFETCH(bool, created);
    const std::string store = storeWithRecords(2);
    if (there == "empty")
        writeFile(path(), "");
    else if (there == "store")
        writeFile(path(), store);
    else if (there == "directory")
        QVERIFY(QDir().mkdir(QString::fromStdString(path())));
    const mode_t mask = ::umask(022);
    QVERIFY(kuvona::createStoreIfMissing(path()));
    ::umask(mask);
    struct stat st;
    QCOMPARE(::stat(path().c_str(), &st), 0);
    if (there == "directory") {
        QVERIFY(S_ISDIR(st.st_mode));
        QVERIFY(QDir().rmdir(QString::fromStdString(path())));
    } else {
        QCOMPARE(readFile(path()), created ? templateBytes() : store);
        QCOMPARE(int(st.st_mode & 0777), created ? 0644 : int(st.st_mode & 0777));
    }
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(),
             there == "directory" ? 0 : 1);
}

void TestStoreChanges::specialFilesAreNotOpened()
{
    // A FIFO in the store's place would block an open for reading and writing forever.
    QCOMPARE(::mkfifo(path().c_str(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!openStore(path()));
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(!currentRecordIndex().has_value());
}

QTEST_GUILESS_MAIN(TestStoreChanges)
#include "tst_store_changes.moc"
