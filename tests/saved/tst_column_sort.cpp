#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "common/listview.h"
#include "platform/report_list_view.h"
#include "platform/text_compare.h"
#include "platform/text_sort_key.h"
#include "platform/ui_text.h"
#include "saved/saved_list.h"
#include "saved/sort.h"
#include "saved_window_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

std::string g(const QString& text)
{
    return gbk(text.toStdString());
}

std::vector<int> numbers(const QString& text)
{
    std::vector<int> out;
    for (const QString& part : text.split(' ', Qt::SkipEmptyParts))
        out.push_back(part.toInt());
    return out;
}

// Records whose three columns sort into three different orders, none of them byte order.
const std::vector<SavedRecord> kThree = {{"B", "x", "3"}, {"a", "z", "2"}, {"C", "y", "1"}};

} // namespace

class TestColumnSort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void directionAndArrows_data();
    void directionAndArrows();
    void emptyListOnlyFlips();
    void storeOpenOrMissing_data();
    void storeOpenOrMissing();
    void modes_data();
    void modes();
    void fitColumns();
    void selectionMovesWithItsRow();
    void headerClickOrder_data();
    void headerClickOrder();
    void linguisticComparison_data();
    void linguisticComparison();
    void characterTableKeepsEveryCharacterApart();
    void textToDateTimeForms_data();
    void textToDateTimeForms();
    void compareKeys_data();
    void compareKeys();
    void keyIndexOutsideTheSort();
    void arrowImagePixels();
    void headerShowsArrow();
    void damagedBytesRoundTrip_data();
    void damagedBytesRoundTrip();
    void randomBytesRoundTrip();
    void damagedFieldsKeptBySort();
};

void TestColumnSort::initTestCase()
{
    setFatalHandler(throwFatal);
}

void TestColumnSort::init()
{
    sortState() = SortState{};
}

void TestColumnSort::directionAndArrows_data()
{
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QString>("images");
    QTest::addColumn<QString>("numbers");
    // clang-format off
    QTest::newRow("first on column 0")  << "0"     << true  << "0 -1 -1"  << "a B C";
    QTest::newRow("column 0 twice")     << "0 0"   << false << "1 -1 -1"  << "C B a";
    QTest::newRow("column 0 thrice")    << "0 0 0" << true  << "0 -1 -1"  << "a B C";
    QTest::newRow("0, 0, then 1")       << "0 0 1" << true  << "-1 1 -1" << "B C a";
    QTest::newRow("first on column 1")  << "1"     << true  << "-1 1 -1" << "B C a";
    QTest::newRow("0 then 1")           << "0 1"   << false << "-1 0 -1" << "a C B";
    QTest::newRow("1 then 2")           << "1 2"   << false << "-1 -1 1" << "B a C";
    QTest::newRow("2 then 2")           << "2 2"   << false << "-1 -1 0" << "B a C";
    // clang-format on
}

void TestColumnSort::directionAndArrows()
{
    QFETCH(QString, clicks);
    QFETCH(bool, ascending);
    QFETCH(QString, images);
    QFETCH(QString, numbers);
    SavedWindow saved(kThree);
    QVERIFY(saved.ready());
    for (int column : ::numbers(clicks))
        clickHeader(saved.list(), column);
    QCOMPARE(sortState().sortAscending, ascending ? 1 : 0);
    const std::vector<int> expectedImages = ::numbers(images);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(listColumnImage(saved.list(), c), expectedImages[static_cast<std::size_t>(c)]);
    QCOMPARE(saved.column(0), g(numbers));
    // The rows keep their texts together, and whole records move: each keeps its serial.
    std::vector<SavedRecord> rows;
    std::vector<std::int32_t> serials;
    for (int r = 0; r < 3; ++r) {
        const SavedRecord row{listCellText(saved.list(), r, 0), listCellText(saved.list(), r, 1),
                              listCellText(saved.list(), r, 2)};
        const auto original = std::find_if(kThree.begin(), kThree.end(),
                                           [&](const SavedRecord& k) { return k.number == row.number; });
        QVERIFY(original != kThree.end());
        QCOMPARE(row.company, original->company);
        QCOMPARE(row.remark, original->remark);
        rows.push_back(row);
        serials.push_back(34 + static_cast<std::int32_t>(original - kThree.begin()));
    }
    QCOMPARE(readBytes(saved.storePath()), storeBytes(rows, serials, 37));
}

void TestColumnSort::emptyListOnlyFlips()
{
    SavedWindow saved({});
    QVERIFY(saved.ready());
    const std::string before = readBytes(saved.storePath());
    clickHeader(saved.list(), 1);
    QCOMPARE(sortState().sortAscending, 1);
    clickHeader(saved.list(), 0);
    QCOMPARE(sortState().sortAscending, 0);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(listColumnImage(saved.list(), c), -1);
    QCOMPARE(readBytes(saved.storePath()), before);
    QVERIFY(!currentRecordIndex()); // opened and closed again
    // The next sort of a filled list ascends, since the direction flipped twice.
    writeBytes(saved.storePath(), storeBytes({{"b", "", ""}, {"a", "", ""}}));
    reloadSavedList();
    clickHeader(saved.list(), 0);
    QCOMPARE(saved.column(0), std::string("a b"));
    QCOMPARE(recordList(readBytes(saved.storePath())), std::string("35:a 34:b"));
}

void TestColumnSort::storeOpenOrMissing_data()
{
    QTest::addColumn<bool>("missing");
    // clang-format off
    QTest::newRow("left open by an earlier command") << false;
    QTest::newRow("file removed meanwhile")          << true;
    // clang-format on
}

void TestColumnSort::storeOpenOrMissing()
{
    // The click opens the store without looking at the result: a store still open is worked on
    // and closed; without a file the list is sorted all the same and nothing is created.
    QFETCH(bool, missing);
    SavedWindow saved(kThree);
    QVERIFY(saved.ready());
    if (missing) {
        QVERIFY(std::remove(saved.storePath().c_str()) == 0);
    } else {
        QVERIFY(openStore(saved.storePath()));
        QVERIFY(skipRecord(3)); // the earlier command left its cursor after the last record
    }
    clickHeader(saved.list(), 0);
    QCOMPARE(saved.column(0), std::string("a B C"));
    QVERIFY(!currentRecordIndex());
    if (missing)
        QVERIFY(!QFile::exists(QString::fromStdString(saved.storePath())));
    else
        QCOMPARE(readBytes(saved.storePath()),
                 storeBytes({kThree[1], kThree[0], kThree[2]}, {35, 34, 36}, 37));
}

void TestColumnSort::modes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("cells");
    QTest::addColumn<QString>("ascending");
    // Equal keys keep their order, so the expected orders are exact.
    // clang-format off
    QTest::newRow("text")             << 1 << "9 10 b A a"                 << "10 9 a A b";
    QTest::newRow("0 is text")        << 0 << "9 10 b A a"                 << "10 9 a A b";
    QTest::newRow("7 is text")        << 7 << "9 10 b A a"                 << "10 9 a A b";
    QTest::newRow("-3 is text")       << -3 << "9 10 b A a"                << "10 9 a A b";
    QTest::newRow("integer")          << 3 << "10 9 3.9 abc 3 -2"          << "-2 abc 3.9 3 9 10";
    QTest::newRow("integer wide")     << 3 << "2147483647 -2147483648 0"   << "-2147483648 0 2147483647";
    QTest::newRow("full-width digit") << 3 << "１２ 3"                    << "3 １２";
    QTest::newRow("decimal4")         << 4 << "1.2346 1.23456 1.2345 -1"   << "-1 1.23456 1.2345 1.2346";
    QTest::newRow("date-time")        << 2 << "2009-1-3 2009/01/02 x 1899-12-29 1899-12-30"
                                      << "x 1899-12-29 1899-12-30 2009/01/02 2009-1-3";
    // clang-format on
}

void TestColumnSort::modes()
{
    QFETCH(int, mode);
    QFETCH(QString, cells);
    QFETCH(QString, ascending);
    SavedWindow saved({});
    QVERIFY(saved.ready());
    std::vector<std::vector<QString>> rows;
    for (const QString& cell : cells.split(' '))
        rows.push_back({cell});
    saved.list().listModel()->resetRows(rows);
    sortListByColumn(saved.list(), 0, mode, false);
    QCOMPARE(saved.column(0), g(ascending));
    QCOMPARE(sortState().sortMode, sortModeOf(mode));
    // Descending is the reverse, except that equal keys again keep the order they have.
    sortListByColumn(saved.list(), 0, mode, false);
    QCOMPARE(sortState().sortAscending, 0);
    for (int r = 1; r < listRowCount(saved.list()); ++r) {
        const std::string above = sortKeyOf(listCellText(saved.list(), r - 1, 0), sortModeOf(mode));
        const std::string below = sortKeyOf(listCellText(saved.list(), r, 0), sortModeOf(mode));
        QVERIFY(compareSortKeyTexts(above, below, sortModeOf(mode), false) <= 0);
    }
}

void TestColumnSort::fitColumns()
{
    SavedWindow saved({{"1234567890123456789", "x", "a remark long enough to need more room"}});
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    sortListByColumn(list, 0, 1, false);
    QCOMPARE(list.columnWidth(0), 90);
    QCOMPARE(list.columnWidth(2), 100);
    sortListByColumn(list, 0, 1, true);
    const QFontMetrics metrics(list.font());
    QVERIFY(list.columnWidth(0) >= metrics.horizontalAdvance(QStringLiteral("1234567890123456789")));
    QVERIFY(list.columnWidth(2) >=
            metrics.horizontalAdvance(QStringLiteral("a remark long enough to need more room")));
    // Column 1 fits its title, which is wider than its one-letter cell.
    QVERIFY(list.columnWidth(1) >= metrics.horizontalAdvance(QString::fromUtf8("公司")));
    QVERIFY(list.columnWidth(1) < 60);
}

void TestColumnSort::selectionMovesWithItsRow()
{
    SavedWindow saved(kThree);
    QVERIFY(saved.ready());
    listSetCurrentSelection(saved.list(), 0); // "B"
    clickHeader(saved.list(), 0);
    QCOMPARE(saved.column(0), std::string("a B C"));
    QCOMPARE(listCurrentSelection(saved.list()), 1);
}

void TestColumnSort::headerClickOrder_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("remarks");
    // The remarks of the rows, top first, after the first click (ascending).
    // clang-format off
    QTest::newRow("numbers, hyphen left out") << 0 << "3 2 1 5 4"; // SF1000 SF-1001 SF1002 YT10 YT9
    QTest::newRow("companies, Latin first")   << 1 << "4 3 2 5 1"; // DHL EMS 顺丰 圆通 中通
    // clang-format on
}

void TestColumnSort::headerClickOrder()
{
    QFETCH(int, column);
    QFETCH(QString, remarks);
    const std::vector<SavedRecord> records = {{"SF1002", gbk("中通"), "1"},
                                              {"SF-1001", gbk("顺丰"), "2"},
                                              {"SF1000", "EMS", "3"},
                                              {"YT9", "DHL", "4"},
                                              {"YT10", gbk("圆通"), "5"}};
    SavedWindow saved(records);
    QVERIFY(saved.ready());
    clickHeader(saved.list(), column);
    QCOMPARE(saved.column(2), g(remarks));
    // Whole records move, each keeping its serial (34 for the first record written).
    std::vector<SavedRecord> sorted;
    std::vector<std::int32_t> serials;
    for (int remark : numbers(remarks)) {
        sorted.push_back(records[static_cast<std::size_t>(remark - 1)]);
        serials.push_back(33 + remark);
    }
    QCOMPARE(readBytes(saved.storePath()), storeBytes(sorted, serials, 39));
}

void TestColumnSort::linguisticComparison_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    // What Windows' lstrcmpA returns, from Wine's conformance tests of CompareStringA (no flags).
    // clang-format off
    QTest::newRow("letters after _")           << "EndDialog"             << "_Property"             << 1;
    QTest::newRow("lower letters after _")     << "osp_vba.sreg0070"      << "_IEWWBrowserComp"      << 1;
    QTest::newRow("letters after backslash")   << "r"                     << "\\"                    << 1;
    QTest::newRow("case only on a tie")        << "osp_vba.sreg0031"      << "OriginalDatabase"      << 1;
    QTest::newRow("upper after lower")         << "AAA"                   << "aaa"                   << 1;
    QTest::newRow("letter before case")        << "AAA"                   << "aab"                   << -1;
    QTest::newRow("letter before case 2")      << "AAA"                   << "Aab"                   << -1;
    QTest::newRow("dot before letters")        << ".AAA"                  << "Aab"                   << -1;
    QTest::newRow("dot first, not skipped")    << ".AAA"                  << "A.ab"                  << -1;
    QTest::newRow("shorter word first")        << "aa"                    << "AB"                    << -1;
    QTest::newRow("letters decide")            << "aa"                    << "Aab"                   << -1;
    QTest::newRow("letters decide 2")          << "aB"                    << "Aab"                   << 1;
    QTest::newRow("prefix before case")        << "Ba"                    << "bab"                   << -1;
    QTest::newRow("brace before letters")      << "{100}{83}{71}{71}{71}" << "Global_DataAccess_JRO" << -1;
    QTest::newRow("lower after brace")         << "a"                     << "{"                     << 1;
    QTest::newRow("upper after brace")         << "A"                     << "{"                     << 1;
    QTest::newRow("version numbers")           << "3.5"                   << "4.0"                   << -1;
    QTest::newRow("long version numbers")      << "3.520.4403.2"          << "4.0.2927.10"           << -1;
    QTest::newRow("hyphen left out")           << "-o"                    << "/m"                    << 1;
    QTest::newRow("apostrophe left out")       << "'o"                    << "/m"                    << 1;
    QTest::newRow("hyphen breaks a tie")       << "a-"                    << "a"                     << 1;
    QTest::newRow("apostrophe breaks a tie")   << "a'"                    << "a"                     << 1;
    QTest::newRow("empty texts")               << ""                      << ""                      << 0;
    QTest::newRow("apostrophe before hyphen")  << "'o"                    << "-o"                    << -1;
    QTest::newRow("lone apostrophe, hyphen")   << "'"                     << "-"                     << -1;
    QTest::newRow("backquote after slash")     << "`o"                    << "/m"                    << 1;
    QTest::newRow("backquote before letters")  << "`o"                    << "-m"                    << -1;
    // clang-format on
    // The order of the saved list's numbers and companies.
    // 丌 is a second-level character: GBK puts it after 中, pinyin (ji, zhong) before.
    // clang-format off
    QTest::newRow("digits as characters")      << "10"                    << "9"                     << -1;
    QTest::newRow("lower before upper")        << "a"                     << "A"                     << -1;
    QTest::newRow("A before b")                << "A"                     << "b"                     << -1;
    QTest::newRow("not byte order")            << "B"                     << "a"                     << 1;
    QTest::newRow("same text")                 << "YT12"                  << "YT12"                  << 0;
    QTest::newRow("prefix first")              << "YT1"                   << "YT12"                  << -1;
    QTest::newRow("empty first")               << ""                      << "0"                     << -1;
    QTest::newRow("digits before letters")     << "9"                     << "a"                     << -1;
    QTest::newRow("hyphen after the plain")    << "SF-1001"               << "SF1000"                << 1;
    QTest::newRow("hyphen before the next")    << "SF-1001"               << "SF1002"                << -1;
    QTest::newRow("Latin before Chinese")      << "DHL"                   << "中通"                  << -1;
    QTest::newRow("Latin before Chinese 2")    << "EMS"                   << "顺丰"                  << -1;
    QTest::newRow("z before Chinese")          << "zz"                    << "丌"                    << -1;
    QTest::newRow("digit before Chinese")      << "9"                     << "一"                    << -1;
    QTest::newRow("Latin before Chinese, 2nd") << "中a"                   << "中国"                  << -1;
    QTest::newRow("pinyin: shun before zhong") << "顺丰"                  << "中通"                  << -1;
    QTest::newRow("pinyin: yuan before yun")   << "圆通"                  << "韵达"                  << -1;
    QTest::newRow("pinyin: hui before shen")   << "汇通"                  << "申通"                  << -1;
    QTest::newRow("Han not by GBK bytes")      << "中"                    << "丌"                    << 1;
    QTest::newRow("full-width among Latin")    << "ＡＢ"                  << "AC"                    << -1;
    QTest::newRow("full-width after half")     << "Ａ"                    << "A"                     << 1;
    QTest::newRow("full-width digits")         << "１２"                  << "2"                     << -1;
    QTest::newRow("full-width comma a symbol") << "，"                    << "0"                     << -1;
    QTest::newRow("accent after the letter")   << "ā"                     << "a"                     << 1;
    QTest::newRow("accent with its letter")    << "ā"                     << "b"                     << -1;
    QTest::newRow("Chinese punctuation")       << "、"                    << "一"                    << -1;
    // clang-format on
}

void TestColumnSort::linguisticComparison()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    QVERIFY(linguisticLocaleName() != QStringLiteral("C"));
    const auto signOf = [](int v) {
        return v < 0 ? -1 : v > 0 ? 1 : 0;
    };
    QCOMPARE(signOf(compareTextsLinguistic(g(a), g(b))), sign);
    QCOMPARE(signOf(compareTextsLinguistic(g(b), g(a))), -sign);
    QCOMPARE(signOf(LinguisticKey(g(a)).compare(LinguisticKey(g(b)))), sign);
}

// Each group of double-byte characters fits its range of weights: none is cut off at the end of its
// range, where characters would fall together.
void TestColumnSort::characterTableKeepsEveryCharacterApart()
{
    const DoubleByteWeights& table = localeDoubleByteWeights();
    std::set<std::uint16_t> seen;
    int wide = 0;
    for (std::size_t i = 0; i < DoubleByteWeights::kCount; ++i) {
        const CharWeights& w = table.at(i);
        if (w.primary == 0) {
            QVERIFY(w.special != 0); // only the full-width hyphen and apostrophe
            continue;
        }
        if (w.primary < weights::kWideSymbols ||
            (w.primary >= weights::kDigits && w.primary < weights::kOtherScripts)) {
            ++wide; // full-width forms and accented letters share their ASCII letter's weight
            continue;
        }
        QVERIFY2(seen.insert(w.primary).second, qPrintable(QString::number(i)));
    }
    QVERIFY(seen.size() > 21000);
    QVERIFY(wide > 90);
}

void TestColumnSort::textToDateTimeForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    const double invalid = -657434;
    const double jan2 = 39815; // 2009-01-02
    // clang-format off
    QTest::newRow("dashes")              << "2009-1-2"                << jan2;
    QTest::newRow("slashes and time")    << "2009/01/02 13:05:09"     << jan2 + 47109 / 86400.0;
    QTest::newRow("Chinese words")       << "2009年1月2日13时5分9秒"   << jan2 + 47109 / 86400.0;
    QTest::newRow("digits only")         << "20090102"                << jan2;
    QTest::newRow("dots, one digit")     << "2009.1.2 1:2:3"          << jan2 + 3723 / 86400.0;
    QTest::newRow("full-width")          << "２００９－１－２"          << jan2;
    QTest::newRow("after 秒 not read")   << "2009-1-2 0:0:1秒xyz"     << jan2 + 1 / 86400.0;
    QTest::newRow("epoch")               << "1899-12-30"              << 0.0;
    QTest::newRow("before epoch")        << "1899-12-29 06:00:00"     << -1.25;
    QTest::newRow("leap day 2000")       << "2000-2-29"               << 36585.0;
    QTest::newRow("earliest")            << "100-1-1"                 << invalid;
    QTest::newRow("latest")              << "9999-12-31 23:59:59"     << 2958465 + 86399 / 86400.0;
    QTest::newRow("month 13")            << "2009-13-01"              << invalid;
    QTest::newRow("year only")           << "2009"                    << invalid;
    QTest::newRow("empty")               << ""                        << invalid;
    QTest::newRow("year 99")             << "99-1-1"                  << invalid;
    QTest::newRow("no 1900-02-29")       << "1900-2-29"               << invalid;
    QTest::newRow("no 2009-02-29")       << "2009-2-29"               << invalid;
    QTest::newRow("April 31")            << "2009-4-31"               << invalid;
    QTest::newRow("hour 24")             << "2009-1-2 24:00"          << invalid;
    QTest::newRow("minute 60")           << "2009-1-2 12:60"          << invalid;
    QTest::newRow("text after second")   << "2009-1-2 1:2:3x"         << invalid;
    QTest::newRow("blank after second")  << "2009-1-2 1:2:3 "         << invalid;
    QTest::newRow("letters")             << "abc"                     << invalid;
    // clang-format on
}

void TestColumnSort::textToDateTimeForms()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QVERIFY(std::abs(textToDateTime(g(text)) - expected) < 1e-9);
}

void TestColumnSort::compareKeys_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("cell1");
    QTest::addColumn<QString>("cell2");
    QTest::addColumn<int>("ascending");
    // clang-format off
    QTest::newRow("text 10 before 9")      << 1 << "10"          << "9"           << -1;
    QTest::newRow("text case")             << 1 << "ab"          << "Ab"          << -1;
    QTest::newRow("text equal")            << 1 << "YT1"         << "YT1"         << 0;
    QTest::newRow("date earlier")          << 2 << "2009-1-2"    << "2009-1-3"    << -1;
    QTest::newRow("date same moment")      << 2 << "2009-1-2"    << "20090102"    << 0;
    QTest::newRow("date time of day")      << 2 << "2009-1-2 9:0" << "2009-1-2 8:59" << 1;
    QTest::newRow("before epoch forward")  << 2 << "1899-12-29 06:00" << "1899-12-29 18:00" << -1;
    QTest::newRow("invalid is year 100")   << 2 << "x"           << "100-1-1"     << 0;
    QTest::newRow("integer 3.9 is 3")      << 3 << "3.9"         << "3"           << 0;
    QTest::newRow("integer -2 before abc") << 3 << "-2"          << "abc"         << -1;
    QTest::newRow("integer extremes")      << 3 << "2147483647"  << "-2147483648" << 1;
    QTest::newRow("decimal4 cut")          << 4 << "1.23456"     << "1.2345"      << 0;
    QTest::newRow("decimal4 fourth place") << 4 << "1.2346"      << "1.2345"      << 1;
    QTest::newRow("decimal4 negative")     << 4 << "-0.0001"     << "0"           << -1;
    // clang-format on
}

void TestColumnSort::compareKeys()
{
    QFETCH(int, mode);
    QFETCH(QString, cell1);
    QFETCH(QString, cell2);
    QFETCH(int, ascending);
    const SortMode m = sortModeOf(mode);
    const std::string k1 = sortKeyOf(g(cell1), m), k2 = sortKeyOf(g(cell2), m);
    const auto signOf = [](int v) {
        return v < 0 ? -1 : v > 0 ? 1 : 0;
    };
    QCOMPARE(signOf(compareSortKeyTexts(k1, k2, m, true)), ascending);
    QCOMPARE(signOf(compareSortKeyTexts(k1, k2, m, false)), -ascending);
}

void TestColumnSort::keyIndexOutsideTheSort()
{
    // Outside a sort there are no keys: an item value cannot name one.
    try {
        compareSortKeys(0, 0, 0);
        QFAIL("no fatal error");
    } catch (const FatalError& e) {
        QCOMPARE(e.code, 1);
        QCOMPARE(std::string(e.what()), gbk("数组成员引用下标超出定义范围"));
    }
    try {
        compareSortKeys(-1, 0, 0);
        QFAIL("no fatal error");
    } catch (const FatalError& e) {
        QCOMPARE(e.code, 4);
        QCOMPARE(std::string(e.what()), gbk("数组成员引用下标必须大于等于1"));
    }
}

namespace {

// '.' transparent, 'G' grey 127, 'W' white.
const char* const kUp[7] = {"...GW...", "..G..W..", "..G..W..", ".G....W.",
                            ".G....W.", "G......W", "GGGGGGGW"};
const char* const kDown[7] = {"GGGGGGGW", "G......W", ".G....W.", ".G....W.",
                              "..G..W..", "..G..W..", "...GW..."};

} // namespace

void TestColumnSort::arrowImagePixels()
{
    const std::vector<QPixmap> images = sortArrowImages();
    QCOMPARE(images.size(), std::size_t(2));
    for (int i = 0; i < 2; ++i) {
        const QImage image = images[static_cast<std::size_t>(i)].toImage();
        QCOMPARE(image.size(), QSize(8, 7));
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 8; ++x) {
                const char want = (i == 0 ? kUp : kDown)[y][x];
                const QColor pixel = image.pixelColor(x, y);
                const QString where = QStringLiteral("image %1 at %2,%3").arg(i).arg(x).arg(y);
                if (want == '.')
                    QVERIFY2(pixel.alpha() == 0, qPrintable(where));
                else
                    QVERIFY2(pixel == (want == 'G' ? QColor(127, 127, 127) : QColor(255, 255, 255)),
                             qPrintable(where));
            }
        }
    }
}

void TestColumnSort::headerShowsArrow()
{
    SavedWindow saved(kThree);
    QVERIFY(saved.ready());
    ReportListModel& model = *saved.list().listModel();
    QVERIFY(model.headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());
    clickHeader(saved.list(), 0);
    clickHeader(saved.list(), 0); // descending: image 1, the downward triangle
    const QPixmap shown = model.headerData(0, Qt::Horizontal, Qt::DecorationRole).value<QPixmap>();
    QCOMPARE(shown.toImage(), sortArrowImages()[1].toImage());
    // The header draws it unscaled at the left of the title: find the grey and white pixels.
    QHeaderView* header = saved.list().horizontalHeader();
    const QImage drawn =
        header->grab(QRect(header->sectionViewportPosition(0), 0, header->sectionSize(0), header->height()))
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    bool found = false;
    for (int top = 0; top + 7 <= drawn.height() && !found; ++top) {
        for (int left = 0; left + 8 <= drawn.width() / 2 && !found; ++left) {
            bool match = true;
            for (int y = 0; y < 7 && match; ++y)
                for (int x = 0; x < 8 && match; ++x) {
                    const char want = kDown[y][x];
                    const QColor pixel = drawn.pixelColor(left + x, top + y);
                    if (want == 'G')
                        match = pixel == QColor(127, 127, 127);
                    else if (want == 'W')
                        match = pixel == QColor(255, 255, 255);
                }
            found = match;
        }
    }
    QVERIFY(found);
}

void TestColumnSort::damagedBytesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // clang-format off
    QTest::newRow("ASCII")               << QByteArray("YT123");
    QTest::newRow("Chinese")             << QByteArray(gbk("圆通 备注").c_str());
    QTest::newRow("lead byte at the end") << QByteArray("1234567890123456789\xD6");
    QTest::newRow("lead before a blank") << QByteArray("\xD6 x");
    QTest::newRow("0x80 and 0xFF")       << QByteArray("a\x80z\xFF");
    QTest::newRow("unassigned pair")     << QByteArray("\xA2\xA0.");
    QTest::newRow("two leads")           << QByteArray("\xD6\xD6");
    QTest::newRow("unassigned, then @")  << QByteArray("\xA1\x40@");
    // clang-format on
}

void TestColumnSort::damagedBytesRoundTrip()
{
    QFETCH(QByteArray, bytes);
    const std::string text = bytes.toStdString();
    QCOMPARE(fromQString(toQString(text)), text);
    // Whole characters still show as themselves.
    if (text == gbk("圆通 备注"))
        QCOMPARE(toQString(text), QString::fromUtf8("圆通 备注"));
}

void TestColumnSort::randomBytesRoundTrip()
{
    // Field contents as another program or a damaged disk may leave them: any bytes but zero.
    std::mt19937 random(20091);
    for (int i = 0; i < 3000; ++i) {
        std::string bytes(random() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(1 + random() % 255);
        QCOMPARE(fromQString(toQString(bytes)), bytes);
    }
}

void TestColumnSort::damagedFieldsKeptBySort()
{
    // Full fields cut inside a double-byte character, as the store keeps a long number or name.
    const std::string number = "123456789012345678" + gbk("中").substr(0, 1) + "9";
    const std::string company = ("a" + gbk("圆通圆通圆通")).substr(0, 12);
    const std::vector<SavedRecord> records = {{"Z", "x", "r"},
                                              {number, company, "a" + gbk("备").substr(0, 1)}};
    SavedWindow saved(records);
    QVERIFY(saved.ready());
    clickHeader(saved.list(), 0);
    QCOMPARE(readBytes(saved.storePath()), storeBytes({records[1], records[0]}, {35, 34}, 36));
}

QTEST_MAIN(TestColumnSort)
#include "tst_column_sort.moc"
