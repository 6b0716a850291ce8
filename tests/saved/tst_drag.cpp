#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/listview.h"
#include "platform/check_list_box.h"
#include "platform/mouse.h"
#include "platform/report_list_view.h"
#include "saved/drag.h"
#include "saved_window_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

const std::vector<SavedRecord> kFour = {
    {"A", "CA", "RA"}, {"B", "CB", "RB"}, {"C", "CC", "RC"}, {"D", "CD", "RD"}};

// Couriers of the carrier table, so that a click on a row loads it into the query controls.
const std::vector<SavedRecord> kCouriers = {
    {"YT1", "FedEx", "a"}, {"YT2", "EMS", "b"}, {"YT3", "DHL", "c"}, {"YT4", "UPS", "d"}};
constexpr int kEmsIndex = 8;

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

bool normalPointerShown(const ReportListView& list)
{
    return !list.viewport()->testAttribute(Qt::WA_SetCursor);
}

// A point of a drag path in the list's viewport: "n" the middle of row n, "n>" the same moved aside
// by the drag distance (a real drag even over the pressed row), "-1" below the last row, "-2"
// outside the window, "-3" in the window beside the list (on 单号).
QPoint pathPoint(const Mouse& mouse, const ReportListView& list, const QString& step)
{
    const bool aside = step.endsWith('>');
    const int row = (aside ? step.chopped(1) : step).toInt();
    switch (row) {
    case -1:
        return mouse.belowLastRow();
    case -2:
        return QPoint(-30, 10);
    case -3: {
        const QLineEdit* number = mainControls().number;
        return list.viewport()->mapFrom(list.window(), number->mapTo(list.window(), number->rect().center()));
    }
    default:
        return mouse.rowPoint(row) + (aside ? QPoint(QApplication::startDragDistance(), 0) : QPoint());
    }
}

// The ticked couriers, as their indices joined by blanks.
QString ticks(const CheckListBox& carriers)
{
    QStringList ticked;
    for (int i = 0; i < carriers.count(); ++i)
        if (carriers.isChecked(i))
            ticked << QString::number(i);
    return ticked.join(' ');
}

// Sets the file's modification time far back, so that any write shows.
bool ageFile(const std::string& path)
{
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), old, 0) == 0;
}

time_t modificationTime(const std::string& path)
{
    struct stat st = {};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec;
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
    void jitterIsAClick_data();
    void jitterIsAClick();
    void pointerBackOnRelease_data();
    void pointerBackOnRelease();
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
    // Points the pointer passes over, as pathPoint reads them.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("order");
    QTest::addColumn<bool>("rewritten");
    // clang-format off
    QTest::newRow("A onto C")            << 0 << "0> 1 2"   << "BCAD" << true;
    QTest::newRow("A onto D")            << 0 << "1 2 3"    << "BCDA" << true;
    QTest::newRow("D onto B")            << 3 << "3> 2 1"   << "ADBC" << true;
    QTest::newRow("D onto A")            << 3 << "2 1 0"    << "DABC" << true;
    QTest::newRow("B onto itself")       << 1 << "1>"       << "ABCD" << true;
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
        const int row = step.chopped(step.endsWith('>') ? 1 : 0).toInt();
        mouse.move(pathPoint(mouse, list, step));
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
    QVERIFY(normalPointerShown(list)); // back with the button, though the list saw no release
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

void TestDrag::jitterIsAClick_data()
{
    QTest::addColumn<QList<QPoint>>("path"); // moves from the press point, in pixels
    QTest::addColumn<bool>("click");
    const int d = QApplication::startDragDistance();
    const int half = (d - 1) / 2;
    // clang-format off
    QTest::newRow("no movement")             << QList<QPoint>{}                                  << true;
    QTest::newRow("1 px")                    << QList<QPoint>{{1, 0}}                            << true;
    QTest::newRow("1 px down")               << QList<QPoint>{{0, 1}}                            << true;
    QTest::newRow("drag distance - 1")       << QList<QPoint>{{d - 1, 0}}                        << true;
    QTest::newRow("diagonal jitter")         << QList<QPoint>{{half, half}}                      << true;
    QTest::newRow("jitter around the press") << QList<QPoint>{{2, 1}, {-3, 2}, {1, -3}, {0, 1}}  << true;
    QTest::newRow("drag distance")           << QList<QPoint>{{d, 0}}                            << false;
    QTest::newRow("diagonal drag distance")  << QList<QPoint>{{d - 2, 2}}                        << false;
    QTest::newRow("out and back")            << QList<QPoint>{{d, 0}, {0, 1}}                    << false;
    // clang-format on
}

void TestDrag::jitterIsAClick()
{
    // A hand that presses and releases moves a little; short of the platform's drag distance that is
    // a click, which loads the row, and not a drag onto its own row, which rewrites the whole store.
    QFETCH(QList<QPoint>, path);
    QFETCH(bool, click);
    SavedWindow saved(kCouriers);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const MainControls& c = mainControls();
    c.number->setText(QStringLiteral("OLD"));
    const QString tickedBefore = ticks(*c.carriers);
    QVERIFY(tickedBefore != QString::number(kEmsIndex));
    QVERIFY(ageFile(saved.storePath()));
    const std::string before = readBytes(saved.storePath());
    Mouse mouse(list);
    const QPoint pressed = mouse.rowPoint(1);
    mouse.press(pressed);
    for (const QPoint& step : path) {
        mouse.move(pressed + step);
        QCOMPARE(movePointerShown(list), !click);
    }
    mouse.release();

    QCOMPARE(saved.column(0), std::string("YT1 YT2 YT3 YT4"));
    QVERIFY(normalPointerShown(list));
    if (click) {
        QCOMPARE(readBytes(saved.storePath()), before);
        QCOMPARE(modificationTime(saved.storePath()), time_t(1000000000));
        QCOMPARE(c.number->text(), QStringLiteral("YT2"));
        QCOMPARE(ticks(*c.carriers), QString::number(kEmsIndex));
        QCOMPARE(listCurrentSelection(list), 1);
    } else {
        // Dropped onto its own row: a drag, not a click, so nothing is loaded; the records keep
        // their places and serials, so the file's bytes stay as they were.
        QCOMPARE(c.number->text(), QStringLiteral("OLD"));
        QCOMPARE(ticks(*c.carriers), tickedBefore);
        QCOMPARE(listCurrentSelection(list), -1);
        QCOMPARE(readBytes(saved.storePath()), before);
    }
}

void TestDrag::pointerBackOnRelease_data()
{
    QTest::addColumn<int>("pressed");  // a row, or -1 below the last row
    QTest::addColumn<QString>("path"); // the release is at its last point
    // clang-format off
    QTest::newRow("never over a row, released outside the window") << 1  << "-2";
    QTest::newRow("never over a row, released below the rows")     << 1  << "-1";
    QTest::newRow("no source, released beside the list")           << -1 << "2 -3";
    QTest::newRow("no source, released outside the window")        << -1 << "2 -2";
    QTest::newRow("no source, released on a row")                  << -1 << "2";
    // clang-format on
}

void TestDrag::pointerBackOnRelease()
{
    // Releases that move nothing: the list sees no move afterwards while the button is up, so only
    // the release itself can bring the normal pointer back.
    QFETCH(int, pressed);
    QFETCH(QString, path);
    SavedWindow saved(kFour);
    QVERIFY(saved.ready());
    ReportListView& list = saved.list();
    const std::string before = readBytes(saved.storePath());
    Mouse mouse(list);
    mouse.press(pressed >= 0 ? mouse.rowPoint(pressed) : mouse.belowLastRow());
    for (const QString& step : path.split(' ', Qt::SkipEmptyParts))
        mouse.move(pathPoint(mouse, list, step));
    QVERIFY(movePointerShown(list));
    mouse.release();
    QVERIFY(normalPointerShown(list));
    QCOMPARE(saved.column(0), std::string("A B C D"));
    QCOMPARE(readBytes(saved.storePath()), before);
    // Nothing else of the drag changed: a move with the button up still ends it.
    QVERIFY(dragState().dragTarget != 0);
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
