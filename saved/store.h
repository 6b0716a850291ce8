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
// recordCount (and goToRecord/skipRecord, which use it), StoreChange, readAllRecords and
// appendRecord, which retry for up to 2000 ms.
//
// Boolean results: true for success; a failed operation changes neither the file nor the current
// record. Texts are GBK byte strings; a text ends at its first zero byte.
//
// Crash safety: an operation that changes more than one record (purgeDeleted, clearStore,
// replaceAllRecords) first saves the bytes it will change in a rollback journal beside the file
// (journalPathFor), synced, and deletes the journal once the file itself is synced. A journal left by
// a process that died is rolled back by the next openStore, StoreChange or changing operation, so the
// file holds either all of such a change or none of it. A single-record write that fails is undone.
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

// How long the operations that wait for another process's lock wait.
inline constexpr int kStoreLockWaitMs = 2000;

// The 332-byte image of an empty store with the fields 单号 (20), 公司 (12) and 备注 (100); written
// as Danhao.edb when the file is missing. Its first record gets the serial 34.
extern const std::array<unsigned char, 332> storeTemplate;

// Opens the existing file at `path` and makes it the current store with record 1 current. Fails
// for an empty path, a missing file, a file locked by another process, a file that is not a store,
// and a path (made absolute, compared ignoring ASCII case) that is already open: then nothing
// changes, the open store stays current and keeps its current record. Only a regular file is opened,
// never waiting on it. A journal left by a process that died is rolled back first (failing the open
// when it cannot be). A header count above the whole records present, and a partial or surplus
// record at the end, are repaired here, but only when the repair cuts at most one record's bytes; a
// file that would lose more, or whose recordLength is far longer than its fields need, is refused
// as not a store, and nothing is written to it. A lock held by another process fails the open at
// once, or, with `waitMs`, after that many milliseconds of retrying (20 to 39 ms apart); a command
// that must not lose its change, the auto-save say, passes kStoreLockWaitMs.
bool openStore(const std::string& path, int waitMs = 0);

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

// -- Whole-store operations, for commands that check and change the store under one lock.

// One record as stored. `bytes` is the whole record (recordLength bytes, the serial in its first 4);
// `texts` holds, per field in the file's field order, the text up to the first zero byte (the empty
// text for a field that is not a text field). The program's fields are 单号, 公司, 备注 in that order.
struct StoredRecord
{
    bool operator==(const StoredRecord&) const = default;
    std::int32_t serial = 0; // > 0 live, negative when marked deleted
    std::string bytes;
    std::vector<std::string> texts;
};

// Holds the whole-file lock of the current store for its lifetime, so that a command can read,
// check and change the store with no other process in between. Taking it waits for another
// process's lock for up to 2000 ms (sleeping 20 to 39 ms between attempts), then rolls back a journal
// that a dead process left. ok() is false without a current store, when the lock could not be had in
// time, or when a left journal could not be rolled back; the scope then holds nothing. Scopes nest.
// Every operation of this header works inside it; none waits for a lock while it is held. Closing
// the store inside the scope ends the scope's hold.
class StoreChange
{
public:
    StoreChange();
    ~StoreChange();
    StoreChange(const StoreChange&) = delete;
    StoreChange& operator=(const StoreChange&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
    std::uint64_t m_storeId = 0;
};

// Every record of the current store, read in one pass, marked records included. Outside a
// StoreChange it takes the whole-file lock for the read, waiting up to 2000 ms for another process.
// Empty when there is no current store, the lock could not be had or the read failed (ok false);
// an empty store gives an empty vector with ok true. `nextSerial`, when given, receives the header's
// nextSerial as read in the same pass.
std::vector<StoredRecord> readAllRecords(bool* ok = nullptr, std::int32_t* nextSerial = nullptr);

// A record of the current store's layout with `serial` and values[i] in field i, each text zero
// padded and cut to its width as writeField writes it (values beyond the fields are ignored, fields
// without a value are zero). Empty bytes when there is no current store or a value is given for a
// field that is not a text field.
StoredRecord composeRecord(std::int32_t serial, const std::vector<std::string>& values);

// Replaces the whole record area with `records`, in that order, crash-atomically (see above): each
// record is written as its `bytes` with `serial` over their first 4 bytes; `texts` is not looked at.
// The count becomes records.size(); nextSerial keeps its value unless `nextSerial` is given, which
// may raise it but never lower it. Records that are already in place are not rewritten; when nothing
// changes nothing is written. Fails, changing nothing, without a current store, when a record's bytes
// are not recordLength long, when nextSerial would be lowered or is below 1, or when the whole-file
// lock is held by another process (no waiting: take a StoreChange first to wait). The first record
// becomes current.
bool replaceAllRecords(const std::vector<StoredRecord>& records, std::optional<std::int32_t> nextSerial = {});

// Appends a whole record in one write: values[i] in field i as composeRecord builds it, the serial
// nextSerial; count and nextSerial then go up by one. Waits up to 2000 ms for another process's
// locks. Fails (leaving no record behind) without a current store, when a value is given for a
// field that is not a text, when the count or serial would overflow, or when the locks could not be
// had in time. The new record becomes current. A kill between the record and the header leaves a
// record beyond the count, which the next open drops.
bool appendRecord(const std::vector<std::string>& values);

// Creates the store at `path` from storeTemplate when nothing is there or an empty file is: the
// template goes to a temporary file in the same folder, synced, then renamed over `path`, so `path`
// never holds part of it. True when `path` exists afterwards as a non-empty file or another entry
// (a directory, say, which is left alone); false when creating it failed.
bool createStoreIfMissing(const std::string& path);

// Where the rollback journal of the store at `path` lives: `path` followed by "-journal".
std::string journalPathFor(const std::string& path);

// -- Read-only inspection, for callers that must tell the cases apart, the tests and the tools.

// The type code of the named field of the current store; 0 without a store or such a field.
std::int32_t fieldType(const std::string& fieldName);

// Where the named field's text is in StoredRecord::texts (and its value in composeRecord's values);
// empty without a store or such a field.
std::optional<std::size_t> fieldIndex(const std::string& fieldName);

// The 0-based current record index; empty when no store is current.
std::optional<std::int32_t> currentRecordIndex();

// The absolute path of the current store; empty when none is current.
std::string currentStorePath();

} // namespace kuvona
