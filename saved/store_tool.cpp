// kuvona-store: looks into a saved-number file without changing it.
//
//   kuvona-store check FILE          exit 0 when FILE opens as a store, 1 when it is not one (with the
//                                    reason), 3 when a change was interrupted and its journal waits to be
//                                    rolled back by the next open
//   kuvona-store dump [--json] FILE  header, fields and every record, texts in UTF-8
//
// The file is opened read-only and never repaired or rolled back; what an open by the program would
// do is reported instead.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "common/gbk.h"
#include "saved/file_lock.h"
#include "saved/store.h"
#include "saved/store_journal.h"
#include "saved/store_snapshot.h"

using namespace kuvona;
using namespace kuvona::store_format;

namespace {

const char kHelp[] =
    "usage: kuvona-store check FILE\n"
    "       kuvona-store dump [--json] FILE\n"
    "\n"
    "Inspects a saved-number file (Danhao.edb) read-only: nothing is ever repaired or rolled back.\n"
    "\n"
    "check prints one line and exits with\n"
    "  0  FILE opens as a store (the line names what an open would repair, if anything)\n"
    "  1  FILE is missing, locked by another process or not a store (the line says why)\n"
    "  2  wrong arguments\n"
    "  3  pending recovery: FILE-journal holds the original bytes of a change that was interrupted;\n"
    "     the next open by the program rolls it back, so FILE itself is not judged\n"
    "dump prints the header, the fields and every record (--json: as one JSON object); a pending\n"
    "recovery is reported on standard error and the records shown are the interrupted ones.\n";

int usage()
{
    std::cerr << kHelp;
    return 2;
}

// A complete journal beside the file: what the next open would roll back. Empty when there is none,
// and while another process holds the file: its journal then belongs to a change still running.
std::string pendingRecovery(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    FileLocks locks(fd, true);
    const bool held = locks.lockWholeFile() != FileLocks::Result::Granted;
    locks.releaseAll();
    ::close(fd);
    if (held)
        return {};
    store_journal::Journal journal;
    const std::string journalPath = journalPathFor(path);
    if (store_journal::inspect(journalPath, &journal) != store_journal::State::Hot)
        return {};
    std::int64_t bytes = 0;
    for (const auto& segment : journal.segments)
        bytes += std::int64_t(segment.bytes.size());
    std::ostringstream note;
    note << "pending recovery: " << journalPath << " holds " << bytes
         << " original bytes of an interrupted change (file length " << journal.originalLength
         << "); the next open rolls it back";
    return note.str();
}

// Day number (days since 1899-12-30, fraction = time of day) as "YYYY-MM-DD hh:mm:ss".
std::string dateTimeText(double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 3e6)
        return "out of range";
    const long long seconds = std::llround(days * 86400.0);
    long long day = seconds / 86400;
    long long second = seconds % 86400;
    if (second < 0) {
        second += 86400;
        --day;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    long long z = day - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long year = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long dayOfMonth = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", year, month, dayOfMonth,
                  second / 3600, second / 60 % 60, second % 60);
    return text;
}

std::string doubleText(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string hexBytes(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A field's value for display: a text converted to UTF-8, other types as their stored bytes in hex.
std::string fieldValue(const std::string& record, const FieldDescriptor& field)
{
    if (field.type == kTextType)
        return utf8FromGbk(recordText(record, field));
    const auto size = static_cast<std::size_t>(storedSize(field.type, field.width));
    return hexBytes(record.substr(static_cast<std::size_t>(field.offset), size));
}

std::string jsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// Control characters would break the rows of the table.
std::string tableCell(const std::string& utf8)
{
    std::string out;
    for (unsigned char c : utf8) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20)
            out += '?';
        else
            out += static_cast<char>(c);
    }
    return out;
}

// Terminal columns of a UTF-8 text: East Asian characters take two.
std::size_t displayWidth(const std::string& utf8)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = c;
        std::size_t n = 1;
        if (c >= 0xF0)
            n = 4, cp = c & 0x07;
        else if (c >= 0xE0)
            n = 3, cp = c & 0x0F;
        else if (c >= 0xC0)
            n = 2, cp = c & 0x1F;
        for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        width += (cp >= 0x1100 && (cp <= 0x115F || cp >= 0x2E80) && !(cp >= 0xD7A4 && cp <= 0xF8FF)) ? 2 : 1;
        i += n;
    }
    return width;
}

void printTable(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[c] = std::max(widths[c], displayWidth(row[c]));
        }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - displayWidth(row[c]) + 2, ' ');
        }
        // An empty last cell would leave padding at the end of the line.
        line.erase(line.find_last_not_of(' ') + 1);
        std::cout << line << '\n';
    }
}

std::string repairNote(const StoreSnapshot& s)
{
    const std::int64_t kept = std::min<std::int64_t>(s.header.storedRecordCount, s.wholeRecords);
    const std::int64_t wanted = s.dataStart + kept * s.header.recordLength;
    if (kept == s.header.storedRecordCount && wanted == s.fileLength)
        return {};
    std::ostringstream note;
    note << "an open would repair it: ";
    if (kept < s.header.storedRecordCount)
        note << "storedRecordCount " << s.header.storedRecordCount << " -> " << kept << ", ";
    note << "file length " << s.fileLength << " -> " << wanted;
    return note.str();
}

int check(const std::string& path)
{
    if (const auto pending = pendingRecovery(path); !pending.empty()) {
        std::cout << path << ": " << pending << '\n';
        return 3;
    }
    StoreSnapshot s;
    std::string reason;
    if (!readStoreSnapshot(path, false, s, reason)) {
        std::cout << path << ": " << reason << '\n';
        return 1;
    }
    const std::int64_t kept = std::min<std::int64_t>(s.header.storedRecordCount, s.wholeRecords);
    std::cout << path << ": a store, " << s.fields.size() << " fields, " << kept << " records";
    if (const auto note = repairNote(s); !note.empty())
        std::cout << " (" << note << ")";
    std::cout << '\n';
    return 0;
}

void dumpJson(const std::string& path, const StoreSnapshot& s)
{
    const auto& h = s.header;
    std::cout << "{\n  \"file\": " << jsonString(path)
              << ",\n  \"header\": {\"formatVersion\": " << h.formatVersion
              << ", \"createdTime\": " << doubleText(h.createdTime)
              << ", \"createdTimeText\": " << jsonString(dateTimeText(h.createdTime))
              << ", \"storedRecordCount\": " << h.storedRecordCount << ", \"nextSerial\": " << h.nextSerial
              << ", \"recordLength\": " << h.recordLength << ", \"fieldCount\": " << s.fields.size()
              << ", \"dataStart\": " << s.dataStart << ", \"fileLength\": " << s.fileLength
              << ", \"wholeRecords\": " << s.wholeRecords << "},\n  \"repair\": " << jsonString(repairNote(s))
              << ",\n  \"fields\": [";
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
        const auto& f = s.fields[i];
        std::cout << (i ? ",\n" : "\n")
                  << "    {\"name\": " << jsonString(utf8FromGbk(std::string(f.nameView())))
                  << ", \"type\": " << f.type << ", \"offset\": " << f.offset << ", \"width\": " << f.width
                  << "}";
    }
    std::cout << "\n  ],\n  \"records\": [";
    for (std::size_t r = 0; r < s.records.size(); ++r) {
        const auto& record = s.records[r];
        const auto serial = recordSerial(record);
        std::cout << (r ? ",\n" : "\n") << "    {\"record\": " << r + 1 << ", \"serial\": " << serial
                  << ", \"deleted\": " << (serial < 0 ? "true" : "false") << ", \"values\": [";
        for (std::size_t i = 0; i < s.fields.size(); ++i)
            std::cout << (i ? ", " : "") << jsonString(fieldValue(record, s.fields[i]));
        std::cout << "]}";
    }
    std::cout << "\n  ]\n}\n";
}

void dumpTable(const std::string& path, const StoreSnapshot& s)
{
    const auto& h = s.header;
    printTable({
        {"file", path},
        {"formatVersion", std::to_string(h.formatVersion)},
        {"createdTime", doubleText(h.createdTime) + " (" + dateTimeText(h.createdTime) + ")"},
        {"storedRecordCount", std::to_string(h.storedRecordCount)},
        {"nextSerial", std::to_string(h.nextSerial)},
        {"recordLength", std::to_string(h.recordLength)},
        {"fieldCount", std::to_string(s.fields.size())},
        {"dataStart", std::to_string(s.dataStart)},
        {"fileLength", std::to_string(s.fileLength)},
    });
    if (const auto note = repairNote(s); !note.empty())
        std::cout << "note: " << note << '\n';

    std::cout << '\n';
    std::vector<std::vector<std::string>> fields{{"field", "name", "type", "offset", "width"}};
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
        const auto& f = s.fields[i];
        fields.push_back({std::to_string(i + 1), tableCell(utf8FromGbk(std::string(f.nameView()))),
                          std::to_string(f.type), std::to_string(f.offset), std::to_string(f.width)});
    }
    printTable(fields);

    std::cout << '\n';
    std::vector<std::vector<std::string>> records{{"record", "serial", "deleted"}};
    for (const auto& f : s.fields)
        records[0].push_back(tableCell(utf8FromGbk(std::string(f.nameView()))));
    for (std::size_t r = 0; r < s.records.size(); ++r) {
        const auto serial = recordSerial(s.records[r]);
        std::vector<std::string> row{std::to_string(r + 1), std::to_string(serial),
                                     serial < 0 ? "yes" : "no"};
        for (const auto& f : s.fields)
            row.push_back(tableCell(fieldValue(s.records[r], f)));
        records.push_back(std::move(row));
    }
    printTable(records);
}

int dump(const std::string& path, bool json)
{
    StoreSnapshot s;
    std::string reason;
    if (!readStoreSnapshot(path, true, s, reason)) {
        std::cerr << path << ": " << reason << '\n';
        return 1;
    }
    if (const auto pending = pendingRecovery(path); !pending.empty())
        std::cerr << path << ": " << pending << '\n';
    if (json)
        dumpJson(path, s);
    else
        dumpTable(path, s);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "help")) {
        std::cout << kHelp;
        return 0;
    }
    if (args.size() == 2 && args[0] == "check")
        return check(args[1]);
    if (args.size() == 2 && args[0] == "dump")
        return dump(args[1], false);
    if (args.size() == 3 && args[0] == "dump" && (args[1] == "--json" || args[2] == "--json"))
        return dump(args[1] == "--json" ? args[2] : args[1], true);
    return usage();
}
