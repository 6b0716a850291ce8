#pragma once

// SavedStore: the saved-number file Danhao.edb (layout in saved/store_format.h).
//
// One-cursor model: at most one store is current, and reads, writes, deletion and modification act
// on its current record. Records are numbered from 1 here; the current record index is 0-based,
// -1 meaning before the first record and the record count meaning after the last.
//
// Nothing is cached: every operation reads and writes the file itself under byte-range locks shared
// with other processes, so a change is in the file when the operation returns and another process
// sees it at once. A lock held by another process makes an operation fail at once, except
// recordCount (and goToRecord/skipRecord, which use it), which retries for up to 2000 ms.
//
// Boolean results: true for success; a failed operation changes neither the file nor the current
// record (a write that fails half-way, disk full say, may leave part of its bytes written). Texts
// are GBK byte strings; a text ends at its first zero byte.
//
// Callers open programFile("Danhao.edb") (platform/program_dir.h): the program's directory and "/".
//
// Single-threaded: called from the user-interface thread only.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kuvona {

// The 332-byte image of an empty store with the fields 单号 (20), 公司 (12) and 备注 (100); written
// as Danhao.edb when the file is missing. Its first record gets the serial 34.
extern const std::array<unsigned char, 332> storeTemplate;

// Opens the existing file at `path` and makes it the current store with record 1 current. Fails
// for an empty path, a missing file, a file locked by another process, a file that is not a store,
// and a path (made absolute, compared ignoring ASCII case) that is already open: then nothing
// changes, the open store stays current and keeps its current record. A header count above the
// whole records present, and a partial or surplus record at the end, are repaired here.
bool openStore(const std::string& path);

// Closes the current store; afterwards no store is current. Writes nothing.
void closeStore();

// The count of records, marked ones included, read from the file now; 0 without a current store or
// when it cannot be read within 2000 ms.
std::int32_t recordCount();

void goToFirstRecord();
// Record n becomes current, clamped to 1..recordCount() (index 0 on an empty store).
bool goToRecord(std::int32_t n);
// Moves the current record by n; forward up to the position after the last record, backward down
// to the position before the first. Fails without moving past either end from there.
bool skipRecord(std::int32_t n = 1);

// The field of the current record up to its first zero byte; the empty text when the current
// record does not exist or cannot be read. Field names match ignoring ASCII case. Without a current
// store, or with a name the store does not have, the program stops through fatalRuntimeError.
// A field that is not a text field reads as the empty text (see fieldType).
std::string readField(const std::string& fieldName);

// Writes `value` (cut to the field's width, else zero-terminated and zero-padded) into the field of
// the current record. Fails when there is no such record or field, or the field is not a text.
bool writeField(const std::string& fieldName, const std::string& value);

// Appends a record of zeros with the next serial and makes it current.
bool appendBlankRecord();

// Writes values[i] into field i of the current record (the first min(values, fields) fields), each
// text with its terminating zero over the start of the field; the field's later bytes stay.
bool modifyRecord(const std::vector<std::string>& values);

// Marks the current record deleted (negates its serial); it stays until purgeDeleted.
bool deleteRecord();

// Removes every marked record, moving the later ones up; the first record becomes current.
bool purgeDeleted();

// Removes all records; nextSerial keeps its value.
bool clearStore();

// -- Read-only inspection, for callers that must tell the cases apart, the tests and the tools.

// The type code of the named field of the current store; 0 without a store or such a field.
std::int32_t fieldType(const std::string& fieldName);

// The 0-based current record index; empty when no store is current.
std::optional<std::int32_t> currentRecordIndex();

// The absolute path of the current store; empty when none is current.
std::string currentStorePath();

} // namespace kuvona
