#include "saved/sort.h"

#include <QImage>
#include <optional>
#include <string>

#include "app/globals.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
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
    g_keys.resize(static_cast<std::size_t>(rows));
    if (rows > 0) {
        for (int r = 0; r < rows; ++r) {
            SortKey& key = g_keys[static_cast<std::size_t>(r)];
            key.text = sortKeyOf(listCellText(list, r, state.sortColumn), state.sortMode);
            if (state.sortMode == SortMode::ByText)
                key.linguistic.emplace(key.text);
            listSetItemValue(list, r, r);
        }
        listSortItems(list, [](std::int32_t a, std::int32_t b) { return compareSortKeys(a, b, 0); });
        updateSortArrows(column);
    }
    if (fitColumns)
        autosizeColumns();
    g_keys.clear();
    g_keys.shrink_to_fit();
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
    // Row i - 1 stands for record i, so the records are rewritten in place in the new order.
    openStore(savedStorePath());
    const int rows = listRowCount(*list);
    for (int i = 1; i <= rows; ++i) {
        goToRecord(i);
        writeField(gbk("单号"), listCellText(*list, i - 1, 0));
        writeField(gbk("公司"), listCellText(*list, i - 1, 1));
        writeField(gbk("备注"), listCellText(*list, i - 1, 2));
    }
    closeStore();
}

} // namespace kuvona
