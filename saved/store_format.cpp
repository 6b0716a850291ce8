#include "saved/store_format.h"

#include <algorithm>

namespace kuvona::store_format {

const char* describe(FormatError error)
{
    switch (error) {
    case FormatError::None:
        return "a store";
    case FormatError::ShortHeader:
        return "shorter than the 112-byte header";
    case FormatError::BadMagic:
        return "magic is not WEDB";
    case FormatError::NewerVersion:
        return "formatVersion is newer than 65536";
    case FormatError::BadRecordLength:
        return "recordLength is not positive";
    case FormatError::NegativeCount:
        return "storedRecordCount is negative";
    case FormatError::BadNextSerial:
        return "nextSerial is less than 1";
    case FormatError::RecordTooShort:
        return "recordLength is shorter than the 4-byte serial";
    case FormatError::BadFieldCount:
        return "fieldCount is missing or not positive";
    case FormatError::ShortDescriptors:
        return "the field descriptors are cut short";
    case FormatError::UnterminatedName:
        return "a field name has no terminating zero within its first 17 bytes";
    case FormatError::NegativeFieldOffset:
        return "a fieldOffset is negative";
    case FormatError::BadFieldType:
        return "a fieldType is not between 1 and 12";
    case FormatError::BadFieldWidth:
        return "a text field's fieldWidth is not positive";
    case FormatError::FieldOutsideRecord:
        return "a field reaches beyond the end of the record";
    case FormatError::RecordLongerThanFields:
        return "recordLength is far longer than its fields need";
    case FormatError::TooMuchToRepair:
        return "more than one record's bytes lie beyond the counted records";
    }
    return "unknown";
}

std::int64_t storedSize(std::int32_t type, std::int32_t width)
{
    switch (type) {
    case 1:
    case 7:
        return 1;
    case 2:
        return 2;
    case 3:
    case 5:
    case 9:
    case 11:
    case 12:
        return 4;
    case 4:
    case 6:
    case 8:
        return 8;
    case kTextType:
        return width;
    default:
        return -1;
    }
}

FormatError parseHeader(const unsigned char* bytes, Header& header)
{
    if (!std::equal(kMagic.begin(), kMagic.end(), bytes + kMagicOffset))
        return FormatError::BadMagic;
    header.formatVersion = loadInt32(bytes + kVersionOffset);
    header.createdTime = loadDouble(bytes + kCreatedTimeOffset);
    header.storedRecordCount = loadInt32(bytes + kCountOffset);
    header.nextSerial = loadInt32(bytes + kNextSerialOffset);
    header.recordLength = loadInt32(bytes + kRecordLengthOffset);
    if (header.formatVersion > kFormatVersion)
        return FormatError::NewerVersion;
    if (header.recordLength <= 0)
        return FormatError::BadRecordLength;
    if (header.storedRecordCount < 0)
        return FormatError::NegativeCount;
    if (header.nextSerial < 1)
        return FormatError::BadNextSerial;
    // Every operation reads or writes the serial at a record's start; a shorter record would make
    // those 4 bytes reach into the next record.
    if (header.recordLength < kSerialSize)
        return FormatError::RecordTooShort;
    return FormatError::None;
}

FormatError parseDescriptor(const unsigned char* bytes, std::int32_t recordLength, FieldDescriptor& field)
{
    const auto* name = bytes + kNameOffset;
    const auto* end = name + kNameTerminatorWithin;
    const auto* zero = std::find(name, end, 0);
    if (zero == end)
        return FormatError::UnterminatedName;
    field.name.fill(0);
    std::copy(name, zero, field.name.begin());
    field.nameLength = static_cast<std::size_t>(zero - name);
    field.type = loadInt32(bytes + kTypeOffset);
    field.offset = loadInt32(bytes + kFieldOffsetOffset);
    field.width = loadInt32(bytes + kWidthOffset);
    if (field.offset < 0)
        return FormatError::NegativeFieldOffset;
    if (field.type < kMinType || field.type > kMaxType)
        return FormatError::BadFieldType;
    if (field.type == kTextType && field.width <= 0)
        return FormatError::BadFieldWidth;
    // A field beyond the record would make reads return the next record's bytes and writes change it.
    if (std::int64_t(field.offset) + storedSize(field.type, field.width) > recordLength)
        return FormatError::FieldOutsideRecord;
    return FormatError::None;
}

FormatError checkRecordLength(const std::vector<FieldDescriptor>& fields, std::int32_t recordLength)
{
    std::int64_t needed = kSerialSize;
    for (const auto& f : fields)
        needed = std::max(needed, std::int64_t(f.offset) + storedSize(f.type, f.width));
    return recordLength - needed > kMaxRecordSlack ? FormatError::RecordLongerThanFields : FormatError::None;
}

RepairPlan planRepair(const Header& header, std::int64_t dataStart, std::int64_t fileLength)
{
    RepairPlan plan;
    const std::int64_t whole = (fileLength - dataStart) / header.recordLength;
    plan.count = static_cast<std::int32_t>(std::min<std::int64_t>(header.storedRecordCount, whole));
    plan.length = dataStart + std::int64_t(plan.count) * header.recordLength;
    if (fileLength - plan.length > header.recordLength)
        plan.error = FormatError::TooMuchToRepair;
    return plan;
}

} // namespace kuvona::store_format
