#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fatal.h"
#include "common/gbk.h"
#include "saved/store.h"
#include "saved/store_format.h"
#include "tests/saved/store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

#if defined(__SANITIZE_ADDRESS__)
// A header may claim records of up to 2 GB; no operation may allocate by that claim alone.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=256";
}
#endif

namespace {

struct FatalStop
{
    int code;
    std::string message;
};

void throwingFatalHandler(int code, const std::string& message)
{
    throw FatalStop{code, message};
}

QByteArray qb(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}
std::string sb(const QByteArray& b)
{
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void templateLayout();
    void freshTemplate();
    void exampleRecordIsByteExact();
    void fieldWidths_data();
    void fieldWidths();
    void fieldNamesIgnoreAsciiCaseOnly();
    void readFieldStops_data();
    void readFieldStops();
    void nonTextFields();
    void modifyRecordKeepsBytesAfterTerminator();
    void modifyRecordCutsAndLeavesOthers();
    void deleteThenPurge();
    void purgeWithNothingMarkedWritesNothing();
    void purgeAcrossBatches_data();
    void purgeAcrossBatches();
    void clearKeepsNextSerial();
    void openTwice();
    void repairOnOpen_data();
    void repairOnOpen();
    void openValidation_data();
    void openValidation();
    void navigation_data();
    void navigation();
    void skipPastLastRecord();
    void operationsWithoutStore();
    void appendRefusesSerialOverflow();
    void hugeRecordClaimsAllocateNothing();

private:
    std::string path(const char* name = "Danhao.edb") const { return m_dir.filePath(name).toStdString(); }
    // Writes `bytes` as the store file and opens it.
    void openWith(const std::string& bytes)
    {
        writeFile(path(), bytes);
        QVERIFY(openStore(path()));
    }

    QTemporaryDir m_dir;
};

void TestStore::initTestCase()
{
    QVERIFY(m_dir.isValid());
    setFatalHandler(throwingFatalHandler);
}

void TestStore::init()
{
    closeStore();
    ::unlink(path().c_str());
}

void TestStore::cleanup()
{
    closeStore();
}

void TestStore::templateLayout()
{
    using namespace store_format;
    const std::string t = templateBytes();
    QCOMPARE(t.size(), std::size_t(332));
    QCOMPARE(t.substr(0, 4), std::string("WEDB"));
    QCOMPARE(getInt32(t, 4), 65536);
    const unsigned char created[8] = {0x98, 0xD0, 0x5E, 0xC2, 0xBF, 0xA1, 0xE3, 0x40};
    QVERIFY(std::memcmp(t.data() + 8, created, 8) == 0);
    QCOMPARE(loadDouble(reinterpret_cast<const unsigned char*>(t.data() + 8)), 40205.992476851854);
    QCOMPARE(getInt32(t, 16), 0);
    QCOMPARE(getInt32(t, 20), 34);
    QCOMPARE(getInt32(t, 24), 136);
    QCOMPARE(t.substr(28, 84), std::string(84, '\0'));
    QCOMPARE(getInt32(t, 112), 3);

    struct Expected
    {
        const char* name;
        int offset;
        int width;
    };
    const Expected fields[] = {{"单号", 4, 20}, {"公司", 24, 12}, {"备注", 36, 100}};
    for (int i = 0; i < 3; ++i) {
        const std::string d = t.substr(116 + 72 * std::size_t(i), 72);
        std::string name = gbk(fields[i].name);
        name.resize(20, '\0');
        QCOMPARE(d.substr(0, 20), name);
        QCOMPARE(getInt32(d, 20), 10);
        QCOMPARE(getInt32(d, 24), fields[i].offset);
        QCOMPARE(getInt32(d, 28), fields[i].width);
        QCOMPARE(d.substr(32), std::string(40, '\0'));
    }
    QCOMPARE(gbk("单号"), std::string("\xB5\xA5\xBA\xC5"));
}

void TestStore::freshTemplate()
{
    openWith(templateBytes());
    QCOMPARE(recordCount(), 0);
    QVERIFY(goToRecord(5));
    QCOMPARE(currentRecordIndex(), 0);
    QCOMPARE(readField(gbk("单号")), std::string());
    QVERIFY(!writeField(gbk("单号"), "x"));
    QVERIFY(!skipRecord());
    QVERIFY(!deleteRecord());
    QVERIFY(!modifyRecord({"x"}));
    QCOMPARE(readFile(path()), templateBytes());
}

void TestStore::exampleRecordIsByteExact()
{
    openWith(templateBytes());
    QVERIFY(appendBlankRecord());
    QCOMPARE(currentRecordIndex(), 0);
    QVERIFY(writeField(gbk("单号"), "YT123"));
    QVERIFY(writeField(gbk("公司"), gbk("圆通")));

    std::string expected = templateBytes();
    expected[16] = 1;
    expected[20] = 35;
    expected += std::string("\x22\x00\x00\x00", 4);
    expected += std::string("YT123") + std::string(15, '\0');
    expected += std::string("\xD4\xB2\xCD\xA8") + std::string(8, '\0');
    expected += std::string(100, '\0');
    QCOMPARE(expected.size(), std::size_t(468));
    // No cache: the bytes are in the file while the store is still open.
    QCOMPARE(readFile(path()), expected);
    QCOMPARE(recordCount(), 1);
    QCOMPARE(readField(gbk("单号")), std::string("YT123"));
    QCOMPARE(readField(gbk("公司")), gbk("圆通"));
    QCOMPARE(readField(gbk("备注")), std::string());
}

void TestStore::fieldWidths_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expectedRead");
    QTest::addColumn<QByteArray>("expectedBytes"); // the whole field in the file

    const QByteArray number = qb(gbk("单号"));
    const QByteArray company = qb(gbk("公司"));
    const QByteArray remark = qb(gbk("备注"));
    const QByteArray twenty("12345678901234567890");
    // "a" and six double-byte characters: 13 bytes, so 12 bytes cut the last character in two.
    const QByteArray oddCompany = "a" + qb(gbk("中通快递公司"));
    const QByteArray cutCompany = oddCompany.left(12);
    const QByteArray six = qb(gbk("中通快递公司"));

    // clang-format off
    QTest::newRow("short number")        << number  << QByteArray("YT1")     << QByteArray("YT1")  << QByteArray("YT1").leftJustified(20, '\0');
    QTest::newRow("number of 20 bytes")  << number  << twenty                << twenty             << twenty;
    QTest::newRow("number of 21 bytes")  << number  << twenty + "X"          << twenty             << twenty;
    QTest::newRow("company of 12 bytes") << company << six                   << six                << six;
    QTest::newRow("company cut in char") << company << oddCompany            << cutCompany         << cutCompany;
    QTest::newRow("empty remark")        << remark  << QByteArray()          << QByteArray()       << QByteArray(100, '\0');
    QTest::newRow("trailing blanks")     << remark  << QByteArray("a  ")     << QByteArray("a  ")  << QByteArray("a  ").leftJustified(100, '\0');
    QTest::newRow("text ends at zero")   << remark  << QByteArray("ab\0cd", 5) << QByteArray("ab") << QByteArray("ab").leftJustified(100, '\0');
    // clang-format on
}

void TestStore::fieldWidths()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expectedRead);
    QFETCH(QByteArray, expectedBytes);

    // A record full of 0xFF shows that writeField pads the whole width.
    std::string bytes = templateBytes() + std::string(136, '\xFF');
    putInt32(bytes, 16, 1);
    putInt32(bytes, 332, 34);
    openWith(bytes);
    QVERIFY(writeField(sb(field), sb(value)));
    QCOMPARE(qb(readField(sb(field))), expectedRead);

    const std::string file = readFile(path());
    QCOMPARE(file.size(), std::size_t(468));
    const std::size_t offset = field == qb(gbk("单号")) ? 4 : field == qb(gbk("公司")) ? 24 : 36;
    QCOMPARE(qb(file.substr(332 + offset, std::size_t(expectedBytes.size()))), expectedBytes);
    QCOMPARE(getInt32(file, 332), 34);
}

void TestStore::fieldNamesIgnoreAsciiCaseOnly()
{
    // Fields "Name" and a double-byte name whose trail byte is the letter 'A' (81 41).
    std::string bytes = templateBytes();
    bytes.replace(116, 20, std::string("Name") + std::string(16, '\0'));
    bytes.replace(116 + 72, 20, std::string("\x81\x41", 2) + std::string(18, '\0'));
    bytes += makeRecord(34, "n1", "c1", "r1");
    putInt32(bytes, 16, 1);
    openWith(bytes);

    QCOMPARE(readField("NAME"), std::string("n1"));
    QCOMPARE(readField("name"), std::string("n1"));
    QCOMPARE(readField("\x81\x41"), std::string("c1"));
    QCOMPARE(fieldType("nAmE"), 10);
    // The trail byte is part of a character, not a letter: a different case is a different name.
    QCOMPARE(fieldType("\x81\x61"), 0);
    QVERIFY(!writeField("\x81\x61", "x"));
    QVERIFY(writeField("nAME", "n2"));
    QCOMPARE(readField("Name"), std::string("n2"));
}

void TestStore::readFieldStops_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("message");

    // clang-format off
    QTest::newRow("no store")      << false << qb(gbk("单号")) << qb(gbk("未指定当前数据库或者指定数据库未打开"));
    QTest::newRow("unknown field") << true  << qb(gbk("单"))   << qb(gbk("指定字段不存在"));
    QTest::newRow("empty name")    << true  << QByteArray()    << qb(gbk("指定字段不存在"));
    // clang-format on
}

void TestStore::readFieldStops()
{
    QFETCH(bool, open);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, message);
    if (open)
        openWith(storeWithRecords(1));
    try {
        readField(sb(field));
        QFAIL("readField returned instead of stopping");
    } catch (const FatalStop& stop) {
        QCOMPARE(stop.code, 0);
        QCOMPARE(qb(stop.message), message);
    }
    if (open)
        QCOMPARE(recordCount(), 1);
}

void TestStore::nonTextFields()
{
    // 公司 turned into a 4-byte field of type 3: it is no text, so it is neither read nor written.
    std::string bytes = storeWithRecords(1);
    putInt32(bytes, 116 + 72 + 20, 3);
    openWith(bytes);
    QCOMPARE(fieldType(gbk("公司")), 3);
    QCOMPARE(readField(gbk("公司")), std::string());
    QVERIFY(!writeField(gbk("公司"), "x"));
    QVERIFY(!modifyRecord({"a", "b"}));
    QVERIFY(modifyRecord({"a"}));
    QCOMPARE(readField(gbk("单号")), std::string("a"));
    const std::string file = readFile(path());
    QCOMPARE(file.substr(332 + 24, 2), std::string("C1"));
}

void TestStore::modifyRecordKeepsBytesAfterTerminator()
{
    openWith(storeWithRecords(2));
    QVERIFY(goToRecord(2));
    QVERIFY(writeField(gbk("单号"), "ABCDE"));
    QVERIFY(writeField(gbk("备注"), "abcdefghij"));
    QVERIFY(deleteRecord());
    QVERIFY(modifyRecord({"X1", gbk("圆通"), "xy"}));

    const std::string file = readFile(path());
    const std::size_t record = 332 + 136;
    QCOMPARE(getInt32(file, record), -35); // the serial is not rewritten
    QCOMPARE(file.substr(record + 4, 6), std::string("X1\0DE\0", 6));
    QCOMPARE(file.substr(record + 24, 6), gbk("圆通") + std::string("\0\0", 2));
    QCOMPARE(file.substr(record + 36, 11), std::string("xy\0defghij\0", 11));
    QCOMPARE(readField(gbk("备注")), std::string("xy"));
    QCOMPARE(readField(gbk("单号")), std::string("X1"));
    // The first record is untouched.
    QCOMPARE(file.substr(332, 136), makeRecord(34, "N1", "C1", "R1"));
}

void TestStore::modifyRecordCutsAndLeavesOthers()
{
    openWith(storeWithRecords(1));
    const std::string twentyOne = "123456789012345678901";
    QVERIFY(modifyRecord({twentyOne}));
    QCOMPARE(readField(gbk("单号")), twentyOne.substr(0, 20));
    QCOMPARE(readField(gbk("公司")), std::string("C1"));
    QCOMPARE(readField(gbk("备注")), std::string("R1"));
    // More values than fields: the extra ones are ignored.
    QVERIFY(modifyRecord({"a", "b", "c", "d"}));
    QCOMPARE(readField(gbk("备注")), std::string("c"));
    QVERIFY(modifyRecord({}));
    QCOMPARE(readField(gbk("单号")), std::string("a"));
}

void TestStore::deleteThenPurge()
{
    openWith(storeWithRecords(3));
    QVERIFY(goToRecord(2));
    QVERIFY(deleteRecord());
    QCOMPARE(currentRecordIndex(), 1);
    QCOMPARE(recordCount(), 3);
    QCOMPARE(getInt32(readFile(path()), 332 + 136), -35);
    QVERIFY(deleteRecord()); // already marked: still succeeds, stays marked
    QCOMPARE(getInt32(readFile(path()), 332 + 136), -35);
    QCOMPARE(readField(gbk("单号")), std::string("N2")); // marked records read like any other

    QVERIFY(goToRecord(3));
    QVERIFY(purgeDeleted());
    QCOMPARE(currentRecordIndex(), 0);
    QCOMPARE(recordCount(), 2);
    const std::string file = readFile(path());
    QCOMPARE(file.size(), std::size_t(332 + 2 * 136));
    QCOMPARE(file.substr(332, 136), makeRecord(34, "N1", "C1", "R1"));
    QCOMPARE(file.substr(332 + 136, 136), makeRecord(36, "N3", "C3", "R3"));
    QCOMPARE(getInt32(file, 20), 37); // nextSerial unchanged
    QVERIFY(goToRecord(2));
    QCOMPARE(readField(gbk("单号")), std::string("N3"));
}

void TestStore::purgeWithNothingMarkedWritesNothing()
{
    const std::string bytes = storeWithRecords(3);
    openWith(bytes);
    QVERIFY(goToRecord(3));
    // Any write, even of the same bytes, would move the modification time.
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, path().c_str(), old, 0), 0);
    QVERIFY(purgeDeleted());
    QCOMPARE(currentRecordIndex(), 0);
    struct stat st;
    QCOMPARE(::stat(path().c_str(), &st), 0);
    QCOMPARE(st.st_mtim.tv_sec, time_t(1000000000));
    QCOMPARE(readFile(path()), bytes);
}

void TestStore::purgeAcrossBatches_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("markEvery");
    QTest::addColumn<int>("markFirst");

    // Batches hold 1204 records of 136 bytes.
    // clang-format off
    QTest::newRow("three batches, every 3rd") << 3000 << 3    << 0;
    QTest::newRow("drop only in last batch")  << 2500 << 100000 << 2450;
    QTest::newRow("all marked")               << 1300 << 1    << 0;
    QTest::newRow("one batch exactly")        << 1204 << 2    << 1;
    QTest::newRow("drop only in 1st batch")   << 3000 << 100000 << 5;
    QTest::newRow("drop last of 1st batch")   << 3000 << 100000 << 1203;
    QTest::newRow("drop first of 2nd batch")  << 3000 << 100000 << 1204;
    QTest::newRow("drops around boundary")    << 1300 << 2      << 1190;
    QTest::newRow("tail across boundary")     << 1210 << 1      << 1200;
    // clang-format on
}

void TestStore::purgeAcrossBatches()
{
    QFETCH(int, records);
    QFETCH(int, markEvery);
    QFETCH(int, markFirst);
    std::string bytes = storeWithRecords(records);
    std::vector<std::string> kept;
    for (int i = 0; i < records; ++i) {
        const std::size_t at = 332 + 136 * std::size_t(i);
        if (i >= markFirst && (i - markFirst) % markEvery == 0)
            putInt32(bytes, at, -getInt32(bytes, at));
        else
            kept.push_back(bytes.substr(at, 136));
    }
    openWith(bytes);
    QVERIFY(purgeDeleted());
    QCOMPARE(recordCount(), int(kept.size()));
    const std::string file = readFile(path());
    QCOMPARE(file.size(), 332 + 136 * kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i)
        QCOMPARE(file.substr(332 + 136 * i, 136), kept[i]);
}

void TestStore::clearKeepsNextSerial()
{
    std::string bytes = storeWithRecords(3);
    putInt32(bytes, 20, 40);
    openWith(bytes);
    QVERIFY(goToRecord(3));
    QVERIFY(clearStore());
    QCOMPARE(currentRecordIndex(), 0);
    QCOMPARE(recordCount(), 0);
    QCOMPARE(fileSize(path()), 332LL);
    QCOMPARE(getInt32(readFile(path()), 20), 40);
    QVERIFY(appendBlankRecord());
    const std::string file = readFile(path());
    QCOMPARE(getInt32(file, 332), 40);
    QCOMPARE(getInt32(file, 20), 41);
}

void TestStore::openTwice()
{
    openWith(storeWithRecords(3));
    QVERIFY(goToRecord(2));
    const std::string upper = m_dir.path().toStdString() + "/DANHAO.EDB";
    writeFile(upper, storeWithRecords(1)); // exists, yet counts as the same path
    const std::string dotted = m_dir.path().toStdString() + "/./sub/../Danhao.edb";
    QVERIFY(!openStore(path()));
    QVERIFY(!openStore(upper));
    QVERIFY(!openStore(dotted));
    QCOMPARE(currentRecordIndex(), 1);
    QCOMPARE(recordCount(), 3);
    QCOMPARE(currentStorePath(), path());

    // Relative paths are made absolute against the working directory.
    closeStore();
    QVERIFY(!currentRecordIndex().has_value());
    QCOMPARE(recordCount(), 0);
    const QByteArray here = QDir::currentPath().toLocal8Bit();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const bool opened = openStore("Danhao.edb");
    const bool again = openStore("danhao.edb");
    QDir::setCurrent(QString::fromLocal8Bit(here));
    QVERIFY(opened);
    QVERIFY(!again);
    QCOMPARE(currentStorePath(), path());
    closeStore();
    closeStore(); // with no store open: nothing
    QVERIFY(!currentRecordIndex().has_value());
    ::unlink(upper.c_str());
}

void TestStore::repairOnOpen_data()
{
    QTest::addColumn<int>("headerCount");
    QTest::addColumn<int>("extraBytes"); // bytes after the whole records
    QTest::addColumn<int>("wholeRecords");
    QTest::addColumn<int>("expectedCount");

    // clang-format off
    QTest::newRow("says 5, holds 3 and a half") << 5 << 68  << 3 << 3;
    QTest::newRow("says 2, holds 3")            << 2 << 0   << 3 << 2;
    QTest::newRow("says 2, holds 2 and bytes")  << 2 << 1   << 2 << 2;
    QTest::newRow("says 4, holds none")         << 4 << 135 << 0 << 0;
    QTest::newRow("consistent")                 << 3 << 0   << 3 << 3;
    // clang-format on
}

void TestStore::repairOnOpen()
{
    QFETCH(int, headerCount);
    QFETCH(int, extraBytes);
    QFETCH(int, wholeRecords);
    QFETCH(int, expectedCount);
    std::string bytes = storeWithRecords(wholeRecords);
    bytes += makeRecord(99, "partial", "", "").substr(0, std::size_t(extraBytes));
    putInt32(bytes, 16, headerCount);
    openWith(bytes);
    QCOMPARE(recordCount(), expectedCount);
    const std::string file = readFile(path());
    QCOMPARE(file.size(), 332 + 136 * std::size_t(expectedCount));
    QCOMPARE(getInt32(file, 16), expectedCount);
    QCOMPARE(file, bytes.substr(0, 16) + file.substr(16, 4) + bytes.substr(20, file.size() - 20));
}

void TestStore::openValidation_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("opens");

    const std::string t = storeWithRecords(1);
    auto with = [&](std::size_t offset, std::int32_t value) {
        std::string b = t;
        putInt32(b, offset, value);
        return qb(b);
    };
    auto withBytes = [&](std::size_t offset, const std::string& replacement) {
        std::string b = t;
        b.replace(offset, replacement.size(), replacement);
        return qb(b);
    };
    // A damaged header whose repair would cut real records: refused, never repaired.
    auto tenWithLength = [](std::int32_t recordLength) {
        std::string b = storeWithRecords(10);
        putInt32(b, 24, recordLength);
        return b;
    };
    auto countOf = [](int records, std::int32_t count) {
        std::string b = storeWithRecords(records);
        putInt32(b, 16, count);
        return b;
    };
    const std::size_t d2 = 116 + 72; // descriptor of 公司
    const std::string sixteen(16, 'n');

    // clang-format off
    QTest::newRow("store")                     << qb(t)                            << true;
    QTest::newRow("empty file")                << QByteArray()                     << false;
    QTest::newRow("shorter than header")       << qb(t.substr(0, 111))             << false;
    QTest::newRow("header, no fieldCount")     << qb(t.substr(0, 112))             << false;
    QTest::newRow("magic not WEDB")            << withBytes(0, "WEDC")             << false;
    QTest::newRow("magic lower case")          << withBytes(0, "wedb")             << false;
    QTest::newRow("formatVersion 65537")       << with(4, 65537)                   << false;
    QTest::newRow("formatVersion 1")           << with(4, 1)                       << true;
    QTest::newRow("recordLength 0")            << with(24, 0)                      << false;
    QTest::newRow("recordLength -136")         << with(24, -136)                   << false;
    QTest::newRow("recordLength 3, no serial") << with(24, 3)                      << false;
    QTest::newRow("count negative")            << with(16, -1)                     << false;
    QTest::newRow("nextSerial 0")              << with(20, 0)                      << false;
    QTest::newRow("nextSerial 1")              << with(20, 1)                      << true;
    QTest::newRow("fieldCount 0")              << with(112, 0)                     << false;
    QTest::newRow("fieldCount -3")             << with(112, -3)                    << false;
    QTest::newRow("fieldCount 5, 3 present")   << with(112, 5)                     << false;
    QTest::newRow("fieldCount huge")           << with(112, 0x7FFFFFFF)            << false;
    QTest::newRow("name of 17 bytes")          << withBytes(d2, sixteen + "n")     << false;
    QTest::newRow("name of 16 bytes")          << withBytes(d2, sixteen + '\0')    << true;
    QTest::newRow("fieldOffset -1")            << with(d2 + 24, -1)                << false;
    QTest::newRow("fieldType 0")               << with(d2 + 20, 0)                 << false;
    QTest::newRow("fieldType 13")              << with(d2 + 20, 13)                << false;
    QTest::newRow("fieldType 12, 4 bytes")     << with(d2 + 20, 12)                << true;
    QTest::newRow("fieldType 4, 8 bytes")      << with(d2 + 20, 4)                 << true;
    QTest::newRow("text width 0")              << with(d2 + 28, 0)                 << false;
    QTest::newRow("text width -12")            << with(d2 + 28, -12)               << false;
    QTest::newRow("text beyond record")        << with(d2 + 28, 113)               << false;
    QTest::newRow("text up to record end")     << with(d2 + 28, 112)               << true;
    QTest::newRow("offset beyond record")      << with(d2 + 24, 0x7FFFFFF0)        << false;
    QTest::newRow("recordLength 256 spare")    << with(24, 136 + 256)              << true;
    QTest::newRow("recordLength 257 spare")    << with(24, 136 + 257)              << false;
    QTest::newRow("recordLength 0x7FFFFFFF")   << with(24, 0x7FFFFFFF)             << false;
    QTest::newRow("10 records, length huge")   << qb(tenWithLength(0x7FFFFFFF))    << false;
    QTest::newRow("10 records, length 1000")   << qb(tenWithLength(1000))          << false;
    QTest::newRow("one record past count")     << qb(countOf(2, 1))                << true;
    QTest::newRow("two records past count")    << qb(countOf(3, 1))                << false;
    QTest::newRow("a record and a byte past")  << qb(countOf(2, 1) + "x")          << false;
    // clang-format on
}

void TestStore::openValidation()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, opens);
    writeFile(path(), sb(content));
    QCOMPARE(openStore(path()), opens);
    QCOMPARE(currentRecordIndex().has_value(), opens);
    if (!opens)
        QCOMPARE(qb(readFile(path())), content); // a refused file is left as it was
}

void TestStore::navigation_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("from"); // 0-based, -1 before the first, records after the last
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("to");

    // clang-format off
    QTest::newRow("go to 0")               << 3 << 2  << "go"   << 0           << true  << 0;
    QTest::newRow("go to negative")        << 3 << 2  << "go"   << -7          << true  << 0;
    QTest::newRow("go to 2")               << 3 << 0  << "go"   << 2           << true  << 1;
    QTest::newRow("go beyond last")        << 3 << 0  << "go"   << 99          << true  << 2;
    QTest::newRow("go to minimum")         << 3 << 1  << "go"   << INT32_MIN   << true  << 0;
    QTest::newRow("go on empty")           << 0 << 0  << "go"   << 5           << true  << 0;
    QTest::newRow("skip 0")                << 3 << 3  << "skip" << 0           << true  << 3;
    QTest::newRow("skip 1")                << 3 << 0  << "skip" << 1           << true  << 1;
    QTest::newRow("skip past the end")     << 3 << 1  << "skip" << 10          << true  << 3;
    QTest::newRow("skip maximum")          << 3 << 1  << "skip" << INT32_MAX   << true  << 3;
    QTest::newRow("skip from after last")  << 3 << 3  << "skip" << 1           << false << 3;
    QTest::newRow("skip on empty")         << 0 << 0  << "skip" << 1           << false << 0;
    QTest::newRow("back 1")                << 3 << 2  << "skip" << -1          << true  << 1;
    QTest::newRow("back past the start")   << 3 << 2  << "skip" << -10         << true  << -1;
    QTest::newRow("back minimum")          << 3 << 2  << "skip" << INT32_MIN   << true  << -1;
    QTest::newRow("back from before first")<< 3 << -1 << "skip" << -1          << false << -1;
    QTest::newRow("forward from before")   << 3 << -1 << "skip" << 2           << true  << 1;
    QTest::newRow("back on empty")         << 0 << 0  << "skip" << -1          << false << 0;
    QTest::newRow("back from after last")  << 3 << 3  << "skip" << -1          << true  << 2;
    // clang-format on
}

void TestStore::navigation()
{
    QFETCH(int, records);
    QFETCH(int, from);
    QFETCH(QString, op);
    QFETCH(int, n);
    QFETCH(bool, ok);
    QFETCH(int, to);
    openWith(storeWithRecords(records));
    if (from < 0) {
        QVERIFY(skipRecord(-1));
    } else if (from == records && records > 0) {
        QVERIFY(goToRecord(records));
        QVERIFY(skipRecord(1));
    } else {
        QVERIFY(goToRecord(from + 1));
    }
    QCOMPARE(currentRecordIndex(), from);
    QCOMPARE(op == "go" ? goToRecord(n) : skipRecord(n), ok);
    QCOMPARE(currentRecordIndex(), to);
}

void TestStore::skipPastLastRecord()
{
    openWith(storeWithRecords(2));
    QVERIFY(goToRecord(2));
    QVERIFY(skipRecord());
    QCOMPARE(currentRecordIndex(), 2);
    QCOMPARE(readField(gbk("单号")), std::string());
    QVERIFY(!writeField(gbk("单号"), "x"));
    QVERIFY(!modifyRecord({"x"}));
    QVERIFY(!deleteRecord());
    QVERIFY(!skipRecord());
    QCOMPARE(readFile(path()), storeWithRecords(2));
    // Before the first record nothing is read or written either.
    goToFirstRecord();
    QVERIFY(skipRecord(-1));
    QCOMPARE(readField(gbk("单号")), std::string());
    QVERIFY(!writeField(gbk("单号"), "x"));
    QVERIFY(!deleteRecord());
    QCOMPARE(readFile(path()), storeWithRecords(2));
}

void TestStore::operationsWithoutStore()
{
    writeFile(path(), storeWithRecords(2));
    QVERIFY(!openStore(""));
    QVERIFY(!openStore(m_dir.filePath("missing.edb").toStdString()));
    QVERIFY(!openStore(m_dir.path().toStdString()));                                       // a directory
    QVERIFY(::access(m_dir.filePath("missing.edb").toLocal8Bit().constData(), F_OK) != 0); // not created
    QCOMPARE(recordCount(), 0);
    goToFirstRecord();
    QVERIFY(!goToRecord(1));
    QVERIFY(!skipRecord(1));
    QVERIFY(!skipRecord(0));
    QVERIFY(!writeField(gbk("单号"), "x"));
    QVERIFY(!appendBlankRecord());
    QVERIFY(!modifyRecord({"x"}));
    QVERIFY(!deleteRecord());
    QVERIFY(!purgeDeleted());
    QVERIFY(!clearStore());
    QCOMPARE(fieldType(gbk("单号")), 0);
    QVERIFY(currentStorePath().empty());
    QCOMPARE(readFile(path()), storeWithRecords(2));

    // A failed open leaves the store that was current as it was.
    QVERIFY(openStore(path()));
    QVERIFY(goToRecord(2));
    const std::string other = m_dir.filePath("other.edb").toStdString();
    writeFile(other, "not a store");
    QVERIFY(!openStore(other));
    QCOMPARE(currentStorePath(), path());
    QCOMPARE(currentRecordIndex(), 1);
}

void TestStore::appendRefusesSerialOverflow()
{
    std::string bytes = storeWithRecords(1);
    putInt32(bytes, 20, INT32_MAX - 1);
    openWith(bytes);
    QVERIFY(appendBlankRecord());
    QCOMPARE(currentRecordIndex(), 1);
    QCOMPARE(getInt32(readFile(path()), 332 + 136), INT32_MAX - 1);
    // The serial INT32_MAX could be given, but no serial after it: the header would stop being valid.
    const std::string before = readFile(path());
    QVERIFY(!appendBlankRecord());
    QCOMPARE(readFile(path()), before);
    QCOMPARE(currentRecordIndex(), 1);
    closeStore();
    QVERIFY(openStore(path()));
}

void TestStore::hugeRecordClaimsAllocateNothing()
{
    // Records of almost 2 GB, 备注 filling them, and only part of one record in the file.
    std::string bytes = templateBytes();
    putInt32(bytes, 24, 0x7FFFFFF0);
    putInt32(bytes, 116 + 2 * 72 + 28, 0x7FFFFFF0 - 36);
    writeFile(path(), bytes + makeRecord(34, "N1", "C1", "R1"));
    QVERIFY(openStore(path()));
    QCOMPARE(fileSize(path()), 332LL); // the partial record is dropped
    QCOMPARE(readField(gbk("备注")), std::string());
    QVERIFY(!writeField(gbk("备注"), "x"));
    QVERIFY(!modifyRecord({"a", "b", "c"}));
    QVERIFY(!deleteRecord());
    QVERIFY(purgeDeleted());
    QVERIFY(clearStore());
    closeStore();

    // The header claims one whole record, but another program cut the file within it.
    putInt32(bytes, 16, 1);
    std::string partial = bytes + makeRecord(-34, "N1", "C1", "R1");
    writeFile(path(), partial);
    const int fd = ::open(path().c_str(), O_RDWR);
    QVERIFY(fd >= 0);
    QCOMPARE(::ftruncate(fd, 332 + 0x7FFFFFF0LL), 0); // sparse: the whole record is present
    QVERIFY(openStore(path()));
    QCOMPARE(::ftruncate(fd, 332 + 136), 0);
    ::close(fd);
    QCOMPARE(readField(gbk("单号")), std::string("N1"));
    // The field cannot be read whole: a failed read gives the empty text.
    QCOMPARE(readField(gbk("备注")), std::string());
    QVERIFY(!writeField(gbk("备注"), "x"));
    QVERIFY(!modifyRecord({"a"}));
    QVERIFY(!purgeDeleted());
    QCOMPARE(readFile(path()), partial);
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
