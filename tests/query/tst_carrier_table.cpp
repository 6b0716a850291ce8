#include <QTest>
#include <string>

#include "common/gbk.h"
#include "query/carrier_table.h"

using namespace kuvona;

class TestCarrierTable : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void tableOrder();
    void byName_data();
    void byName();
    void byIndexOutside();
    void byCode();
};

void TestCarrierTable::rows_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name"); // UTF-8 here, GBK in the table
    QTest::addColumn<QByteArray>("code");

    // clang-format off
    QTest::newRow("zhongtong")  << 0  << "中通"   << QByteArray("zhongtong");
    QTest::newRow("tiantian")   << 1  << "天天"   << QByteArray("tiantian");
    QTest::newRow("shentong")   << 2  << "申通"   << QByteArray("shentong");
    QTest::newRow("yunda")      << 3  << "韵达"   << QByteArray("yunda");
    QTest::newRow("huitong")    << 4  << "汇通"   << QByteArray("huitong");
    QTest::newRow("yuantong")   << 5  << "圆通"   << QByteArray("yuantong");
    QTest::newRow("shunfeng")   << 6  << "顺丰"   << QByteArray("shunfeng");
    QTest::newRow("jingdong")   << 7  << "京东"   << QByteArray("jingdong");
    QTest::newRow("ems")        << 8  << "EMS"    << QByteArray("ems");
    QTest::newRow("quanfeng")   << 9  << "全峰"   << QByteArray("quanfeng");
    QTest::newRow("zhaijisong") << 10 << "宅急送" << QByteArray("zhaijisong");
    QTest::newRow("debang")     << 11 << "德邦"   << QByteArray("debang");
    QTest::newRow("chengguang") << 12 << "程光"   << QByteArray("chengguang");
    QTest::newRow("dhl")        << 13 << "DHL"    << QByteArray("dhl");
    QTest::newRow("ups")        << 14 << "UPS"    << QByteArray("ups");
    QTest::newRow("usps")       << 15 << "USPS"   << QByteArray("usps");
    QTest::newRow("fedex")      << 16 << "FedEx"  << QByteArray("fedex");
    QTest::newRow("tnt")        << 17 << "TNT"    << QByteArray("tnt");
    QTest::newRow("yousu")      << 18 << "优速"   << QByteArray("yousu");
    QTest::newRow("guotong")    << 19 << "国通"   << QByteArray("guotong");
    QTest::newRow("kuaijie")    << 20 << "快捷"   << QByteArray("kuaijie");
    // clang-format on
}

void TestCarrierTable::rows()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QByteArray, code);
    const std::string gbkName = gbk(name.toStdString());

    const Carrier* row = carrierByIndex(index);
    QVERIFY(row);
    QCOMPARE(row->index, index);
    QCOMPARE(row->name, gbkName);
    QCOMPARE(row->code, code.toStdString());
    QCOMPARE(carrierByName(gbkName), row);
    QCOMPARE(carrierByCode(code.toStdString()), row);
}

void TestCarrierTable::tableOrder()
{
    QCOMPARE(static_cast<int>(carrierTable().size()), carrierCount);
    QCOMPARE(carrierCount, 21);
    for (int i = 0; i < carrierCount; ++i)
        QCOMPARE(carrierTable()[static_cast<std::size_t>(i)].index, i);
}

void TestCarrierTable::byName_data()
{
    QTest::addColumn<QByteArray>("name"); // GBK bytes

    // clang-format off
    QTest::newRow("capitals only")   << QByteArray("FEDEX");
    QTest::newRow("lower case only") << QByteArray("fedex");
    QTest::newRow("trailing blank")  << QByteArray::fromStdString(gbk("顺丰 "));
    QTest::newRow("leading blank")   << QByteArray::fromStdString(gbk(" 顺丰"));
    QTest::newRow("empty")           << QByteArray();
    QTest::newRow("not a courier")   << QByteArray::fromStdString(gbk("邮政"));
    QTest::newRow("utf-8 bytes")     << QByteArray("顺丰");
    QTest::newRow("service code")    << QByteArray("shunfeng");
    // clang-format on
}

// Only the exact GBK bytes of a display name find a row.
void TestCarrierTable::byName()
{
    QFETCH(QByteArray, name);
    QCOMPARE(carrierByName(name.toStdString()), nullptr);
}

void TestCarrierTable::byIndexOutside()
{
    QCOMPARE(carrierByIndex(-1), nullptr);
    QCOMPARE(carrierByIndex(21), nullptr);
    QCOMPARE(carrierByIndex(23), nullptr);
}

void TestCarrierTable::byCode()
{
    QCOMPARE(carrierByCode("SHUNFENG"), nullptr);
    QCOMPARE(carrierByCode(""), nullptr);
    QCOMPARE(carrierByCode("youzheng"), nullptr);
}

QTEST_APPLESS_MAIN(TestCarrierTable)
#include "tst_carrier_table.moc"
