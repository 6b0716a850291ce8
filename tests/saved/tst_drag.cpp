#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include "common/listview.h"
#include "platform/mouse.h"
#include "platform/report_list_view.h"
#include "saved/drag.h"
#include "saved_window_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

const std::vector<SavedRecord> kFour = {
    {"A", "CA", "RA"}, {"B", "CB", "RB"}, {"C", "CC", "RC"}, {"D", "CD", "RD"}};

SavedRecord recordNamed(char name)
{
    const std::string n(1, name);
    return {n, "C" + n, "R" + n};
}

// Drives the list through the window system, as the user's mouse does: the events pass the
// application's dispatch, its implicit grab and its record of the pressed buttons.
class Mouse
{
public:
    explicit Mouse(ReportListView& list) : m_list(list) {}
    ~Mouse()
    {
        if (m_down)
            QTest::mouseRelease(window(), Qt::LeftButton, {}, m_at);
    }

    QPoint rowPoint(int row) const { return m_list.visualRect(m_list.listModel()->index(row, 0)).center(); }
    QPoint belowLastRow() const
    {
        const QRect last =
            m_list.visualRect(m_list.listModel()->index(m_list.listModel()->rowCount() - 1, 0));
        return QPoint(last.center().x(), last.bottom() + 20);
    }
    void press(QPoint viewportPoint)
    {
        m_at = toWindow(viewportPoint);
        QTest::mousePress(window(), Qt::LeftButton, {}, m_at);
        m_down = true;
    }
    void move(QPoint viewportPoint)
    {
        QPoint at = toWindow(viewportPoint);
        if (at == m_at)
            at += QPoint(2, 1); // a move to the same place is no move
        m_at = at;
        QTest::mouseMove(window(), m_at);
    }
    void release()
    {
        QTest::mouseRelease(window(), Qt::LeftButton, {}, m_at);
        m_down = false;
    }

private:
    QWindow* window() const { return m_list.window()->windowHandle(); }
    QPoint toWindow(QPoint viewportPoint) const
    {
        return m_list.viewport()->mapTo(m_list.window(), viewportPoint);
    }

    ReportListView& m_list;
    QPoint m_at;
    bool m_down = false;
};

bool movePointerShown(const ReportListView& list)
{
    return list.viewport()->testAttribute(Qt::WA_SetCursor) &&
           list.viewport()->cursor().shape() == Qt::SizeAllCursor;
}

} // namespace

class TestDrag : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void dragCases_data();
    void dragCases();
    void buttonStateFromThePlatform_data();
    void buttonStateFromThePlatform();
    void noSelectionWhenTheDragBegins();
    void rowsGoneDuringTheDrag();
    void scrollsAlong_data();
    void scrollsAlong();
    void moveSavedRowCarriesValues_data();
    void moveSavedRowCarriesValues();
};

void TestDrag::initTestCase()
{
    setFatalHandler(throwFatal);
}

void TestDrag::init()
{
    dragState() = DragState{};
}

void TestDrag::cleanup()
{
    QVERIFY(!leftMouseButtonDown());
}

void TestDrag::dragCases_data()
{
    QTest::addColumn<int>("source");
    // Rows the pointer passes over; -1 below the last row, -2 outside the window.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("order");
    QTest::addColumn<bool>("rewritten");
    // clang-format off
    QTest::newRow("A onto C")            << 0 << "0 1 2"    << "BCAD" << true;
    QTest::newRow("A onto D")            << 0 << "1 2 3"    << "BCDA" << true;
    QTest::newRow("D onto B")            << 3 << "3 2 1"    << "ADBC" << true;
    QTest::newRow("D onto A")            << 3 << "2 1 0"    << "DABC" << true;
    QTest::newRow("B onto itself")       << 1 << "1"        << "ABCD" << true;
    QTest::newRow("B to D and back to A") << 1 << "2 3 2 0" << "BACD" << true;
    QTest::newRow("A over C, below")     << 0 << "1 2 -1"   << "BCAD" << true;
    QTest::newRow("A over C, outside")   << 0 << "1 2 -2"   << "BCAD" << true;
    QTest::newRow("press without move")  << 1 << ""         << "ABCD" << false;
    // clang-format on
}

void TestDrag::dragCases()
{
    QFETCH(int, source);
    QFETCH(QString, path);
    QFETCH(QString, order);
    QFETCH(bool, rewritten);
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const std::string before = readBytes(saved.storePath());
    Mouse mouse(list);
    mouse.press(mouse.rowPoint(source));
    QVERIFY(leftMouseButtonDown());
    QCOMPARE(dragState().dragTarget, -1);
    QCOMPARE(listCurrentSelection(list), source); // the list's own handling of the press
    for (const QString& step : path.split(' ', Qt::SkipEmptyParts)) {
        const int row = step.toInt();
        mouse.move(row == -1 ? mouse.belowLastRow() : row == -2 ? QPoint(-30, 10) : mouse.rowPoint(row));
        QVERIFY(movePointerShown(list));
        QCOMPARE(dragState().dragSource, source);
        QCOMPARE(listCurrentSelection(list), std::max(row, -1)); // the selection follows the pointer
        if (row >= 0)
            QCOMPARE(dragState().dragTarget, row + 1);
    }
    mouse.release();

    std::vector<SavedRecord> expected;
    std::vector<std::int32_t> serials;
    for (QChar c : order) {
        expected.push_back(recordNamed(c.toLatin1()));
        serials.push_back(34 + (c.toLatin1() - 'A'));
    }
    QCOMPARE(listRowCount(list), 4);
    for (int r = 0; r < 4; ++r) {
        QCOMPARE(listCellText(list, r, 0), expected[static_cast<std::size_t>(r)].number);
        QCOMPARE(listCellText(list, r, 1), expected[static_cast<std::size_t>(r)].company);
        QCOMPARE(listCellText(list, r, 2), expected[static_cast<std::size_t>(r)].remark);
    }
    if (rewritten) {
        // Whole records moved: each keeps its serial, the next serial stays.
        QCOMPARE(readBytes(saved.storePath()), storeBytes(expected, serials, 38));
        QCOMPARE(listCurrentSelection(list), -1); // reloaded
        QCOMPARE(dragState().dragTarget, 0);
        QCOMPARE(dragState().dragSource, -1);
        QVERIFY(!list.viewport()->testAttribute(Qt::WA_SetCursor));
    } else {
        QCOMPARE(readBytes(saved.storePath()), before);
        QCOMPARE(dragState().dragTarget, -1); // armed until the next move
    }
    QVERIFY(!currentRecordIndex());
}

void TestDrag::buttonStateFromThePlatform_data()
{
    QTest::addColumn<bool>("dragging");
    // clang-format off
    QTest::newRow("armed")    << false;
    QTest::newRow("dragging") << true;
    // clang-format on
}

void TestDrag::buttonStateFromThePlatform()
{
    // The list's events say the button is held; the platform says it is not (it was released where
    // the list did not see it). The next move ends the drag without moving anything. The list gets
    // its events directly; a second window takes the platform's press and release.
    QFETCH(bool, dragging);
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const std::string before = readBytes(saved.storePath());
    QWindow other;
    other.resize(50, 50);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    Mouse mouse(list);
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, mouse.rowPoint(0));
    QCOMPARE(dragState().dragTarget, -1);
    QTest::mousePress(&other, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(leftMouseButtonDown());
    if (dragging) {
        QTest::mouseMove(list.viewport(), mouse.rowPoint(2));
        QCOMPARE(dragState().dragTarget, 3);
        QCOMPARE(dragState().dragSource, 0);
        QVERIFY(movePointerShown(list));
    }
    QTest::mouseRelease(&other, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(!leftMouseButtonDown());
    const QPoint at = mouse.rowPoint(3);
    QMouseEvent held(QEvent::MouseMove, at, list.viewport()->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &held);
    QCOMPARE(dragState().dragTarget, 0);
    QCOMPARE(dragState().dragSource, -1);
    QVERIFY(!list.viewport()->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(listCurrentSelection(list), dragging ? 2 : 0); // no longer follows the pointer
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(saved.column(0), std::string("A B C D"));
    QCOMPARE(readBytes(saved.storePath()), before);
}

void TestDrag::noSelectionWhenTheDragBegins()
{
    // Pressed on a row, but the pointer leaves the rows before it has been over one: the first move
    // takes the pressed row as the source and removes the selection, the second takes the missing
    // selection. Nothing is moved, even after passing over rows.
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const std::string before = readBytes(saved.storePath());
    Mouse mouse(list);
    mouse.press(mouse.rowPoint(3));
    mouse.move(mouse.belowLastRow());
    QCOMPARE(dragState().dragSource, 3);
    QCOMPARE(listCurrentSelection(list), -1);
    mouse.move(mouse.belowLastRow() + QPoint(0, 5));
    QCOMPARE(dragState().dragSource, -1);
    QCOMPARE(dragState().dragTarget, -1);
    mouse.move(mouse.rowPoint(1));
    QCOMPARE(dragState().dragSource, -1);
    QCOMPARE(dragState().dragTarget, 2);
    mouse.release();
    QCOMPARE(saved.column(0), std::string("A B C D"));
    QCOMPARE(readBytes(saved.storePath()), before);
}

void TestDrag::rowsGoneDuringTheDrag()
{
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const std::string before = readBytes(saved.storePath());
    Mouse mouse(list);
    mouse.press(mouse.rowPoint(3));
    mouse.move(mouse.rowPoint(2));
    QCOMPARE(dragState().dragTarget, 3);
    // Another command rebuilt the list with fewer rows while the button was held.
    listDeleteRow(list, 3);
    mouse.release();
    QCOMPARE(saved.column(0), std::string("A B C"));
    QCOMPARE(readBytes(saved.storePath()), before);
    QCOMPARE(dragState().dragTarget, 0);
    QVERIFY(!list.viewport()->testAttribute(Qt::WA_SetCursor));
}

void TestDrag::scrollsAlong_data()
{
    QTest::addColumn<bool>("downward");
    // clang-format off
    QTest::newRow("downward shows the row below") << true;
    QTest::newRow("upward shows the row above")   << false;
    // clang-format on
}

void TestDrag::scrollsAlong()
{
    QFETCH(bool, downward);
    std::vector<SavedRecord> records;
    for (int i = 0; i < 60; ++i)
        records.push_back({"N" + std::to_string(i), "C", "R"});
    SavedWindow saved(records);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    QScrollBar* bar = list.verticalScrollBar();
    if (!downward)
        bar->setValue(bar->maximum());
    const int height = list.viewport()->height();
    // The pointer stops on a row the list shows whole; the row beyond it is cut off or hidden, so
    // only the scrolling along brings it in (the list itself only keeps the selected row in view).
    const int top = list.rowAt(0), bottom = list.rowAt(height - 1);
    const int start = downward ? top + 1 : bottom - 1;
    const int over = downward ? bottom - 1 : top;
    const int beyond = downward ? over + 1 : over - 1;
    const int barBefore = bar->value();
    Mouse mouse(list);
    mouse.press(mouse.rowPoint(start));
    mouse.move(mouse.rowPoint(over));
    QCOMPARE(dragState().dragTarget, over + 1);
    QCOMPARE(listCurrentSelection(list), over);
    if (downward)
        QVERIFY(bar->value() > barBefore);
    else
        QVERIFY(bar->value() < barBefore);
    const QRect shown = list.visualRect(list.listModel()->index(beyond, 0));
    QVERIFY(shown.top() >= 0 && shown.bottom() < height);
    mouse.release();
}

void TestDrag::moveSavedRowCarriesValues_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("order");
    // clang-format off
    QTest::newRow("down onto C")   << 0 << 3 << "BCAD";
    QTest::newRow("down onto last") << 0 << 4 << "BCDA";
    QTest::newRow("up onto B")     << 3 << 2 << "ADBC";
    QTest::newRow("up onto first") << 3 << 1 << "DABC";
    QTest::newRow("onto itself")   << 2 << 3 << "ABCD";
    // clang-format on
}

void TestDrag::moveSavedRowCarriesValues()
{
    QFETCH(int, source);
    QFETCH(int, target);
    QFETCH(QString, order);
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    for (int r = 0; r < 4; ++r)
        listSetItemValue(list, r, 100 + r);
    dragState() = DragState{target, source};
    moveSavedRow(target > source);
    QCOMPARE(listRowCount(list), 4);
    for (int r = 0; r < 4; ++r) {
        const int from = order[r].toLatin1() - 'A';
        QCOMPARE(listCellText(list, r, 0), recordNamed(order[r].toLatin1()).number);
        QCOMPARE(listCellText(list, r, 2), recordNamed(order[r].toLatin1()).remark);
        QCOMPARE(listItemValue(list, r), 100 + from);
    }
}

QTEST_MAIN(TestDrag)
#include "tst_drag.moc"
