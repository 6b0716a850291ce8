#include "settings/carrier_select_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "common/gbk.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/ui_text.h"
#include "settings/ini.h"

namespace kuvona {
namespace {

QString q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The grid as it stands in the window: six rows of four.
const char* const grid[6][4] = {
    {"中通", "天天", "申通", "速尔"},   {"圆通", "顺丰", "韵达", "EMS"},
    {"汇通", "宅急送", "中诚", "快捷"}, {"亚风", "德邦", "新邦", "中铁"},
    {"星辰", "DHL", "TNT", "飞康达"},   {"中邮物流", "广东邮政", "联邦国际", "联邦国内"},
};

const char* const settingsSection = "Set";

} // namespace

const std::array<const char*, 24> CarrierSelectWindow::readOrder = {
    "中通", "天天",   "申通",     "速尔", "汇通", "圆通",     "顺丰",     "快捷",
    "亚风", "飞康达", "韵达",     "德邦", "新邦", "中诚",     "宅急送",   "EMS",
    "DHL",  "TNT",    "中邮物流", "中铁", "星辰", "联邦国际", "联邦国内", "广东邮政"};

const std::array<const char*, 24> CarrierSelectWindow::writeOrder = {
    "中通", "天天", "圆通",   "顺丰",   "速尔",     "汇通",     "中铁",     "申通",
    "快捷", "亚风", "中诚",   "韵达",   "德邦",     "新邦",     "星辰",     "EMS",
    "DHL",  "TNT",  "飞康达", "宅急送", "中邮物流", "广东邮政", "联邦国际", "联邦国内"};

CarrierSelectWindow::CarrierSelectWindow(const std::string& settingsFile, QWidget* parent)
    : QDialog(parent), m_settingsFile(settingsFile)
{
    setObjectName(q("CarrierSelectWindow"));
    setWindowTitle(q("选择快递公司"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Client area of a 334 x 259 frame placed at 50, 50.
    setFixedSize(326, 225);
    move(50, 50);

    auto* label = new QLabel(q("选择好快递公司后点击确定"), this);
    label->setObjectName(q("标签1"));
    label->setGeometry(8, 8, 184, 24);
    label->setAccessibleName(label->text());

    for (int row = 0; row < 6; ++row) {
        for (int column = 0; column < 4; ++column) {
            const QString name = q(grid[row][column]);
            auto* box = new QCheckBox(name, this);
            box->setObjectName(name);
            box->setAccessibleName(name);
            box->setGeometry(8 + 80 * column, 32 + 24 * row, 80, 24);
        }
    }

    // Neither button is the default: Enter on a check box must not store the ticks.
    auto* ok = new QPushButton(q("确定"), this);
    ok->setObjectName(q("按钮1"));
    ok->setAccessibleName(ok->text());
    ok->setGeometry(152, 192, 80, 28);
    ok->setAutoDefault(false);
    auto* cancel = new QPushButton(q("取消"), this);
    cancel->setObjectName(q("按钮2"));
    cancel->setAccessibleName(cancel->text());
    cancel->setGeometry(240, 192, 80, 28);
    cancel->setAutoDefault(false);

    connect(ok, &QPushButton::clicked, this, [this] { onOkClicked(); });
    // Closing writes nothing: ticks changed since the last "确定" are dropped.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    onCreated();
}

QCheckBox* CarrierSelectWindow::checkBox(const char* utf8Name) const
{
    return findChild<QCheckBox*>(q(utf8Name), Qt::FindDirectChildrenOnly);
}

void CarrierSelectWindow::onCreated()
{
    // Each key is read from the file afresh; a missing file, section or key, or any value but
    // exactly "真", leaves the box unticked.
    const std::string ticked = gbk("真");
    for (const char* name : readOrder) {
        const std::string value = readIniValue(m_settingsFile, settingsSection, gbk(name));
        if (QCheckBox* box = checkBox(name))
            box->setChecked(value == ticked);
    }
}

void CarrierSelectWindow::onOkClicked()
{
    const std::string ticked = gbk("真");
    const std::string unticked = gbk("假");
    for (const char* name : writeOrder) {
        const QCheckBox* box = checkBox(name);
        // A failed write is not reported; the message below is shown all the same.
        writeIniValue(m_settingsFile, settingsSection, gbk(name),
                      box && box->isChecked() ? ticked : unticked);
    }
    messageBox(gbk("修改成功！"), {}, BoxOk);
}

std::string carrierSettingsFile()
{
    return programFile("set.ini");
}

void showCarrierSelectWindow(QWidget* parent)
{
    CarrierSelectWindow window(carrierSettingsFile(), parent);
    window.exec();
}

} // namespace kuvona
