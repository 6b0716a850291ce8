#pragma once

// The operations the commands use on the report lists (the progress list and the saved list),
// with GBK texts. Rows and columns are 0-based; column 0 holds the row's label.

#include <cstdint>
#include <functional>
#include <string>

namespace kuvona {

class ReportListView;

void listRemoveAllRows(ReportListView& list);
// Inserts a row after the last one; gives its index (the former row count).
int listAppendRow(ReportListView& list, const std::string& label);
void listDeleteRow(ReportListView& list, int row);
int listRowCount(const ReportListView& list);
// The empty text for a row or column that does not exist.
std::string listCellText(const ReportListView& list, int row, int column);
// Nothing for a row that does not exist.
void listSetCellText(ReportListView& list, int row, int column, const std::string& text);
std::int32_t listItemValue(const ReportListView& list, int row);
void listSetItemValue(ReportListView& list, int row, std::int32_t value);
void listMakeRowVisible(ReportListView& list, int row);
// -2 fits the column to its content and title.
void listSetColumnWidth(ReportListView& list, int column, int width);
int listColumnCount(const ReportListView& list);
int listColumnImage(const ReportListView& list, int column);
void listSetColumnImage(ReportListView& list, int column, int image);
int listCurrentSelection(const ReportListView& list);
void listSetCurrentSelection(ReportListView& list, int row);
// Reorders the rows by `compare` on their item values (negative: the first row goes before the
// second); cell texts and item values move with their rows.
void listSortItems(ReportListView& list, const std::function<int(std::int32_t, std::int32_t)>& compare);
// The row under a point in the list's own coordinates, or -1.
int listHitTestRow(const ReportListView& list, int x, int y);
// 0 the normal pointer, 8 the four-headed move arrow.
void listSetMousePointer(ReportListView& list, int pointer);
// The first row from `startRow` whose label begins with `text`, ignoring ASCII case; -1 if none.
int listFindRowByPrefix(const ReportListView& list, const std::string& text, int startRow = 0);

} // namespace kuvona
