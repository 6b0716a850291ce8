#include "saved/saved_list.h"

#include <QString>
#include <vector>

#include "app/globals.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "saved/store.h"

namespace kuvona {
namespace {

constexpr std::int32_t kTextField = 10;

} // namespace

// A field that is not a text cannot be shown in a cell: the store is not the one this program
// writes, and going on would show garbage.
std::string readSavedTextField(const char* utf8Name)
{
    const std::string name = gbk(utf8Name);
    if (fieldType(name) != kTextField && fieldType(name) != 0)
        fatalRuntimeError(5, gbk("数据或数组类型不匹配"));
    return readField(name);
}

std::string savedStorePath()
{
    return programFile("Danhao.edb");
}

void reloadSavedList()
{
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    list->listModel()->removeAllRows();
    openStore(savedStorePath());
    goToFirstRecord();
    const std::int32_t count = recordCount();
    // Rows are collected first and handed to the list at once: appending them one by one costs the
    // list a layout pass per row, which a long list feels.
    std::vector<std::vector<QString>> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::vector<QString> cells(3);
        cells[0] = toQString(readSavedTextField("单号"));
        cells[1] = toQString(readSavedTextField("公司"));
        cells[2] = toQString(readSavedTextField("备注"));
        rows.push_back(std::move(cells));
        skipRecord(1);
    }
    list->listModel()->resetRows(std::move(rows));
    closeStore();
}

void initSavedList()
{
    // A failed creation leaves an empty list; the program goes on without saved numbers.
    createStoreIfMissing(savedStorePath());
    reloadSavedList();
}

} // namespace kuvona
