// Every store operation against a failing disk: each read, write, truncate, sync, rename and unlink
// it makes is failed in turn, and afterwards the file must open and hold exactly the state before
// the operation (when it reported failure) or after it (when it reported success).

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include <unistd.h>

#include "common/gbk.h"
#include "saved/store.h"
#include "tests/saved/store_fixture.h"
#include "tests/support/fault_injection.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

// Eight records, the 2nd and 5th marked deleted, nextSerial 42.
std::string fixture()
{
    std::string bytes = storeWithRecords(8);
    putInt32(bytes, 332 + 136 * 1, -35);
    putInt32(bytes, 332 + 136 * 4, -38);
    return bytes;
}

std::string record(const std::string& bytes, int index)
{
    return bytes.substr(332 + 136 * std::size_t(index), 136);
}

// The fixture's header with `records` after it, count and nextSerial set.
std::string withRecords(const std::vector<std::string>& records, std::int32_t nextSerial)
{
    std::string bytes = templateBytes();
    for (const auto& r : records)
        bytes += r;
    putInt32(bytes, 16, std::int32_t(records.size()));
    putInt32(bytes, 20, nextSerial);
    return bytes;
}

struct Scenario
{
    std::string before;
    std::function<bool()> run; // runs with the store open (or, for "open", closed)
    std::string after;
    bool opens = true; // runs on an open store
};

Scenario scenario(const QString& name)
{
    const std::string f = fixture();
    std::vector<std::string> all;
    for (int i = 0; i < 8; ++i)
        all.push_back(record(f, i));
    Scenario s{f, {}, {}};
    if (name == "appendRecord") {
        auto records = all;
        records.push_back(makeRecord(42, "NEW", gbk("圆通"), "remark"));
        s.after = withRecords(records, 43);
        s.run = [] {
            return appendRecord({"NEW", gbk("圆通"), "remark"});
        };
    } else if (name == "appendBlankRecord") {
        auto records = all;
        records.push_back(makeRecord(42, "", "", ""));
        s.after = withRecords(records, 43);
        s.run = [] {
            return appendBlankRecord();
        };
    } else if (name == "writeField") {
        s.after = f;
        s.after.replace(332 + 136 * 2 + 4, 20, std::string("W3").append(18, '\0'));
        s.run = [] {
            return goToRecord(3) && writeField(gbk("单号"), "W3");
        };
    } else if (name == "modifyRecord") {
        s.after = f;
        s.after.replace(332 + 136 * 2 + 4, 3, std::string("M3\0", 3));
        s.after.replace(332 + 136 * 2 + 24, 3, std::string("MC\0", 3));
        s.run = [] {
            return goToRecord(3) && modifyRecord({"M3", "MC"});
        };
    } else if (name == "modifyRecord across a page") {
        // The 28th record lies across the first page boundary (4004..4140): its write is journalled.
        s.before = storeWithRecords(30);
        s.after = s.before;
        s.after.replace(332 + 136 * 27, 136, makeRecord(61, "M28", "MC", std::string(99, 'x')));
        s.run = [] {
            return goToRecord(28) && modifyRecord({"M28", "MC", std::string(99, 'x')});
        };
    } else if (name == "deleteRecord") {
        s.after = f;
        putInt32(s.after, 332 + 136 * 6, -40);
        s.run = [] {
            return goToRecord(7) && deleteRecord();
        };
    } else if (name == "purgeDeleted") {
        s.after = withRecords({all[0], all[2], all[3], all[5], all[6], all[7]}, 42);
        s.run = [] {
            return purgeDeleted();
        };
    } else if (name == "clearStore") {
        s.after = withRecords({}, 42);
        s.run = [] {
            return clearStore();
        };
    } else if (name == "replaceAllRecords") {
        // Reversed, the first kept in place, one record dropped and nextSerial raised.
        std::vector<std::string> records = {all[0], all[7], all[6], all[5], all[4], all[3], all[2]};
        s.after = withRecords(records, 50);
        s.run = [] {
            bool ok = false;
            std::vector<StoredRecord> rs = readAllRecords(&ok);
            if (!ok || rs.size() != 8)
                return false;
            std::vector<StoredRecord> order = {rs[0], rs[7], rs[6], rs[5], rs[4], rs[3], rs[2]};
            return replaceAllRecords(order, 50);
        };
    } else if (name == "open with repair") {
        // A partial record and a count above the records present.
        s.before = f + makeRecord(42, "partial", "", "").substr(0, 70);
        putInt32(s.before, 16, 9);
        s.after = f;
        s.opens = false;
        s.run = [] {
            return true;
        }; // the open itself is the operation
    }
    return s;
}

} // namespace

class TestStoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        closeStore();
        store_io::setFileOps(nullptr);
    }

    void everyFaultPoint_data();
    void everyFaultPoint();
    void templateCreation_data();
    void templateCreation();

private:
    std::string path() const { return m_dir.filePath("Danhao.edb").toStdString(); }
    QStringList leftovers() const
    {
        QStringList names = QDir(m_dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
        names.removeAll("Danhao.edb");
        return names;
    }
    QTemporaryDir m_dir;
};

void TestStoreFaults::everyFaultPoint_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mode");
    const char* operations[] = {
        "appendRecord", "appendBlankRecord", "writeField", "modifyRecord",      "modifyRecord across a page",
        "deleteRecord", "purgeDeleted",      "clearStore", "replaceAllRecords", "open with repair"};
    const std::pair<FaultKind, FaultMode> faults[] = {
        {FaultKind::Read, FaultMode::IoError},     {FaultKind::Write, FaultMode::IoError},
        {FaultKind::Write, FaultMode::DiskFull},   {FaultKind::Write, FaultMode::ShortWrite},
        {FaultKind::Truncate, FaultMode::IoError}, {FaultKind::Sync, FaultMode::IoError},
        {FaultKind::Unlink, FaultMode::IoError},
    };
    const char* modes[] = {"EIO", "ENOSPC", "short write"};
    for (const char* op : operations)
        for (auto [kind, mode] : faults)
            QTest::addRow("%s, %s %s", op, faultKindName(kind), modes[int(mode)])
                << QString(op) << int(kind) << int(mode);
}

void TestStoreFaults::everyFaultPoint()
{
    QFETCH(QString, operation);
    QFETCH(int, kind);
    QFETCH(int, mode);
    const Scenario s = scenario(operation);
    QVERIFY(s.run);
    int points = 0, succeeded = 0;
    for (int failAt = 1;; ++failAt) {
        closeStore();
        writeFile(path(), s.before);
        if (s.opens)
            QVERIFY(openStore(path()));
        bool ok = false;
        bool fired = false;
        {
            FaultInjector faults(FaultKind(kind), failAt, FaultMode(mode));
            ok = s.opens ? s.run() : openStore(path());
            fired = faults.fired();
        }
        closeStore();
        const QString where = QString("fault at %1 %2 call %3 (reported %4)")
                                  .arg(operation)
                                  .arg(faultKindName(FaultKind(kind)))
                                  .arg(failAt)
                                  .arg(ok ? "success" : "failure");
        // The next open, with a working disk, rolls back or repairs whatever the fault left.
        QVERIFY2(openStore(path()), qPrintable(where + ": the file does not open"));
        closeStore();
        const std::string now = readFile(path());
        if (ok || !s.opens)
            QVERIFY2(now == s.after, qPrintable(where + ": the file is not in the state after it"));
        else
            QVERIFY2(now == s.before, qPrintable(where + ": the file is not in the state before it"));
        QVERIFY2(leftovers().isEmpty(), qPrintable(where + ": left " + leftovers().join(", ")));
        if (!fired) {
            QVERIFY2(ok, qPrintable(where + ": failed without a fault"));
            break;
        }
        ++points;
        succeeded += ok;
    }
    qInfo("%s: %d %s fault points, %d of them reported success", qPrintable(operation), points,
          faultKindName(FaultKind(kind)), succeeded);
}

void TestStoreFaults::templateCreation_data()
{
    QTest::addColumn<bool>("emptyFileThere");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mode");
    for (bool empty : {false, true})
        for (auto kind : {FaultKind::Write, FaultKind::Sync, FaultKind::Rename})
            QTest::addRow("%s, %s", empty ? "empty file" : "missing", faultKindName(kind))
                << empty << int(kind) << int(FaultMode::DiskFull);
    QTest::addRow("missing, short write") << false << int(FaultKind::Write) << int(FaultMode::ShortWrite);
}

void TestStoreFaults::templateCreation()
{
    QFETCH(bool, emptyFileThere);
    QFETCH(int, kind);
    QFETCH(int, mode);
    for (int failAt = 1;; ++failAt) {
        ::unlink(path().c_str());
        if (emptyFileThere)
            writeFile(path(), "");
        bool ok = false, fired = false;
        {
            FaultInjector faults(FaultKind(kind), failAt, FaultMode(mode));
            ok = createStoreIfMissing(path());
            fired = faults.fired();
        }
        const QString where = QString("fault at call %1").arg(failAt);
        QVERIFY2(leftovers().isEmpty(), qPrintable(where + ": left " + leftovers().join(", ")));
        if (ok) {
            QCOMPARE(readFile(path()), templateBytes());
        } else {
            // Never part of the template: the file is as it was.
            QCOMPARE(fileSize(path()), emptyFileThere ? 0LL : -1LL);
        }
        if (!fired) {
            QVERIFY(ok);
            break;
        }
    }
}

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_store_faults.moc"
