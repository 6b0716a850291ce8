#include "saved/store_backup.h"

#include <array>
#include <cstdint>

#include "common/gbk.h"

namespace kuvona {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

std::string lineError(int line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

std::string quoted(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

// The length of the UTF-8 sequence at `i`, or 0 when it is not one (overlong forms, surrogates
// and code points beyond U+10FFFF included).
std::size_t utf8SequenceAt(const std::string& s, std::size_t i)
{
    const auto byte = [&s](std::size_t k) {
        return static_cast<unsigned char>(s[k]);
    };
    const unsigned char c = byte(i);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr std::array<std::uint32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

// The line of the first byte that is not UTF-8, or 0 when all are.
int firstNonUtf8Line(const std::string& s)
{
    int line = 1;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceAt(s, i);
        if (n == 0)
            return line;
        if (s[i] == '\n')
            ++line;
        i += n;
    }
    return 0;
}

struct CsvRecord
{
    int line = 0;
    std::vector<std::string> fields;
};

// RFC 4180, with LF or a lone CR accepted as line ends too. The bytes that delimit (comma, quote,
// CR, LF) are below 0x40 and so never the second byte of a GBK character: the raw bytes parse
// alike in both encodings.
bool parseCsv(const std::string& s, std::vector<CsvRecord>& records, std::string& error)
{
    std::size_t i = 0;
    int line = 1;
    const auto endOfLine = [&s, &i]() {
        return i >= s.size() || s[i] == '\r' || s[i] == '\n';
    };
    while (i < s.size()) {
        CsvRecord record{line, {}};
        for (;;) {
            std::string field;
            if (s[i] == '"') {
                const int opened = line;
                for (++i;; ++i) {
                    if (i >= s.size()) {
                        error = lineError(opened, "a quoted field is not closed");
                        return false;
                    }
                    if (s[i] == '"') {
                        if (i + 1 < s.size() && s[i + 1] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n')))
                        ++line;
                    field += s[i];
                }
                if (!endOfLine() && s[i] != ',') {
                    error = lineError(line, "text after the closing quote of a field");
                    return false;
                }
            } else {
                for (; !endOfLine() && s[i] != ','; ++i) {
                    if (s[i] == '"') {
                        error = lineError(line, "a quote inside a field that does not start with one");
                        return false;
                    }
                    field += s[i];
                }
            }
            record.fields.push_back(std::move(field));
            if (i < s.size() && s[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        if (i < s.size() && s[i] == '\r')
            ++i;
        if (i < s.size() && s[i] == '\n')
            ++i;
        ++line;
        if (record.fields.size() > 1 || !record.fields[0].empty())
            records.push_back(std::move(record));
    }
    return true;
}

bool isHeader(const std::vector<std::string>& fields, CsvEncoding encoding)
{
    const auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    const auto local = [encoding](const char* utf8) {
        return encoding == CsvEncoding::Gbk ? gbk(utf8) : utf8;
    };
    if (fields.size() != 3)
        return false;
    return (lower(fields[0]) == "number" && lower(fields[1]) == "courier" && lower(fields[2]) == "remark") ||
           (fields[0] == local("单号") && fields[1] == local("公司") && fields[2] == local("备注"));
}

} // namespace

std::string csvFromSavedNumbers(const std::vector<SavedNumber>& rows, CsvEncoding encoding)
{
    const auto text = [encoding](const std::string& gbkText) {
        return quoted(encoding == CsvEncoding::Utf8 ? utf8FromGbk(gbkText) : gbkText);
    };
    std::string out = encoding == CsvEncoding::Utf8 ? kBom : "";
    out += "number,courier,remark\r\n";
    for (const SavedNumber& row : rows)
        out += text(row.number) + ',' + text(row.courier) + ',' + text(row.remark) + "\r\n";
    return out;
}

bool savedNumbersFromCsv(const std::string& csv, std::optional<CsvEncoding> encoding,
                         std::vector<SavedNumber>& rows, std::string& error)
{
    rows.clear();
    std::string body = csv;
    if (body.compare(0, 3, kBom) == 0) {
        body.erase(0, 3);
        if (!encoding)
            encoding = CsvEncoding::Utf8;
    }
    if (!encoding)
        encoding = firstNonUtf8Line(body) == 0 ? CsvEncoding::Utf8 : CsvEncoding::Gbk;
    if (encoding == CsvEncoding::Utf8) {
        if (const int bad = firstNonUtf8Line(body)) {
            error = lineError(bad, "not UTF-8 text");
            return false;
        }
    }
    std::vector<CsvRecord> records;
    if (!parseCsv(body, records, error))
        return false;
    if (records.empty() || !isHeader(records[0].fields, *encoding)) {
        error =
            lineError(records.empty() ? 1 : records[0].line, "the first row must be number,courier,remark");
        return false;
    }
    struct Column
    {
        const char* name;
        std::size_t width;
    };
    static constexpr std::array<Column, 3> kColumns{{{"number (单号)", kNumberWidth},
                                                     {"courier (公司)", kCourierWidth},
                                                     {"remark (备注)", kRemarkWidth}}};
    std::vector<SavedNumber> checked;
    for (std::size_t r = 1; r < records.size(); ++r) {
        const CsvRecord& record = records[r];
        if (record.fields.size() != kColumns.size()) {
            error = lineError(record.line, std::to_string(record.fields.size()) + " fields, not 3");
            return false;
        }
        std::array<std::string, 3> texts;
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const std::string& field = record.fields[c];
            const std::string name = kColumns[c].name;
            // A GBK text that does not survive the trip to UTF-8 and back has bytes that are not
            // GBK; a UTF-8 text that does not, characters GBK cannot hold.
            texts[c] = encoding == CsvEncoding::Utf8 ? gbk(field) : field;
            const std::string back =
                encoding == CsvEncoding::Utf8 ? utf8FromGbk(texts[c]) : gbk(utf8FromGbk(field));
            if (back != field) {
                error = lineError(record.line,
                                  "the " + name +
                                      (encoding == CsvEncoding::Utf8 ? " has characters GBK cannot hold"
                                                                     : " is not GBK text"));
                return false;
            }
            if (texts[c].find('\0') != std::string::npos) {
                error = lineError(record.line, "the " + name + " has a zero byte");
                return false;
            }
            if (texts[c].size() > kColumns[c].width) {
                error = lineError(record.line, "the " + name + " has " + std::to_string(texts[c].size()) +
                                                   " bytes in GBK, more than " +
                                                   std::to_string(kColumns[c].width));
                return false;
            }
        }
        if (texts[0].empty()) {
            error = lineError(record.line, "the number is empty");
            return false;
        }
        checked.push_back({texts[0], texts[1], texts[2]});
    }
    rows = std::move(checked);
    return true;
}

bool savedNumbersOf(const StoreSnapshot& snapshot, std::vector<SavedNumber>& rows, std::string& error)
{
    const auto field = [&snapshot](const char* utf8) -> const store_format::FieldDescriptor* {
        const std::string name = gbk(utf8);
        for (const auto& f : snapshot.fields) {
            const std::string_view have = f.nameView();
            bool same = have.size() == name.size();
            for (std::size_t i = 0; same && i < name.size(); ++i) {
                const auto fold = [](char c) {
                    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
                };
                same = fold(have[i]) == fold(name[i]);
            }
            if (same && f.type == store_format::kTextType)
                return &f;
        }
        return nullptr;
    };
    const auto* number = field("单号");
    const auto* courier = field("公司");
    const auto* remark = field("备注");
    if (!number || !courier || !remark) {
        error = "not a store of saved numbers: it lacks the text fields 单号, 公司 and 备注";
        return false;
    }
    rows.clear();
    for (const std::string& record : snapshot.records)
        if (recordSerial(record) >= 0)
            rows.push_back(
                {recordText(record, *number), recordText(record, *courier), recordText(record, *remark)});
    return true;
}

} // namespace kuvona
