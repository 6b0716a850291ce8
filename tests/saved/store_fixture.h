#pragma once

// Files for the store tests, built byte by byte so that the tests do not depend on the code under test.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/gbk.h"
#include "saved/store.h"

namespace kuvona::test {

inline std::string templateBytes()
{
    return std::string(storeTemplate.begin(), storeTemplate.end());
}

inline void putInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>(u >> (8 * i));
}

inline std::int32_t getInt32(const std::string& bytes, std::size_t offset)
{
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(u);
}

// A 136-byte record of the program's layout.
inline std::string makeRecord(std::int32_t serial, const std::string& number, const std::string& company,
                              const std::string& remark)
{
    std::string r(136, '\0');
    putInt32(r, 0, serial);
    r.replace(4, std::min<std::size_t>(number.size(), 20), number.substr(0, 20));
    r.replace(24, std::min<std::size_t>(company.size(), 12), company.substr(0, 12));
    r.replace(36, std::min<std::size_t>(remark.size(), 100), remark.substr(0, 100));
    return r;
}

// The template with `count` records "N<i>" / "C<i>" / "R<i>" and serials from `firstSerial`.
inline std::string storeWithRecords(int count, std::int32_t firstSerial = 34)
{
    std::string bytes = templateBytes();
    for (int i = 0; i < count; ++i) {
        const auto n = std::to_string(i + 1);
        bytes += makeRecord(firstSerial + i, "N" + n, "C" + n, "R" + n);
    }
    putInt32(bytes, 16, count);
    putInt32(bytes, 20, firstSerial + count);
    return bytes;
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    // One read of the whole file: a character iterator is far too slow under the sanitizers.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

inline long long fileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A journal built byte by byte: magic, original length, segments, FNV-1a 64 of all before it.
struct JournalSegment
{
    std::int64_t offset;
    std::string bytes;
};

inline void putInt64(std::string& out, std::int64_t v)
{
    for (int i = 0; i < 8; ++i)
        out += char((std::uint64_t(v) >> (8 * i)) & 0xFF);
}

inline std::string journalBytes(std::int64_t originalLength, const std::vector<JournalSegment>& segments)
{
    std::string out = "KVJRNL01";
    putInt64(out, originalLength);
    putInt64(out, std::int64_t(segments.size()));
    for (const auto& s : segments) {
        putInt64(out, s.offset);
        putInt64(out, std::int64_t(s.bytes.size()));
        out += s.bytes;
    }
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : out)
        h = (h ^ c) * 0x100000001b3ULL;
    putInt64(out, std::int64_t(h));
    return out;
}

// The file halfway through a purge of `original` (records 2 and 5 of 8 marked), and the journal
// that purge wrote before touching it.
struct InterruptedPurge
{
    std::string original;
    std::string halfDone;
    std::string journal;
};

inline InterruptedPurge interruptedPurge()
{
    InterruptedPurge r;
    r.original = storeWithRecords(8);
    putInt32(r.original, 332 + 136, -35);
    putInt32(r.original, 332 + 136 * 4, -38);
    // Records from the 2nd on moved up by one, the count not yet lowered, the file not yet cut.
    r.halfDone = r.original;
    r.halfDone.replace(332 + 136, 136 * 3, r.original.substr(332 + 136 * 2, 136 * 3));
    r.journal = journalBytes(std::int64_t(r.original.size()),
                             {{0, r.original.substr(0, 112)}, {332 + 136, r.original.substr(332 + 136)}});
    return r;
}

} // namespace kuvona::test
