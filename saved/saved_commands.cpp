#include "saved/saved_commands.h"

#include <QLineEdit>
#include <QListWidgetItem>
#include <string>

#include "app/globals.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "query/query_command.h"
#include "saved/number_windows.h"
#include "saved/saved_list.h"
#include "saved/store.h"

namespace kuvona {
namespace {

std::string highlightedCarrierName(const CheckListBox& carriers)
{
    const QListWidgetItem* item = carriers.item(carriers.currentSelection());
    return item ? fromQString(item->text()) : std::string();
}

} // namespace

void autoSaveNumber()
{
    const MainControls& c = mainControls();
    if (!c.savedList || !c.number || !c.carriers)
        return;
    const std::string number = fromQString(c.number->text());
    if (listFindRowByPrefix(*c.savedList, number) >= 0)
        return;
    openStore(savedStorePath());
    // Without the new record the writes would land on whatever record is current and overwrite a
    // saved number.
    if (appendBlankRecord()) {
        writeField(gbk("单号"), trimBlanks(number));
        writeField(gbk("公司"), highlightedCarrierName(*c.carriers));
    }
    reloadSavedList();
    listSetColumnWidth(*c.savedList, 2, 120);
    listSetColumnWidth(*c.savedList, 1, 60);
}

void deleteSavedNumber()
{
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    const int row = listCurrentSelection(*list);
    if (row < 0) {
        // Nothing was chosen, so there is nothing to confirm or to delete.
        messageBox(gbk("请选择想要删除的单号"), gbk("提示"), BoxWarningOk);
        return;
    }
    if (messageBox(gbk("您确认删除单号吗？"), gbk("删除提示"), BoxWarningOkCancel) != 0)
        return;
    openStore(savedStorePath());
    editRecordNo = row + 1;
    // goToRecord clamps to the last record: a file that lost records behind the list's back must
    // not cost the user a different number than the one selected.
    const bool marked =
        goToRecord(editRecordNo) && currentRecordIndex() == editRecordNo - 1 && deleteRecord();
    if (marked && purgeDeleted()) {
        reloadSavedList();
        messageBox(gbk("删除成功！"), gbk("删除成功"), BoxInfoOk);
    } else {
        messageBox(gbk("删除失败！"), gbk("删除失败"), BoxInfoOk);
    }
}

void deleteAllSavedNumbers()
{
    openStore(savedStorePath());
    if (messageBox(gbk("是否清空数据库？"), gbk("全部删除提示"), BoxWarningOkCancel) != 0)
        return;
    if (clearStore())
        messageBox(gbk("已全部删除！"), gbk("删除成功"), BoxInfoOk);
    else
        messageBox(gbk("全部删除失败！"), gbk("删除失败"), BoxInfoOk);
    reloadSavedList();
}

void editSavedNumber()
{
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    const int row = listCurrentSelection(*list);
    if (row < 0) {
        messageBox(gbk("请选择想要编辑的单号"), gbk("提示"), BoxWarningOk);
        return;
    }
    editRecordNo = row + 1;
    showEditNumberWindow();
}

void onSavedListClick()
{
    const MainControls& c = mainControls();
    if (!c.savedList || !c.number)
        return;
    const int row = listCurrentSelection(*c.savedList);
    clickedCarrierName = listCellText(*c.savedList, row, 1);
    if (selectCarrierByName(clickedCarrierName))
        c.number->setText(toQString(listCellText(*c.savedList, row, 0)));
}

void onSavedListKeyDown(int virtualKey, int /*modifiers*/)
{
    constexpr int kDeleteKey = 46;
    if (virtualKey == kDeleteKey)
        deleteSavedNumber();
}

void onSavedListDoubleClick()
{
    editSavedNumber();
}

void runSavedListMenuItem(int item)
{
    switch (item) {
    case 0:
        showAddNumberWindow();
        break;
    case 1:
        editSavedNumber();
        break;
    case 2:
        deleteSavedNumber();
        break;
    case 3:
        deleteAllSavedNumbers();
        break;
    default:
        break; // 取消 only closes the menu
    }
}

} // namespace kuvona
