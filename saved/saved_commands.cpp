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
    // One whole record in one write: another instance saving at the same moment waits for it instead
    // of the two writing into one record.
    const auto fields = savedFields();
    const bool saved = fields && appendRecord(savedValues(*fields, trimBlanks(number),
                                                          highlightedCarrierName(*c.carriers), {}));
    reloadSavedList();
    listSetColumnWidth(*c.savedList, 2, 120);
    listSetColumnWidth(*c.savedList, 1, 60);
    if (!saved)
        messageBox(gbk("单号保存失败！"), gbk("提示"), BoxWarningOk);
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
    // The record the user confirms is the one the row shows now, even if the list is reloaded while
    // the question is open.
    const std::optional<SavedRow> shown = savedRowAt(row);
    if (messageBox(gbk("您确认删除单号吗？"), gbk("删除提示"), BoxWarningOkCancel) != 0)
        return;
    openStore(savedStorePath());
    editRecordNo = row + 1;
    const SavedChange result =
        changeSavedRecords([&](std::vector<StoredRecord>& records, const SavedFields& f) {
            const std::ptrdiff_t at = shown ? findSavedRecord(records, f, *shown) : -1;
            if (at < 0)
                return SavedChange::Stale;
            records.erase(records.begin() + at);
            // Records marked by an older deletion go with it, as a purge takes them.
            std::erase_if(records, [](const StoredRecord& r) { return r.serial < 0; });
            return replaceAllRecords(records) ? SavedChange::Done : SavedChange::Failed;
        });
    if (result == SavedChange::Stale) {
        reportSavedListOutOfDate();
    } else if (result == SavedChange::Done) {
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
    bool cleared = false;
    {
        // Waits for another instance's change instead of failing at once.
        const StoreChange scope;
        cleared = scope.ok() && clearStore();
    }
    if (cleared)
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
