#pragma once

// The records of a Danhao.edb as the bytes hold them, read without the store code, for the tests that
// judge what the commands left in the file after kills and between processes.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/saved/store_fixture.h"

namespace kuvona::test {

struct FileRow
{
    bool operator==(const FileRow&) const = default;
    auto operator<=>(const FileRow&) const = default;
    std::int32_t serial = 0;
    std::string number, company, remark; // GBK, each up to its first zero byte
};

struct SavedFile
{
    bool operator==(const SavedFile&) const = default;
    std::vector<FileRow> rows;
    std::int32_t nextSerial = 0;
    // Bytes that do not add up: a count above the records present, or a tail that is not whole records.
    bool ragged = false;
};

constexpr std::size_t kHeaderBytes = 332;
constexpr std::size_t kRecordBytes = 136;

inline SavedFile parseSavedFile(const std::string& bytes)
{
    SavedFile file;
    if (bytes.size() < kHeaderBytes) {
        file.ragged = true;
        return file;
    }
    file.nextSerial = getInt32(bytes, 20);
    const std::int32_t count = getInt32(bytes, 16);
    const std::size_t whole = (bytes.size() - kHeaderBytes) / kRecordBytes;
    file.ragged =
        count < 0 || std::size_t(count) != whole || (bytes.size() - kHeaderBytes) % kRecordBytes != 0;
    const auto text = [](const std::string& record, std::size_t offset, std::size_t width) {
        const std::string field = record.substr(offset, width);
        return field.substr(0, field.find('\0'));
    };
    for (std::size_t i = 0; i < whole && i < std::size_t(std::max(count, 0)); ++i) {
        const std::string r = bytes.substr(kHeaderBytes + kRecordBytes * i, kRecordBytes);
        file.rows.push_back({getInt32(r, 0), text(r, 4, 20), text(r, 24, 12), text(r, 36, 100)});
    }
    return file;
}

inline SavedFile readSavedFile(const std::string& path)
{
    return parseSavedFile(readFile(path));
}

} // namespace kuvona::test
