// The saved list through the main window: auto-save from the query, the add and edit windows, the
// delete commands, the click that loads a number. Every case is checked in the list and in the
// bytes of Danhao.edb.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
#include "lock_holder.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "platform/worker.h"
#include "query/carrier_table.h"
#include "saved/number_windows.h"
#include "saved/saved_commands.h"
#include "saved/saved_list.h"
#include "saved/store.h"
#include "store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Records written as "number|company|remark;..." in UTF-8, so that table rows stay readable.
QString rowsText(const std::vector<std::array<std::string, 3>>& rows)
{
    QStringList parts;
    for (const auto& r : rows)
        parts << toQString(r[0]) + u'|' + toQString(r[1]) + u'|' + toQString(r[2]);
    return parts.join(u';');
}

std::vector<std::array<std::string, 3>> parseRows(const QString& text)
{
    std::vector<std::array<std::string, 3>> rows;
    for (const QString& part : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringList f = part.split(u'|');
        rows.push_back({fromQString(f.value(0)), fromQString(f.value(1)), fromQString(f.value(2))});
    }
    return rows;
}

std::string readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// A loopback port with nothing listening: the query's worker fails at once instead of going out.
class ClosedPort
{
public:
    ClosedPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~ClosedPort() { ::close(m_fd); }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Types `text` key by key; QTest::keyClicks takes Latin-1 only.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// Forgets the boxes so far; the next box takes `answer`, every later one OK.
void answerNext(int answer)
{
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    messageBoxSeam::queueAnswer(answer);
}

} // namespace

class TestSavedList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startUpWritesTheTemplate();
    void startUpRefusesAndReports_data();
    void startUpRefusesAndReports();
    void autoSave_data();
    void autoSave();
    void autoSaveOffSavesNothing();
    void autoSaveDoesNotOverwriteWhenAppendFails();
    void addWindowAtFirst();
    void add_data();
    void add();
    void addEmptyNumberWarns();
    void numberBoxKeepsTwentyBytes();
    void editKeepsCourier_data();
    void editKeepsCourier();
    void editStoresNumberAsTyped();
    void editFailureKeepsWindowOpen();
    void editWithoutSelection();
    void editCancelLeavesStoreOpen();
    void storeUnavailable_data();
    void storeUnavailable();
    void deleteNumber_data();
    void deleteNumber();
    void deleteWithoutSelection();
    void deleteLastRecord();
    void deleteAllCancelThenNormalCommand();
    void deleteAll();
    void popupItems_data();
    void popupItems();
    void clickLoadsNumber_data();
    void clickLoadsNumber();

private:
    // Writes Danhao.edb with the records and opens a fresh main window on it.
    void openWith(const QString& records);
    // The list's rows and the file's live records, in the "a|b|c;..." form.
    QString listed() const;
    QString stored() const;
    QString storePath() const { return m_dir->filePath(QStringLiteral("Danhao.edb")); }
    std::string fileBytes() const { return readFile(storePath()); }
    QRect rowRect(int row) const;
    void clickRow(int row);
    void query(const QString& number, int ticked, int highlighted);
    // Runs `drive` on the dialog of type W once it is the active modal window, then closes it if
    // it is still open, so that a failed check cannot leave the test waiting in exec().
    template <typename W> void whenModal(std::function<void(W*)> drive);

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindow* m_window = nullptr;
    ReportListView* m_list = nullptr;
    QLineEdit* m_number = nullptr;
    CheckListBox* m_carriers = nullptr;
    ClosedPort m_closedPort;
    bool m_driven = false;
};

void TestSavedList::initTestCase()
{
    QVERIFY(m_closedPort.port() > 0);
    qputenv("KUVONA_QUERY_HOST", QByteArray("127.0.0.1:") + QByteArray::number(m_closedPort.port()));
}

void TestSavedList::init()
{
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    setProgramDirectory(m_dir->path().toStdString());
    m_driven = false;
}

void TestSavedList::cleanup()
{
    terminateAllWorkers();
    delete m_window;
    m_window = nullptr;
    closeStore();
    m_dir.reset();
}

void TestSavedList::openWith(const QString& records)
{
    std::string bytes = templateBytes();
    const auto rows = parseRows(records);
    for (std::size_t i = 0; i < rows.size(); ++i)
        bytes += makeRecord(static_cast<std::int32_t>(34 + i), rows[i][0], rows[i][1], rows[i][2]);
    putInt32(bytes, 16, static_cast<std::int32_t>(rows.size()));
    putInt32(bytes, 20, static_cast<std::int32_t>(34 + rows.size()));
    QFile file(storePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    file.close();

    m_window = new MainWindow;
    m_window->showCentred();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_list = m_window->findChild<ReportListView*>(q("超级列表框1"));
    m_number = m_window->findChild<QLineEdit*>(q("单号"));
    m_carriers = m_window->findChild<CheckListBox*>(q("选择列表框1"));
    QVERIFY(m_list && m_number && m_carriers);
    QCOMPARE(listed(), records);
}

QString TestSavedList::listed() const
{
    std::vector<std::array<std::string, 3>> rows;
    for (int r = 0; r < listRowCount(*m_list); ++r)
        rows.push_back(
            {listCellText(*m_list, r, 0), listCellText(*m_list, r, 1), listCellText(*m_list, r, 2)});
    return rowsText(rows);
}

QString TestSavedList::stored() const
{
    const std::string bytes = fileBytes();
    if (bytes.size() < 332)
        return QStringLiteral("<short file>");
    const std::int32_t count = getInt32(bytes, 16);
    if (bytes.size() != 332 + static_cast<std::size_t>(count) * 136)
        return QStringLiteral("<size %1 for %2 records>").arg(bytes.size()).arg(count);
    std::vector<std::array<std::string, 3>> rows;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string record = bytes.substr(332 + static_cast<std::size_t>(i) * 136, 136);
        if (getInt32(record, 0) <= 0)
            return QStringLiteral("<record %1 marked deleted>").arg(i + 1);
        rows.push_back({bytesToText(record.substr(4, 20)), bytesToText(record.substr(24, 12)),
                        bytesToText(record.substr(36, 100))});
    }
    return rowsText(rows);
}

QRect TestSavedList::rowRect(int row) const
{
    return m_list->visualRect(m_list->model()->index(row, 0));
}

void TestSavedList::clickRow(int row)
{
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowRect(row).center());
}

void TestSavedList::query(const QString& number, int ticked, int highlighted)
{
    m_number->setText(number);
    m_carriers->setChecked(ticked, true);
    m_carriers->setCurrentSelection(highlighted);
    QTest::mouseClick(m_window->findChild<QPushButton*>(q("快递查询")), Qt::LeftButton);
}

template <typename W> void TestSavedList::whenModal(std::function<void(W*)> drive)
{
    auto* timer = new QTimer(this);
    auto deadline = std::make_shared<QDeadlineTimer>(5000);
    connect(timer, &QTimer::timeout, this, [this, timer, drive, deadline] {
        auto* window = qobject_cast<W*>(QApplication::activeModalWidget());
        if (!window && !deadline->hasExpired())
            return;
        timer->deleteLater();
        timer->stop();
        if (!window)
            return;
        m_driven = true;
        drive(window);
        if (window->isVisible())
            window->reject();
    });
    timer->start(10);
}

void TestSavedList::startUpWritesTheTemplate()
{
    QVERIFY(!QFile::exists(storePath()));
    m_window = new MainWindow;
    m_list = m_window->findChild<ReportListView*>(q("超级列表框1"));
    QCOMPARE(fileBytes(), templateBytes());
    QCOMPARE(listRowCount(*m_list), 0);
    QVERIFY(currentStorePath().empty());

    QVERIFY(messageBoxSeam::shown().empty());
}

void TestSavedList::startUpRefusesAndReports_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a directory named Danhao.edb

    QByteArray huge = QByteArray::fromStdString(storeWithRecords(2));
    huge[24] = '\xFF';
    huge[25] = '\xFF';
    huge[26] = '\xFF';
    huge[27] = '\x7F';
    // clang-format off
    QTest::newRow("a directory")              << QByteArray();
    QTest::newRow("not a store")              << QByteArray("WEDX and more bytes than a header has............");
    QTest::newRow("record length 0x7FFFFFFF") << huge;
    // clang-format on
}

// Something named Danhao.edb that is not a store, or a store too damaged to repair, is left alone
// byte for byte; the list stays empty and the user is told why nothing shows.
void TestSavedList::startUpRefusesAndReports()
{
    QFETCH(QByteArray, content);
    if (content.isEmpty()) {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Danhao.edb")));
    } else {
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    m_window = new MainWindow;
    m_list = m_window->findChild<ReportListView*>(q("超级列表框1"));
    if (content.isEmpty())
        QVERIFY(QFileInfo(storePath()).isDir());
    else
        QCOMPARE(QByteArray::fromStdString(fileBytes()), content);
    QCOMPARE(listRowCount(*m_list), 0);
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text,
             gbk("无法读取单号文件 Danhao.edb（文件已损坏或正被其他程序占用），程序没有改动它。"));
    QCOMPARE(shown[0].kind, 48);
}

void TestSavedList::autoSave_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("after");

    const QString longNumber = QStringLiteral("123456789012345678901234");
    // Highlighted courier 顺丰 (6) while 中通 (0) is ticked: the highlighted one is saved.
    // clang-format off
    QTest::newRow("prefix of a saved number") << q("1234|中通|")    << q("12")   << q("1234|中通|");
    QTest::newRow("equal to a saved number")  << q("1234|中通|")    << q("1234") << q("1234|中通|");
    QTest::newRow("saved number inside it")   << q("1234|中通|")    << q("234")  << q("1234|中通|;234|顺丰|");
    QTest::newRow("other letter case")        << q("ab12|EMS|备注") << q("AB1")  << q("ab12|EMS|备注");
    QTest::newRow("longer than a saved one")  << q("1234|中通|")    << q("12345")<< q("1234|中通|;12345|顺丰|");
    QTest::newRow("blanks around it")         << q("")              << q(" 77 ") << q("77|顺丰|");
    QTest::newRow("over 20 bytes")            << q("")              << longNumber
                                              << q("12345678901234567890|顺丰|");
    QTest::newRow("over 20 bytes again")      << q("12345678901234567890|顺丰|") << longNumber
                                              << q("12345678901234567890|顺丰|;12345678901234567890|顺丰|");
    // clang-format on
}

void TestSavedList::autoSave()
{
    QFETCH(QString, before);
    QFETCH(QString, number);
    QFETCH(QString, after);
    openWith(before);
    m_list->QTableView::setColumnWidth(1, 50);
    const bool saves = after != before;

    query(number, 0, 6);

    QCOMPARE(listed(), after);
    QCOMPARE(stored(), after);
    QVERIFY(currentStorePath().empty());
    QVERIFY(messageBoxSeam::shown().empty());
    // Only a save widens the columns; a plain reload leaves them as they were.
    QCOMPARE(m_list->columnWidth(2), saves ? 120 : 100);
    QCOMPARE(m_list->columnWidth(1), saves ? 60 : 50);
}

void TestSavedList::autoSaveOffSavesNothing()
{
    openWith(q("1234|中通|"));
    m_window->autoSaveAction()->trigger();
    QVERIFY(!m_window->autoSaveAction()->isChecked());
    query(QStringLiteral("999"), 0, 0);
    QCOMPARE(listed(), q("1234|中通|"));
    QCOMPARE(stored(), q("1234|中通|"));
}

void TestSavedList::autoSaveDoesNotOverwriteWhenAppendFails()
{
    openWith(q("1234|中通|r1;5678|申通|r2"));
    // The store is left open on record 1, and another process holds the place of the new record.
    answerNext(1);
    deleteAllSavedNumbers();
    QVERIFY(!currentStorePath().empty());
    LockHolder holder(storePath().toStdString(), 332 + 2 * 136, 1);
    QVERIFY(holder.ok());

    query(QStringLiteral("999"), 0, 6);

    QCOMPARE(stored(), q("1234|中通|r1;5678|申通|r2"));
    QCOMPARE(listed(), q("1234|中通|r1;5678|申通|r2"));
}

void TestSavedList::addWindowAtFirst()
{
    openWith({});
    whenModal<AddNumberWindow>([](AddNumberWindow* w) {
        QCOMPARE(w->windowTitle(), q("添加快递单号"));
        QCOMPARE(w->size(), QSize(269, 132));
        QVERIFY(w->numberEdit()->text().isEmpty());
        QCOMPARE(w->remarkEdit()->toPlainText(), q("备注"));
        QCOMPARE(w->carrierBox()->count(), 20);
        QCOMPARE(w->carrierBox()->currentText(), q("中通"));
        QCOMPARE(w->carrierBox()->itemText(19), q("快捷"));
        QCOMPARE(w->carrierBox()->findText(q("天天")), -1);
        QVERIFY(w->okButton()->isDefault());
        QCOMPARE(w->okButton()->text(), q("添加(&A)"));
        QCOMPARE(w->cancelButton()->text(), q("取消(&C)"));
        QCOMPARE(w->okButton()->geometry(), QRect(132, 104, 64, 24));
        // Tab order: number, courier, remark, 添加, 取消.
        QCOMPARE(w->focusWidget(), w->numberEdit());
        for (QWidget* next : {static_cast<QWidget*>(w->carrierBox()), static_cast<QWidget*>(w->remarkEdit()),
                              static_cast<QWidget*>(w->okButton()), static_cast<QWidget*>(w->cancelButton()),
                              static_cast<QWidget*>(w->numberEdit())}) {
            QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
            QCOMPARE(w->focusWidget(), next);
        }
        QCOMPARE(w->carrierBox()->geometry().topLeft(), QPoint(176, 8));
        QTest::keyClick(w, Qt::Key_Escape); // the dialogs close on Esc
        QVERIFY(!w->isVisible());
    });
    m_window->findChild<QAction*>(q("actionAddNumber"))->trigger();
    QVERIFY(m_driven);
    QCOMPARE(stored(), QString());
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::add_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("carrier");
    QTest::addColumn<QString>("remark");
    QTest::addColumn<QString>("after");

    // clang-format off
    QTest::newRow("blanks around the number") << q("  YT123  ")  << 5  << q("备注")       << q("1|中通|;YT123|顺丰|备注");
    QTest::newRow("full-width blanks")        << q("　YT9　")     << 19  << q("")           << q("1|中通|;YT9|快捷|");
    QTest::newRow("blanks only")              << q("   ")        << 0  << q("x")          << q("1|中通|;|中通|x");
    QTest::newRow("remark over two lines")    << q("A1")         << 7  << q("一\n二")     << q("1|中通|;A1|EMS|一\r\n二");
    // clang-format on
}

void TestSavedList::add()
{
    QFETCH(QString, typed);
    QFETCH(int, carrier);
    QFETCH(QString, remark);
    QFETCH(QString, after);
    openWith(q("1|中通|"));

    whenModal<AddNumberWindow>([&](AddNumberWindow* w) {
        typeText(w->numberEdit(), typed);
        QCOMPARE(w->numberEdit()->text(), typed);
        w->carrierBox()->setCurrentIndex(carrier);
        w->remarkEdit()->setPlainText(remark);
        QTest::mouseClick(w->okButton(), Qt::LeftButton);

        QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
        QCOMPARE(messageBoxSeam::shown()[0].text, gbk("添加成功！"));
        QCOMPARE(messageBoxSeam::shown()[0].title, gbk("添加成功"));
        QCOMPARE(messageBoxSeam::shown()[0].kind, 64);
        // Ready for the next number: open, both boxes empty, the courier kept.
        QVERIFY(w->isVisible());
        QVERIFY(w->numberEdit()->text().isEmpty());
        QVERIFY(w->remarkEdit()->toPlainText().isEmpty());
        QCOMPARE(w->carrierBox()->currentIndex(), carrier);
        QCOMPARE(w->focusWidget(), w->numberEdit());
        QCOMPARE(listed(), after);
        QVERIFY(currentStorePath().empty());
        QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
        QVERIFY(!w->isVisible());
    });
    emit m_window->savedListPopupChosen(0);
    QVERIFY(m_driven);
    QCOMPARE(stored(), after);
    QCOMPARE(listed(), after);
    // The number field holds the trimmed text and zero padding, nothing of the blanks.
    const std::string record = fileBytes().substr(332 + 136);
    const std::string number = fromQString(typed.trimmed());
    QCOMPARE(record.substr(4, 20), number + std::string(20 - number.size(), '\0'));
}

void TestSavedList::addEmptyNumberWarns()
{
    openWith(q("1|中通|"));
    const std::string before = fileBytes();
    whenModal<AddNumberWindow>([&](AddNumberWindow* w) {
        w->carrierBox()->setFocus();
        QTest::keyClick(w, Qt::Key_Return); // Enter presses the default button, 添加
        QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
        QCOMPARE(messageBoxSeam::shown()[0].text, gbk("请输入单号！"));
        QCOMPARE(messageBoxSeam::shown()[0].title, gbk("提示"));
        QCOMPARE(messageBoxSeam::shown()[0].kind, 48);
        QVERIFY(w->isVisible());
        QCOMPARE(w->focusWidget(), w->numberEdit());
        QVERIFY(currentStorePath().empty());
    });
    showAddNumberWindow();
    QVERIFY(m_driven);
    QCOMPARE(fileBytes(), before);
}

void TestSavedList::numberBoxKeepsTwentyBytes()
{
    AddNumberWindow w;
    w.show();
    QLineEdit* edit = w.numberEdit();
    QTest::keyClicks(edit, QStringLiteral("1234567890123456789012345"));
    QCOMPARE(edit->text(), QStringLiteral("12345678901234567890"));
    // Double-byte characters count 2: ten of them fill the box.
    edit->clear();
    typeText(edit, q("一二三四五六七八九十百"));
    QCOMPARE(edit->text(), q("一二三四五六七八九十"));
    // A character that would need 2 bytes where 1 is left is refused whole.
    edit->setText(QStringLiteral("1234567890123456789"));
    typeText(edit, q("一"));
    QCOMPARE(edit->text(), QStringLiteral("1234567890123456789"));
    // Text pasted in the middle is cut where it no longer fits; what was there stays.
    edit->setText(QStringLiteral("AB"));
    edit->setCursorPosition(1);
    edit->insert(QStringLiteral("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"));
    QCOMPARE(edit->text(), QStringLiteral("Axxxxxxxxxxxxxxxxxx") + QStringLiteral("B"));
    QCOMPARE(fromQString(edit->text()).size(), std::size_t(20));
}

void TestSavedList::editKeepsCourier_data()
{
    QTest::addColumn<QString>("company");
    QTest::addColumn<int>("offered");

    // A courier the window's 17 names lack is offered as an 18th item, already chosen.
    // clang-format off
    QTest::newRow("in the list")          << q("顺丰")  << 17;
    QTest::newRow("in the list, Latin")   << q("FedEx") << 17;
    QTest::newRow("main list only")       << q("天天")  << 18;
    QTest::newRow("add window only 优速") << q("优速")  << 18;
    QTest::newRow("add window only 国通") << q("国通")  << 18;
    QTest::newRow("add window only 快捷") << q("快捷")  << 18;
    QTest::newRow("empty")                << q("")      << 18;
    QTest::newRow("other letter case")    << q("ems")   << 18;
    QTest::newRow("beginning of a name")  << q("EM")    << 18;
    // clang-format on
}

void TestSavedList::editKeepsCourier()
{
    QFETCH(QString, company);
    QFETCH(int, offered);
    openWith(q("1|中通|a;YT5|") + company + q("|b;3|申通|c"));

    whenModal<EditNumberWindow>([&](EditNumberWindow* w) {
        QCOMPARE(w->windowTitle(), q("编辑快递单号"));
        QCOMPARE(w->numberEdit()->text(), q("YT5"));
        QCOMPARE(w->remarkEdit()->toPlainText(), q("b"));
        QCOMPARE(w->carrierBox()->currentText(), company);
        QCOMPARE(w->carrierBox()->count(), offered);
        QVERIFY(!currentStorePath().empty()); // left open for the save
        w->remarkEdit()->setPlainText(q("新"));
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
        QCOMPARE(messageBoxSeam::shown()[0].text, gbk("编辑成功！"));
        QCOMPARE(messageBoxSeam::shown()[0].title, gbk("编辑成功"));
        QCOMPARE(messageBoxSeam::shown()[0].kind, 64);
    });
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowRect(1).center());
    QVERIFY(m_driven);
    QCOMPARE(editRecordNo, 2);
    const QString after = q("1|中通|a;YT5|") + company + q("|新;3|申通|c");
    QCOMPARE(stored(), after);
    QCOMPARE(listed(), after);
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::editStoresNumberAsTyped()
{
    openWith(q("1|中通|a;YT5|申通|b"));
    whenModal<EditNumberWindow>([&](EditNumberWindow* w) {
        QCOMPARE(w->carrierBox()->count(), 17);
        QCOMPARE(w->carrierBox()->geometry().topLeft(), QPoint(175, 8));
        QCOMPARE(w->okButton()->text(), q("编辑(&E)"));
        w->numberEdit()->clear();
        QTest::keyClicks(w->numberEdit(), QStringLiteral(" YT123 "));
        QTest::keyClicks(w->carrierBox(), QStringLiteral("T")); // TNT, the first item from T
        QCOMPARE(w->carrierBox()->currentText(), QStringLiteral("TNT"));
        QTest::keyClick(w->numberEdit(), Qt::Key_Return);
    });
    m_list->setCurrentSelection(0);
    emit m_window->savedListPopupChosen(1);
    QVERIFY(m_driven);
    QCOMPARE(stored(), q(" YT123 |TNT|a;YT5|申通|b"));
    QCOMPARE(listed(), q(" YT123 |TNT|a;YT5|申通|b"));
}

void TestSavedList::editFailureKeepsWindowOpen()
{
    openWith(q("1|中通|a"));
    whenModal<EditNumberWindow>([&](EditNumberWindow* w) {
        {
            // Another process holds the record while the user edits it.
            LockHolder holder(storePath().toStdString(), 332, 1);
            QVERIFY(holder.ok());
            w->numberEdit()->setText(QStringLiteral("2"));
            QTest::mouseClick(w->okButton(), Qt::LeftButton);
        }
        QVERIFY(w->isVisible());
        QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
        QCOMPARE(messageBoxSeam::shown()[0].text, gbk("编辑失败！"));
        QCOMPARE(messageBoxSeam::shown()[0].title, gbk("编辑失败"));
        QCOMPARE(messageBoxSeam::shown()[0].kind, 64);
        QVERIFY(currentStorePath().empty()); // the reload closed it
        // With the store closed the window cannot save any more, lock or not.
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QVERIFY(w->isVisible());
        QCOMPARE(messageBoxSeam::shown().size(), std::size_t(2));
        QCOMPARE(messageBoxSeam::shown()[1].text, gbk("编辑失败！"));
    });
    m_list->setCurrentSelection(0);
    editSavedNumber();
    QVERIFY(m_driven);
    QCOMPARE(stored(), q("1|中通|a"));
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::editWithoutSelection()
{
    openWith(q("1|中通|a"));
    m_list->setCurrentSelection(-1);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(5, m_list->viewport()->height() - 5));
    QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
    QCOMPARE(messageBoxSeam::shown()[0].text, gbk("请选择想要编辑的单号"));
    QCOMPARE(messageBoxSeam::shown()[0].title, gbk("提示"));
    QCOMPARE(messageBoxSeam::shown()[0].kind, 48);
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::editCancelLeavesStoreOpen()
{
    openWith(q("1|中通|a;2|申通|b"));
    const std::string before = fileBytes();
    whenModal<EditNumberWindow>([&](EditNumberWindow* w) {
        w->numberEdit()->setText(QStringLiteral("changed"));
        QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
        QVERIFY(!w->isVisible());
    });
    m_list->setCurrentSelection(1);
    editSavedNumber();
    QVERIFY(m_driven);
    QVERIFY(messageBoxSeam::shown().empty());
    QCOMPARE(fileBytes(), before);
    QCOMPARE(currentRecordIndex(), std::optional<std::int32_t>(1));
}

void TestSavedList::storeUnavailable_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");

    // Pop-up items run while another process holds a record of the file.
    // clang-format off
    QTest::newRow("add")        << 0 << q("添加失败！")     << q("添加失败");
    QTest::newRow("edit")       << 1 << q("编辑失败！")     << q("编辑失败");
    QTest::newRow("delete")     << 2 << q("删除失败！")     << q("删除失败");
    QTest::newRow("delete all") << 3 << q("全部删除失败！") << q("删除失败");
    // clang-format on
}

void TestSavedList::storeUnavailable()
{
    QFETCH(int, item);
    QFETCH(QString, text);
    QFETCH(QString, title);
    openWith(q("1|中通|a;2|申通|b"));
    const std::string before = fileBytes();
    LockHolder holder(storePath().toStdString(), 332, 1);
    QVERIFY(holder.ok());
    m_list->setCurrentSelection(0);
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);

    if (item == 0) {
        whenModal<AddNumberWindow>([](AddNumberWindow* w) {
            w->numberEdit()->setText(QStringLiteral("X1"));
            w->okButton()->click();
        });
    } else if (item == 1) {
        // The window opens empty instead of stopping the program; saving it fails.
        whenModal<EditNumberWindow>([](EditNumberWindow* w) {
            QVERIFY(w->numberEdit()->text().isEmpty());
            w->okButton()->click();
            QVERIFY(w->isVisible());
        });
    }
    runSavedListMenuItem(item);

    QCOMPARE(m_driven, item <= 1);
    const auto shown = messageBoxSeam::shown();
    QVERIFY(!shown.empty());
    QCOMPARE(shown.back().text, fromQString(text));
    QCOMPARE(shown.back().title, fromQString(title));
    QCOMPARE(shown.back().kind, 64);
    QCOMPARE(fileBytes(), before);
}

void TestSavedList::deleteNumber_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("result");

    // clang-format off
    QTest::newRow("ok")     << 0 << q("1|中通|a;3|EMS|c") << q("删除成功！");
    QTest::newRow("cancel") << 1 << q("1|中通|a;2|申通|b;3|EMS|c") << QString();
    // clang-format on
}

void TestSavedList::deleteNumber()
{
    QFETCH(int, answer);
    QFETCH(QString, after);
    QFETCH(QString, result);
    openWith(q("1|中通|a;2|申通|b;3|EMS|c"));
    clickRow(1);
    answerNext(answer);
    QTest::keyClick(m_list, Qt::Key_Delete);

    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(result.isEmpty() ? 1 : 2));
    QCOMPARE(shown[0].text, gbk("您确认删除单号吗？"));
    QCOMPARE(shown[0].title, gbk("删除提示"));
    QCOMPARE(shown[0].kind, 49);
    if (!result.isEmpty()) {
        QCOMPARE(shown[1].text, fromQString(result));
        QCOMPARE(shown[1].title, gbk("删除成功"));
        QCOMPARE(shown[1].kind, 64);
        QCOMPARE(editRecordNo, 2);
    }
    QCOMPARE(listed(), after);
    QCOMPARE(stored(), after);
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::deleteWithoutSelection()
{
    openWith(q("1|中通|a"));
    const std::string before = fileBytes();
    m_list->setCurrentSelection(-1);
    QTest::keyClick(m_list, Qt::Key_Delete);
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].text, gbk("请选择想要删除的单号"));
    QCOMPARE(shown[0].title, gbk("提示"));
    QCOMPARE(shown[0].kind, 48);
    QCOMPARE(fileBytes(), before);
    QCOMPARE(listed(), q("1|中通|a"));
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::deleteLastRecord()
{
    openWith(q("1|中通|a"));
    clickRow(0);
    emit m_window->savedListPopupChosen(2);
    QCOMPARE(listRowCount(*m_list), 0);
    QCOMPARE(fileBytes().size(), std::size_t(332));
    QCOMPARE(getInt32(fileBytes(), 16), 0);
    QCOMPARE(getInt32(fileBytes(), 20), 35); // serials keep growing
    QCOMPARE(messageBoxSeam::shown().back().text, gbk("删除成功！"));
}

void TestSavedList::deleteAllCancelThenNormalCommand()
{
    openWith(q("1|中通|a;2|申通|b"));
    const std::string before = fileBytes();
    answerNext(1);
    emit m_window->savedListPopupChosen(3);
    QCOMPARE(messageBoxSeam::shown().size(), std::size_t(1));
    QCOMPARE(messageBoxSeam::shown()[0].text, gbk("是否清空数据库？"));
    QCOMPARE(messageBoxSeam::shown()[0].title, gbk("全部删除提示"));
    QCOMPARE(messageBoxSeam::shown()[0].kind, 49);
    QCOMPARE(fileBytes(), before);
    QCOMPARE(listed(), q("1|中通|a;2|申通|b"));
    QCOMPARE(currentStorePath(), QFileInfo(storePath()).absoluteFilePath().toStdString());

    // The next command finds the store open and works on it as usual.
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    clickRow(1);
    QTest::keyClick(m_list, Qt::Key_Delete);
    QCOMPARE(messageBoxSeam::shown().back().text, gbk("删除成功！"));
    QCOMPARE(listed(), q("1|中通|a"));
    QCOMPARE(stored(), q("1|中通|a"));
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::deleteAll()
{
    openWith(q("1|中通|a;2|申通|b"));
    emit m_window->savedListPopupChosen(3);
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.size(), std::size_t(2));
    QCOMPARE(shown[1].text, gbk("已全部删除！"));
    QCOMPARE(shown[1].title, gbk("删除成功"));
    QCOMPARE(shown[1].kind, 64);
    QCOMPARE(listRowCount(*m_list), 0);
    QCOMPARE(fileBytes().size(), std::size_t(332));
    QVERIFY(currentStorePath().empty());
}

void TestSavedList::popupItems_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("firstBox");

    // With no row selected.
    // clang-format off
    QTest::newRow("编辑单号") << 1 << q("请选择想要编辑的单号");
    QTest::newRow("删除单号") << 2 << q("请选择想要删除的单号");
    QTest::newRow("全部删除") << 3 << q("是否清空数据库？");
    QTest::newRow("取消")     << 4 << QString();
    // clang-format on
}

void TestSavedList::popupItems()
{
    QFETCH(int, item);
    QFETCH(QString, firstBox);
    openWith(q("1|中通|a"));
    answerNext(1);
    // Through the menu itself: a right click pops it up, the item is chosen, the command runs
    // once the menu has closed.
    QTest::mouseClick(m_list->viewport(), Qt::RightButton, {}, QPoint(5, m_list->viewport()->height() - 5));
    QMenu* popup = m_window->savedListPopup();
    QVERIFY(popup);
    QTRY_VERIFY(popup->isVisible());
    m_list->setCurrentSelection(-1);
    popup->actions().at(item)->trigger();
    popup->close();
    QTest::qWait(50);
    const auto shown = messageBoxSeam::shown();
    QCOMPARE(shown.empty(), firstBox.isEmpty());
    if (!firstBox.isEmpty())
        QCOMPARE(shown[0].text, fromQString(firstBox));
    QCOMPARE(stored(), q("1|中通|a"));
}

void TestSavedList::clickLoadsNumber_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("ticked");

    // Before each click: 单号 holds OLD, 中通 (0) is ticked and 申通 (2) highlighted.
    // clang-format off
    QTest::newRow("FedEx")             << 0  << q("YT1")  << 16;
    QTest::newRow("天天")              << 1  << q("YT2")  << 1;
    QTest::newRow("empty courier")     << 2  << q("OLD")  << 0;
    QTest::newRow("unknown courier")   << 3  << q("OLD")  << 0;
    QTest::newRow("courier case")      << 4  << q("OLD")  << 0;
    QTest::newRow("below the rows")    << -1 << q("OLD")  << 0;
    // clang-format on
}

void TestSavedList::clickLoadsNumber()
{
    QFETCH(int, row);
    QFETCH(QString, number);
    QFETCH(int, ticked);
    openWith(q("YT1|FedEx|;YT2|天天|;YT3||;YT4|邮政|;YT5|fedex|"));
    m_number->setText(QStringLiteral("OLD"));
    m_carriers->setChecked(0, true);
    m_carriers->setCurrentSelection(2);

    if (row >= 0)
        clickRow(row);
    else
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {},
                          QPoint(5, m_list->viewport()->height() - 5));

    QCOMPARE(m_number->text(), number);
    for (int i = 0; i < carrierCount; ++i)
        QCOMPARE(m_carriers->isChecked(i), i == ticked);
    QCOMPARE(m_carriers->currentSelection(), ticked == 0 ? 2 : ticked);
    if (row >= 0)
        QCOMPARE(clickedCarrierName, listCellText(*m_list, row, 1));
    QCOMPARE(stored(), q("YT1|FedEx|;YT2|天天|;YT3||;YT4|邮政|;YT5|fedex|"));
}

QTEST_MAIN(TestSavedList)
#include "tst_saved_list.moc"
