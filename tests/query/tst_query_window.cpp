// The query as a user drives it: through the main window, against the reference service.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

#include "../service/local_service.h"
#include "../settings/raw_http_server.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "platform/worker.h"
#include "query/carrier_table.h"
#include "query/query_command.h"
#include "tests/support/bytes.h"
#include "tests/support/check_list_box.h"
#include "tests/support/message_boxes.h"
#include "tests/support/ui_stall.h"

using namespace kuvona;

namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Notes when a widget becomes enabled, on the clock the test reads.
class EnableWatcher : public QObject
{
public:
    EnableWatcher(QWidget& widget, const QElapsedTimer& clock) : QObject(&widget), m_clock(clock)
    {
        widget.installEventFilter(this);
    }
    qint64 enabledAt = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            enabledAt = m_clock.nsecsElapsed();
        return false;
    }

private:
    const QElapsedTimer& m_clock;
};

} // namespace

class TestQueryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void mainRoadRowByRow();
    void rowsComeMoreThan50msApart();
    void serviceAnswers_data();
    void serviceAnswers();
    void unsupportedCourier();
    void unreachableServer();
    void numbersReachTheServiceEncoded_data();
    void numbersReachTheServiceEncoded();
    void inputChecks_data();
    void inputChecks();
    void lowestTickedCourierWins();
    void highlightedButUntickedStartsNothing();
    void stopWhileRowsComeIn();
    void stopTakesTheWorkersBoxAway();
    void menuFormDuringQueryThenStop();
    void enterRunsTheQuery();
    void selectCarrierByName_data();
    void selectCarrierByName();
    void courierTickedByTheUser_data();
    void courierTickedByTheUser();
    void hostileAnswersCostNoFreeze_data();
    void hostileAnswersCostNoFreeze();

private:
    void tick(int index, bool highlight = true);
    std::string lastNuSent() const;

    test::LocalService m_service;
    QTemporaryDir m_dir; // the program's directory: Danhao.edb and set.ini go here
    MainWindow* m_window = nullptr;
    QLineEdit* m_number = nullptr;
    QPushButton* m_button = nullptr;
    CheckListBox* m_carriers = nullptr;
    ReportListView* m_progress = nullptr;
    int m_autoSaves = 0;
};

void TestQueryWindow::initTestCase()
{
    QVERIFY2(m_service.start({"--unsupported", "tnt"}), qPrintable(m_service.error()));
    qputenv("KUVONA_QUERY_HOST", QByteArray::fromStdString(m_service.hostAndPort()));
}

void TestQueryWindow::init()
{
    setProgramDirectory(m_dir.path().toStdString());
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    m_autoSaves = 0;
    m_window = new MainWindow;
    // After the window, which binds the real step: these tests count the calls.
    setAutoSaveStep([this] { ++m_autoSaves; });
    m_window->showCentred();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_number = m_window->findChild<QLineEdit*>(q("单号"));
    m_button = m_window->findChild<QPushButton*>(q("快递查询"));
    m_carriers = m_window->findChild<CheckListBox*>(q("选择列表框1"));
    m_progress = m_window->findChild<ReportListView*>(q("进度列表框"));
}

void TestQueryWindow::cleanup()
{
    terminateAllWorkers();
    delete m_window;
    m_window = nullptr;
    qputenv("KUVONA_QUERY_HOST", QByteArray::fromStdString(m_service.hostAndPort()));
}

void TestQueryWindow::tick(int index, bool highlight)
{
    m_carriers->setChecked(index, true);
    if (highlight)
        m_carriers->setCurrentSelection(index);
}

std::string TestQueryWindow::lastNuSent() const
{
    const QByteArray requestLine = m_service.lastRequestLines().value(0);
    const qsizetype at = requestLine.indexOf("&nu=");
    return requestLine.mid(at + 4, requestLine.indexOf("&type=html ", at) - at - 4).toStdString();
}

void TestQueryWindow::mainRoadRowByRow()
{
    m_number->setText(QStringLiteral("368726491023"));
    tick(0); // 中通
    QTest::mouseClick(m_button, Qt::LeftButton);
    QVERIFY(!m_button->isEnabled());
    QTRY_VERIFY(listRowCount(*m_progress) >= 1);
    QVERIFY(listRowCount(*m_progress) < 6); // rows come one by one, not all at once
    QTRY_COMPARE(listRowCount(*m_progress), 6);
    QTRY_VERIFY(m_button->isEnabled());
    for (int row = 0; row < 6; ++row) {
        QCOMPARE(listCellText(*m_progress, row, 0), std::to_string(row + 1));
        QVERIFY(!listCellText(*m_progress, row, 1).empty());
        QVERIFY(!listCellText(*m_progress, row, 2).empty());
    }
    QCOMPARE(carrierCode, std::string("zhongtong"));
    QCOMPARE(m_autoSaves, 1);
    QVERIFY(messageBoxSeam::shown().empty());
    const QByteArray requestLine = m_service.lastRequestLines().value(0);
    QCOMPARE(requestLine, QByteArray("GET /?id=581720&secret=7b1e04c9a2d85f36e0c4b97a1d3f2e58&com=zhongtong"
                                     "&nu=368726491023&type=html HTTP/1.0"));
}

void TestQueryWindow::rowsComeMoreThan50msApart()
{
    // A row reaches the list only after the pause that followed the row before it, and the button
    // only after the pause that followed the last row, so a busy machine can stretch these gaps but
    // never shorten them.
    QElapsedTimer clock;
    std::vector<qint64> shownAt;
    QObject receiver;
    connect(m_progress->listModel(), &QAbstractItemModel::rowsInserted, &receiver,
            [&] { shownAt.push_back(clock.nsecsElapsed()); });
    auto* watcher = new EnableWatcher(*m_button, clock);
    m_number->setText(QStringLiteral("368726491023"));
    tick(0); // 中通: 6 rows
    clock.start();
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QCOMPARE(shownAt.size(), std::size_t(6));
    shownAt.push_back(watcher->enabledAt);
    constexpr qint64 kPauseNs = 50'000'000;
    qint64 shortest = std::numeric_limits<qint64>::max();
    for (std::size_t i = 1; i < shownAt.size(); ++i) {
        const qint64 gap = shownAt[i] - shownAt[i - 1];
        shortest = std::min(shortest, gap);
        const QString what = i < 6
                                 ? QString("row %1 came %2 us after row %3").arg(i + 1).arg(gap / 1000).arg(i)
                                 : QString("the button came back %1 us after the last row").arg(gap / 1000);
        QVERIFY2(gap > kPauseNs, qPrintable(what));
    }
    qInfo("shortest gap after a row: %lld us", shortest / 1000);
}

void TestQueryWindow::serviceAnswers_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("message"); // empty: none

    // clang-format off
    QTest::newRow("unknown number")  << "4444"          << 0 << q("你输入的运单号码不存在！");
    QTest::newRow("404 not found")   << "9000000000404" << 0 << q("你输入的运单号码不存在！");
    QTest::newRow("zero byte")       << "9000000000003" << 2 << QString();
    QTest::newRow("capital markers") << "9000000000005" << 1 << QString();
    QTest::newRow("error page")      << "9000000000500" << 0 << QString();
    // clang-format on
}

void TestQueryWindow::serviceAnswers()
{
    QFETCH(QString, number);
    QFETCH(int, rows);
    QFETCH(QString, message);
    m_number->setText(number);
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QCOMPARE(listRowCount(*m_progress), rows);
    const auto shown = messageBoxSeam::shown();
    if (message.isEmpty()) {
        QVERIFY(shown.empty());
    } else {
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(toQString(shown[0].text), message);
        QCOMPARE(shown[0].title, gbk("温馨提示"));
        QCOMPARE(shown[0].kind, 0);
    }
}

void TestQueryWindow::unsupportedCourier()
{
    m_number->setText(QStringLiteral("368726491023"));
    tick(17); // TNT, which the service no longer supports
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text, gbk("你选择的物流公司已经不支持！"));
    QCOMPARE(listRowCount(*m_progress), 0);
}

void TestQueryWindow::unreachableServer()
{
    qputenv("KUVONA_QUERY_HOST", "127.0.0.1:1");
    listAppendRow(*m_progress, "old");
    m_number->setText(QStringLiteral("368726491023"));
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QCOMPARE(listRowCount(*m_progress), 0);
    QVERIFY(messageBoxSeam::shown().empty());
}

void TestQueryWindow::numbersReachTheServiceEncoded_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("sent");

    // clang-format off
    QTest::newRow("ampersand and hash") << q("12&34#56") << QByteArray("12%2634%2356");
    QTest::newRow("inner blank")        << q("AB 12")    << QByteArray("AB%2012");
    QTest::newRow("gbk bytes")          << q("测试123")  << QByteArray("%B2%E2%CA%D4123");
    // clang-format on
}

void TestQueryWindow::numbersReachTheServiceEncoded()
{
    QFETCH(QString, number);
    QFETCH(QByteArray, sent);
    m_number->setText(number);
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QCOMPARE(QByteArray::fromStdString(lastNuSent()), sent);
    QCOMPARE(listRowCount(*m_progress), 1); // the service found the whole number
}

void TestQueryWindow::inputChecks_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("highlight");
    QTest::addColumn<QString>("shownNumber");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");

    // clang-format off
    QTest::newRow("empty")             << QString()       << true  << QString()      << q("请输入欲查询的快递单号！") << q("提示");
    QTest::newRow("no courier")        << q(" 12 ")        << false << q("12")         << q("请选择欲查询的快递公司！") << q("提示");
    QTest::newRow("full-width blanks") << q("　12　")      << false << q("12")         << q("请选择欲查询的快递公司！") << q("提示");
    QTest::newRow("tabs kept")         << q("\t12 ")       << false << q("\t12")       << q("请选择欲查询的快递公司！") << q("提示");
    QTest::newRow("only blanks")       << q("  ")          << true  << QString()      << q("请输入运单号码！")         << q("温馨提示");
    QTest::newRow("placeholder")       << q("请输入运单号码") << true << q("请输入运单号码") << q("请输入运单号码！")   << q("温馨提示");
    // clang-format on
}

void TestQueryWindow::inputChecks()
{
    QFETCH(QString, typed);
    QFETCH(bool, highlight);
    QFETCH(QString, shownNumber);
    QFETCH(QString, message);
    QFETCH(QString, title);
    const int requestsBefore = m_service.requestHeads().size();
    m_number->setText(typed);
    tick(0, highlight);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QTRY_COMPARE(messageBoxSeam::shown().size(), std::size_t(1));
    QCOMPARE(toQString(messageBoxSeam::shown()[0].text), message);
    QCOMPARE(toQString(messageBoxSeam::shown()[0].title), title);
    QCOMPARE(m_number->text(), shownNumber);
    QCOMPARE(m_service.requestHeads().size(), requestsBefore); // nothing was asked
}

void TestQueryWindow::lowestTickedCourierWins()
{
    m_number->setText(QStringLiteral("368726491023"));
    tick(6);                         // 顺丰, highlighted
    m_carriers->setChecked(2, true); // 申通, ticked too
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(m_button->isEnabled());
    QVERIFY(m_service.lastRequestLines().value(0).contains("&com=shentong&"));
}

void TestQueryWindow::highlightedButUntickedStartsNothing()
{
    const WorkerId before = workerThread;
    const int requestsBefore = m_service.requestHeads().size();
    m_number->setText(QStringLiteral("368726491023"));
    m_carriers->setCurrentSelection(3);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QVERIFY(m_button->isEnabled());
    QCOMPARE(m_autoSaves, 1); // the auto-save step runs before the courier is looked at
    QCOMPARE(workerThread, before);
    QVERIFY(messageBoxSeam::shown().empty());
    QTest::qWait(100);
    QCOMPARE(m_service.requestHeads().size(), requestsBefore);
}

void TestQueryWindow::stopWhileRowsComeIn()
{
    m_number->setText(QStringLiteral("1000000000500"));
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(listRowCount(*m_progress) >= 3);
    QTest::mouseClick(m_window->findChild<QPushButton*>(q("停止按钮")), Qt::LeftButton);
    QVERIFY(m_button->isEnabled());
    const int rows = listRowCount(*m_progress);
    QTest::qWait(300);
    QCOMPARE(listRowCount(*m_progress), rows); // no row after the stop, the earlier ones stay
    QVERIFY(m_button->isEnabled());
    // A second stop, and one with nothing running, only enable the button.
    stopQuery();
    QVERIFY(m_button->isEnabled());
}

void TestQueryWindow::stopTakesTheWorkersBoxAway()
{
    messageBoxSeam::clear(); // the user answers this one: a real box
    m_number->setText(QStringLiteral("4444"));
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(test::visibleMessageBox() != nullptr);
    QVERIFY(m_window->isEnabled()); // the worker's box blocks nothing
    QVERIFY(!m_button->isEnabled());
    stopQuery();
    QTRY_VERIFY(test::visibleMessageBox() == nullptr);
    QVERIFY(m_button->isEnabled());
}

void TestQueryWindow::menuFormDuringQueryThenStop()
{
    m_number->setText(QStringLiteral("1000000000500"));
    tick(0);
    QTest::mouseClick(m_button, Qt::LeftButton);
    QTRY_VERIFY(listRowCount(*m_progress) >= 2);
    const WorkerId first = workerThread;
    m_button->setDefault(false);
    m_window->findChild<QAction*>(q("actionQuery"))->trigger(); // runs although the button is disabled
    QVERIFY(m_button->isDefault());
    const WorkerId second = workerThread;
    QVERIFY(second != first);
    QTRY_VERIFY(workerRunning(second));
    stopQuery(); // ends the second only
    QVERIFY(!workerRunning(second));
    QVERIFY(workerRunning(first));
    const int rows = listRowCount(*m_progress);
    QTRY_VERIFY(listRowCount(*m_progress) > rows); // the first goes on filling the list
}

void TestQueryWindow::enterRunsTheQuery()
{
    m_number->setFocus();
    tick(0);
    QTest::keyClicks(m_number, QStringLiteral("368726491023"));
    QTest::keyClick(m_number, Qt::Key_Return);
    QVERIFY(!m_button->isEnabled());
    const WorkerId running = workerThread;
    QTest::keyClick(m_number, Qt::Key_Return); // disabled: nothing happens
    QCOMPARE(workerThread, running);
    QTRY_COMPARE(listRowCount(*m_progress), 6);
}

void TestQueryWindow::selectCarrierByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("selected"); // -1: no match

    // clang-format off
    QTest::newRow("顺丰")        << q("顺丰")  << 6;
    QTest::newRow("last item")   << q("快捷")  << 20;
    QTest::newRow("latin exact") << q("FedEx") << 16;
    QTest::newRow("capitals")    << q("FEDEX") << -1;
    QTest::newRow("lower case")  << q("fedex") << -1;
    QTest::newRow("with blank")  << q("顺丰 ") << -1;
    QTest::newRow("empty")       << QString()  << -1;
    // clang-format on
}

void TestQueryWindow::selectCarrierByName()
{
    QFETCH(QString, name);
    QFETCH(int, selected);
    m_carriers->setChecked(2, true);
    m_carriers->setChecked(9, true);
    m_carriers->setCurrentSelection(4);
    QCOMPARE(kuvona::selectCarrierByName(fromQString(name)), selected >= 0);
    for (int i = 0; i < carrierCount; ++i) {
        const bool expected = selected >= 0 ? i == selected : (i == 2 || i == 9);
        QCOMPARE(m_carriers->isChecked(i), expected);
    }
    QCOMPARE(m_carriers->currentSelection(), selected >= 0 ? selected : 4);
    if (selected >= 0)
        QCOMPARE(firstTickedCarrier()->index, selected);
}

void TestQueryWindow::courierTickedByTheUser_data()
{
    QTest::addColumn<bool>("mouse"); // else Tab and Space
    QTest::addColumn<QByteArray>("code");

    // clang-format off
    QTest::newRow("click on 顺丰's check box") << true  << QByteArray("shunfeng");
    QTest::newRow("Tab, then Space")           << false << QByteArray("zhongtong");
    // clang-format on
}

void TestQueryWindow::courierTickedByTheUser()
{
    QFETCH(bool, mouse);
    QFETCH(QByteArray, code);
    QCOMPARE(QApplication::focusWidget(), m_number);
    QTest::keyClicks(m_number, QStringLiteral("368726491023"));
    if (mouse) {
        QTest::mouseClick(m_carriers->viewport(), Qt::LeftButton, {}, test::checkBoxCentre(*m_carriers, 6));
    } else {
        QTest::keyClick(m_number, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_carriers);
        QTest::keyClick(m_carriers, Qt::Key_Space);
    }
    QCOMPARE(QApplication::focusWidget(), m_carriers);
    QVERIFY(m_carriers->isChecked(mouse ? 6 : 0));
    QTest::keyClick(m_carriers, Qt::Key_Return);
    QVERIFY(messageBoxSeam::shown().empty()); // neither the number nor the courier is missing
    QVERIFY(!m_button->isEnabled());          // the query runs
    QTRY_VERIFY(m_button->isEnabled());
    QVERIFY(m_service.lastRequestLines().value(0).contains("&com=" + code + "&"));
}

void TestQueryWindow::hostileAnswersCostNoFreeze_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("firstCellSize");
    // The body is cut at 8 MiB, which leaves 877721 end markers of the second answer.
    // clang-format off
    QTest::newRow("one 7 MiB cell")               << test::q(test::oneHugeCell(7 << 20)) << (7 << 20);
    QTest::newRow("a million starts, then ends")  << test::q(test::startsThenEnds(1000000)) << 3999996;
    // clang-format on
}

// However large a cell, the list keeps it whole but lays out only its start, and neither the row
// that brings it nor the rows after it hold the user-interface thread for long.
void TestQueryWindow::hostileAnswersCostNoFreeze()
{
    QFETCH(QByteArray, body);
    QFETCH(int, firstCellSize);
    test::RawHttpServer server({test::RawHttpServer::response(test::s(body))});
    QVERIFY(server.port() > 0);
    qputenv("KUVONA_QUERY_HOST", "127.0.0.1:" + QByteArray::number(server.port()));
    m_number->setText(q("1"));
    tick(0);
    test::StallMeter meter;
    meter.start();
    QTest::mouseClick(m_button, Qt::LeftButton);
    // The first answer makes one row, the second far more than are waited for.
    QTRY_VERIFY_WITH_TIMEOUT(m_button->isEnabled() || listRowCount(*m_progress) >= 5, 30000);
    meter.stop();
    QTest::mouseClick(m_window->findChild<QPushButton*>(q("停止按钮")), Qt::LeftButton);

    qInfo("longest stall of the user-interface thread: %.1f ms, of which it was busy %.1f ms",
          meter.longestMs(), meter.longestBusyMs());
    // Generous for a sanitizer build; a frame is 16 ms. The thread's own busy time is checked, not
    // the wall-clock gap, which on a loaded machine also holds the wait for a processor.
    QVERIFY2(meter.longestBusyMs() < 100, qPrintable(QString::number(meter.longestBusyMs()) + " ms"));
    const ReportListModel* model = m_progress->listModel();
    QCOMPARE(model->cell(0, 1).size(), firstCellSize);
    const QString shown = model->data(model->index(0, 1), Qt::DisplayRole).toString();
    QCOMPARE(shown.size(), kCellShownLimit + 1);
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QCOMPARE(model->data(model->index(0, 1), Qt::ToolTipRole).toString().size(), kCellTooltipLimit + 1);
    QCOMPARE(model->data(model->index(0, 2), Qt::DisplayRole).toString(), model->cell(0, 2));
}

QTEST_MAIN(TestQueryWindow)
#include "tst_query_window.moc"
