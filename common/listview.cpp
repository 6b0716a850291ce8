#include "common/listview.h"

#include "common/text.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"

namespace kuvona {

void listRemoveAllRows(ReportListView& list)
{
    list.listModel()->removeAllRows();
}

int listAppendRow(ReportListView& list, const std::string& label)
{
    return list.listModel()->appendRow(toQString(label));
}

void listDeleteRow(ReportListView& list, int row)
{
    list.listModel()->removeRowAt(row);
}

int listRowCount(const ReportListView& list)
{
    return list.listModel()->rowCount();
}

std::string listCellText(const ReportListView& list, int row, int column)
{
    return fromQString(list.listModel()->cell(row, column));
}

void listSetCellText(ReportListView& list, int row, int column, const std::string& text)
{
    list.listModel()->setCell(row, column, toQString(text));
}

std::int32_t listItemValue(const ReportListView& list, int row)
{
    return list.listModel()->value(row);
}

void listSetItemValue(ReportListView& list, int row, std::int32_t value)
{
    list.listModel()->setValue(row, value);
}

void listMakeRowVisible(ReportListView& list, int row)
{
    list.makeRowVisible(row);
}

void listSetColumnWidth(ReportListView& list, int column, int width)
{
    list.setColumnWidth(column, width);
}

int listColumnCount(const ReportListView& list)
{
    return list.listModel()->columnCount();
}

int listColumnImage(const ReportListView& list, int column)
{
    return list.listModel()->columnImage(column);
}

void listSetColumnImage(ReportListView& list, int column, int image)
{
    list.listModel()->setColumnImage(column, image);
}

int listCurrentSelection(const ReportListView& list)
{
    return list.currentSelection();
}

void listSetCurrentSelection(ReportListView& list, int row)
{
    list.setCurrentSelection(row);
}

void listSortItems(ReportListView& list, const std::function<int(std::int32_t, std::int32_t)>& compare)
{
    list.listModel()->sortRows(compare);
}

int listHitTestRow(const ReportListView& list, int x, int y)
{
    return list.hitTestRow(QPoint(x, y));
}

void listSetMousePointer(ReportListView& list, int pointer)
{
    list.setMousePointer(pointer);
}

int listFindRowByPrefix(const ReportListView& list, const std::string& text, int startRow)
{
    const int rows = listRowCount(list);
    for (int row = std::max(0, startRow); row < rows; ++row) {
        const std::string label = listCellText(list, row, 0);
        if (label.size() >= text.size() && equalIgnoringAsciiCase(label.substr(0, text.size()), text))
            return row;
    }
    return -1;
}

} // namespace kuvona
