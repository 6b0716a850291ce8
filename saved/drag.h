#pragma once

// Reordering the saved list 超级列表框1 by dragging a row with the left mouse button: while the
// button is held the list shows the move pointer, highlights the row under the pointer and scrolls
// along; on release the row moves to the last row the pointer passed over, its record moves to the
// place of that row's record in Danhao.edb (both found by serial in the file as it is then) and the
// list is reloaded from it. When another instance has removed either record or changed its number,
// nothing is moved and the user is told the list was out of date; a failed save is reported.

#include <cstdint>

namespace kuvona {

// For the whole process; both 0 at start.
struct DragState
{
    // 0 no drag; -1 armed by a press, not yet over a row; n >= 1 last over row n - 1.
    std::int32_t dragTarget = 0;
    // The dragged row, taken from the selection when the drag began; -1 none.
    std::int32_t dragSource = 0;
};
DragState& dragState();

// The mouse handlers of 超级列表框1, called before the list handles the event; x and y in the list's
// own coordinates. The flags are not read.
void onSavedListLeftButtonDown(int x, int y, int flags);
void onSavedListMouseMove(int x, int y, int flags);
void onSavedListLeftButtonUp(int x, int y, int flags);

// Moves row dragSource to the drop position dragTarget; `downward` when dragTarget > dragSource.
// The moved row ends at the index of the row the pointer was last over; the rows in between shift by
// one towards its old place. Cell texts and item values move together.
void moveSavedRow(bool downward);

} // namespace kuvona
