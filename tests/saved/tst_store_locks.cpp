#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>

#include <fcntl.h>
#include <unistd.h>

#include "common/gbk.h"
#include "saved/file_lock.h"
#include "saved/store.h"
#include "tests/saved/lock_holder.h"
#include "tests/saved/store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

using R = FileLocks::Result;
Q_DECLARE_METATYPE(FileLocks::Result)

// "At once": well below the 20 ms of even one retry pause, with room for a loaded sanitizer build.
static constexpr qint64 kAtOnceMs = 150;

class TestStoreLocks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void byteLocksCountUses();
    void wholeFileNests();
    void wholeFileKeepsHeldBytes();
    void wholeFileConflictChangesNothing();
    void releaseAllDropsEverything();
    void otherErrorsFail();

    void heldByOtherProcessFailsAtOnce_data();
    void heldByOtherProcessFailsAtOnce();
    void openFailsWhileAnyByteIsHeld();
    void recordCountWaitsForRelease();
    void recordCountGivesUpAfterTwoSeconds();

private:
    std::string path() const { return m_dir.filePath("Danhao.edb").toStdString(); }
    int openFd() const { return ::open(path().c_str(), O_RDWR | O_CLOEXEC); }

    QTemporaryDir m_dir;
    int m_a = -1;
    int m_b = -1;
};

void TestStoreLocks::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestStoreLocks::init()
{
    closeStore();
    writeFile(path(), storeWithRecords(3));
    // Two open file descriptions of one file conflict with each other even within this process.
    m_a = openFd();
    m_b = openFd();
    QVERIFY(m_a >= 0 && m_b >= 0);
}

void TestStoreLocks::cleanup()
{
    closeStore();
    ::close(m_a);
    ::close(m_b);
}

void TestStoreLocks::byteLocksCountUses()
{
    FileLocks a(m_a), b(m_b);
    QCOMPARE(a.lockByte(16), R::Granted);
    QCOMPARE(b.lockByte(16), R::Conflict);
    QCOMPARE(b.lockByte(17), R::Granted); // a single byte, not a range
    QCOMPARE(a.lockByte(16), R::Granted);
    QCOMPARE(a.byteUseCount(16), 2);
    a.unlockByte(16);
    QCOMPARE(b.lockByte(16), R::Conflict);
    a.unlockByte(16);
    QCOMPARE(a.byteUseCount(16), 0);
    QCOMPARE(b.lockByte(16), R::Granted);
    a.unlockByte(16); // not held: nothing happens
    QCOMPARE(b.byteUseCount(16), 1);
    QCOMPARE(a.lockByte(16), R::Conflict);
    QCOMPARE(a.byteUseCount(16), 0);
}

void TestStoreLocks::wholeFileNests()
{
    FileLocks a(m_a), b(m_b);
    QCOMPARE(a.lockWholeFile(), R::Granted);
    QCOMPARE(a.lockWholeFile(), R::Granted);
    QCOMPARE(a.wholeFileNesting(), 2);
    QCOMPARE(b.lockByte(5000), R::Conflict);
    a.unlockWholeFile();
    QCOMPARE(b.lockByte(5000), R::Conflict);
    a.unlockWholeFile();
    QCOMPARE(b.lockByte(5000), R::Granted);
    QCOMPARE(b.lockByte(0x7FFFFFFE), R::Granted);
}

void TestStoreLocks::wholeFileKeepsHeldBytes()
{
    FileLocks a(m_a), b(m_b);
    QCOMPARE(a.lockByte(20), R::Granted);
    QCOMPARE(a.lockWholeFile(), R::Granted);
    QCOMPARE(a.lockByte(16), R::Granted); // inside the whole file
    QCOMPARE(a.lockByte(20), R::Granted);
    a.unlockByte(20);
    a.unlockWholeFile();
    // Bytes 16 and 20 are still counted as held, so they must still be locked; their neighbours not.
    QCOMPARE(b.lockByte(16), R::Conflict);
    QCOMPARE(b.lockByte(20), R::Conflict);
    QCOMPARE(b.lockByte(0), R::Granted);
    QCOMPARE(b.lockByte(15), R::Granted);
    QCOMPARE(b.lockByte(17), R::Granted);
    QCOMPARE(b.lockByte(19), R::Granted);
    QCOMPARE(b.lockByte(21), R::Granted);
    QCOMPARE(b.lockByte(100000), R::Granted);
    a.unlockByte(16);
    a.unlockByte(20);
    QCOMPARE(b.lockByte(16), R::Granted);
    QCOMPARE(b.lockByte(20), R::Granted);
}

void TestStoreLocks::wholeFileConflictChangesNothing()
{
    FileLocks a(m_a), b(m_b);
    QCOMPARE(b.lockByte(468), R::Granted);
    QCOMPARE(a.lockWholeFile(), R::Conflict);
    QCOMPARE(a.wholeFileNesting(), 0);
    QCOMPARE(a.lockByte(16), R::Granted); // a real lock now, since no whole file is held
    b.unlockByte(468);
    QCOMPARE(b.lockByte(16), R::Conflict);
}

void TestStoreLocks::releaseAllDropsEverything()
{
    FileLocks a(m_a), b(m_b);
    QCOMPARE(a.lockByte(16), R::Granted);
    QCOMPARE(a.lockByte(16), R::Granted);
    QCOMPARE(a.lockWholeFile(), R::Granted);
    a.releaseAll();
    QCOMPARE(a.byteUseCount(16), 0);
    QCOMPARE(a.wholeFileNesting(), 0);
    QCOMPARE(b.lockWholeFile(), R::Granted);
}

void TestStoreLocks::otherErrorsFail()
{
    FileLocks closed(-1);
    QCOMPARE(closed.lockByte(16), R::Failed);
    QCOMPARE(closed.lockWholeFile(), R::Failed);
    QCOMPARE(closed.byteUseCount(16), 0);
    // A read lock on a read-only descriptor works; a write lock there is refused.
    const int readOnly = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
    FileLocks shared(readOnly, true), exclusive(readOnly);
    QCOMPARE(shared.lockWholeFile(), R::Granted);
    QCOMPARE(exclusive.lockByte(100000), R::Failed);
    FileLocks b(m_b);
    QCOMPARE(b.lockByte(16), R::Conflict);
    shared.releaseAll();
    ::close(readOnly);
}

void TestStoreLocks::heldByOtherProcessFailsAtOnce_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<qint64>("lockStart");
    QTest::addColumn<qint64>("lockLength");

    const qint64 record1 = 332, newRecord = 332 + 3 * 136;
    // clang-format off
    QTest::newRow("append, count held")       << "append"  << qint64(16)    << qint64(1);
    QTest::newRow("append, new record held")  << "append"  << newRecord     << qint64(1);
    QTest::newRow("readField, record held")   << "read"    << record1       << qint64(1);
    QTest::newRow("writeField, record held")  << "write"   << record1       << qint64(1);
    QTest::newRow("modifyRecord, record held")<< "modify"  << record1       << qint64(1);
    QTest::newRow("deleteRecord, record held")<< "delete"  << record1       << qint64(1);
    QTest::newRow("purge, one byte held")     << "purge"   << qint64(900)   << qint64(1);
    QTest::newRow("clear, one byte held")     << "clear"   << qint64(0)     << qint64(1);
    QTest::newRow("clear, whole file held")   << "clear"   << qint64(0)     << qint64(0x7FFFFFFF);
    // clang-format on
}

void TestStoreLocks::heldByOtherProcessFailsAtOnce()
{
    QFETCH(QString, operation);
    QFETCH(qint64, lockStart);
    QFETCH(qint64, lockLength);
    std::string bytes = storeWithRecords(3);
    putInt32(bytes, 332 + 136, -35); // something for purge to do
    writeFile(path(), bytes);
    QVERIFY(openStore(path()));
    LockHolder holder(path(), lockStart, lockLength);
    QVERIFY(holder.ok());

    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    if (operation == "append")
        ok = appendBlankRecord();
    else if (operation == "read")
        ok = readField(gbk("单号")) == "N1";
    else if (operation == "write")
        ok = writeField(gbk("单号"), "x");
    else if (operation == "modify")
        ok = modifyRecord({"x"});
    else if (operation == "delete")
        ok = deleteRecord();
    else if (operation == "purge")
        ok = purgeDeleted();
    else if (operation == "clear")
        ok = clearStore();
    const qint64 elapsed = timer.elapsed();
    QVERIFY(!ok);
    QVERIFY2(elapsed < kAtOnceMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(readFile(path()), bytes);
    QCOMPARE(currentRecordIndex(), 0);
}

void TestStoreLocks::openFailsWhileAnyByteIsHeld()
{
    {
        LockHolder holder(path(), 468, 1);
        QVERIFY(holder.ok());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!openStore(path()));
        QVERIFY(timer.elapsed() < kAtOnceMs);
        QVERIFY(!currentRecordIndex().has_value());
    }
    QVERIFY(openStore(path()));
    // An open store holds no lock between operations, so another process works alongside.
    LockHolder other(path(), 16, 1, 0);
    QVERIFY(other.ok());
}

void TestStoreLocks::recordCountWaitsForRelease()
{
    QVERIFY(openStore(path()));
    LockHolder holder(path(), 16, 1, 300);
    QVERIFY(holder.ok());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(recordCount(), 3);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 250 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    qInfo("recordCount returned %lld ms after the holder took the lock (released at 300 ms)", elapsed);
}

void TestStoreLocks::recordCountGivesUpAfterTwoSeconds()
{
    QVERIFY(openStore(path()));
    QVERIFY(goToRecord(3));
    LockHolder holder(path(), 0, 0x7FFFFFFF);
    QVERIFY(holder.ok());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(recordCount(), 0);
    const qint64 elapsed = timer.elapsed();
    // The store counts whole milliseconds of the tick count, so its 2000 may be 1999.x here.
    QVERIFY2(elapsed >= 1995 && elapsed < 2300, qPrintable(QString::number(elapsed)));
    // goToRecord and skipRecord cannot read the count either: they fail and leave the record.
    QVERIFY(!goToRecord(1));
    QVERIFY(!skipRecord(-1));
    QCOMPARE(currentRecordIndex(), 2);
}

QTEST_GUILESS_MAIN(TestStoreLocks)
#include "tst_store_locks.moc"
