#pragma once

// The byte layout of the saved-number file Danhao.edb, and the checks that decide whether a file is one.
//
// Other programs read and write the same file, so every offset and width here is fixed for good.
// All integers are signed 32-bit little-endian; the one double is an 8-byte little-endian IEEE 754 value.
//
//   offset               length                    content
//   0                    112                       header (below)
//   112                  4                         fieldCount (> 0)
//   116                  72 * fieldCount           field descriptors (below), in field order
//   dataStart            recordLength * records    records, one after the other
//       dataStart = 116 + 72 * fieldCount
//
//   header                               field descriptor
//   0    4  magic "WEDB"                 0   20  fieldName, GBK, zero-terminated within 17 bytes
//   4    4  formatVersion (65536)        20  4   fieldType 1..12 (10 = fixed-width text)
//   8    8  createdTime (double, days    24  4   fieldOffset inside the record (>= 0)
//           since 1899-12-30)            28  4   fieldWidth (> 0 for a text field)
//   16   4  storedRecordCount (>= 0)     32  40  reserved, zero
//   20   4  nextSerial (>= 1)
//   24   4  recordLength (> 0)           record
//   28   84 reserved, zero               0   4   serial: > 0 live, the negated serial when marked
//                                        4   ..  the fields at their fieldOffset
//
// Invariant once a store has been opened: file length == dataStart + storedRecordCount * recordLength.
// The 8 bytes at offset 16 (count, nextSerial) are written together by an append, so one byte lock
// at offset 16 guards both.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kuvona::store_format {

inline constexpr std::int64_t kHeaderSize = 112;
inline constexpr std::int64_t kMagicOffset = 0;
inline constexpr std::array<unsigned char, 4> kMagic = {'W', 'E', 'D', 'B'};
inline constexpr std::int64_t kVersionOffset = 4;
inline constexpr std::int32_t kFormatVersion = 0x00010000;
inline constexpr std::int64_t kCreatedTimeOffset = 8;
inline constexpr std::int64_t kCountOffset = 16;
inline constexpr std::int64_t kNextSerialOffset = 20;
inline constexpr std::int64_t kRecordLengthOffset = 24;
inline constexpr std::int64_t kReservedOffset = 28;
inline constexpr std::int64_t kFieldCountOffset = 112;
inline constexpr std::int64_t kDescriptorsOffset = 116;

inline constexpr std::int64_t kDescriptorSize = 72;
inline constexpr std::int64_t kNameOffset = 0;
inline constexpr std::int64_t kNameSize = 20;
// The terminating zero of a field name must lie within these first bytes (at most 16 name bytes).
inline constexpr std::int64_t kNameTerminatorWithin = 17;
inline constexpr std::int64_t kTypeOffset = 20;
inline constexpr std::int64_t kFieldOffsetOffset = 24;
inline constexpr std::int64_t kWidthOffset = 28;

inline constexpr std::int32_t kMinType = 1;
inline constexpr std::int32_t kMaxType = 12;
inline constexpr std::int32_t kTextType = 10;

inline constexpr std::int64_t kSerialSize = 4;

// The whole-file lock range: from 0, this many bytes.
inline constexpr std::int64_t kWholeFileLockLength = 0x7FFFFFFF;
// A record may be longer than its fields need (the serial and the fields' ends) by at most this
// many bytes. A longer record is a damaged recordLength: taken at its word, it would make the repair
// on open cut real records as "partial" and the next append write a record of that length.
inline constexpr std::int64_t kMaxRecordSlack = 256;
// purgeDeleted moves records in batches of at most this many bytes' worth of whole records.
inline constexpr std::int64_t kPurgeBatchBytes = 163840;

inline std::int32_t loadInt32(const unsigned char* p)
{
    const std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                            (std::uint32_t(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

inline void storeInt32(unsigned char* p, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
}

inline double loadDouble(const unsigned char* p)
{
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | p[i];
    return std::bit_cast<double>(u);
}

inline void storeDouble(unsigned char* p, double value)
{
    auto u = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i, u >>= 8)
        p[i] = static_cast<unsigned char>(u);
}

struct Header
{
    std::int32_t formatVersion = 0;
    double createdTime = 0;
    std::int32_t storedRecordCount = 0;
    std::int32_t nextSerial = 0;
    std::int32_t recordLength = 0;
};

struct FieldDescriptor
{
    std::string_view nameView() const { return {name.data(), nameLength}; }

    std::array<char, kNameSize> name{};
    std::size_t nameLength = 0; // bytes before the terminating zero
    std::int32_t type = 0;
    std::int32_t offset = 0;
    std::int32_t width = 0;
};

// Why a file is not a store. The order is the order in which the checks run.
enum class FormatError
{
    None,
    ShortHeader,
    BadMagic,
    NewerVersion,
    BadRecordLength,
    NegativeCount,
    BadNextSerial,
    RecordTooShort,
    BadFieldCount,
    ShortDescriptors,
    UnterminatedName,
    NegativeFieldOffset,
    BadFieldType,
    BadFieldWidth,
    FieldOutsideRecord,
    RecordLongerThanFields,
    TooMuchToRepair,
};

// One line of plain English for the inspector's "check".
const char* describe(FormatError error);

// Bytes a field of `type` takes in a record (`width` for text); -1 for an unknown type.
std::int64_t storedSize(std::int32_t type, std::int32_t width);

// Decodes and checks the 112 header bytes.
FormatError parseHeader(const unsigned char* bytes, Header& header);

// Decodes and checks one 72-byte descriptor of a store whose records are `recordLength` bytes.
FormatError parseDescriptor(const unsigned char* bytes, std::int32_t recordLength, FieldDescriptor& field);

// Checks recordLength against what the fields need (see kMaxRecordSlack).
FormatError checkRecordLength(const std::vector<FieldDescriptor>& fields, std::int32_t recordLength);

// What the repair on open makes of a file whose header and fields are valid: the count is lowered
// to the whole records present and the file cut after the counted records. A repair may drop at
// most one record's worth of bytes (a partial record, or one whole record an interrupted append left
// beyond the count); a file that would lose more is refused, since it is damaged in some other way
// and cutting would make it worse.
struct RepairPlan
{
    FormatError error = FormatError::None; // TooMuchToRepair when refused
    std::int32_t count = 0;
    std::int64_t length = 0;
};
RepairPlan planRepair(const Header& header, std::int64_t dataStart, std::int64_t fileLength);

// Offset of the first record for `fieldCount` descriptors (64-bit: fieldCount comes from the file).
inline std::int64_t dataStartFor(std::int32_t fieldCount)
{
    return kDescriptorsOffset + kDescriptorSize * std::int64_t(fieldCount);
}

} // namespace kuvona::store_format
