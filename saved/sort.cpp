#include "saved/sort.h"

#include <QImage>
#include <algorithm>
#include <optional>
#include <string>

#include "app/globals.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
#include "platform/message_box.h"
#include "platform/report_list_view.h"
#include "platform/text_compare.h"
#include "saved/saved_list.h"
#include "saved/store.h"

namespace kuvona {
namespace {

struct SortKey
{
    std::string text;
    // Text mode compares each key many times; the collation key is prepared once.
    std::optional<LinguisticKey> linguistic;
};

// The keys of the running sort; the item value of row r is r, the index of its key here.
std::vector<SortKey> g_keys;

const SortKey& keyAt(std::intptr_t itemValue)
{
    if (itemValue < 0)
        fatalRuntimeError(4, gbk("数组成员引用下标必须大于等于1"));
    if (static_cast<std::size_t>(itemValue) >= g_keys.size())
        fatalRuntimeError(1, gbk("数组成员引用下标超出定义范围"));
    return g_keys[static_cast<std::size_t>(itemValue)];
}

// The keys of `texts` in the running sort's mode, as the item values 0, 1, ... name them.
void prepareKeys(const std::vector<std::string>& texts)
{
    const SortMode mode = sortState().sortMode;
    g_keys.assign(texts.size(), SortKey{});
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SortKey& key = g_keys[i];
        key.text = sortKeyOf(texts[i], mode);
        if (mode == SortMode::ByText)
            key.linguistic.emplace(key.text);
    }
}

int compareAscending(const std::string& k1, const std::string& k2, SortMode mode)
{
    switch (mode) {
    case SortMode::ByDateTime:
        return compareDateTimes(textToDateTime(k1), textToDateTime(k2));
    case SortMode::ByInteger:
    case SortMode::ByDecimal4:
        return compareIntegers(textToInteger(k1), textToInteger(k2));
    case SortMode::ByText:
        break;
    }
    return compareTextsLinguistic(k1, k2);
}

} // namespace

SortState& sortState()
{
    static SortState state;
    return state;
}

std::vector<QPixmap> sortArrowImages()
{
    // Each row: the grey pixels (first..last) and the white one, top row first.
    struct Row
    {
        int greyFirst, greyLast, white;
    };
    static constexpr Row up[7] = {{3, 3, 4}, {2, 2, 5}, {2, 2, 5}, {1, 1, 6},
                                  {1, 1, 6}, {0, 0, 7}, {0, 6, 7}};
    static constexpr Row down[7] = {{0, 6, 7}, {0, 0, 7}, {1, 1, 6}, {1, 1, 6},
                                    {2, 2, 5}, {2, 2, 5}, {3, 3, 4}};
    const QColor grey(127, 127, 127), white(255, 255, 255);
    std::vector<QPixmap> images;
    for (const Row* rows : {up, down}) {
        QImage image(8, 7, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        for (int y = 0; y < 7; ++y) {
            for (int x = rows[y].greyFirst; x <= rows[y].greyLast; ++x)
                image.setPixelColor(x, y, grey);
            image.setPixelColor(rows[y].white, y, white);
        }
        images.push_back(QPixmap::fromImage(image));
    }
    return images;
}

int compareSortKeyTexts(const std::string& key1, const std::string& key2, SortMode mode, bool ascending)
{
    return ascending ? compareAscending(key1, key2, mode) : compareAscending(key2, key1, mode);
}

int compareSortKeys(std::intptr_t itemValue1, std::intptr_t itemValue2, std::intptr_t /*sortParameter*/)
{
    const SortState& state = sortState();
    const SortKey& k1 = keyAt(itemValue1);
    const SortKey& k2 = keyAt(itemValue2);
    const bool ascending = state.sortAscending != 0;
    if (state.sortMode == SortMode::ByText && k1.linguistic && k2.linguistic)
        return ascending ? k1.linguistic->compare(*k2.linguistic) : k2.linguistic->compare(*k1.linguistic);
    return compareSortKeyTexts(k1.text, k2.text, state.sortMode, ascending);
}

void sortListByColumn(ReportListView& list, std::int32_t column, std::int32_t mode, bool fitColumns)
{
    SortState& state = sortState();
    g_keys.clear();
    state.sortList = &list;
    // The header gets its images anew on every sort.
    list.listModel()->setHeaderImages({});
    list.listModel()->setHeaderImages(sortArrowImages());
    state.sortAscending = (state.sortAscending & 1) ^ 1;
    state.sortColumn = column;
    state.sortMode = sortModeOf(mode);
    const int rows = listRowCount(list);
    if (rows > 0) {
        std::vector<std::string> texts;
        texts.reserve(static_cast<std::size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            texts.push_back(listCellText(list, r, state.sortColumn));
            listSetItemValue(list, r, r);
        }
        prepareKeys(texts);
        listSortItems(list, [](std::int32_t a, std::int32_t b) { return compareSortKeys(a, b, 0); });
        updateSortArrows(column);
    }
    if (fitColumns)
        autosizeColumns();
    g_keys.clear();
    g_keys.shrink_to_fit();
}

std::vector<std::size_t> sortedOrder(const std::vector<std::string>& texts)
{
    prepareKeys(texts);
    std::vector<std::size_t> order(texts.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        return compareSortKeys(static_cast<std::intptr_t>(a), static_cast<std::intptr_t>(b), 0) < 0;
    });
    g_keys.clear();
    g_keys.shrink_to_fit();
    return order;
}

void updateSortArrows(std::int32_t column)
{
    SortState& state = sortState();
    if (!state.sortList)
        return;
    ReportListView& list = *state.sortList;
    if (column == state.arrowColumn) {
        listSetColumnImage(list, column, listColumnImage(list, column) == 0 ? 1 : 0);
        return;
    }
    listSetColumnImage(list, column, listColumnImage(list, state.arrowColumn) == 0 ? 0 : 1);
    listSetColumnImage(list, state.arrowColumn, -1);
    state.arrowColumn = column;
}

void autosizeColumns()
{
    SortState& state = sortState();
    if (!state.sortList)
        return;
    for (int c = 0; c < listColumnCount(*state.sortList); ++c)
        listSetColumnWidth(*state.sortList, c, -2);
}

void onSavedListColumnClick(std::int32_t column)
{
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    sortListByColumn(*list, column, static_cast<std::int32_t>(SortMode::ByText), false);
    const std::optional<SavedRow> selected = savedRowAt(listCurrentSelection(*list));
    // The records are sorted as they are in the file now, not as the list showed them: a record
    // another instance saved meanwhile is kept, one it deleted stays deleted. Whole records move,
    // so each keeps its serial and any bytes behind its texts.
    openStore(savedStorePath());
    const SavedChange result =
        changeSavedRecords([&](std::vector<StoredRecord>& records, const SavedFields& f) {
            const std::size_t field = column == 0 ? f.number : column == 1 ? f.company : f.remark;
            std::vector<std::string> texts;
            texts.reserve(records.size());
            for (const StoredRecord& r : records)
                texts.push_back(r.texts[field]);
            const std::vector<std::size_t> order = sortedOrder(texts);
            std::vector<StoredRecord> sorted;
            sorted.reserve(records.size());
            for (std::size_t i : order)
                sorted.push_back(std::move(records[i]));
            return replaceAllRecords(sorted) ? SavedChange::Done : SavedChange::Failed;
        });
    if (result != SavedChange::Done) {
        // The list keeps the order the user asked for; the file keeps its own.
        closeStore();
        messageBox(gbk("保存排序失败！"), gbk("提示"), BoxWarningOk);
        return;
    }
    reloadSavedList();
    if (selected)
        listSetCurrentSelection(*list, savedRowOfSerial(selected->serial));
}

} // namespace kuvona
