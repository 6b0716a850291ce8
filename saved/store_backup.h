#pragma once

// Backups of the saved numbers as CSV: RFC 4180 with a header row, readable by a spreadsheet.
//
// Export writes number, courier and remark of every live record (marked ones are left out) in
// file order; import checks a whole CSV before anything is written, so a bad line changes nothing.

#include <optional>
#include <string>
#include <vector>

#include "saved/store_snapshot.h"

namespace kuvona {

// One saved number; GBK texts.
struct SavedNumber
{
    std::string number;
    std::string courier;
    std::string remark;

    bool operator==(const SavedNumber&) const = default;
};

enum class CsvEncoding
{
    Utf8, // with a byte-order mark, so spreadsheets do not take it for the local code page
    Gbk,
};

// The field widths of the program's store in GBK bytes: 单号, 公司, 备注.
inline constexpr std::size_t kNumberWidth = 20;
inline constexpr std::size_t kCourierWidth = 12;
inline constexpr std::size_t kRemarkWidth = 100;

// "number,courier,remark" and one line per row, CR LF line ends; a field with a comma, a quote or
// a line break is quoted, its quotes doubled.
std::string csvFromSavedNumbers(const std::vector<SavedNumber>& rows, CsvEncoding encoding);

// Parses and checks a whole CSV: the header row (number,courier,remark, or the store's own names
// 单号,公司,备注), three fields on every row, a number on every row, field widths in GBK bytes.
// Without `encoding` it is UTF-8 when the text starts with a byte-order mark or is valid UTF-8,
// else GBK. Blank lines are skipped. False with `error` naming the first wrong line
// ("line 4: ..."), `rows` then empty.
bool savedNumbersFromCsv(const std::string& csv, std::optional<CsvEncoding> encoding,
                         std::vector<SavedNumber>& rows, std::string& error);

// The live records of a store snapshot, read through the fields named 单号, 公司 and 备注. False
// with `error` when the store lacks one of them.
bool savedNumbersOf(const StoreSnapshot& snapshot, std::vector<SavedNumber>& rows, std::string& error);

} // namespace kuvona
