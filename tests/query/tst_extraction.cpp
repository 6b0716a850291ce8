#include <QTest>
#include <string>
#include <vector>

#include "common/gbk.h"
#include "query/extraction.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

// Rows are written in UTF-8 for readability and converted to GBK bytes before use.
class TestExtraction : public QObject
{
    Q_OBJECT

private slots:
    void countMarker_data();
    void countMarker();
    void textBetween_data();
    void textBetween();
    void removeFirstCell_data();
    void removeFirstCell();
    void rows_data();
    void rows();
    void rowsBeyondTheCountAreEmpty();
    void agreesWithCopyingCut();
};

void TestExtraction::countMarker_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("marker");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("expected");

    // clang-format off
    QTest::newRow("none")                << QByteArray("<td>a")                     << QByteArray("</td>") << false << 0;
    QTest::newRow("empty text")          << QByteArray()                            << QByteArray("</td>") << false << 0;
    QTest::newRow("three")               << QByteArray("</td>a</td>b</td>")         << QByteArray("</td>") << false << 3;
    QTest::newRow("adjacent")            << QByteArray("</td></td>")                << QByteArray("</td>") << false << 2;
    QTest::newRow("capitals ignored")    << QByteArray("</TD>a</Td>")               << QByteArray("</td>") << false << 2;
    QTest::newRow("capitals sensitive")  << QByteArray("</TD>a</td>")               << QByteArray("</td>") << true  << 1;
    QTest::newRow("between gbk")         << g("时间</td>进度</td>")                  << QByteArray("</td>") << false << 2;
    QTest::newRow("hidden by lead byte") << QByteArray("a\xB0</td>b</td>")          << QByteArray("</td>") << false << 1;
    QTest::newRow("overlapping")         << QByteArray("aaaa")                      << QByteArray("aa")    << true  << 3;
    QTest::newRow("empty marker")        << QByteArray("abc")                       << QByteArray()        << false << 0;
    // clang-format on
}

void TestExtraction::countMarker()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, marker);
    QFETCH(bool, caseSensitive);
    QFETCH(int, expected);
    QCOMPARE(kuvona::countMarker(s(text), s(marker), caseSensitive), expected);
}

void TestExtraction::textBetween_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("first cell")          << QByteArray("x<td>a</td><td>b</td>")     << QByteArray("<td>") << QByteArray("</td>") << QByteArray("a");
    QTest::newRow("empty cell")          << QByteArray("<td></td>")                 << QByteArray("<td>") << QByteArray("</td>") << QByteArray();
    QTest::newRow("no start")            << QByteArray("a</td>")                    << QByteArray("<td>") << QByteArray("</td>") << QByteArray();
    QTest::newRow("no end")              << QByteArray("<td>a")                     << QByteArray("<td>") << QByteArray("</td>") << QByteArray();
    QTest::newRow("end before start")    << QByteArray("</td><td>a")                << QByteArray("<td>") << QByteArray("</td>") << QByteArray();
    QTest::newRow("capitals")            << QByteArray("<TD>a</TD>")                << QByteArray("<td>") << QByteArray("</td>") << QByteArray("a");
    QTest::newRow("attributed skipped")  << QByteArray("<td class=c>x</td><td>y</td>") << QByteArray("<td>") << QByteArray("</td>") << QByteArray("y");
    QTest::newRow("kept unchanged")      << QByteArray("<td> a<br>&amp; </td>")     << QByteArray("<td>") << QByteArray("</td>") << QByteArray(" a<br>&amp; ");
    QTest::newRow("gbk cell")            << g("<td>已签收</td>")                     << QByteArray("<td>") << QByteArray("</td>") << g("已签收");
    QTest::newRow("quote placeholder")   << QByteArray("a\"x\"b")                   << g("#引号")          << g("#引号")          << QByteArray("x");
    QTest::newRow("placeholder inside")  << QByteArray("<a href=\"u\">")            << g("href=#引号")     << g("#引号>")         << QByteArray("u");
    // clang-format on
}

void TestExtraction::textBetween()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, expected);
    QCOMPARE(q(kuvona::textBetween(s(text), s(start), s(end))), expected);
}

void TestExtraction::removeFirstCell_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("first of two")        << QByteArray("<td>a</td><td>b</td>")      << QByteArray("<td>b</td>");
    QTest::newRow("text before kept")    << QByteArray("<tr><td>a</td></tr>")       << QByteArray("<tr></tr>");
    QTest::newRow("no start: nothing")   << QByteArray("abc</td>")                  << QByteArray();
    QTest::newRow("empty")               << QByteArray()                            << QByteArray();
    QTest::newRow("capitals")            << QByteArray("x<TD>a</TD>y")              << QByteArray("xy");
    QTest::newRow("unterminated cell")   << QByteArray("<tr><td>dangling")          << QByteArray("<tr>");
    QTest::newRow("end only before")     << QByteArray("</td>x<td>dangling")        << QByteArray("</td>x");
    QTest::newRow("attributed stays")    << QByteArray("<td c>x</td><td>a</td>")    << QByteArray("<td c>x</td>");
    // clang-format on
}

void TestExtraction::removeFirstCell()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    const std::string result = kuvona::removeFirstCell(s(text), "<td>", "</td>");
    QCOMPARE(q(result), expected);
    QVERIFY(result.size() <= static_cast<std::size_t>(text.size()));
}

void TestExtraction::rows_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArrayList>("cells"); // time and progress of each row in turn

    // Each cut joins "<t" before a cell and "d>" after it into the marker of the next cell, thirteen
    // times over: the search for a marker has to go back further with every cell.
    QByteArray nestedHalves = QByteArray("<t").repeated(13) + "<td>a</td>";
    for (char c = 'b'; c <= 'n'; ++c)
        nestedHalves += QByteArray("d>") + c + "</td>";
    const QByteArray six = "<table><tr><td>t1</td><td>p1</td></tr>\r\n<tr><td>t2</td><td>p2</td></tr>\r\n"
                           "<tr><td>t3</td><td>p3</td></tr></table>";
    // clang-format off
    QTest::newRow("six cells")            << six                                       << QByteArrayList{"t1", "p1", "t2", "p2", "t3", "p3"};
    QTest::newRow("five cells")           << QByteArray("<td>t1</td><td>p1</td><td>t2</td><td>p2</td><td>t3</td>")
                                                                                       << QByteArrayList{"t1", "p1", "t2", "p2"};
    QTest::newRow("one cell")             << QByteArray("<td>t1</td>")                 << QByteArrayList{};
    QTest::newRow("no cell")              << QByteArray("<p>nothing</p>")              << QByteArrayList{};
    QTest::newRow("empty answer")         << QByteArray()                              << QByteArrayList{};
    QTest::newRow("capitals")             << QByteArray("<TD>a</TD><TD>b</TD>")        << QByteArrayList{"a", "b"};
    QTest::newRow("line-break tag")       << QByteArray("<td>t</td><td>a<br>b</td>")   << QByteArrayList{"t", "a<br>b"};
    QTest::newRow("character reference")  << QByteArray("<td>t</td><td>a&amp;b </td>") << QByteArrayList{"t", "a&amp;b "};
    QTest::newRow("attributed first")     << QByteArray("<td class=\"x\">hidden</td><td>a</td><td>b</td>")
                                                                                       << QByteArrayList{"a", "b"};
    QTest::newRow("gbk cells")            << g("<td>三月一日</td><td>【杭州】已揽收</td>") << QByteArrayList{g("三月一日"), g("【杭州】已揽收")};
    QTest::newRow("start without end")    << QByteArray("<td>a</td></td><td>b")        << QByteArrayList{"a", ""};
    QTest::newRow("halves join a marker") << QByteArray("<t<td>a</td>d>b</td><td>c</td>")
                                                                                       << QByteArrayList{"a", "b"};
    QTest::newRow("joins walking back")   << QByteArray("<<TD<t<t<td>1</td>d>2</td>d>3</td>>4</td>")
                                                                                       << QByteArrayList{"1", "2", "3", "4"};
    QTest::newRow("long walk back")       << nestedHalves                              << QByteArrayList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n"};
    QTest::newRow("marker after lead")    << QByteArray("x\xB0<td>a</td><td>b</td>")   << QByteArrayList{"b", ""};
    // clang-format on
}

// The worker's loop: count once, then two cells per row. Checked through all three entry points, which
// must agree because the worker may use any of them.
void TestExtraction::rows()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArrayList, cells);

    QCOMPARE(resultRowCount(s(answer)), cells.size() / 2);

    ResultCells table(s(answer));
    QCOMPARE(table.rowCount(), cells.size() / 2);
    std::string consumed = s(answer);
    QByteArrayList got;
    QByteArrayList gotByTakeRow;
    for (int i = 0; i < table.rowCount(); ++i) {
        const std::size_t before = table.remainder().size();
        const ResultRow row = table.nextRow();
        QVERIFY(table.remainder().size() <= before);
        got << q(row.time) << q(row.progress);
        const ResultRow same = takeRow(consumed);
        gotByTakeRow << q(same.time) << q(same.progress);
    }
    QCOMPARE(got, cells);
    QCOMPARE(gotByTakeRow, cells);
    QCOMPARE(q(consumed), q(table.remainder()));
}

void TestExtraction::rowsBeyondTheCountAreEmpty()
{
    ResultCells table("<td>a</td><td>b</td>");
    QCOMPARE(table.rowCount(), 1);
    table.nextRow();
    const ResultRow extra = table.nextRow();
    QVERIFY(extra.time.empty());
    QVERIFY(extra.progress.empty());
    QVERIFY(table.remainder().empty());
}

// Answers built from the pieces that make markers join, break or fall out of step with the
// double-byte characters, some around cells nested deeper than the reader remembers: the row-by-row
// reader must cut exactly what takeRow() cuts.
void TestExtraction::agreesWithCopyingCut()
{
    const char* const pieces[] = {"<t",   "d>",       "<td>", "</td>", "<", "/td>",
                                  "\xB0", "\xB0\xA1", "x",    "t",     "T"};
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const auto randomPieces = [&](std::uint32_t most) {
        std::string out;
        for (std::uint32_t i = next(most + 1); i > 0; --i)
            out += pieces[next(std::size(pieces))];
        return out;
    };
    for (int round = 0; round < 4000; ++round) {
        std::string answer = randomPieces(round % 2 ? 6 : 60);
        if (round % 2) {
            const std::uint32_t depth = next(16);
            for (std::uint32_t i = 0; i < depth; ++i)
                answer += "<t";
            answer += "<td>a</td>";
            for (std::uint32_t i = 0; i < depth; ++i)
                answer += "d>" + randomPieces(1) + "</td>";
            answer += randomPieces(6);
        }
        ResultCells table(answer);
        std::string consumed = answer;
        for (int i = 0; i < table.rowCount(); ++i) {
            const ResultRow row = table.nextRow();
            const ResultRow same = takeRow(consumed);
            QVERIFY2(row.time == same.time && row.progress == same.progress,
                     qPrintable(QByteArray::fromStdString(answer).toHex()));
        }
        QVERIFY2(consumed == table.remainder(), qPrintable(QByteArray::fromStdString(answer).toHex()));
    }
}

QTEST_APPLESS_MAIN(TestExtraction)
#include "tst_extraction.moc"
