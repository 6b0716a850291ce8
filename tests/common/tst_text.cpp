#include <QTest>

#include "common/fatal.h"
#include "common/gbk.h"
#include "common/text.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

class TestText : public QObject
{
    Q_OBJECT

private slots:
    void findText_data();
    void findText();
    void leftRight_data();
    void leftRight();
    void trimBlanks_data();
    void trimBlanks();
    void bytesToText();
    void textToNumber_data();
    void textToNumber();
    void textToInteger_data();
    void textToInteger();
    void numberToText_data();
    void numberToText();
    void numbersIgnoreUserLocale();
    void equalIgnoringAsciiCase_data();
    void equalIgnoringAsciiCase();
    void fatalErrorText();
};

void TestText::findText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("sought");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<int>("expected");

    // clang-format off
    QTest::newRow("plain first")           << QByteArray("abcabc")   << QByteArray("bc")  << 1  << false << 2;
    QTest::newRow("from later start")      << QByteArray("abcabc")   << QByteArray("bc")  << 3  << false << 5;
    QTest::newRow("start zero")            << QByteArray("abcabc")   << QByteArray("a")   << 0  << false << 1;
    QTest::newRow("start negative")        << QByteArray("abcabc")   << QByteArray("c")   << -5 << false << 3;
    QTest::newRow("start at last byte")    << QByteArray("abcabc")   << QByteArray("c")   << 6  << false << 6;
    QTest::newRow("start beyond length")   << QByteArray("abc")      << QByteArray("c")   << 4  << false << -1;
    QTest::newRow("not found")             << QByteArray("abc")      << QByteArray("x")   << 1  << false << -1;
    QTest::newRow("case sensitive")        << QByteArray("<TD>a")    << QByteArray("<td>") << 1 << false << -1;
    QTest::newRow("ignore case")           << QByteArray("<TD>a")    << QByteArray("<td>") << 1 << true  << 1;
    QTest::newRow("empty sought")          << QByteArray("abc")      << QByteArray()      << 1  << false << 1;
    QTest::newRow("empty sought late")     << QByteArray("abc")      << QByteArray()      << 3  << false << 1;
    QTest::newRow("empty sought empty")    << QByteArray()           << QByteArray()      << 1  << false << -1;
    QTest::newRow("empty sought beyond")   << QByteArray("abc")      << QByteArray()      << 4  << false << -1;
    QTest::newRow("longer than text")      << QByteArray("ab")       << QByteArray("abc") << 1  << false << -1;
    // clang-format on
    // 中 is D6 D0; a sought "D0 D6" must not match across the two characters 中中.
    // clang-format off
    QTest::newRow("no match on trail")     << g("中中")              << QByteArray("\xD0\xD6") << 1 << false << -1;
    QTest::newRow("chinese found")         << g("快递单号")          << g("单号")         << 1  << false << 5;
    // clang-format on
    // Stepping counts from the start: starting on a trail byte makes pairs from there.
    // clang-format off
    QTest::newRow("stepping from start")   << g("中中")              << QByteArray("\xD0\xD6") << 2 << false << 2;
    QTest::newRow("ascii folding only")    << g("ａ")                << g("Ａ")           << 1  << true  << -1;
    QTest::newRow("lead cut at end")       << QByteArray("ab\xB0")   << QByteArray("\xB0") << 1 << false << 3;
    QTest::newRow("lead cut ends scan")    << QByteArray("a\xB0")    << QByteArray("x")   << 1  << false << -1;
    // clang-format on
}

void TestText::findText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, sought);
    QFETCH(int, start);
    QFETCH(bool, ignoreCase);
    QFETCH(int, expected);
    QCOMPARE(kuvona::findText(s(text), s(sought), start, ignoreCase), expected);
}

void TestText::leftRight_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QByteArray>("right");

    // clang-format off
    QTest::newRow("zero")       << QByteArray("abcd") << 0  << QByteArray()       << QByteArray();
    QTest::newRow("negative")   << QByteArray("abcd") << -3 << QByteArray()       << QByteArray();
    QTest::newRow("part")       << QByteArray("abcd") << 3  << QByteArray("abc")  << QByteArray("bcd");
    QTest::newRow("whole")      << QByteArray("abcd") << 4  << QByteArray("abcd") << QByteArray("abcd");
    QTest::newRow("beyond")     << QByteArray("abcd") << 9  << QByteArray("abcd") << QByteArray("abcd");
    QTest::newRow("split char") << g("中文")          << 3  << QByteArray("\xD6\xD0\xCE") << QByteArray("\xD0\xCE\xC4");
    // clang-format on
}

void TestText::leftRight()
{
    QFETCH(QByteArray, text);
    QFETCH(int, n);
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);
    QCOMPARE(textLeft(s(text), n), s(left));
    QCOMPARE(textRight(s(text), n), s(right));
    QCOMPARE(textLength(s(text)), text.size());
}

void TestText::trimBlanks_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("ascii blanks")      << QByteArray("  ab c  ")      << QByteArray("ab c");
    QTest::newRow("full-width blanks") << g("　ab　")                  << QByteArray("ab");
    QTest::newRow("mixed blanks")      << g(" 　 12 　")               << QByteArray("12");
    QTest::newRow("tabs stay")         << QByteArray("\t12\t")        << QByteArray("\t12\t");
    QTest::newRow("line breaks stay")  << QByteArray(" 12\r\n")       << QByteArray("12\r\n");
    QTest::newRow("only blanks")       << g(" 　 ")                    << QByteArray();
    QTest::newRow("empty")             << QByteArray()                << QByteArray();
    // clang-format on
    // A1 A1 straddling two characters (xx A1 | A1 yy) is no blank: B0A1 A1B0.
    // clang-format off
    QTest::newRow("no blank across")   << QByteArray("\xB0\xA1\xA1\xB0") << QByteArray("\xB0\xA1\xA1\xB0");
    QTest::newRow("lone lead dropped") << QByteArray("ab\xB0")        << QByteArray("ab");
    QTest::newRow("lone lead blanks")  << QByteArray("ab \xB0")       << QByteArray("ab");
    QTest::newRow("chinese kept")      << g(" 圆通 ")                  << g("圆通");
    // clang-format on
}

void TestText::trimBlanks()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(kuvona::trimBlanks(s(text)), s(expected));
}

void TestText::bytesToText()
{
    QCOMPARE(kuvona::bytesToText(std::string("ab\0cd", 5)), std::string("ab"));
    QCOMPARE(kuvona::bytesToText("abcd"), std::string("abcd"));
    QCOMPARE(kuvona::bytesToText(std::string("\0x", 2)), std::string());
    QCOMPARE(integerToText(-2147483647 - 1), std::string("-2147483648"));
    QCOMPARE(integerToText(0), std::string("0"));
    QCOMPARE(integerToText(42), std::string("42"));
}

void TestText::textToNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    // clang-format off
    QTest::newRow("plain")             << QByteArray("2.2")       << 2.2;
    QTest::newRow("line break after")  << QByteArray("2.2\r\n")   << 2.2;
    QTest::newRow("leading space")     << QByteArray("  -1.5e2x") << -150.0;
    QTest::newRow("no number")         << QByteArray("abc")       << 0.0;
    QTest::newRow("empty")             << QByteArray()            << 0.0;
    QTest::newRow("plus sign")         << QByteArray("+3")        << 3.0;
    QTest::newRow("full-width digits") << g("２．５")              << 2.5;
    QTest::newRow("full-width space")  << g("　７")                << 7.0;
    QTest::newRow("html page")         << QByteArray("<html>2.3") << 0.0;
    // clang-format on
}

void TestText::textToNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    QCOMPARE(kuvona::textToNumber(s(text)), expected);
}

void TestText::textToInteger_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    // clang-format off
    QTest::newRow("plain")          << QByteArray("123")           << 123;
    QTest::newRow("decimal cut")    << QByteArray("12.7")          << 12;
    QTest::newRow("negative")       << QByteArray(" -45z")         << -45;
    QTest::newRow("nothing")        << QByteArray("x1")            << 0;
    QTest::newRow("too large")      << QByteArray("99999999999")   << 2147483647;
    QTest::newRow("too small")      << QByteArray("-99999999999")  << -2147483647 - 1;
    QTest::newRow("huge")           << QByteArray("9999999999999999999999") << 2147483647;
    QTest::newRow("full-width")     << g("－１２")                  << -12;
    // clang-format on
}

void TestText::textToInteger()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QCOMPARE(kuvona::textToInteger(s(text)), expected);
}

void TestText::numberToText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("short")    << 2.1            << QByteArray("2.1");
    QTest::newRow("integer")  << 40.0           << QByteArray("40");
    QTest::newRow("thirteen") << 1.0 / 3.0      << QByteArray("0.3333333333333");
    QTest::newRow("large")    << 1e20           << QByteArray("1e+20");
    // clang-format on
}

void TestText::numberToText()
{
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(kuvona::numberToText(value), s(expected));
}

void TestText::numbersIgnoreUserLocale()
{
    // The toolkit installs the user's locale; a comma as decimal point must not leak into the rules.
    const char* previous = setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") && !setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        QSKIP("no locale with a decimal comma installed");
    QCOMPARE(kuvona::textToNumber("2.5"), 2.5);
    QCOMPARE(kuvona::numberToText(2.5), std::string("2.5"));
    setlocale(LC_NUMERIC, saved.c_str());
}

void TestText::equalIgnoringAsciiCase_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("equal");

    // clang-format off
    QTest::newRow("same")            << g("单号")             << g("单号")             << true;
    QTest::newRow("ascii case")      << QByteArray("Name")    << QByteArray("nAME")    << true;
    QTest::newRow("length differs")  << QByteArray("ab")      << QByteArray("abc")     << false;
    // clang-format on
    // Trail bytes in the letter range (0x41..0x5A, 0x61..0x7A) must not be folded: B041 vs B061.
    // clang-format off
    QTest::newRow("trail not folded") << QByteArray("\xB0\x41") << QByteArray("\xB0\x61") << false;
    // clang-format on
}

void TestText::equalIgnoringAsciiCase()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, equal);
    QCOMPARE(kuvona::equalIgnoringAsciiCase(s(a), s(b)), equal);
}

void TestText::fatalErrorText()
{
    QCOMPARE(utf8FromGbk(kuvona::fatalErrorText(0, gbk("指定字段不存在"))),
             std::string("运行时出错!\r\n\r\n错误信息：指定字段不存在\r\n"));
    QCOMPARE(utf8FromGbk(kuvona::fatalErrorText(6, "")),
             std::string("运行时出错!\r\n\r\n错误代码：6\r\n\r\n"));
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
