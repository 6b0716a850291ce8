// Opens arbitrary bytes as a store and runs the operations the input chooses.
//
// Input: FILE JOURNAL SCRIPT j0 j1 k, where the last byte k is the length of SCRIPT, j0 + 256 * j1
// the length of JOURNAL (the low 15 bits; with the top bit set the harness seals JOURNAL with the
// checksum it needs to count as a complete journal, so that rollbacks of arbitrary segments are
// reached), and everything before JOURNAL is written as the store file. JOURNAL, when not empty, is
// written beside it as its rollback journal. Each script byte picks an operation; some take the
// next bytes as arguments.
//
// Beyond the sanitizers, it checks what must hold for any file:
//  - without a complete journal, openStore and the read-only inspection agree on whether the bytes
//    are a store, and a refused file is left exactly as it was;
//  - an open, whatever it decides, leaves no journal behind unless the rollback failed;
//  - after every operation the file is dataStart + storedRecordCount * recordLength bytes long and the
//    current record lies in -1 .. count;
//  - what the operations leave still opens as a store.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fatal.h"
#include "common/gbk.h"
#include "saved/store.h"
#include "saved/store_format.h"
#include "saved/store_journal.h"
#include "saved/store_snapshot.h"
#include "tests/support/fault_injection.h"

using namespace kuvona;

namespace {

struct FatalStop
{};

[[noreturn]] void throwingHandler(int, const std::string&)
{
    throw FatalStop{};
}

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__);                      \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

const std::string& storePath()
{
    static const std::string path = [] {
        char dir[] = "/tmp/fuzz_store.XXXXXX";
        if (!::mkdtemp(dir))
            std::abort();
        return std::string(dir) + "/Danhao.edb";
    }();
    static const bool cleanup = (std::atexit([] {
                                     ::unlink(path.c_str());
                                     ::unlink(journalPathFor(path).c_str());
                                     ::rmdir(path.substr(0, path.rfind('/')).c_str());
                                 }),
                                 true);
    (void)cleanup;
    return path;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

class Script
{
public:
    Script(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_at >= m_size; }
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string text()
    {
        const std::size_t n = std::min<std::size_t>(byte() % 40, m_size - std::min(m_at, m_size));
        std::string t(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return t;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

std::int64_t fileLength(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

void checkInvariants(const StoreSnapshot& shape)
{
    unsigned char countBytes[4] = {};
    const int fd = ::open(storePath().c_str(), O_RDONLY);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::pread(fd, countBytes, 4, store_format::kCountOffset) == 4);
    ::close(fd);
    const std::int32_t count = store_format::loadInt32(countBytes);
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(fileLength(storePath()) == shape.dataStart + std::int64_t(count) * shape.header.recordLength);
    const auto current = currentRecordIndex();
    FUZZ_CHECK(current.has_value() && *current >= -1 && *current <= count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The syncs change nothing a later read sees, and cost most of the time of every change.
    static const bool once =
        (setFatalHandler(throwingHandler), store_io::setFileOps(&test::fileOpsWithoutSyncs()), true);
    (void)once;
    if (size < 3)
        return 0;
    const std::size_t scriptSize = std::min<std::size_t>(data[size - 1], size - 3);
    const unsigned journalField = data[size - 3] | (unsigned(data[size - 2]) << 8);
    const std::size_t journalSize = std::min<std::size_t>(journalField & 0x7FFF, size - 3 - scriptSize);
    const std::size_t fileSize = size - 3 - scriptSize - journalSize;
    const std::string& path = storePath();
    const std::string journalPath = journalPathFor(path);
    closeStore();
    writeFile(path, data, fileSize);
    ::unlink(journalPath.c_str());
    if (journalSize > 0) {
        std::string journal(reinterpret_cast<const char*>(data + fileSize), journalSize);
        if (journalField & 0x8000) {
            // The magic, then the bytes as they come, then the checksum a complete journal ends with.
            journal.replace(0, std::min<std::size_t>(8, journal.size()), store_journal::kMagic, 8);
            std::uint64_t h = 0xcbf29ce484222325ULL;
            for (unsigned char c : journal)
                h = (h ^ c) * 0x100000001b3ULL;
            for (int i = 0; i < 8; ++i)
                journal += char((h >> (8 * i)) & 0xFF);
        }
        writeFile(journalPath, reinterpret_cast<const std::uint8_t*>(journal.data()), journal.size());
    }
    const bool hot = store_journal::inspect(journalPath) == store_journal::State::Hot;

    StoreSnapshot shape;
    std::string reason;
    const bool inspected = readStoreSnapshot(path, false, shape, reason);
    const bool opened = openStore(path);
    FUZZ_CHECK(::access(journalPath.c_str(), F_OK) != 0);
    if (!hot) {
        FUZZ_CHECK(opened == inspected);
        if (!opened) {
            FUZZ_CHECK(readFile(path) == std::string(reinterpret_cast<const char*>(data), fileSize));
            return 0;
        }
    } else {
        // What the rollback left is judged afresh.
        closeStore();
        const bool rolledBack = readStoreSnapshot(path, false, shape, reason);
        FUZZ_CHECK(rolledBack == opened);
        if (!opened || !openStore(path))
            return 0;
    }
    checkInvariants(shape);

    std::vector<std::string> names = {gbk("单号"), gbk("公司"), gbk("备注"), "nope"};
    for (const auto& f : shape.fields)
        names.emplace_back(f.nameView());
    // Appends grow the file by a record each; keep huge records out of the temporary directory.
    const bool smallRecords = shape.header.recordLength <= 65536;

    Script script(data + fileSize, scriptSize);
    while (!script.done()) {
        const std::uint8_t op = script.byte();
        switch (op % 13) {
        case 0:
            FUZZ_CHECK(recordCount() >= 0);
            break;
        case 1:
            goToFirstRecord();
            break;
        case 2:
            goToRecord(static_cast<std::int8_t>(script.byte()));
            break;
        case 3:
            skipRecord(static_cast<std::int8_t>(script.byte()));
            break;
        case 4: {
            const std::string& name = names[script.byte() % names.size()];
            const bool known = fieldType(name) != 0;
            try {
                const std::string value = readField(name);
                FUZZ_CHECK(known);
                FUZZ_CHECK(value.find('\0') == std::string::npos);
            } catch (const FatalStop&) {
                FUZZ_CHECK(!known);
            }
            break;
        }
        case 5: {
            const std::string& name = names[script.byte() % names.size()];
            const std::string value = script.text();
            if (writeField(name, value) && fieldType(name) == store_format::kTextType) {
                const std::string back = readField(name);
                const std::string text = value.substr(0, value.find('\0'));
                FUZZ_CHECK(text.compare(0, back.size(), back) == 0);
            }
            break;
        }
        case 6:
            if (smallRecords && fileLength(path) < (1 << 20))
                appendBlankRecord();
            break;
        case 7: {
            std::vector<std::string> values(script.byte() % 5);
            for (auto& v : values)
                v = script.text();
            modifyRecord(values);
            break;
        }
        case 8:
            deleteRecord();
            break;
        case 9:
            purgeDeleted();
            break;
        case 10:
            clearStore();
            break;
        case 11: {
            const auto before = currentRecordIndex();
            FUZZ_CHECK(!openStore(path));
            FUZZ_CHECK(currentRecordIndex() == before);
            break;
        }
        case 12: {
            // Close and open again: whatever the operations left must still be a store.
            closeStore();
            FUZZ_CHECK(openStore(path));
            break;
        }
        }
        checkInvariants(shape);
    }
    closeStore();
    FUZZ_CHECK(openStore(path));
    closeStore();
    return 0;
}
