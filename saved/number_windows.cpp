#include "saved/number_windows.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

#include "app/globals.h"
#include "common/gbk.h"
#include "common/text.h"
#include "platform/message_box.h"
#include "platform/ui_text.h"
#include "saved/saved_list.h"
#include "saved/store.h"

namespace kuvona {
namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

int gbkLength(const QString& text)
{
    return static_cast<int>(fromQString(text).size());
}

// The store and the saved list keep line breaks as CR LF, the edit box as LF.
QString remarkForBox(const std::string& stored)
{
    return toQString(stored).replace(q("\r\n"), q("\n"));
}

std::string remarkForStore(const QString& typed)
{
    QString text = typed;
    return fromQString(text.replace(q("\n"), q("\r\n")));
}

} // namespace

ByteLimitValidator::ByteLimitValidator(int maxBytes, QObject* parent)
    : QValidator(parent), m_maxBytes(maxBytes)
{}

QValidator::State ByteLimitValidator::validate(QString& input, int& pos) const
{
    // The insertion ends at the cursor: dropping characters just before it cuts the inserted text,
    // never the text that was there.
    while (gbkLength(input) > m_maxBytes && pos > 0) {
        int width = 1;
        if (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate())
            width = 2;
        input.remove(pos - width, width);
        pos -= width;
    }
    return gbkLength(input) > m_maxBytes ? Invalid : Acceptable;
}

const QStringList& addWindowCarrierNames()
{
    static const QStringList names = {
        q("中通"), q("申通"),  q("韵达"),   q("汇通"), q("圆通"), q("顺丰"), q("京东"),
        q("EMS"),  q("全峰"),  q("宅急送"), q("德邦"), q("程光"), q("DHL"),  q("UPS"),
        q("USPS"), q("FedEx"), q("TNT"),    q("优速"), q("国通"), q("快捷"),
    };
    return names;
}

QStringList editWindowCarrierNames()
{
    return addWindowCarrierNames().mid(0, 17);
}

NumberWindow::NumberWindow(QWidget* parent, const QString& caption, const QStringList& carriers,
                           int carrierLeft, const QString& okName, const QString& okText)
    : QDialog(parent)
{
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Client area of a 277 x 166 frame.
    setFixedSize(269, 132);

    m_number = new QLineEdit(this);
    m_number->setObjectName(q("编辑框_单号"));
    m_number->setGeometry(7, 8, 152, 25);
    m_number->setAlignment(Qt::AlignCenter);
    m_number->setValidator(new ByteLimitValidator(kNumberByteLimit, m_number));
    m_number->setAccessibleName(q("单号"));

    m_carriers = new QComboBox(this);
    m_carriers->setObjectName(q("组合框1"));
    m_carriers->setGeometry(carrierLeft, 8, 88, 20);
    m_carriers->setEditable(false);
    m_carriers->addItems(carriers);
    m_carriers->setCurrentIndex(0);
    m_carriers->setMaxVisibleItems(carriers.size());
    m_carriers->setAccessibleName(q("公司"));

    m_remark = new QPlainTextEdit(this);
    m_remark->setObjectName(q("编辑框_备注"));
    m_remark->setGeometry(7, 40, 256, 56);
    m_remark->setTabChangesFocus(true);
    m_remark->setAccessibleName(q("备注"));

    m_ok = new QPushButton(okText, this);
    m_ok->setObjectName(okName);
    m_ok->setGeometry(132, 104, 64, 24);
    m_ok->setDefault(true);

    m_cancel = new QPushButton(q("取消(&C)"), this);
    m_cancel->setObjectName(q("取消单号保存"));
    m_cancel->setGeometry(200, 104, 64, 24);

    setTabOrder(m_number, m_carriers);
    setTabOrder(m_carriers, m_remark);
    setTabOrder(m_remark, m_ok);
    setTabOrder(m_ok, m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_number->setFocus();
}

void NumberWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Without a window manager nothing else would make the new window the active one.
    activateWindow();
}

AddNumberWindow::AddNumberWindow(QWidget* parent)
    : NumberWindow(parent, q("添加快递单号"), addWindowCarrierNames(), 176, q("添加按钮"), q("添加(&A)"))
{
    setObjectName(q("AddNumberWindow"));
    m_remark->setPlainText(q("备注"));
    connect(m_ok, &QPushButton::clicked, this, &AddNumberWindow::addSavedNumber);
}

void AddNumberWindow::addSavedNumber()
{
    const std::string typed = fromQString(m_number->text());
    if (typed.empty()) {
        messageBox(gbk("请输入单号！"), gbk("提示"), BoxWarningOk);
        m_number->setFocus();
        return;
    }
    openStore(savedStorePath());
    // One whole record in one write, so that another instance's save cannot land in it.
    const auto fields = savedFields();
    const bool ok =
        fields && appendRecord(savedValues(*fields, trimBlanks(typed), fromQString(m_carriers->currentText()),
                                           remarkForStore(m_remark->toPlainText())));
    if (ok)
        messageBox(gbk("添加成功！"), gbk("添加成功"), BoxInfoOk);
    else
        messageBox(gbk("添加失败！"), gbk("添加失败"), BoxInfoOk);
    m_number->clear();
    m_remark->clear();
    m_number->setFocus();
    reloadSavedList();
    closeStore();
}

EditNumberWindow::EditNumberWindow(QWidget* parent)
    : NumberWindow(parent, q("编辑快递单号"), editWindowCarrierNames(), 175, q("编辑按钮"), q("编辑(&E)"))
{
    setObjectName(q("EditNumberWindow"));
    connect(m_ok, &QPushButton::clicked, this, &EditNumberWindow::saveEditedNumber);
    fillEditNumberWindow();
}

void EditNumberWindow::fillEditNumberWindow()
{
    // The row editRecordNo - 1 names the record by its serial: the file may have changed since the
    // list was read.
    m_shown = savedRowAt(editRecordNo - 1);
    // Left open: the save writes the record chosen here.
    openStore(savedStorePath());
    bool ok = false;
    const std::vector<StoredRecord> records = readAllRecords(&ok);
    const auto fields = savedFields();
    const std::ptrdiff_t at = m_shown && fields ? findSavedRecord(records, *fields, *m_shown) : -1;
    if (at < 0)
        return; // nothing to read: the boxes stay empty and the save reports it
    goToRecord(static_cast<std::int32_t>(at) + 1);
    const StoredRecord& record = records[static_cast<std::size_t>(at)];
    m_number->setText(toQString(record.texts[fields->number]));
    m_remark->setPlainText(remarkForBox(record.texts[fields->remark]));
    const std::string carrier = record.texts[fields->company];
    const QString stored = toQString(carrier);
    int match = -1;
    for (int i = 0; i < m_carriers->count() && match < 0 && !carrier.empty(); ++i) {
        const std::string item = fromQString(m_carriers->itemText(i));
        if (item.size() >= carrier.size() && equalIgnoringAsciiCase(item.substr(0, carrier.size()), carrier))
            match = i;
    }
    if (match >= 0 && m_carriers->itemText(match) == stored) {
        m_carriers->setCurrentIndex(match);
        return;
    }
    // A courier the list lacks (天天, one only the add window offers, none at all) is offered as it
    // is, so that saving without touching the box keeps it instead of turning it into 中通.
    m_carriers->addItem(stored);
    m_carriers->setCurrentIndex(m_carriers->count() - 1);
}

void EditNumberWindow::saveEditedNumber()
{
    const std::string number = fromQString(m_number->text());
    const std::string company = fromQString(m_carriers->currentText());
    const std::string remark = remarkForStore(m_remark->toPlainText());
    // Checked again under the lock: another instance may have deleted or changed the record while
    // the window was open. The store is the one the window opened; without it the save fails.
    const SavedChange result =
        currentStorePath().empty()
            ? SavedChange::Failed
            : changeSavedRecords([&](std::vector<StoredRecord>& records, const SavedFields& f) {
                  const std::ptrdiff_t at = m_shown ? findSavedRecord(records, f, *m_shown) : -1;
                  if (at < 0)
                      return SavedChange::Stale;
                  return goToRecord(static_cast<std::int32_t>(at) + 1) &&
                                 modifyRecord(savedValues(f, number, company, remark))
                             ? SavedChange::Done
                             : SavedChange::Failed;
              });
    if (result == SavedChange::Stale) {
        reject();
        reportSavedListOutOfDate();
        return;
    }
    if (result == SavedChange::Done) {
        accept();
        messageBox(gbk("编辑成功！"), gbk("编辑成功"), BoxInfoOk);
    } else {
        messageBox(gbk("编辑失败！"), gbk("编辑失败"), BoxInfoOk);
    }
    reloadSavedList();
}

void showAddNumberWindow()
{
    AddNumberWindow window(mainControls().window);
    window.exec();
}

void showEditNumberWindow()
{
    EditNumberWindow window(mainControls().window);
    window.exec();
}

} // namespace kuvona
