#pragma once

// The commands on the saved list 超级列表框1 and the query command's auto-save step. A command on a
// row acts on the record the row was read from (its serial), checked under one lock of the whole
// file: when another instance has removed that record or changed its number, the command changes nothing,
// reloads the list and says that it was out of date.

namespace kuvona {

// The query command's step while 自动保存单号 is checked: saves 单号 with the highlighted courier
// unless a saved number already begins with it (ignoring ASCII case), then reloads the list. A save
// that fails is reported.
void autoSaveNumber();

// Asks, then deletes the record of the selected row and reloads. With no row selected it says so
// and deletes nothing.
void deleteSavedNumber();

// Asks, then removes every record and reloads.
void deleteAllSavedNumbers();

// Opens the edit window on the record of the selected row; says so when no row is selected.
void editSavedNumber();

// A left click in the list (after the list updated its selection): a row whose courier is one of
// 选择列表框1 puts that courier and the row's number into the query controls.
void onSavedListClick();
// Delete (virtual key 46) deletes the selected number; other keys do nothing here.
void onSavedListKeyDown(int virtualKey, int modifiers);
void onSavedListDoubleClick();

// An item of the pop-up 保存列表, by position: 0 添加单号, 1 编辑单号, 2 删除单号, 3 全部删除,
// 4 取消 (nothing).
void runSavedListMenuItem(int item);

} // namespace kuvona
