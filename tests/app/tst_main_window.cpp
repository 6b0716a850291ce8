#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/about_window.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/open_url.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "platform/xp_style.h"
#include "saved/number_windows.h"
#include "settings/carrier_select_window.h"

using namespace kuvona;

namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QStringList visibleTexts(const QList<QAction*>& actions)
{
    QStringList texts;
    for (QAction* a : actions)
        if (a->isVisible())
            texts << a->text();
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void caption();
    void xpStyleForEveryWindow();
    void sharedTextsReleasedOnce();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void menus();
    void savedListPopup();
    void numberUpperCasedAsTyped();
    void onlyAsciiLettersUpperCased_data();
    void onlyAsciiLettersUpperCased();
    void numberKeepsItsSelection();
    void enterRunsOnlyTheDefaultButton_data();
    void enterRunsOnlyTheDefaultButton();
    void tabCycle();
    void autoSaveToggle();
    void helpBox();
    void clearKeepsProgress();
    void homepage();
    void aboutTitleLine();
    void aboutCloses_data();
    void aboutCloses();
    void aboutHomepageStaysOpen();
    void windowsOpenCentredOnTheScreen_data();
    void windowsOpenCentredOnTheScreen();
    void screenReadersGetTheShownText_data();
    void screenReadersGetTheShownText();

private:
    QTemporaryDir m_dir; // the program's directory: Danhao.edb and set.ini go here
    MainWindow* m_window = nullptr;
    std::vector<std::string> m_urls;
};

void TestMainWindow::init()
{
    setProgramDirectory(m_dir.path().toStdString());
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    m_urls.clear();
    setOpenUrlHandler([this](const std::string& url) { m_urls.push_back(url); });
    m_window = new MainWindow;
    m_window->showCentred();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    setOpenUrlHandler(nullptr);
}

void TestMainWindow::caption()
{
    QCOMPARE(m_window->windowTitle(), q("Kuvona v2.1  作者:Tamsor 数据提供:爱查快递"));
    QCOMPARE(appVersion, std::string("2.1"));
    QCOMPARE(captionSuffix, gbk("  作者:Tamsor 数据提供:爱查快递"));
}

void TestMainWindow::xpStyleForEveryWindow()
{
    auto* style = qobject_cast<XpStyle*>(QApplication::style());
    QVERIFY(style);
    QCOMPARE(style->scheme(), 1);
    // A window created afterwards gets the same look: its edit box frame is the scheme's colour.
    QLineEdit later;
    later.resize(80, 24);
    later.show();
    QVERIFY(QTest::qWaitForWindowExposed(&later));
    const QImage image = later.grab().toImage();
    QCOMPARE(image.pixelColor(0, 12), QColor(123, 158, 189));
    QCOMPARE(image.pixelColor(40, 0), QColor(123, 158, 189));
}

void TestMainWindow::sharedTextsReleasedOnce()
{
    carrierCode = "zhongtong";
    releaseSharedTexts();
    QVERIFY(carrierCode.empty());
    QVERIFY(appVersion.empty());
    carrierCode = "again";
    releaseSharedTexts(); // a second orderly end must not release again
    QCOMPARE(carrierCode, std::string("again"));
    QCOMPARE(releaseSharedTextsRuns(), 1);
}

void TestMainWindow::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");

    // clang-format off
    QTest::newRow("进度列表框")  << q("进度列表框")  << QRect(272, 24, 432, 456);
    QTest::newRow("选择列表框1") << q("选择列表框1") << QRect(9, 56, 103, 160);
    QTest::newRow("停止按钮")    << q("停止按钮")    << QRect(131, 85, 132, 26);
    QTest::newRow("快递查询")    << q("快递查询")    << QRect(132, 158, 132, 57);
    QTest::newRow("标签7")       << q("标签7")       << QRect(10, 224, 254, 23);
    QTest::newRow("清空按钮")    << q("清空按钮")    << QRect(131, 54, 132, 26);
    QTest::newRow("超级列表框1") << q("超级列表框1") << QRect(9, 247, 255, 233);
    QTest::newRow("单号")        << q("单号")        << QRect(9, 24, 255, 24);
    QTest::newRow("标签1")       << q("标签1")       << QRect(8, 0, 80, 24);
    // clang-format on
}

void TestMainWindow::controlsAtTheirPlaces()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto* control = m_window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->parentWidget(), m_window->centralWidget()); // client area below the menu bar
    if (control->focusPolicy() != Qt::NoFocus && !qobject_cast<QLabel*>(control))
        QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
                 "a screen reader needs a name");
}

void TestMainWindow::menus()
{
    QCOMPARE(visibleTexts(m_window->menuBar()->actions()), (QStringList{q("文件(&F)"), q("帮助(&H)")}));
    auto* file = m_window->findChild<QMenu*>(q("menuFile"));
    QVERIFY(file);
    QCOMPARE(visibleTexts(file->actions()),
             (QStringList{q("查询(&C)"), q("查淘宝"), q("添加单号(&A)"), q("自动保存单号"), q("退出(&X)")}));
    QVERIFY(m_window->autoSaveAction()->isChecked());
    auto* help = m_window->findChild<QMenu*>(q("menuHelp"));
    QCOMPARE(visibleTexts(help->actions()),
             (QStringList{q("帮助文件(&H)"), q("访问主页(&V)"), q("检查更新(&U)"), q("关于(&A)")}));
    // The hidden item and the skin commands are reachable from no menu.
    for (QMenu* menu : {file, help}) {
        QVERIFY(!menu->actions().contains(m_window->carrierSelectAction()));
        QVERIFY(!menu->actions().contains(m_window->defaultSkinAction()));
    }
    for (QAction* a : m_window->menuBar()->actions())
        QVERIFY(a->text() != q("打印(&P)"));
}

void TestMainWindow::savedListPopup()
{
    QCursor::setPos(m_window->mapToGlobal(QPoint(100, 300)));
    const QPoint pointer = QCursor::pos();
    auto* list = m_window->findChild<ReportListView*>(q("超级列表框1"));
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    QMenu* popup = m_window->savedListPopup();
    QVERIFY(popup);
    QCOMPARE(visibleTexts(popup->actions()),
             (QStringList{q("添加单号"), q("编辑单号"), q("删除单号\tDel"), q("全部删除"), q("取消")}));
    QCOMPARE(popup->pos(), pointer + QPoint(3, 3));
    for (QAction* a : popup->actions())
        QVERIFY(a->shortcut().isEmpty()); // "Del" is a label; the list's key handler deletes
    QSignalSpy chosen(m_window, &MainWindow::savedListPopupChosen);
    popup->actions().at(2)->trigger();
    QVERIFY(chosen.isEmpty()); // runs only once the menu has closed
    QTRY_COMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().first().toInt(), 2);
}

void TestMainWindow::numberUpperCasedAsTyped()
{
    auto* number = m_window->findChild<QLineEdit*>(q("单号"));
    QCOMPARE(QApplication::focusWidget(), number);
    QTest::keyClicks(number, QStringLiteral("abc123"));
    QCOMPARE(number->text(), QStringLiteral("ABC123"));
    number->setText(QStringLiteral("yt2")); // set by the program: unchanged
    QCOMPARE(number->text(), QStringLiteral("yt2"));
    QTest::keyClicks(number, QStringLiteral("x"));
    QCOMPARE(number->text(), QStringLiteral("yt2X"));
    QCOMPARE(number->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

void TestMainWindow::onlyAsciiLettersUpperCased_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    // clang-format off
    QTest::newRow("a to z")             << q("az09")   << q("AZ09");
    QTest::newRow("u umlaut")           << q("ü")      << q("ü");
    QTest::newRow("e acute, sharp s")   << q("éß")     << q("éß");
    QTest::newRow("mixed")              << q("yt2ü")   << q("YT2ü");
    QTest::newRow("chinese")            << q("顺丰sf") << q("顺丰SF");
    QTest::newRow("full-width letters") << q("ａｂ１") << q("ａｂ１");
    QTest::newRow("greek")              << q("αβ")     << q("αβ");
    // clang-format on
}

void TestMainWindow::onlyAsciiLettersUpperCased()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    auto* number = m_window->findChild<QLineEdit*>(q("单号"));
    QCOMPARE(QApplication::focusWidget(), number);
    // Typed on a keyboard, one key per character.
    for (const QChar c : typed)
        QTest::sendKeyEvent(QTest::Click, number,
                            c.isLetter() && c.unicode() < 0x80 ? Qt::Key(c.toUpper().unicode())
                                                               : Qt::Key_unknown,
                            QString(c), Qt::NoModifier);
    QCOMPARE(number->text(), shown);
    // Committed by an input method in one piece.
    number->clear();
    QInputMethodEvent commit;
    commit.setCommitString(typed);
    QApplication::sendEvent(number, &commit);
    QCOMPARE(number->text(), shown);
}

void TestMainWindow::numberKeepsItsSelection()
{
    auto* number = m_window->findChild<QLineEdit*>(q("单号"));
    QTest::keyClicks(number, QStringLiteral("abc123"));
    QTest::keyClick(number, Qt::Key_Home);
    QTest::keyClick(number, Qt::Key_Right);
    QTest::keyClick(number, Qt::Key_Right);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(number, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(number->selectedText(), QStringLiteral("C12"));
    QTest::keyClick(number, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), q("选择列表框1"));
    QCOMPARE(number->selectedText(), QStringLiteral("C12"));
    // Still shown: the highlight is drawn in the box without the focus.
    const QColor highlight = number->palette().color(QPalette::Highlight);
    const QImage image = number->grab().toImage();
    int highlighted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            highlighted += image.pixelColor(x, y) == highlight ? 1 : 0;
    QVERIFY2(highlighted > 50, qPrintable(QString::number(highlighted)));
    // A click into another control keeps it too.
    auto* progress = m_window->findChild<ReportListView*>(q("进度列表框"));
    QTest::mouseClick(progress->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    QCOMPARE(QApplication::focusWidget(), progress);
    QCOMPARE(number->selectedText(), QStringLiteral("C12"));
    // Back by Tab the same selection is there, and typing replaces it.
    QTest::keyClick(progress, Qt::Key_Backtab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), number);
    QCOMPARE(number->selectedText(), QStringLiteral("C12"));
    QTest::keyClicks(number, QStringLiteral("x"));
    QCOMPARE(number->text(), QStringLiteral("ABX3"));
}

void TestMainWindow::enterRunsOnlyTheDefaultButton_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<int>("clicks");

    // clang-format off
    QTest::newRow("in number")          << q("单号")        << true  << true  << 1;
    QTest::newRow("in carrier list")    << q("选择列表框1") << true  << true  << 1;
    QTest::newRow("in progress list")   << q("进度列表框")  << true  << true  << 1;
    QTest::newRow("on the button")      << q("快递查询")    << true  << true  << 1;
    QTest::newRow("on stop button")     << q("停止按钮")    << true  << true  << 1;
    QTest::newRow("on clear button")    << q("清空按钮")    << true  << true  << 1;
    QTest::newRow("in saved list")      << q("超级列表框1") << true  << true  << 1;
    QTest::newRow("disabled")           << q("单号")        << false << true  << 0;
    QTest::newRow("not default")        << q("选择列表框1") << true  << false << 0;
    QTest::newRow("button not default") << q("快递查询")    << true  << false << 0;
    // clang-format on
}

void TestMainWindow::enterRunsOnlyTheDefaultButton()
{
    QFETCH(QString, focus);
    QFETCH(bool, enabled);
    QFETCH(bool, isDefault);
    QFETCH(int, clicks);
    auto* button = m_window->findChild<QPushButton*>(q("快递查询"));
    auto* target = m_window->findChild<QWidget*>(focus);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    button->setEnabled(enabled);
    button->setDefault(isDefault);
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(clicked.size(), clicks);
    // 单号 is empty: each run of the query says so once.
    QCOMPARE(messageBoxSeam::shown().size(), std::size_t(clicks));
}

void TestMainWindow::tabCycle()
{
    const QStringList forward{q("选择列表框1"), q("进度列表框"), q("快递查询"), q("单号")};
    QCOMPARE(QApplication::focusWidget()->objectName(), q("单号"));
    for (const QString& next : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), q("快递查询"));
    // Focus on 单号 makes the query button the default again.
    auto* button = m_window->findChild<QPushButton*>(q("快递查询"));
    button->setDefault(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), q("单号"));
    QVERIFY(button->isDefault());
}

void TestMainWindow::autoSaveToggle()
{
    QAction* autoSave = m_window->autoSaveAction();
    autoSave->trigger();
    QVERIFY(!autoSave->isChecked());
    toggleAutoSave();
    QVERIFY(autoSave->isChecked());
}

void TestMainWindow::helpBox()
{
    m_window->findChild<QAction*>(q("actionHelp"))->trigger();
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text, gbk("这么简单的软件不用帮助吧……\r\n\r\n自己先摸索吧，有问题请到主页留言！"));
    QCOMPARE(shown[0].title, gbk("帮助"));
    QCOMPARE(shown[0].kind, 0);
}

void TestMainWindow::clearKeepsProgress()
{
    auto* number = m_window->findChild<QLineEdit*>(q("单号"));
    auto* progress = m_window->findChild<ReportListView*>(q("进度列表框"));
    auto* carriers = m_window->findChild<CheckListBox*>(q("选择列表框1"));
    number->setText(QStringLiteral("YT123"));
    progress->listModel()->appendRow(QStringLiteral("1"));
    carriers->setChecked(5, true);
    QTest::mouseClick(m_window->findChild<QPushButton*>(q("清空按钮")), Qt::LeftButton);
    QCOMPARE(number->text(), QString());
    QCOMPARE(progress->listModel()->rowCount(), 1);
    QVERIFY(carriers->isChecked(5));
}

void TestMainWindow::homepage()
{
    qputenv("KUVONA_HOMEPAGE_HOST", "127.0.0.1:8080");
    m_window->findChild<QAction*>(q("actionHomepage"))->trigger();
    qunsetenv("KUVONA_HOMEPAGE_HOST");
    QCOMPARE(m_urls, std::vector<std::string>{"http://127.0.0.1:8080"});
}

void TestMainWindow::aboutTitleLine()
{
    AboutWindow about(m_window);
    auto* title = about.findChild<QLabel*>(q("标签3"));
    QCOMPARE(title->text(), q("Kuvona v2.1  作者:Tamsor 数据提供:爱查快递"));
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(title->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    const QStringList lines = AboutWindow::creditsText().split(q("\r\n"));
    QCOMPARE(lines.first(), QString(13, QLatin1Char(' ')));
    QVERIFY(lines.at(1).startsWith(QString(11, QLatin1Char(' '))));
    QVERIFY(lines.contains(q("更新记录:")));
    QVERIFY(lines.contains(q("目前支持21个快递查询，根据需求会逐步增加。")));
}

void TestMainWindow::aboutCloses_data()
{
    QTest::addColumn<QString>("how");
    // clang-format off
    QTest::newRow("enter")     << QStringLiteral("enter");
    QTest::newRow("escape")    << QStringLiteral("escape");
    QTest::newRow("button")    << QStringLiteral("button");
    QTest::newRow("close box") << QStringLiteral("close");
    // clang-format on
}

void TestMainWindow::aboutCloses()
{
    QFETCH(QString, how);
    AboutWindow about(m_window);
    about.open(); // window-modal is enough to test the closing paths without a nested loop
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), q("关闭按钮"));
    if (how == QLatin1String("enter"))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    else if (how == QLatin1String("escape"))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    else if (how == QLatin1String("button"))
        QTest::mouseClick(about.findChild<QPushButton*>(q("关闭按钮")), Qt::LeftButton);
    else
        about.close();
    QVERIFY(!about.isVisible());
}

void TestMainWindow::aboutHomepageStaysOpen()
{
    AboutWindow about(m_window);
    about.open();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), q("关闭按钮"));
    QTest::mouseClick(about.findChild<QPushButton*>(q("访问主页")), Qt::LeftButton);
    QCOMPARE(m_urls.size(), std::size_t(1));
    QVERIFY(m_urls[0].rfind("http://", 0) == 0);
    QVERIFY(about.isVisible());
    QTest::keyClick(&about, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), q("关闭按钮"));
}

void TestMainWindow::windowsOpenCentredOnTheScreen_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("centred"); // else at 50, 50

    // clang-format off
    QTest::newRow("about")            << q("AboutWindow")         << true;
    QTest::newRow("add")              << q("AddNumberWindow")     << true;
    QTest::newRow("edit")             << q("EditNumberWindow")    << true;
    QTest::newRow("courier settings") << q("CarrierSelectWindow") << false;
    // clang-format on
}

void TestMainWindow::windowsOpenCentredOnTheScreen()
{
    QFETCH(QString, window);
    QFETCH(bool, centred);
    // The main window in the bottom right corner, mostly off the screen.
    const QRect area = m_window->screen()->availableGeometry();
    m_window->move(area.bottomRight() - QPoint(150, 100));
    QRect opened;
    QTimer::singleShot(0, this, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (modal->objectName() == window)
                opened = modal->frameGeometry();
            modal->close();
        }
    });
    if (window == q("AboutWindow"))
        m_window->findChild<QAction*>(q("actionAbout"))->trigger();
    else if (window == q("AddNumberWindow"))
        m_window->findChild<QAction*>(q("actionAddNumber"))->trigger();
    else if (window == q("EditNumberWindow"))
        showEditNumberWindow();
    else
        m_window->carrierSelectAction()->trigger();
    QVERIFY(!opened.isNull());
    if (centred)
        QVERIFY2(
            (opened.center() - area.center()).manhattanLength() <= 2,
            qPrintable(QStringLiteral("centred at %1,%2").arg(opened.center().x()).arg(opened.center().y())));
    else
        QCOMPARE(opened.topLeft(), QPoint(50, 50));
}

namespace {

// What a user reads on a control: a label's or button's text (a button's access letter is only
// underlined), an edit box's or combo box's content, a window's caption.
QString shownText(QWidget* control)
{
    if (control->isWindow())
        return control->windowTitle();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return QString(button->text()).remove(QLatin1Char('&'));
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control))
        return edit->toPlainText();
    return {};
}

// Every cell of an item view, header titles first, as the view's model shows them and as a screen
// reader is told them.
void compareCells(QAbstractItemView* view)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    QVERIFY(iface && iface->tableInterface());
    QAccessibleTableInterface* table = iface->tableInterface();
    const QAbstractItemModel* model = view->model();
    QVERIFY(model->rowCount() > 0);
    QCOMPARE(table->rowCount(), model->rowCount());
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            QAccessibleInterface* cell = table->cellAt(row, column);
            QVERIFY(cell);
            QCOMPARE(cell->text(QAccessible::Name), model->index(row, column).data().toString());
            if (row == 0 && qobject_cast<QTableView*>(view)) {
                const auto headers = cell->tableCellInterface()->columnHeaderCells();
                QCOMPARE(headers.size(), 1);
                QCOMPARE(headers.first()->text(QAccessible::Name),
                         model->headerData(column, Qt::Horizontal).toString());
            }
        }
    }
}

} // namespace

void TestMainWindow::screenReadersGetTheShownText_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control"); // the window itself when empty
    QTest::addColumn<QString>("text");    // "name", "value" or "cells"

    // clang-format off
    QTest::newRow("main caption")           << q("MainWindow")          << QString()          << "name";
    QTest::newRow("main 标签1")             << q("MainWindow")          << q("标签1")         << "name";
    QTest::newRow("main 标签7")             << q("MainWindow")          << q("标签7")         << "name";
    QTest::newRow("main 单号")              << q("MainWindow")          << q("单号")          << "value";
    QTest::newRow("main 快递查询")          << q("MainWindow")          << q("快递查询")      << "name";
    QTest::newRow("main 停止按钮")          << q("MainWindow")          << q("停止按钮")      << "name";
    QTest::newRow("main 清空按钮")          << q("MainWindow")          << q("清空按钮")      << "name";
    QTest::newRow("main status panel")      << q("MainWindow")          << q("状态条1.1")     << "name";
    QTest::newRow("main 选择列表框1")       << q("MainWindow")          << q("选择列表框1")   << "cells";
    QTest::newRow("main 进度列表框")        << q("MainWindow")          << q("进度列表框")    << "cells";
    QTest::newRow("main 超级列表框1")       << q("MainWindow")          << q("超级列表框1")   << "cells";
    QTest::newRow("about caption")          << q("AboutWindow")         << QString()          << "name";
    QTest::newRow("about title line")       << q("AboutWindow")         << q("标签3")         << "name";
    QTest::newRow("about credits")          << q("AboutWindow")         << q("标签1")         << "name";
    QTest::newRow("about 访问主页")         << q("AboutWindow")         << q("访问主页")      << "name";
    QTest::newRow("about 关闭按钮")         << q("AboutWindow")         << q("关闭按钮")      << "name";
    QTest::newRow("add caption")            << q("AddNumberWindow")     << QString()          << "name";
    QTest::newRow("add number")             << q("AddNumberWindow")     << q("编辑框_单号")   << "value";
    QTest::newRow("add courier")            << q("AddNumberWindow")     << q("组合框1")       << "value";
    QTest::newRow("add remark")             << q("AddNumberWindow")     << q("编辑框_备注")   << "value";
    QTest::newRow("add 添加按钮")           << q("AddNumberWindow")     << q("添加按钮")      << "name";
    QTest::newRow("add 取消单号保存")       << q("AddNumberWindow")     << q("取消单号保存")  << "name";
    QTest::newRow("edit caption")           << q("EditNumberWindow")    << QString()          << "name";
    QTest::newRow("edit number")            << q("EditNumberWindow")    << q("编辑框_单号")   << "value";
    QTest::newRow("edit courier")           << q("EditNumberWindow")    << q("组合框1")       << "value";
    QTest::newRow("edit remark")            << q("EditNumberWindow")    << q("编辑框_备注")   << "value";
    QTest::newRow("edit 编辑按钮")          << q("EditNumberWindow")    << q("编辑按钮")      << "name";
    QTest::newRow("settings caption")       << q("CarrierSelectWindow") << QString()          << "name";
    QTest::newRow("settings 标签1")         << q("CarrierSelectWindow") << q("标签1")         << "name";
    QTest::newRow("settings 中通")          << q("CarrierSelectWindow") << q("中通")          << "name";
    QTest::newRow("settings 联邦国内")      << q("CarrierSelectWindow") << q("联邦国内")      << "name";
    QTest::newRow("settings 按钮1")         << q("CarrierSelectWindow") << q("按钮1")         << "name";
    QTest::newRow("settings 按钮2")         << q("CarrierSelectWindow") << q("按钮2")         << "name";
    // clang-format on
}

void TestMainWindow::screenReadersGetTheShownText()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, text);
    // Rows in both lists, so that there are cells to read.
    listAppendRow(*m_window->findChild<ReportListView*>(q("进度列表框")), "1");
    listSetCellText(*m_window->findChild<ReportListView*>(q("进度列表框")), 0, 2, gbk("已签收"));
    listAppendRow(*m_window->findChild<ReportListView*>(q("超级列表框1")), "YT123");
    listSetCellText(*m_window->findChild<ReportListView*>(q("超级列表框1")), 0, 1, gbk("圆通"));
    std::unique_ptr<QWidget> dialog;
    if (window == q("AboutWindow"))
        dialog = std::make_unique<AboutWindow>(m_window);
    else if (window == q("AddNumberWindow"))
        dialog = std::make_unique<AddNumberWindow>(m_window);
    else if (window == q("EditNumberWindow")) {
        // A saved number to edit, saved as a user does.
        AddNumberWindow add(m_window);
        add.numberEdit()->setText(QStringLiteral("YT123"));
        add.carrierBox()->setCurrentText(q("圆通"));
        add.remarkEdit()->setPlainText(q("放门卫"));
        add.addSavedNumber();
        editRecordNo = 1;
        dialog = std::make_unique<EditNumberWindow>(m_window);
    } else if (window == q("CarrierSelectWindow"))
        dialog = std::make_unique<CarrierSelectWindow>(m_dir.filePath(q("set.ini")).toStdString(), m_window);
    QWidget* top = dialog ? dialog.get() : m_window;
    QWidget* widget = control.isEmpty() ? top : top->findChild<QWidget*>(control);
    QVERIFY(widget);
    if (text == QLatin1String("cells")) {
        compareCells(qobject_cast<QAbstractItemView*>(widget));
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && edit->text().isEmpty())
        edit->setText(QStringLiteral("YT123"));
    const QString shown = shownText(widget);
    QVERIFY(!shown.isEmpty());
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface);
    QCOMPARE(iface->text(text == QLatin1String("name") ? QAccessible::Name : QAccessible::Value), shown);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
