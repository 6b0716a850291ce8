#pragma once

// The column sort of a report list: a click on a header sorts the rows by that column's text,
// ascending and descending by turns, and marks the header with an arrow. The saved list then
// sorts the records of Danhao.edb the same way.

#include <QPixmap>
#include <QPointer>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "saved/sort_keys.h"

namespace kuvona {

class ReportListView;

// One for the whole process, shared by every sort of every list; all zero at start.
struct SortState
{
    QPointer<ReportListView> sortList; // the list of the running sort
    std::int32_t sortAscending = 0;    // flipped at the start of every sort, so the first one ascends
    std::int32_t sortColumn = 0;
    SortMode sortMode{};
    std::int32_t arrowColumn = 0; // the column that received the last arrow
};
SortState& sortState();

// The header images, 8 x 7 with transparency: 0 a triangle outline pointing up, 1 pointing down.
// A fresh copy on each call.
std::vector<QPixmap> sortArrowImages();

// Sorts the rows of `list` by the text of `column` in `mode` (outside 1..4: ByText), in the direction
// that the flip of sortAscending gives, and marks the header. With `fitColumns` every column is then
// fitted to its content.
void sortListByColumn(ReportListView& list, std::int32_t column, std::int32_t mode, bool fitColumns);

// The comparison the list's sort calls while sortListByColumn runs: the item values of two rows
// name their keys. Negative when the first row goes first, positive when it goes after, 0 when they
// are equal, in the running sort's mode and direction. `sortParameter` is not read.
int compareSortKeys(std::intptr_t itemValue1, std::intptr_t itemValue2, std::intptr_t sortParameter);

// The order (indexes into `texts`) the running sort's mode and direction give cell texts, equal ones
// keeping theirs: the comparison sortListByColumn applies to the rows, for texts that are not in a list.
std::vector<std::size_t> sortedOrder(const std::vector<std::string>& texts);

// The same comparison on two key texts, for a mode and direction given explicitly.
int compareSortKeyTexts(const std::string& key1, const std::string& key2, SortMode mode, bool ascending);

// After a sort of sortList: flips the arrow of a column sorted again, or moves the last arrow's image
// to a newly sorted column (image 0 stays 0, anything else becomes 1).
void updateSortArrows(std::int32_t column);

// Fits every column of sortList to its content and title.
void autosizeColumns();

// Header click on 超级列表框1: sorts the list by the column as text, then sorts the records of
// Danhao.edb, as they are in the file at that moment, the same way (whole records, serials kept) and
// reloads the list, the selection staying on its record. A failure to save the order is reported.
void onSavedListColumnClick(std::int32_t column);

} // namespace kuvona
