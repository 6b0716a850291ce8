#include "saved/saved_list.h"

#include <QString>
#include <algorithm>

#include "app/globals.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"

namespace kuvona {
namespace {

constexpr std::int32_t kTextField = 10;

// The fields the list shows; a store that has them in another form is not one this program writes,
// and the program stops as a read of such a field would stop it.
SavedFields shownFields()
{
    if (const auto fields = savedFields())
        return *fields;
    for (const char* name : {"单号", "公司", "备注"})
        readSavedTextField(name);
    fatalRuntimeError(5, gbk("数据或数组类型不匹配"));
}

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

bool openSavedStore()
{
    return openStore(savedStorePath(), kStoreLockWaitMs);
}

void reloadSavedList()
{
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    openSavedStore();
    bool ok = false;
    std::vector<StoredRecord> records = readAllRecords(&ok);
    if (!ok && !currentStorePath().empty()) {
        // The file is there but could not be read in time (another instance held it): the rows stay
        // as they were rather than vanish. They name their records, so no command acts on a wrong one.
        closeStore();
        return;
    }
    std::vector<std::vector<QString>> rows;
    std::vector<std::int32_t> serials;
    if (!records.empty()) {
        const SavedFields f = shownFields();
        rows.reserve(records.size());
        serials.reserve(records.size());
        for (const StoredRecord& r : records) {
            rows.push_back(
                {toQString(r.texts[f.number]), toQString(r.texts[f.company]), toQString(r.texts[f.remark])});
            serials.push_back(r.serial);
        }
    }
    list->listModel()->resetRows(std::move(rows), serials);
    closeStore();
}

void initSavedList()
{
    // A failed creation leaves an empty list; the program goes on without saved numbers.
    const bool present = createStoreIfMissing(savedStorePath());
    reloadSavedList();
    // A file that is there but refused (damaged, not a store, or held by another program past the
    // wait) would otherwise look like an empty list, and every save would fail without a reason.
    if (present && !openSavedStore()) {
        messageBox(gbk("无法读取单号文件 Danhao.edb（文件已损坏或正被其他程序占用），程序没有改动它。"),
                   gbk("提示"), BoxWarningOk);
        return;
    }
    closeStore();
}

std::optional<SavedRow> savedRowAt(int row)
{
    const ReportListView* list = mainControls().savedList;
    if (!list || row < 0 || row >= listRowCount(*list))
        return std::nullopt;
    return SavedRow{list->listModel()->tag(row), listCellText(*list, row, 0)};
}

int savedRowOfSerial(std::int32_t serial)
{
    const ReportListView* list = mainControls().savedList;
    if (!list)
        return -1;
    for (int r = 0; r < listRowCount(*list); ++r)
        if (list->listModel()->tag(r) == serial)
            return r;
    return -1;
}

std::optional<SavedFields> savedFields()
{
    SavedFields f;
    std::size_t* const places[] = {&f.number, &f.company, &f.remark};
    const char* const names[] = {"单号", "公司", "备注"};
    for (int i = 0; i < 3; ++i) {
        const std::string name = gbk(names[i]);
        const auto at = fieldIndex(name);
        if (!at || fieldType(name) != kTextField)
            return std::nullopt;
        *places[i] = *at;
    }
    return f;
}

std::vector<std::string> savedValues(const SavedFields& fields, const std::string& number,
                                     const std::string& company, const std::string& remark)
{
    std::vector<std::string> values(std::max({fields.number, fields.company, fields.remark}) + 1);
    values[fields.number] = number;
    values[fields.company] = company;
    values[fields.remark] = remark;
    return values;
}

std::ptrdiff_t findSavedRecord(const std::vector<StoredRecord>& records, const SavedFields& fields,
                               const SavedRow& row)
{
    const auto at = std::find_if(records.begin(), records.end(), [&](const StoredRecord& r) {
        return r.serial == row.serial && r.texts[fields.number] == row.number;
    });
    return at == records.end() ? -1 : at - records.begin();
}

SavedChange changeSavedRecords(
    const std::function<SavedChange(std::vector<StoredRecord>& records, const SavedFields& fields)>& change)
{
    const StoreChange scope;
    const auto fields = savedFields();
    if (!scope.ok() || !fields)
        return SavedChange::Failed;
    bool ok = false;
    std::vector<StoredRecord> records = readAllRecords(&ok);
    if (!ok)
        return SavedChange::Failed;
    return change(records, *fields);
}

void reportSavedListOutOfDate()
{
    reloadSavedList();
    messageBox(gbk("单号列表已被另一个窗口更改，已重新载入，请重试。"), gbk("提示"), BoxWarningOk);
}

} // namespace kuvona
