#include "saved/drag.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QString>
#include <algorithm>
#include <optional>
#include <vector>

#include "app/globals.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/message_box.h"
#include "platform/mouse.h"
#include "platform/report_list_view.h"
#include "saved/saved_list.h"
#include "saved/store.h"

namespace kuvona {
namespace {

constexpr int kNormalPointer = 0;
constexpr int kMovePointer = 8;

void showNormalPointer(ReportListView& list);

// The list sees no moves while the button is up, so a release that another window of the program
// takes (the list's grab was lost to it) would leave the move pointer on the list for good. While
// the pointer shows, every left-button release in the program brings the normal one back.
class ReleaseWatcher : public QObject
{
public:
    explicit ReleaseWatcher(ReportListView& list) : QObject(&list), m_list(list) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            showNormalPointer(m_list);
        return false;
    }

private:
    ReportListView& m_list;
};

QPointer<ReleaseWatcher>& releaseWatcher()
{
    static QPointer<ReleaseWatcher> watcher;
    return watcher;
}

void showMovePointer(ReportListView& list)
{
    listSetMousePointer(list, kMovePointer);
    QPointer<ReleaseWatcher>& watcher = releaseWatcher();
    if (!watcher || watcher->parent() != &list) {
        delete watcher;
        watcher = new ReleaseWatcher(list);
    }
    QCoreApplication::instance()->installEventFilter(watcher);
}

void showNormalPointer(ReportListView& list)
{
    listSetMousePointer(list, kNormalPointer);
    if (releaseWatcher())
        QCoreApplication::instance()->removeEventFilter(releaseWatcher());
}

void endDrag(ReportListView& list)
{
    dragState() = DragState{0, -1};
    showNormalPointer(list);
}

// Copies the cells and the item value of row `from` into row `to`. The model is used directly so
// that the texts are not converted to GBK and back for every cell of a long list.
void copyRow(ReportListModel& model, int from, int to)
{
    for (int c = 0; c < model.columnCount(); ++c)
        model.setCell(to, c, model.cell(from, c));
    model.setValue(to, model.value(from));
}

// The store part of a drop: the dragged row's record goes next to the drop row's record, both found
// by serial in the file as it is now, so that what another instance saved or deleted meanwhile stays
// as it did. The side is the one the user saw: dragged down, after the drop record; up, before it.
// The file's own order may differ from the list's (another instance sorted it), so the positions in
// the file cannot tell the direction. Whole records move: each keeps its serial. The list is reloaded.
void saveDraggedRow(const SavedRow& dragged, const SavedRow& dropped, bool downward)
{
    openSavedStore();
    const SavedChange result =
        changeSavedRecords([&](std::vector<StoredRecord>& records, const SavedFields& f) {
            const std::ptrdiff_t from = findSavedRecord(records, f, dragged);
            if (from < 0 || findSavedRecord(records, f, dropped) < 0)
                return SavedChange::Stale;
            if (from != findSavedRecord(records, f, dropped)) {
                StoredRecord moved = std::move(records[static_cast<std::size_t>(from)]);
                records.erase(records.begin() + from);
                const std::ptrdiff_t to = findSavedRecord(records, f, dropped);
                records.insert(records.begin() + (downward ? to + 1 : to), std::move(moved));
            }
            return replaceAllRecords(records) ? SavedChange::Done : SavedChange::Failed;
        });
    if (result == SavedChange::Stale) {
        reportSavedListOutOfDate();
        return;
    }
    reloadSavedList();
    if (result == SavedChange::Failed)
        messageBox(gbk("保存拖动失败！"), gbk("提示"), BoxWarningOk);
}

} // namespace

DragState& dragState()
{
    static DragState state;
    return state;
}

void onSavedListLeftButtonDown(int, int, int)
{
    dragState() = DragState{-1, -1};
}

void onSavedListMouseMove(int x, int y, int)
{
    DragState& state = dragState();
    ReportListView* list = mainControls().savedList;
    if (state.dragTarget == 0 || !list)
        return;
    // The event's own flags are not trusted: the button may have been released outside the program.
    if (!leftMouseButtonDown()) {
        endDrag(*list);
        return;
    }
    // Within the drag distance the press is still a click; the list reports it on release.
    if (!list->pressMovedDragDistance())
        return;
    if (state.dragTarget == -1) {
        state.dragSource = listCurrentSelection(*list);
        showMovePointer(*list);
    }
    const int hit = listHitTestRow(*list, x, y);
    if (hit >= 0)
        state.dragTarget = hit + 1;
    listSetCurrentSelection(*list, hit);
    // Scroll along: the row beyond the one under the pointer, in the direction of the drag.
    if (state.dragTarget > state.dragSource) {
        if (state.dragTarget < listRowCount(*list))
            listMakeRowVisible(*list, hit + 1);
    } else {
        listMakeRowVisible(*list, hit - 1);
    }
}

void onSavedListLeftButtonUp(int, int, int)
{
    DragState& state = dragState();
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    // The pointer comes back with the button even when the release moves nothing; the list would see
    // no further move to bring it back.
    showNormalPointer(*list);
    if (state.dragTarget < 1 || state.dragSource == -1)
        return;
    // A command that ran during the drag (a query's auto-save, say) may have reloaded the list; rows
    // that are gone cannot be moved, and moving them would write a blank record into the store.
    const int rows = listRowCount(*list);
    if (state.dragSource >= rows || state.dragTarget > rows) {
        endDrag(*list);
        return;
    }
    const std::optional<SavedRow> dragged = savedRowAt(state.dragSource);
    const std::optional<SavedRow> dropped = savedRowAt(state.dragTarget - 1);
    const bool downward = state.dragTarget > state.dragSource;
    if (downward) {
        moveSavedRow(true);
        listSetCurrentSelection(*list, state.dragTarget - 1);
    } else {
        moveSavedRow(false);
    }
    endDrag(*list);
    saveDraggedRow(*dragged, *dropped, downward);
}

void moveSavedRow(bool downward)
{
    DragState& state = dragState();
    ReportListView* list = mainControls().savedList;
    if (!list)
        return;
    ReportListModel& model = *list->listModel();
    const int source = state.dragSource;
    int target = state.dragTarget;
    std::vector<QString> saved;
    for (int c = 0; c < model.columnCount(); ++c)
        saved.push_back(model.cell(source, c));
    const std::int32_t savedValue = model.value(source);
    if (!downward) {
        listDeleteRow(*list, source);
        state.dragTarget = --target; // now the 0-based index of the drop row
    }
    int p = listAppendRow(*list, {});
    for (; p > target; --p)
        copyRow(model, p - 1, p);
    for (int c = 0; c < static_cast<int>(saved.size()); ++c)
        model.setCell(target, c, saved[static_cast<std::size_t>(c)]);
    model.setValue(target, savedValue);
    if (downward)
        listDeleteRow(*list, source);
}

} // namespace kuvona
