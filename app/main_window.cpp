#include "app/main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFocusEvent>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/about_window.h"
#include "app/app_icon.h"
#include "app/globals.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/hosts.h"
#include "common/open_url.h"
#include "platform/check_list_box.h"
#include "platform/fonts.h"
#include "platform/library.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "platform/window_place.h"
#include "platform/xp_style.h"
#include "query/carrier_table.h"
#include "query/query_command.h"
#include "saved/drag.h"
#include "saved/number_windows.h"
#include "saved/saved_commands.h"
#include "saved/saved_list.h"
#include "saved/sort.h"
#include "saved/store.h"
#include "settings/carrier_select_window.h"
#include "settings/update_check.h"

namespace kuvona {
namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Only a to z: the number is sent and saved as GBK, which has no capital of ü or é, and the
// box's upper-casing on Windows leaves every other character as it is.
QString asciiUpper(const QString& typed)
{
    QString upper = typed;
    for (QChar& c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    return upper;
}

// Typed letters become capitals as they are entered; text set by the program (a saved number
// loaded by a click, say) is left as it is.
class NumberEdit : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const QString upper = asciiUpper(event->text());
        if (upper == event->text()) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        QKeyEvent converted(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                            event->nativeVirtualKey(), event->nativeModifiers(), upper, event->isAutoRepeat(),
                            static_cast<quint16>(event->count()));
        QLineEdit::keyPressEvent(&converted);
        event->setAccepted(converted.isAccepted());
    }
    void inputMethodEvent(QInputMethodEvent* event) override
    {
        if (const QString upper = asciiUpper(event->commitString()); upper != event->commitString())
            event->setCommitString(upper, event->replacementStart(), event->replacementLength());
        QLineEdit::inputMethodEvent(event);
    }
    // The selection stays, and stays visible, when the focus goes elsewhere; Qt's edit box
    // would drop it on Tab or a click into another control.
    void focusOutEvent(QFocusEvent* event) override
    {
        const int start = selectionStart();
        const int length = static_cast<int>(selectedText().size());
        const bool cursorAtStart = cursorPosition() == start;
        QLineEdit::focusOutEvent(event);
        if (length > 0 && !hasSelectedText()) {
            if (cursorAtStart)
                setSelection(start + length, -length);
            else
                setSelection(start, length);
        }
    }
};

template <typename W> W* place(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* w = new W(parent);
    w->setObjectName(q(name));
    w->setGeometry(left, top, width, height);
    return w;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(q("MainWindow"));
    setWindowTitle(q("Kuvona"));
    setWindowIcon(applicationIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    createControls();
    createMenus();
    // Maximizing changes nothing in the layout: the frame is fixed.
    setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);
    qApp->installEventFilter(this);
    onMainWindowCreated();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    if (mainControls().window == this)
        mainControls() = MainControls{};
}

void MainWindow::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(q("clientArea"));
    setCentralWidget(client);

    m_progressList = place<ReportListView>(client, "进度列表框", 272, 24, 432, 456);
    m_progressList->listModel()->setColumns({q("序列"), q("时间"), q("物流进度")});
    m_progressList->QTableView::setColumnWidth(0, 37);
    m_progressList->QTableView::setColumnWidth(1, 108);
    m_progressList->QTableView::setColumnWidth(2, 280);
    m_progressList->setFrameShadow(QFrame::Sunken);
    m_progressList->setFocusPolicy(Qt::StrongFocus);
    m_progressList->setAccessibleName(q("物流进度"));

    m_carriers = place<CheckListBox>(client, "选择列表框1", 9, 56, 103, 160);
    for (const Carrier& carrier : carrierTable())
        m_carriers->addCheckItem(toQString(carrier.name));
    m_carriers->setFrameShadow(QFrame::Sunken);
    m_carriers->setFocusPolicy(Qt::StrongFocus);
    m_carriers->setAccessibleName(q("快递公司"));

    m_stopButton = place<QPushButton>(client, "停止按钮", 131, 85, 132, 26);
    m_stopButton->setText(q("停止查询"));
    m_stopButton->setFocusPolicy(Qt::ClickFocus);
    m_stopButton->setAutoDefault(false);
    m_stopButton->setAccessibleName(m_stopButton->text());

    m_queryButton = place<QPushButton>(client, "快递查询", 132, 158, 132, 57);
    m_queryButton->setText(q("查询(&C)"));
    m_queryButton->setFont(songtiFont(16));
    m_queryButton->setFocusPolicy(Qt::StrongFocus);
    m_queryButton->setAutoDefault(false);
    m_queryButton->setDefault(true);

    auto* savedLabel = place<QLabel>(client, "标签7", 10, 224, 254, 23);
    savedLabel->setText(q("保存的快递单号："));

    m_clearButton = place<QPushButton>(client, "清空按钮", 131, 54, 132, 26);
    m_clearButton->setText(q("清空单号"));
    m_clearButton->setFont(songtiFont(12));
    m_clearButton->setFocusPolicy(Qt::ClickFocus);
    m_clearButton->setAutoDefault(false);
    m_clearButton->setAccessibleName(m_clearButton->text());

    m_savedList = place<ReportListView>(client, "超级列表框1", 9, 247, 255, 233);
    m_savedList->listModel()->setColumns({q("快递单号"), q("公司"), q("备注")});
    m_savedList->QTableView::setColumnWidth(0, 90);
    m_savedList->QTableView::setColumnWidth(1, 60);
    m_savedList->QTableView::setColumnWidth(2, 100);
    m_savedList->setFrameShadow(QFrame::Plain);
    m_savedList->setFocusPolicy(Qt::ClickFocus);
    m_savedList->setAccessibleName(savedLabel->text());
    savedLabel->setBuddy(m_savedList);
    // Header click sorts; press, moves and release drag a row to another place.
    connect(m_savedList, &ReportListView::columnClicked, this,
            [](int column) { onSavedListColumnClick(column); });
    connect(m_savedList, &ReportListView::leftButtonDown, this, &onSavedListLeftButtonDown);
    connect(m_savedList, &ReportListView::mouseMoved, this, &onSavedListMouseMove);
    connect(m_savedList, &ReportListView::leftButtonUp, this, &onSavedListLeftButtonUp);

    // Hidden boxes of the window description that nothing uses.
    for (auto [name, l, t, w, h] :
         {std::tuple{"编辑框21", 432, 440, 16, 16}, std::tuple{"编辑框22", 408, 440, 16, 16},
          std::tuple{"编辑框24", 296, 408, 104, 40}, std::tuple{"编辑框4", 405, 408, 50, 25}})
        place<QLineEdit>(client, name, l, t, w, h)->hide();

    auto* status = new QStatusBar(this);
    status->setObjectName(q("状态条1"));
    status->setSizeGripEnabled(false);
    status->setFixedHeight(kClientHeight - 481);
    auto* authorPanel = new QLabel(q("作者:Tamsor"), status);
    authorPanel->setObjectName(q("状态条1.1"));
    authorPanel->setFixedWidth(100);
    auto* secondPanel = new QLabel(status);
    secondPanel->setObjectName(q("状态条1.2"));
    status->addWidget(authorPanel);
    status->addWidget(secondPanel, 1);
    setStatusBar(status);

    m_number = place<NumberEdit>(client, "单号", 9, 24, 255, 24);
    m_number->setAlignment(Qt::AlignCenter);
    m_number->setFont(songtiFont(16, true));
    m_number->setFocusPolicy(Qt::StrongFocus);

    auto* numberLabel = place<QLabel>(client, "标签1", 8, 0, 80, 24);
    numberLabel->setText(q("请输入单号："));
    numberLabel->setBuddy(m_number);
    m_number->setAccessibleName(numberLabel->text());

    for (auto* label : {savedLabel, numberLabel}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(pal);
    }

    QWidget::setTabOrder(m_number, m_carriers);
    QWidget::setTabOrder(m_carriers, m_progressList);
    QWidget::setTabOrder(m_progressList, m_queryButton);
    QWidget::setTabOrder(m_queryButton, m_number);

    connect(m_clearButton, &QPushButton::clicked, this, [] { clearNumber(); });
    connect(m_queryButton, &QPushButton::clicked, this, [] { startQuery(); });
    connect(m_stopButton, &QPushButton::clicked, this, [] { stopQuery(); });
    connect(m_savedList, &ReportListView::rightClicked, this, &MainWindow::popupSavedListMenu);
    connect(m_savedList, &ReportListView::leftClicked, this, [] { onSavedListClick(); });
    connect(m_savedList, &ReportListView::keyDown, this,
            [](int key, int flags) { onSavedListKeyDown(key, flags); });
    connect(m_savedList, &ReportListView::doubleClickedAnywhere, this, [] { onSavedListDoubleClick(); });
    connect(this, &MainWindow::savedListPopupChosen, this, [](int item) { runSavedListMenuItem(item); });
    setAutoSaveStep(&autoSaveNumber);

    MainControls& controls = mainControls();
    controls.window = this;
    controls.number = m_number;
    controls.carriers = m_carriers;
    controls.queryButton = m_queryButton;
    controls.stopButton = m_stopButton;
    controls.progressList = m_progressList;
    controls.savedList = m_savedList;
}

void MainWindow::createMenus()
{
    QMenu* file = menuBar()->addMenu(q("文件(&F)"));
    file->setObjectName(q("menuFile"));
    QAction* query = file->addAction(q("查询(&C)"));
    query->setObjectName(q("actionQuery"));
    connect(query, &QAction::triggered, this, [] { startQueryFromMenu(); });
    file->addAction(q("查淘宝"))->setObjectName(q("actionTaobao"));
    QAction* addNumber = file->addAction(q("添加单号(&A)"));
    addNumber->setObjectName(q("actionAddNumber"));
    connect(addNumber, &QAction::triggered, this, [] { showAddNumberWindow(); });
    m_autoSave = file->addAction(q("自动保存单号"));
    m_autoSave->setObjectName(q("自动保存单号"));
    m_autoSave->setCheckable(true);
    m_autoSave->setChecked(true);
    mainControls().autoSaveAction = m_autoSave;
    // Hidden items stay out of the menus; their actions exist for the commands behind them.
    m_carrierSelect = new QAction(q("选择快递公司(&Z)"), this);
    m_carrierSelect->setObjectName(q("actionCarrierSelect"));
    connect(m_carrierSelect, &QAction::triggered, this, [this] { showCarrierSelectWindow(this); });
    m_defaultSkin = new QAction(q("默认皮肤"), this);
    m_defaultSkin->setObjectName(q("actionDefaultSkin"));
    connect(m_defaultSkin, &QAction::triggered, this, [] { detachSkin(); });
    QAction* exit = file->addAction(q("退出(&X)"));
    exit->setObjectName(q("actionExit"));
    connect(exit, &QAction::triggered, this, [] { exitProgram(0); });

    QMenu* help = menuBar()->addMenu(q("帮助(&H)"));
    help->setObjectName(q("menuHelp"));
    QAction* helpFile = help->addAction(q("帮助文件(&H)"));
    helpFile->setObjectName(q("actionHelp"));
    connect(helpFile, &QAction::triggered, this, [] { showHelp(); });
    QAction* homepage = help->addAction(q("访问主页(&V)"));
    homepage->setObjectName(q("actionHomepage"));
    connect(homepage, &QAction::triggered, this, [] { openHomepage(); });
    QAction* update = help->addAction(q("检查更新(&U)"));
    update->setObjectName(q("actionUpdate"));
    connect(update, &QAction::triggered, this, [] { workerThread = startUpdateCheck(appVersion); });
    QAction* about = help->addAction(q("关于(&A)"));
    about->setObjectName(q("actionAbout"));
    connect(about, &QAction::triggered, this, [this] { showAboutWindow(this); });
}

void MainWindow::popupSavedListMenu()
{
    if (m_popup)
        return;
    m_popup = new QMenu(this);
    m_popup->setObjectName(q("保存列表"));
    m_popup->setAttribute(Qt::WA_DeleteOnClose);
    // "\t" puts "Del" at the item's right as a label only: the list's key handler deletes.
    int item = 0;
    for (const char* caption : {"添加单号", "编辑单号", "删除单号\tDel", "全部删除", "取消"})
        m_popup->addAction(q(caption))->setData(item++);
    connect(m_popup, &QMenu::triggered, this, [this](QAction* chosen) {
        // The command runs once the menu has closed, as if chosen from a menu bar.
        const int chosenItem = chosen->data().toInt();
        QTimer::singleShot(0, this, [this, chosenItem] { emit savedListPopupChosen(chosenItem); });
    });
    m_popup->popup(QCursor::pos() + QPoint(3, 3));
}

void MainWindow::onMainWindowCreated()
{
    enableXpStyle(1);
    appVersion = "2.1";
    captionSuffix = gbk("  作者:Tamsor 数据提供:爱查快递");
    setWindowTitle(toQString("Kuvona v" + appVersion + captionSuffix));
    initSavedList();
}

void MainWindow::showCentred()
{
    centreOnScreen(this);
    show();
    activateWindow();
    m_number->setFocus(Qt::ActiveWindowFocusReason);
}

std::string leftoverTempFile()
{
    const char* temp = std::getenv("TEMP");
    if (!temp || !*temp)
        return {}; // nothing is deleted when the variable is missing
    return std::string(temp) + "/temp.htm";
}

void MainWindow::onMainWindowDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    endWorkerThread();
    if (const std::string path = leftoverTempFile(); !path.empty())
        std::remove(path.c_str());
    closeStore();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    onMainWindowDestroy();
    QCoreApplication::quit();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_number && event->type() == QEvent::FocusIn)
        m_queryButton->setDefault(true);
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        // The press passes the filter again at each parent it propagates to; act on the first.
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && widget &&
            widget == QApplication::focusWidget() && widget->window() == this && !key->isAutoRepeat()) {
            // Enter runs the query wherever the focus is, but only through the default button.
            if (m_queryButton->isVisible() && m_queryButton->isEnabled() && m_queryButton->isDefault())
                m_queryButton->click();
            // The default button would click itself once more on the same key; every other control
            // still sees the key (the saved list reports it).
            return widget == m_queryButton;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void showHelp()
{
    messageBox(gbk("这么简单的软件不用帮助吧……\r\n\r\n自己先摸索吧，有问题请到主页留言！"), gbk("帮助"),
               BoxOk);
}

void openHomepage()
{
    openUrl(homepageUrl());
}

void clearNumber()
{
    if (auto* number = mainControls().number)
        number->clear();
}

void toggleAutoSave()
{
    // A checkable action flips its own mark when triggered, which is what the menu item does too.
    if (auto* action = mainControls().autoSaveAction)
        action->trigger();
}

void detachSkin()
{
    static LibraryFunction skinDetach = nullptr;
    if (!skinDetach) {
        skinDetach = loadLibraryFunction(programDirectory(), "KillAD.dll", "SkinH_Detach");
        if (!skinDetach)
            fatalRuntimeError(0, gbk("无法找到指定DLL库文件“KillAD.dll”中的输出命令“SkinH_Detach”"));
    }
    skinDetach();
}

} // namespace kuvona
