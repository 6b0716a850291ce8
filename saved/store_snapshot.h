#pragma once

// A read-only look at a store file, for the inspector and the tests: the same checks as openStore,
// without taking part in the one-cursor model and without ever repairing or changing the file.

#include <cstdint>
#include <string>
#include <vector>

#include "saved/store_format.h"

namespace kuvona {

struct StoreSnapshot
{
    store_format::Header header;
    std::vector<store_format::FieldDescriptor> fields;
    std::int64_t dataStart = 0;
    std::int64_t fileLength = 0;
    // Whole records present after dataStart; openStore would lower a larger header count to this.
    std::int64_t wholeRecords = 0;
    // The raw bytes of the records that openStore would keep: min(storedRecordCount, wholeRecords).
    std::vector<std::string> records;
};

// Reads the file at `path` through a read-only descriptor under a shared lock of the whole file.
// False when it is missing, locked for writing by another process or not a store; `reason` then
// says why in one line of plain English.
bool readStoreSnapshot(const std::string& path, bool withRecords, StoreSnapshot& snapshot,
                       std::string& reason);

// The serial at the start of a record (negative when marked deleted).
std::int32_t recordSerial(const std::string& record);

// The text of field `field` of a record: its bytes up to the first zero byte (GBK).
std::string recordText(const std::string& record, const store_format::FieldDescriptor& field);

} // namespace kuvona
