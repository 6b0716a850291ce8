#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "common/gbk.h"
#include "common/listview.h"
#include "platform/cancel.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/translations.h"
#include "platform/worker.h"
#include "tests/support/check_list_box.h"
#include "tests/support/message_boxes.h"

using namespace kuvona;
using kuvona::test::checkBoxCentre;

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void seamAnswersAndRecords();
    void workerBoxShownWithoutBlocking();
    void buttonsSpeakTheUsersLanguage();
    void stoppedWorkerBoxDisappears();
    void stoppedWorkerChangesNothing();
    void releasedIdsNameNothing();
    void listOperations();
    void listFindRowByPrefix_data();
    void listFindRowByPrefix();
    void checkListSingleCheck();
    void checkListSingleCheckWithTheMouse();
    void directoryOf_data();
    void directoryOf();
};

void TestPlatform::cleanup()
{
    messageBoxSeam::clear();
}

void TestPlatform::seamAnswersAndRecords()
{
    messageBoxSeam::queueAnswer(1);
    messageBoxSeam::setAutoAnswer(true);
    QCOMPARE(messageBox(gbk("删除吗？"), gbk("询问"), BoxInfoOkCancel), 1);
    QCOMPARE(messageBox(gbk("好"), "", BoxOk), 0); // queue empty: auto-answer gives OK
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(2));
    QCOMPARE(shown[0].title, gbk("询问"));
    QCOMPARE(shown[0].kind, 65);
    QCOMPARE(shown[1].title, gbk("信息：")); // the default title
    QCOMPARE(shown[1].text, gbk("好"));
}

void TestPlatform::workerBoxShownWithoutBlocking()
{
    std::atomic<int> answer{-2};
    const WorkerId id =
        startWorker([&] { answer = messageBox(gbk("请输入运单号码！"), gbk("温馨提示"), BoxOk); });
    QTRY_VERIFY(test::visibleMessageBox() != nullptr);
    QMessageBox* box = test::visibleMessageBox();
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QCOMPARE(box->windowTitle(), QString::fromUtf8("温馨提示"));
    QCOMPARE(answer.load(), -2); // the worker is waiting for the user
    box->button(QMessageBox::Ok)->click();
    QTRY_COMPARE(answer.load(), 0);
    QTRY_VERIFY(!workerRunning(id));
}

void TestPlatform::buttonsSpeakTheUsersLanguage()
{
    QVERIFY(loadToolkitTranslations(QLocale(QLocale::Chinese, QLocale::China)));
    const WorkerId id = startWorker([] { messageBox(gbk("删除吗？"), "", BoxWarningOkCancel); });
    QTRY_VERIFY(test::visibleMessageBox() != nullptr);
    QMessageBox* box = test::visibleMessageBox();
    QCOMPARE(box->button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
    QCOMPARE(box->button(QMessageBox::Cancel)->text(), QString::fromUtf8("取消"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->windowTitle(), QString::fromUtf8("信息："));
    terminateWorker(id);
    QTRY_VERIFY(test::visibleMessageBox() == nullptr);
}

void TestPlatform::stoppedWorkerBoxDisappears()
{
    std::atomic<bool> returned{false};
    const WorkerId id = startWorker([&] {
        messageBox(gbk("你输入的运单号码不存在！"), gbk("温馨提示"), BoxOk);
        returned = true; // must never run: the stop unwinds the worker
    });
    QTRY_VERIFY(test::visibleMessageBox() != nullptr);
    terminateWorker(id);
    QTRY_VERIFY(test::visibleMessageBox() == nullptr);
    QTest::qWait(50);
    QVERIFY(!returned);
}

void TestPlatform::stoppedWorkerChangesNothing()
{
    ReportListView list;
    list.listModel()->setColumns({QStringLiteral("a")});
    std::atomic<bool> go{false};
    const WorkerId id = startWorker([&] {
        runOnUiThread([&] { listAppendRow(list, "first"); });
        while (!go)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        runOnUiThread([&] { listAppendRow(list, "second"); });
    });
    QTRY_COMPARE(listRowCount(list), 1);
    terminateWorker(id); // the stop is decided here, before the worker asks again
    go = true;
    QTest::qWait(100);
    QCOMPARE(listRowCount(list), 1);
}

void TestPlatform::releasedIdsNameNothing()
{
    std::atomic<bool> started{false};
    const WorkerId first = startWorker([&] {
        started = true;
        sleepUnlessCancelled(10000);
    });
    QTRY_VERIFY(started.load());
    terminateWorker(first);
    terminateWorker(first); // released twice: ignored
    const WorkerId second = startWorker([] { sleepUnlessCancelled(10000); });
    QVERIFY(second != first);
    QVERIFY(workerRunning(second));
    terminateWorker(first); // must not stop the newer worker
    QVERIFY(workerRunning(second));
    terminateWorker(second);
    terminateWorker(0);
}

void TestPlatform::listOperations()
{
    ReportListView list;
    list.listModel()->setColumns({QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(listAppendRow(list, gbk("单号1")), 0);
    QCOMPARE(listAppendRow(list, "x"), 1);
    listSetCellText(list, 0, 1, gbk("圆通"));
    listSetCellText(list, 7, 1, "ignored"); // a row that does not exist
    QCOMPARE(listCellText(list, 0, 0), gbk("单号1"));
    QCOMPARE(listCellText(list, 0, 1), gbk("圆通"));
    QCOMPARE(listCellText(list, 1, 1), std::string());
    QCOMPARE(listCellText(list, 5, 0), std::string());
    QCOMPARE(listCellText(list, 0, 9), std::string());
    QCOMPARE(listItemValue(list, 1), 0);
    listSetItemValue(list, 1, -7);
    QCOMPARE(listItemValue(list, 1), -7);
    QCOMPARE(listCurrentSelection(list), -1);
    listSetCurrentSelection(list, 1);
    QCOMPARE(listCurrentSelection(list), 1);
    listSetCurrentSelection(list, -1);
    QCOMPARE(listCurrentSelection(list), -1);
    QCOMPARE(listColumnImage(list, 0), -1);
    listSetColumnImage(list, 0, 1);
    QCOMPARE(listColumnImage(list, 0), 1);
    listSetColumnImage(list, 0, -5);
    QCOMPARE(listColumnImage(list, 0), -1);
    listDeleteRow(list, 0);
    QCOMPARE(listRowCount(list), 1);
    QCOMPARE(listCellText(list, 0, 0), std::string("x"));
    QCOMPARE(listItemValue(list, 0), -7);
    listRemoveAllRows(list);
    QCOMPARE(listRowCount(list), 0);
    QCOMPARE(listColumnCount(list), 2);
}

void TestPlatform::listFindRowByPrefix_data()
{
    QTest::addColumn<QString>("sought");
    QTest::addColumn<int>("row");

    // clang-format off
    QTest::newRow("exact")          << QStringLiteral("1234") << 0;
    QTest::newRow("prefix")         << QStringLiteral("12")   << 0;
    QTest::newRow("inner no match") << QStringLiteral("234")  << -1;
    QTest::newRow("ascii case")     << QStringLiteral("AB1")  << 1;
    QTest::newRow("longer")         << QStringLiteral("12345") << -1;
    // clang-format on
}

void TestPlatform::listFindRowByPrefix()
{
    QFETCH(QString, sought);
    QFETCH(int, row);
    ReportListView list;
    list.listModel()->setColumns({QStringLiteral("a")});
    listAppendRow(list, "1234");
    listAppendRow(list, "ab12");
    QCOMPARE(kuvona::listFindRowByPrefix(list, sought.toStdString()), row);
}

void TestPlatform::checkListSingleCheck()
{
    CheckListBox box;
    for (int i = 0; i < 5; ++i)
        box.addCheckItem(QString::number(i));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // Focus by Tab puts the focus on the first item without highlighting it; Space ticks that
    // item and highlights it.
    box.setFocus(Qt::TabFocusReason);
    QCOMPARE(box.currentSelection(), -1);
    QTest::keyClick(&box, Qt::Key_Space);
    QVERIFY(box.isChecked(0));
    QCOMPARE(box.currentSelection(), 0);
    box.setCurrentRow(1);
    QTest::keyClick(&box, Qt::Key_Space);
    QVERIFY(box.isChecked(1));
    QVERIFY(!box.isChecked(0));
    box.setCurrentRow(3);
    QTest::keyClick(&box, Qt::Key_Space);
    QVERIFY(box.isChecked(3));
    QVERIFY(!box.isChecked(1)); // the one ticked before is unticked
    QTest::keyClick(&box, Qt::Key_Space);
    QVERIFY(box.isChecked(3)); // unticking the last one ticks it again
    // The program's own ticks are not subject to the rule.
    box.setChecked(0, true);
    QVERIFY(box.isChecked(0) && box.isChecked(3));
}

void TestPlatform::checkListSingleCheckWithTheMouse()
{
    CheckListBox box;
    for (int i = 0; i < 5; ++i)
        box.addCheckItem(QString::number(i));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, checkBoxCentre(box, 2));
    QVERIFY(box.isChecked(2));
    QCOMPARE(box.currentSelection(), 2); // a press on the check box highlights the item too
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, checkBoxCentre(box, 4));
    QVERIFY(box.isChecked(4));
    QVERIFY(!box.isChecked(2));
    QCOMPARE(box.currentSelection(), 4);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, checkBoxCentre(box, 4));
    QVERIFY(box.isChecked(4)); // the last tick cannot be taken away
    // A press on an item's text highlights it and leaves the ticks alone.
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, box.visualItemRect(box.item(3)).center());
    QCOMPARE(box.currentSelection(), 3);
    QVERIFY(box.isChecked(4) && !box.isChecked(3));
    // A double click on an item's text toggles it like its check box, under the same rule.
    const QPoint text = box.visualItemRect(box.item(1)).center();
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, text);
    QVERIFY(box.isChecked(1));
    QVERIFY(!box.isChecked(4));
}

void TestPlatform::directoryOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("directory");

    // clang-format off
    QTest::newRow("nested")  << QStringLiteral("/opt/kuvona/kuvona") << QStringLiteral("/opt/kuvona");
    QTest::newRow("root")    << QStringLiteral("/kuvona")            << QString();
    QTest::newRow("no dir")  << QStringLiteral("kuvona")             << QStringLiteral(".");
    // clang-format on
}

void TestPlatform::directoryOf()
{
    QFETCH(QString, path);
    QFETCH(QString, directory);
    QCOMPARE(QString::fromStdString(kuvona::directoryOf(path.toStdString())), directory);
}

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
