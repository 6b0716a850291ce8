#pragma once

// The saved list 超级列表框1: one row per record of Danhao.edb, in record order. Each row keeps the
// serial of the record it was read from, so that a command finds the record the user's row shows
// even after another instance has changed the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "saved/store.h"

namespace kuvona {

// programFile("Danhao.edb").
std::string savedStorePath();

// Rebuilds the list from the store, read in one pass, and closes the store. A missing or broken
// file gives an empty list; a file that cannot be read (held by another instance beyond the wait)
// leaves the rows as they were.
void reloadSavedList();

// The start-up step: writes the empty store when nothing named Danhao.edb exists, then reloads.
void initSavedList();

// The named text field (UTF-8 name, one of 单号 公司 备注) of the current record. A store whose field
// is of another type is not one this program wrote: the program stops with code 5.
std::string readSavedTextField(const char* utf8Name);

// The record a row of the list stands for: the serial the reload read, and the number the row shows.
struct SavedRow
{
    std::int32_t serial = 0;
    std::string number; // GBK
};
// Empty for a row that is not there.
std::optional<SavedRow> savedRowAt(int row);
// The row standing for the record with `serial`; -1 when none does.
int savedRowOfSerial(std::int32_t serial);

// Where 单号, 公司 and 备注 are in StoredRecord::texts of the current store.
struct SavedFields
{
    std::size_t number = 0, company = 1, remark = 2;
};
// Empty without a store, or when one of the three is missing or not a text field.
std::optional<SavedFields> savedFields();
// The values for appendRecord and modifyRecord: each text at its field.
std::vector<std::string> savedValues(const SavedFields& fields, const std::string& number,
                                     const std::string& company, const std::string& remark);

// The index in `records` of the record `row` stands for; -1 when it is gone or shows another number.
std::ptrdiff_t findSavedRecord(const std::vector<StoredRecord>& records, const SavedFields& fields,
                               const SavedRow& row);

enum class SavedChange
{
    Done,
    Failed, // the store could not be locked, read or written: the file is as it was
    Stale   // the list no longer shows what the file holds: nothing was changed
};

// Runs `change` on the records of the current store, read under one StoreChange, so that nothing
// another instance does comes between the check and the change. Failed without a store, when the
// lock is not had in time, or when the records or the layout cannot be read.
SavedChange changeSavedRecords(
    const std::function<SavedChange(std::vector<StoredRecord>& records, const SavedFields& fields)>& change);

// Reloads the list and tells the user it was out of date and the command was not carried out.
void reportSavedListOutOfDate();

} // namespace kuvona
