#pragma once

// The saved list 超级列表框1: one row per record of Danhao.edb, in record order, so that row r
// always stands for record r + 1 after a reload. The commands on the list rely on that.

#include <string>

namespace kuvona {

// programFile("Danhao.edb").
std::string savedStorePath();

// Rebuilds the list from the store and closes the store. A missing or broken file gives an empty list.
void reloadSavedList();

// The start-up step: writes the empty store when nothing named Danhao.edb exists, then reloads.
void initSavedList();

// The named text field (UTF-8 name, one of 单号 公司 备注) of the current record. A store whose field
// is of another type is not one this program wrote: the program stops with code 5.
std::string readSavedTextField(const char* utf8Name);

} // namespace kuvona
