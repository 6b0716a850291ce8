#include <QTest>
#include <string>

#include "common/gbk.h"
#include "query/answer.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

Q_DECLARE_METATYPE(kuvona::AnswerKind)

class TestAnswer : public QObject
{
    Q_OBJECT

private slots:
    void classify_data();
    void classify();
    void missingNumber_data();
    void missingNumber();
};

void TestAnswer::classify_data()
{
    QTest::addColumn<QByteArray>("body"); // raw bytes as fetched
    QTest::addColumn<AnswerKind>("kind");

    // clang-format off
    QTest::newRow("not found")             << g("单号不存在")                        << AnswerKind::NumberNotFound;
    QTest::newRow("unsupported")           << g("不支持的快递公司")                  << AnswerKind::CarrierUnsupported;
    QTest::newRow("not found, zero after") << g("单号不存在") + QByteArray("\0x", 2) << AnswerKind::NumberNotFound;
    QTest::newRow("line break after")      << g("单号不存在\r\n")                    << AnswerKind::ResultTable;
    QTest::newRow("blank before")          << g(" 不支持的快递公司")                 << AnswerKind::ResultTable;
    QTest::newRow("utf-8 text")            << QByteArray("单号不存在")               << AnswerKind::ResultTable;
    QTest::newRow("empty")                 << QByteArray()                           << AnswerKind::ResultTable;
    QTest::newRow("table")                 << QByteArray("<td>a</td><td>b</td>")     << AnswerKind::ResultTable;
    // clang-format on
}

void TestAnswer::classify()
{
    QFETCH(QByteArray, body);
    QFETCH(AnswerKind, kind);
    QCOMPARE(classifyAnswer(answerText(s(body))), kind);
}

void TestAnswer::missingNumber_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("missing");

    // clang-format off
    QTest::newRow("empty")            << QByteArray()             << true;
    QTest::newRow("prompt")           << g("请输入运单号码")       << true;
    QTest::newRow("prompt and blank") << g("请输入运单号码 ")      << false;
    QTest::newRow("number")           << QByteArray("1234")       << false;
    QTest::newRow("blank")            << QByteArray(" ")          << false;
    // clang-format on
}

void TestAnswer::missingNumber()
{
    QFETCH(QByteArray, number);
    QFETCH(bool, missing);
    QCOMPARE(isMissingNumber(s(number)), missing);
}

QTEST_APPLESS_MAIN(TestAnswer)
#include "tst_answer.moc"
