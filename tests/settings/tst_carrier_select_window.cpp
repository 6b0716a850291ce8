#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "common/gbk.h"
#include "platform/message_box.h"
#include "settings/carrier_select_window.h"
#include "settings/ini.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

std::string fixture(const char* name)
{
    return std::string(KUVONA_SOURCE_DIR) + "/tests/settings/data/" + name;
}

QStringList tickedBoxes(const CarrierSelectWindow& window)
{
    QStringList ticked;
    for (const char* name : CarrierSelectWindow::writeOrder)
        if (window.checkBox(name)->isChecked())
            ticked << QString::fromUtf8(name);
    return ticked;
}

QPushButton* button(const QWidget& window, const char* name)
{
    return window.findChild<QPushButton*>(QString::fromUtf8(name));
}

} // namespace

class TestCarrierSelectWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void frameAndButtons();
    void opensWithStoredTicks_data();
    void opensWithStoredTicks();
    void firstOkWritesAllKeysInOrder();
    void okTwiceWritesTheSameAndStaysOpen();
    void ticksReadBackAfterReopening();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void showOpensModally();

private:
    std::string settings() const { return m_dir->filePath("set.ini").toStdString(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCarrierSelectWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
}

void TestCarrierSelectWindow::cleanup()
{
    messageBoxSeam::clear();
}

void TestCarrierSelectWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");

    // clang-format off
    const char* const grid[6][4] = {
        {"中通", "天天",     "申通",     "速尔"},
        {"圆通", "顺丰",     "韵达",     "EMS"},
        {"汇通", "宅急送",   "中诚",     "快捷"},
        {"亚风", "德邦",     "新邦",     "中铁"},
        {"星辰", "DHL",      "TNT",      "飞康达"},
        {"中邮物流", "广东邮政", "联邦国际", "联邦国内"},
    };
    // clang-format on
    const int xs[4] = {8, 88, 168, 248};
    const int ys[6] = {32, 56, 80, 104, 128, 152};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 4; ++c)
            QTest::newRow(grid[r][c]) << QString::fromUtf8(grid[r][c]) << QRect(xs[c], ys[r], 80, 24);
}

void TestCarrierSelectWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    CarrierSelectWindow window(settings());
    auto* box = window.findChild<QCheckBox*>(name);
    QVERIFY(box);
    QCOMPARE(box->text(), name);
    QCOMPARE(box->accessibleName(), name);
    QCOMPARE(box->geometry(), geometry);
    QVERIFY(!box->isChecked());
}

void TestCarrierSelectWindow::frameAndButtons()
{
    CarrierSelectWindow window(settings());
    QCOMPARE(window.windowTitle(), QString::fromUtf8("选择快递公司"));
    QCOMPARE(window.findChildren<QCheckBox*>().size(), 24);
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), QSize(326, 225));
    QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(50, 50));

    auto* label = window.findChild<QLabel*>(QString::fromUtf8("标签1"));
    QVERIFY(label);
    QCOMPARE(label->text(), QString::fromUtf8("选择好快递公司后点击确定"));
    QCOMPARE(label->geometry(), QRect(8, 8, 184, 24));
    QCOMPARE(button(window, "按钮1")->text(), QString::fromUtf8("确定"));
    QCOMPARE(button(window, "按钮1")->geometry(), QRect(152, 192, 80, 28));
    QCOMPARE(button(window, "按钮2")->text(), QString::fromUtf8("取消"));
    QCOMPARE(button(window, "按钮2")->geometry(), QRect(240, 192, 80, 28));
    // No default button: Enter on a check box stores nothing.
    window.checkBox("中通")->setFocus();
    QTest::keyClick(window.checkBox("中通"), Qt::Key_Return);
    QVERIFY(!QFile::exists(QString::fromStdString(settings())));
    QVERIFY(messageBoxSeam::shown().empty());
}

void TestCarrierSelectWindow::opensWithStoredTicks_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("ticked");

    // clang-format off
    QTest::newRow("no file")          << QByteArray()                                 << QStringList();
    QTest::newRow("one ticked")       << g("[Set]\r\nEMS=真\r\n")                     << QStringList{"EMS"};
    QTest::newRow("only exactly 真")  << g("[Set]\r\n中通=1\r\n天天=真的\r\n申通=假\r\nDHL=真\r\n") << QStringList{"DHL"};
    QTest::newRow("other section")    << g("[Other]\r\n中通=真\r\n")                  << QStringList();
    QTest::newRow("lf and any case")  << g("[set]\nems=真\n宅急送=真\n")              << QStringList{"EMS", "宅急送"};
    // clang-format on
}

void TestCarrierSelectWindow::opensWithStoredTicks()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, ticked);
    if (!content.isEmpty())
        writeFile(settings(), content);
    CarrierSelectWindow window(settings());
    QCOMPARE(tickedBoxes(window), ticked);
    // Opening reads only.
    QCOMPARE(QFile::exists(QString::fromStdString(settings())), !content.isEmpty());
}

void TestCarrierSelectWindow::firstOkWritesAllKeysInOrder()
{
    CarrierSelectWindow window(settings());
    window.show();
    window.checkBox("EMS")->setChecked(true);
    window.checkBox("联邦国内")->setChecked(true);
    button(window, "按钮1")->click();

    QByteArray expected = "[Set]\r\n";
    for (const char* name : CarrierSelectWindow::writeOrder) {
        const QString n = QString::fromUtf8(name);
        const bool on = n == "EMS" || n == QString::fromUtf8("联邦国内");
        expected += g(name) + "=" + (on ? g("真") : g("假")) + "\r\n";
    }
    QCOMPARE(readFile(settings()), expected);
    QVERIFY(expected.startsWith(g("[Set]\r\n中通=")));
    QVERIFY(expected.endsWith(g("联邦国内=真\r\n")));

    const auto boxes = messageBoxSeam::shown();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(q(boxes[0].text), g("修改成功！"));
    QCOMPARE(q(boxes[0].title), g("信息："));
    QCOMPARE(boxes[0].kind, int(BoxOk));
    QVERIFY(window.isVisible());
}

void TestCarrierSelectWindow::okTwiceWritesTheSameAndStaysOpen()
{
    writeFile(settings(), readFile(fixture("set_windows.ini")));
    CarrierSelectWindow window(settings());
    window.show();
    button(window, "按钮1")->click();
    const QByteArray once = readFile(settings());
    // The window wrote back what it read: the Windows-written file is unchanged byte for byte.
    QCOMPARE(once, readFile(fixture("set_windows.ini")));
    button(window, "按钮1")->click();
    QCOMPARE(readFile(settings()), once);
    QCOMPARE(messageBoxSeam::shown().size(), std::size_t(2));
    QVERIFY(window.isVisible());
}

void TestCarrierSelectWindow::ticksReadBackAfterReopening()
{
    const QStringList chosen{"中通", "圆通", "中铁", "飞康达", "DHL", "广东邮政"};
    {
        CarrierSelectWindow window(settings());
        for (const QString& name : chosen)
            window.checkBox(name.toUtf8().constData())->setChecked(true);
        button(window, "按钮1")->click();
    }
    CarrierSelectWindow reopened(settings());
    QStringList ticked = tickedBoxes(reopened);
    QStringList expected = chosen;
    ticked.sort();
    expected.sort();
    QCOMPARE(ticked, expected);
    QCOMPARE(q(readIniValue(settings(), "Set", gbk("圆通"))), g("真"));
    QCOMPARE(q(readIniValue(settings(), "Set", gbk("天天"))), g("假"));
}

void TestCarrierSelectWindow::cancelWritesNothing_data()
{
    QTest::addColumn<int>("how");
    // clang-format off
    QTest::newRow("取消 button") << 0;
    QTest::newRow("close box")   << 1;
    QTest::newRow("Esc")         << 2;
    // clang-format on
}

void TestCarrierSelectWindow::cancelWritesNothing()
{
    QFETCH(int, how);
    const QByteArray original = g("[Set]\r\n中通=真\r\n; kept\r\n");
    writeFile(settings(), original);
    CarrierSelectWindow window(settings());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.checkBox("中通")->setChecked(false);
    window.checkBox("EMS")->setChecked(true);
    if (how == 0)
        button(window, "按钮2")->click();
    else if (how == 1)
        window.close();
    else
        QTest::keyClick(&window, Qt::Key_Escape);
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Rejected));
    QCOMPARE(readFile(settings()), original);
    QVERIFY(messageBoxSeam::shown().empty());

    CarrierSelectWindow reopened(settings());
    QCOMPARE(tickedBoxes(reopened), QStringList{"中通"});
}

void TestCarrierSelectWindow::showOpensModally()
{
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto* window = qobject_cast<CarrierSelectWindow*>(QApplication::activeModalWidget());
        seen = window != nullptr && window->isModal();
        if (window)
            button(*window, "按钮2")->click();
        else if (QWidget* other = QApplication::activeModalWidget())
            other->close();
    });
    showCarrierSelectWindow(nullptr); // returns only once the window has been closed
    QVERIFY(seen);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestCarrierSelectWindow)
#include "tst_carrier_select_window.moc"
