// The saved list's commands when another instance changed Danhao.edb after this one last read it:
// every command acts on the record its row shows, or on nothing, and says which.

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "lock_holder.h"
#include "platform/check_list_box.h"
#include "platform/ui_text.h"
#include "saved/drag.h"
#include "saved/number_windows.h"
#include "saved/saved_commands.h"
#include "saved/saved_list.h"
#include "saved/sort.h"
#include "saved_window_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

const std::vector<SavedRecord> kFive = {
    {"R1", "C1", "M1"}, {"R2", "C2", "M2"}, {"R3", "C3", "M3"}, {"R4", "C4", "M4"}, {"R5", "C5", "M5"}};

const std::string kOutOfDate = gbk("单号列表已被另一个窗口更改，已重新载入，请重试。");

// What another instance does to the file, through a descriptor of its own: "add" appends NEWB with
// the next serial, "del S" removes the record with serial S, "edit S" gives it the number R9,
// "reverse" turns the order of the records round (a sort the other way).
void otherInstance(const std::string& path, const QString& change)
{
    std::string bytes = readBytes(path);
    const QStringList words = change.split(' ');
    const std::int32_t count = getInt32(bytes, 16);
    if (words[0] == QLatin1String("add")) {
        const std::int32_t next = getInt32(bytes, 20);
        bytes += makeRecord(next, "NEWB", "CB", "MB");
        putInt32(bytes, 16, count + 1);
        putInt32(bytes, 20, next + 1);
    } else if (words[0] == QLatin1String("reverse")) {
        std::vector<std::string> records;
        for (std::int32_t i = 0; i < count; ++i)
            records.push_back(bytes.substr(332 + 136 * std::size_t(i), 136));
        bytes.resize(332);
        for (auto r = records.rbegin(); r != records.rend(); ++r)
            bytes += *r;
    } else {
        const std::int32_t serial = words[1].toInt();
        for (std::int32_t i = 0; i < count; ++i) {
            const std::size_t at = 332 + 136 * std::size_t(i);
            if (getInt32(bytes, at) != serial)
                continue;
            if (words[0] == QLatin1String("del")) {
                bytes.erase(at, 136);
                putInt32(bytes, 16, count - 1);
            } else {
                bytes.replace(at + 4, 20, std::string("R9") + std::string(18, '\0'));
            }
            break;
        }
    }
    writeBytes(path, bytes);
}

// Runs `drive` on the first modal window that opens; closes it if `drive` left it open.
void whenModalOpens(const std::function<void(QWidget*)>& drive)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, drive] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            drive(modal);
            if (modal->isVisible())
                modal->close();
        }
    });
    timer->start(10);
}

std::vector<messageBoxSeam::Shown> boxesAfterTheQuestion()
{
    std::vector<messageBoxSeam::Shown> boxes = messageBoxSeam::shown();
    if (!boxes.empty() && boxes.front().text == gbk("您确认删除单号吗？"))
        boxes.erase(boxes.begin());
    return boxes;
}

} // namespace

class TestStaleList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void commandAfterOtherInstance_data();
    void commandAfterOtherInstance();
    void savesDuringDragsAreKept();
    void commandWhileOtherInstanceHoldsTheFile_data();
    void commandWhileOtherInstanceHoldsTheFile();
};

void TestStaleList::initTestCase()
{
    setFatalHandler(throwFatal);
}

void TestStaleList::init()
{
    dragState() = DragState{};
    // The next header click sorts descending, so that every sort moves records.
    sortState() = SortState{};
    sortState().sortAscending = 1;
}

void TestStaleList::commandAfterOtherInstance_data()
{
    QTest::addColumn<QString>("command"); // delete ROW, edit ROW, header COLUMN, drag FROM TO
    QTest::addColumn<QString>("other");   // what the other instance did in between
    QTest::addColumn<QString>("records"); // the file afterwards, serial:number
    QTest::addColumn<QString>("message"); // the box after the command; empty for none
    const QString deleted = QString::fromUtf8("删除成功！"), edited = QString::fromUtf8("编辑成功！");
    const QString stale = QStringLiteral("stale");
    // The list shows R1..R5, serials 34..38. Row 2 is R3 (36).
    // clang-format off
    QTest::newRow("delete R3, B added")          << "delete 2" << "add"     << "34:R1 35:R2 37:R4 38:R5 39:NEWB"      << deleted;
    QTest::newRow("delete R3, B deleted R2")     << "delete 2" << "del 35"  << "34:R1 37:R4 38:R5"                    << deleted;
    QTest::newRow("delete R3, B edited R4")      << "delete 2" << "edit 37" << "34:R1 35:R2 37:R9 38:R5"              << deleted;
    QTest::newRow("delete R3, B deleted R3")     << "delete 2" << "del 36"  << "34:R1 35:R2 37:R4 38:R5"              << stale;
    QTest::newRow("delete R3, B edited R3")      << "delete 2" << "edit 36" << "34:R1 35:R2 36:R9 37:R4 38:R5"        << stale;
    QTest::newRow("edit R3, B added")            << "edit 2"   << "add"     << "34:R1 35:R2 36:E 37:R4 38:R5 39:NEWB" << edited;
    QTest::newRow("edit R3, B deleted R2")       << "edit 2"   << "del 35"  << "34:R1 36:E 37:R4 38:R5"               << edited;
    QTest::newRow("edit R3, B deleted R3")       << "edit 2"   << "del 36"  << "34:R1 35:R2 37:R4 38:R5"              << stale;
    QTest::newRow("edit R3, B edited R3")        << "edit 2"   << "edit 36" << "34:R1 35:R2 36:R9 37:R4 38:R5"        << stale;
    QTest::newRow("header, B added")             << "header 0" << "add"     << "38:R5 37:R4 36:R3 35:R2 34:R1 39:NEWB" << "";
    QTest::newRow("header, B deleted R2")        << "header 0" << "del 35"  << "38:R5 37:R4 36:R3 34:R1"              << "";
    QTest::newRow("header, B edited R3")         << "header 0" << "edit 36" << "36:R9 38:R5 37:R4 35:R2 34:R1"        << "";
    QTest::newRow("drag R1 to R3, B added")      << "drag 0 2" << "add"     << "35:R2 36:R3 34:R1 37:R4 38:R5 39:NEWB" << "";
    QTest::newRow("drag R1 to R3, B deleted R2") << "drag 0 2" << "del 35"  << "36:R3 34:R1 37:R4 38:R5"              << "";
    QTest::newRow("drag R1 to R3, B edited R4")  << "drag 0 2" << "edit 37" << "35:R2 36:R3 34:R1 37:R9 38:R5"        << "";
    QTest::newRow("drag R5 to R2, B added")      << "drag 4 1" << "add"     << "34:R1 38:R5 35:R2 36:R3 37:R4 39:NEWB" << "";
    QTest::newRow("drag R5 to R2, B deleted R4") << "drag 4 1" << "del 37"  << "34:R1 38:R5 35:R2 36:R3"              << "";
    QTest::newRow("drag R1 to R3, B reversed")   << "drag 0 2" << "reverse" << "38:R5 37:R4 36:R3 34:R1 35:R2"        << "";
    QTest::newRow("drag R5 to R2, B reversed")   << "drag 4 1" << "reverse" << "37:R4 36:R3 38:R5 35:R2 34:R1"        << "";
    QTest::newRow("drag R1 to R3, B deleted R1") << "drag 0 2" << "del 34"  << "35:R2 36:R3 37:R4 38:R5"              << stale;
    QTest::newRow("drag R1 to R3, B deleted R3") << "drag 0 2" << "del 36"  << "34:R1 35:R2 37:R4 38:R5"              << stale;
    QTest::newRow("drag R1 to R3, B edited R1")  << "drag 0 2" << "edit 34" << "34:R9 35:R2 36:R3 37:R4 38:R5"        << stale;
    QTest::newRow("drag R5 to R2, B deleted R2") << "drag 4 1" << "del 35"  << "34:R1 36:R3 37:R4 38:R5"              << stale;
    // clang-format on
}

void TestStaleList::commandAfterOtherInstance()
{
    QFETCH(QString, command);
    QFETCH(QString, other);
    QFETCH(QString, records);
    QFETCH(QString, message);
    SavedWindow saved(kFive);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const QStringList words = command.split(' ');
    const int row = words[1].toInt();
    const auto change = [&] {
        otherInstance(saved.storePath(), other);
    };

    if (words[0] == QLatin1String("delete")) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualRect(list.listModel()->index(row, 0)).center());
        change();
        QTest::keyClick(&list, Qt::Key_Delete);
    } else if (words[0] == QLatin1String("edit")) {
        bool driven = false;
        whenModalOpens([&](QWidget* modal) {
            auto* window = qobject_cast<EditNumberWindow*>(modal);
            QVERIFY(window);
            driven = true;
            QCOMPARE(window->numberEdit()->text(), QStringLiteral("R3"));
            change(); // while the window is open
            window->numberEdit()->setText(QStringLiteral("E"));
            QTest::mouseClick(window->okButton(), Qt::LeftButton);
            QVERIFY(!window->isVisible());
        });
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                           list.visualRect(list.listModel()->index(row, 0)).center());
        QVERIFY(driven);
    } else if (words[0] == QLatin1String("header")) {
        change();
        clickHeader(list, row);
    } else {
        dragRow(list, row, words[2].toInt(), change);
    }

    QCOMPARE(recordList(readBytes(saved.storePath())), records.toStdString());
    // The list shows the file, and each row knows its record.
    const QStringList expected = records.split(' ');
    QCOMPARE(listRowCount(list), static_cast<int>(expected.size()));
    for (int r = 0; r < listRowCount(list); ++r) {
        const std::optional<SavedRow> shown = savedRowAt(r);
        QVERIFY(shown);
        QCOMPARE(QString::number(shown->serial) + ':' + QString::fromStdString(shown->number), expected[r]);
    }
    const auto boxes = boxesAfterTheQuestion();
    if (message.isEmpty()) {
        QVERIFY(boxes.empty());
    } else {
        QCOMPARE(boxes.size(), std::size_t(1));
        if (message == QLatin1String("stale")) {
            QCOMPARE(boxes[0].text, kOutOfDate);
            QCOMPARE(boxes[0].title, gbk("提示"));
            QCOMPARE(boxes[0].kind, 48);
        } else {
            QCOMPARE(boxes[0].text, fromQString(message));
        }
    }
    QVERIFY(!currentRecordIndex());
}

void TestStaleList::savesDuringDragsAreKept()
{
    // Another instance saves ten numbers while each of six drags is under way.
    SavedWindow saved(kFive);
    QVERIFY(saved.ready());
    int n = 0;
    for (int drag = 0; drag < 6; ++drag) {
        dragRow(saved.list(), 0, 4, [&] {
            for (int i = 0; i < 10; ++i, ++n) {
                QVERIFY(openStore(saved.storePath()));
                QVERIFY(appendRecord({"B" + std::to_string(n), "CB", ""}));
                closeStore();
            }
        });
        QVERIFY(boxesAfterTheQuestion().empty());
    }
    const QStringList numbers = QString::fromStdString(saved.column(0)).split(' ');
    QCOMPARE(numbers.size(), 65);
    for (int i = 0; i < 60; ++i)
        QCOMPARE(numbers.count(QStringLiteral("B%1").arg(i)), 1);
    // Each drag moved the first row to the fifth: six turns of five rows, and the other instance's
    // numbers after them.
    QCOMPARE(numbers.mid(0, 5).join(' '), QStringLiteral("R2 R3 R4 R5 R1"));
    QCOMPARE(recordList(readBytes(saved.storePath())).substr(0, 29),
             std::string("35:R2 36:R3 37:R4 38:R5 34:R1"));
}

void TestStaleList::commandWhileOtherInstanceHoldsTheFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("releaseAfterMs"); // -1: held beyond the command's wait
    QTest::addColumn<QString>("records");
    QTest::addColumn<QString>("message");
    const QString unchanged = QStringLiteral("34:R1 35:R2 36:R3 37:R4 38:R5");
    // clang-format off
    QTest::newRow("auto-save waits")  << "auto-save" << 300 << "34:R1 35:R2 36:R3 37:R4 38:R5 39:NEW" << "";
    QTest::newRow("delete waits")     << "delete"    << 300 << "34:R1 35:R2 37:R4 38:R5"  << "删除成功！";
    QTest::newRow("sort waits")       << "sort"      << 300 << "38:R5 37:R4 36:R3 35:R2 34:R1" << "";
    QTest::newRow("drag waits")       << "drag"      << 300 << "35:R2 36:R3 34:R1 37:R4 38:R5" << "";
    QTest::newRow("add waits")        << "add"       << 300 << "34:R1 35:R2 36:R3 37:R4 38:R5 39:NEWA" << "添加成功！";
    QTest::newRow("edit waits")       << "edit"      << 300 << "34:R1 35:R2 36:E 37:R4 38:R5" << "编辑成功！";
    QTest::newRow("auto-save fails")  << "auto-save" << -1  << unchanged << "单号保存失败！";
    QTest::newRow("sort fails")       << "sort"      << -1  << unchanged << "保存排序失败！";
    QTest::newRow("drag fails")       << "drag"      << -1  << unchanged << "保存拖动失败！";
    // clang-format on
}

void TestStaleList::commandWhileOtherInstanceHoldsTheFile()
{
    // Another instance holds the whole file for a moment (its own change), or for longer than a
    // command waits.
    QFETCH(QString, command);
    QFETCH(int, releaseAfterMs);
    QFETCH(QString, records);
    QFETCH(QString, message);
    SavedWindow saved(kFive);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const MainControls& c = mainControls();
    listSetCurrentSelection(list, 2);
    c.number->setText(QStringLiteral("NEW"));
    LockHolder holder(saved.storePath(), 0, 0, releaseAfterMs);
    QVERIFY(holder.ok());
    if (command == QLatin1String("auto-save"))
        autoSaveNumber();
    else if (command == QLatin1String("delete"))
        QTest::keyClick(&list, Qt::Key_Delete);
    else if (command == QLatin1String("sort"))
        clickHeader(list, 0);
    else if (command == QLatin1String("drag"))
        dragRow(list, 0, 2);
    else {
        // The add window, or the edit window of the third row: its number replaced and saved.
        whenModalOpens([&](QWidget* modal) {
            auto* window = qobject_cast<NumberWindow*>(modal);
            QVERIFY(window);
            window->numberEdit()->setText(command == QLatin1String("add") ? QStringLiteral("NEWA")
                                                                          : QStringLiteral("E"));
            QTest::mouseClick(window->okButton(), Qt::LeftButton);
        });
        if (command == QLatin1String("add"))
            showAddNumberWindow();
        else
            QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                               list.visualRect(list.listModel()->index(2, 0)).center());
    }
    QCOMPARE(QString::fromStdString(recordList(readBytes(saved.storePath()))), records);
    const auto boxes = boxesAfterTheQuestion();
    if (message.isEmpty()) {
        QVERIFY(boxes.empty());
        QCOMPARE(listRowCount(list), static_cast<int>(records.split(' ').size()));
    } else {
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].text, fromQString(message));
        if (releaseAfterMs < 0) {
            QCOMPARE(boxes[0].title, gbk("提示"));
            QCOMPARE(boxes[0].kind, 48);
        }
    }
}

QTEST_MAIN(TestStaleList)
#include "tst_stale_list.moc"
