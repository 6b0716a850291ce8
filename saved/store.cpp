#include "saved/store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fatal.h"
#include "common/gbk.h"
#include "common/text.h"
#include "platform/cancel.h"
#include "saved/file_lock.h"
#include "saved/store_format.h"
#include "saved/store_io.h"
#include "saved/store_journal.h"
#include "saved/store_snapshot.h"

namespace kuvona {

using namespace store_format;

// clang-format off
const std::array<unsigned char, 332> storeTemplate = {
    // magic "WEDB", formatVersion 65536
    0x57, 0x45, 0x44, 0x42,  0x00, 0x00, 0x01, 0x00,
    // createdTime 40205.992476851854 (2010-01-27 23:49:10)
    0x98, 0xD0, 0x5E, 0xC2, 0xBF, 0xA1, 0xE3, 0x40,
    // storedRecordCount 0, nextSerial 34, recordLength 136
    0x00, 0x00, 0x00, 0x00,  0x22, 0x00, 0x00, 0x00,  0x88, 0x00, 0x00, 0x00,
    // reserved: 84 zero bytes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // fieldCount 3
    0x03, 0x00, 0x00, 0x00,
    // 单号: type 10, offset 4, width 20, 40 reserved zero bytes
    0xB5, 0xA5, 0xBA, 0xC5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x0A, 0x00, 0x00, 0x00,  0x04, 0x00, 0x00, 0x00,  0x14, 0x00, 0x00, 0x00,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 公司: type 10, offset 24, width 12
    0xB9, 0xAB, 0xCB, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x0A, 0x00, 0x00, 0x00,  0x18, 0x00, 0x00, 0x00,  0x0C, 0x00, 0x00, 0x00,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 备注: type 10, offset 36, width 100
    0xB1, 0xB8, 0xD7, 0xA2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x0A, 0x00, 0x00, 0x00,  0x24, 0x00, 0x00, 0x00,  0x64, 0x00, 0x00, 0x00,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};
// clang-format on

namespace {

using Bytes = std::vector<unsigned char>;
using store_io::readExactly;
using store_io::writeExactly;

// appendRecord builds its record in memory; a header claiming larger records is not this program's.
constexpr std::int64_t kMaxComposedRecord = 1 << 20;

struct Store
{
    explicit Store(int descriptor) : fd(descriptor), locks(descriptor) {}
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store()
    {
        locks.releaseAll();
        if (fd >= 0)
            ::close(fd);
    }

    std::int64_t recordPosition(std::int64_t index) const { return dataStart + index * header.recordLength; }

    const FieldDescriptor* findField(const std::string& name) const
    {
        const std::string text = bytesToText(name);
        for (const auto& f : fields)
            if (equalIgnoringAsciiCase(f.nameView(), text))
                return &f;
        return nullptr;
    }

    std::string path;
    std::string journalPath;
    std::uint64_t id = 0;
    int fd;
    Header header;
    std::vector<FieldDescriptor> fields;
    std::int64_t dataStart = 0;
    std::int32_t currentRecord = 0;
    FileLocks locks;
};

// Every open store; the program only ever opens one file, so this holds at most one in practice.
std::vector<std::unique_ptr<Store>> g_openStores;
Store* g_current = nullptr;
std::uint64_t g_lastStoreId = 0;

Store* findStore(std::uint64_t id)
{
    for (const auto& s : g_openStores)
        if (s->id == id)
            return s.get();
    return nullptr;
}

// Holds a byte lock for a scope; granted() tells whether it was had.
class ByteLock
{
public:
    ByteLock(FileLocks& locks, std::int64_t offset) : m_locks(locks), m_offset(offset)
    {
        m_result = locks.lockByte(offset);
    }
    ~ByteLock()
    {
        if (granted())
            m_locks.unlockByte(m_offset);
    }
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    bool granted() const { return m_result == FileLocks::Result::Granted; }
    FileLocks::Result result() const { return m_result; }

private:
    FileLocks& m_locks;
    std::int64_t m_offset;
    FileLocks::Result m_result;
};

class WholeFileLock
{
public:
    explicit WholeFileLock(FileLocks& locks) : m_locks(locks) { m_result = locks.lockWholeFile(); }
    ~WholeFileLock()
    {
        if (granted())
            m_locks.unlockWholeFile();
    }
    WholeFileLock(const WholeFileLock&) = delete;
    WholeFileLock& operator=(const WholeFileLock&) = delete;
    bool granted() const { return m_result == FileLocks::Result::Granted; }
    FileLocks::Result result() const { return m_result; }

private:
    FileLocks& m_locks;
    FileLocks::Result m_result;
};

enum class Attempt
{
    Done,
    Busy, // a lock held by another process
    Failed,
};

Attempt fromLock(FileLocks::Result r)
{
    return r == FileLocks::Result::Conflict ? Attempt::Busy : Attempt::Failed;
}

// Runs `attempt` until it stops reporting a lock held by another process, for up to `waitMs`,
// sleeping 20 to 39 ms in between, as recordCount always has.
template <typename Try> Attempt retryWhileBusy(Try attempt, int waitMs = kStoreLockWaitMs)
{
    const auto start = tickCount();
    for (;;) {
        const Attempt result = attempt();
        if (result != Attempt::Busy ||
            tickCount() - start >= static_cast<unsigned long long>(std::max(0, waitMs)))
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + tickCount() % 20));
    }
}

bool writeInt32(int fd, std::int32_t value, std::int64_t position)
{
    unsigned char bytes[4];
    storeInt32(bytes, value);
    return writeExactly(fd, bytes, 4, position);
}

std::int64_t fileLength(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    return st.st_size;
}

// Writes `bytes` over `old` (the bytes there now) at `position`; if the write fails part-way the old
// bytes go back, so that a failed write leaves no torn field or serial.
bool overwrite(int fd, const void* bytes, const void* old, std::int64_t length, std::int64_t position)
{
    if (writeExactly(fd, bytes, length, position))
        return true;
    writeExactly(fd, old, length, position);
    return false;
}

// The record of zeros with `serial`, written in pieces of bounded size so that a header claiming
// huge records cannot make an append allocate them.
bool writeBlankRecord(int fd, std::int64_t position, std::int64_t length, std::int32_t serial)
{
    constexpr std::int64_t kPiece = 65536;
    Bytes piece(static_cast<std::size_t>(std::min(length, kPiece)), 0);
    storeInt32(piece.data(), serial);
    for (std::int64_t done = 0; done < length;) {
        const std::int64_t n = std::min(length - done, kPiece);
        if (!writeExactly(fd, piece.data(), n, position + done))
            return false;
        if (done == 0)
            storeInt32(piece.data(), 0);
        done += n;
    }
    return true;
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    auto abs = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec)
        return {};
    return abs.lexically_normal().string();
}

bool journalLeft(const Store& s)
{
    struct stat st;
    return ::lstat(s.journalPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Called with some lock of the store held, which no process in the middle of a change would have
// let us have: a journal found now was left by a process that died, and is rolled back before this
// operation goes on. The rollback needs the whole file; another process's lock fails it.
FileLocks::Result settleJournal(Store& s)
{
    if (!journalLeft(s))
        return FileLocks::Result::Granted;
    WholeFileLock whole(s.locks);
    if (!whole.granted())
        return whole.result();
    return store_journal::recover(s.fd, s.journalPath) ? FileLocks::Result::Granted
                                                       : FileLocks::Result::Failed;
}

// A disk writes a 512-byte sector whole or not at all, and a kill cannot cut a write inside one page
// of the page cache; a write within one sector is therefore never found half done. Any other write
// may be: a kill between two pages, a power cut between two sectors.
constexpr std::int64_t kAtomicWriteUnit = 512;

bool mayTear(std::int64_t position, std::int64_t length)
{
    return position / kAtomicWriteUnit != (position + length - 1) / kAtomicWriteUnit;
}

// Writes `bytes` over `old` (the bytes there now, under the caller's lock of the record) so that
// neither a failure nor a crash leaves a mix of the two. A write that may tear is made as a change
// of its own: its old bytes are journalled and synced first, then written over and synced, and
// deleting the journal commits, just as for the multi-record changes; the journal needs the whole
// file, which another process holding any lock of it refuses at once.
bool overwriteRecordBytes(Store& s, const void* bytes, const void* old, std::int64_t length,
                          std::int64_t position)
{
    if (!mayTear(position, length))
        return overwrite(s.fd, bytes, old, length, position);
    WholeFileLock whole(s.locks);
    const std::int64_t fileEnd = fileLength(s.fd);
    if (!whole.granted() || fileEnd < position + length)
        return false;
    store_journal::Journal journal;
    journal.originalLength = fileEnd;
    journal.segments.push_back(
        {position, std::string(static_cast<const char*>(old), static_cast<std::size_t>(length))});
    if (!store_journal::write(s.journalPath, journal))
        return false;
    if (writeExactly(s.fd, bytes, length, position) && store_io::ops().fsync(s.fd) == 0 &&
        store_journal::remove(s.journalPath))
        return true;
    // Still hot when this fails too: the next open or change rolls it back.
    store_journal::recover(s.fd, s.journalPath);
    return false;
}

// Reads the header and descriptors, checks them and repairs the record area; the whole file is
// locked by the caller and any journal already rolled back.
bool loadAndRepair(Store& s)
{
    const std::int64_t length = fileLength(s.fd);
    unsigned char header[kHeaderSize];
    if (length < kHeaderSize + 4 || !readExactly(s.fd, header, kHeaderSize, 0) ||
        parseHeader(header, s.header) != FormatError::None)
        return false;
    unsigned char countBytes[4];
    if (!readExactly(s.fd, countBytes, 4, kFieldCountOffset))
        return false;
    const std::int32_t fieldCount = loadInt32(countBytes);
    if (fieldCount <= 0)
        return false;
    s.dataStart = dataStartFor(fieldCount);
    // Checked before reading so that a wild fieldCount allocates nothing.
    if (length < s.dataStart)
        return false;
    Bytes descriptors(static_cast<std::size_t>(s.dataStart - kDescriptorsOffset));
    if (!readExactly(s.fd, descriptors.data(), std::int64_t(descriptors.size()), kDescriptorsOffset))
        return false;
    s.fields.resize(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i)
        if (parseDescriptor(descriptors.data() + i * kDescriptorSize, s.header.recordLength, s.fields[i]) !=
            FormatError::None)
            return false;
    if (checkRecordLength(s.fields, s.header.recordLength) != FormatError::None)
        return false;

    const RepairPlan plan = planRepair(s.header, s.dataStart, length);
    if (plan.error != FormatError::None)
        return false;
    if (plan.count != s.header.storedRecordCount) {
        s.header.storedRecordCount = plan.count;
        if (!writeInt32(s.fd, plan.count, kCountOffset))
            return false;
    }
    return plan.length == length || store_io::ops().ftruncate(s.fd, static_cast<off_t>(plan.length)) == 0;
}

} // namespace

bool openStore(const std::string& path, int waitMs)
{
    if (path.empty())
        return false;
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    for (const auto& s : g_openStores)
        if (equalIgnoringAsciiCase(s->path, abs))
            return false;

    // Not blocking: a FIFO or device put in the file's place must not hang the program.
    const int fd = ::open(abs.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    auto store = std::make_unique<Store>(fd); // closes the file again on every failure below
    store->path = abs;
    store->journalPath = journalPathFor(abs);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const Attempt opened = retryWhileBusy(
        [&] {
            WholeFileLock whole(store->locks);
            if (!whole.granted())
                return fromLock(whole.result());
            return store_journal::recover(fd, store->journalPath) && loadAndRepair(*store) ? Attempt::Done
                                                                                           : Attempt::Failed;
        },
        waitMs);
    if (opened != Attempt::Done)
        return false;
    store->currentRecord = 0;
    store->id = ++g_lastStoreId;
    g_current = store.get();
    g_openStores.push_back(std::move(store));
    return true;
}

void closeStore()
{
    if (!g_current)
        return;
    std::erase_if(g_openStores, [](const auto& s) { return s.get() == g_current; });
    g_current = nullptr;
}

namespace {

// storedRecordCount as recordCount reads it; empty when it could not be read within the retry time.
std::optional<std::int32_t> readRecordCount(Store& s)
{
    std::int32_t count = 0;
    const Attempt a = retryWhileBusy([&] {
        ByteLock lock(s.locks, kCountOffset);
        if (!lock.granted())
            return fromLock(lock.result());
        unsigned char bytes[8];
        if (!readExactly(s.fd, bytes, 8, kCountOffset))
            return Attempt::Failed;
        count = std::max<std::int32_t>(0, loadInt32(bytes));
        return Attempt::Done;
    });
    return a == Attempt::Done ? std::optional(count) : std::nullopt;
}

// One attempt at an append; `writeRecord(position, serial)` writes the new record. The record goes
// first: a stop before the header is written leaves a surplus record that the next open drops,
// never a count that claims a record not yet written.
template <typename WriteRecord> Attempt tryAppend(Store& s, WriteRecord writeRecord)
{
    ByteLock countLock(s.locks, kCountOffset);
    if (!countLock.granted())
        return fromLock(countLock.result());
    if (const auto r = settleJournal(s); r != FileLocks::Result::Granted)
        return fromLock(r);
    unsigned char counts[8];
    if (!readExactly(s.fd, counts, 8, kCountOffset))
        return Attempt::Failed;
    const std::int32_t count = std::max<std::int32_t>(0, loadInt32(counts));
    const std::int32_t serial = std::max<std::int32_t>(1, loadInt32(counts + 4));
    // One more would overflow the count or the serial; the file would no longer be a store.
    if (count == INT32_MAX || serial == INT32_MAX)
        return Attempt::Failed;
    const std::int64_t position = s.recordPosition(count);
    ByteLock recordLock(s.locks, position);
    if (!recordLock.granted())
        return fromLock(recordLock.result());
    const std::int64_t length = fileLength(s.fd);
    if (length < 0 || position > length)
        return Attempt::Failed;
    unsigned char raised[8];
    storeInt32(raised, count + 1);
    storeInt32(raised + 4, serial + 1);
    if (!writeRecord(position, serial) || !overwrite(s.fd, raised, counts, 8, kCountOffset)) {
        // The count still excludes the record; cutting it keeps the file as it was for the next append.
        store_io::ops().ftruncate(s.fd, static_cast<off_t>(length));
        return Attempt::Failed;
    }
    s.currentRecord = count;
    return Attempt::Done;
}

} // namespace

std::int32_t recordCount()
{
    return g_current ? readRecordCount(*g_current).value_or(0) : 0;
}

void goToFirstRecord()
{
    if (g_current)
        g_current->currentRecord = 0;
}

bool goToRecord(std::int32_t n)
{
    if (!g_current)
        return false;
    const auto count = readRecordCount(*g_current);
    if (!count)
        return false;
    const std::int32_t c = *count;
    const std::int64_t target = std::min<std::int64_t>(std::int64_t(n) - 1, std::int64_t(c) - 1);
    g_current->currentRecord = static_cast<std::int32_t>(std::max<std::int64_t>(0, target));
    return true;
}

bool skipRecord(std::int32_t n)
{
    if (!g_current)
        return false;
    if (n == 0)
        return true;
    Store& s = *g_current;
    const std::int32_t c = readRecordCount(s).value_or(0);
    if (c == 0)
        return false;
    if (n > 0) {
        if (s.currentRecord >= c)
            return false;
        s.currentRecord =
            static_cast<std::int32_t>(std::min<std::int64_t>(c, std::int64_t(s.currentRecord) + n));
        return true;
    }
    if (s.currentRecord < 0)
        return false;
    s.currentRecord =
        static_cast<std::int32_t>(std::max<std::int64_t>(-1, std::int64_t(s.currentRecord) + n));
    return true;
}

std::string readField(const std::string& fieldName)
{
    if (!g_current)
        fatalRuntimeError(0, gbk("未指定当前数据库或者指定数据库未打开"));
    Store& s = *g_current;
    const FieldDescriptor* f = s.findField(fieldName);
    if (!f)
        fatalRuntimeError(0, gbk("指定字段不存在"));
    if (s.currentRecord < 0 || f->type != kTextType)
        return {};
    const std::int64_t record = s.recordPosition(s.currentRecord);
    // A record at or beyond the end of the file reads nothing, which gives the empty text; that
    // spares a length query on every read.
    ByteLock lock(s.locks, record);
    if (!lock.granted())
        return {};
    // Read up to the terminator in pieces, so that a header claiming a huge field allocates only what
    // the file holds; program-sized fields take one read.
    constexpr std::int64_t kPiece = 4096;
    std::string value;
    for (std::int64_t done = 0; done < f->width;) {
        const std::int64_t n = std::min<std::int64_t>(f->width - done, kPiece);
        value.resize(static_cast<std::size_t>(done + n));
        if (!readExactly(s.fd, value.data() + done, n, record + f->offset + done))
            return {};
        if (value.find('\0', static_cast<std::size_t>(done)) != std::string::npos)
            break;
        done += n;
    }
    return bytesToText(value);
}

bool writeField(const std::string& fieldName, const std::string& value)
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    const FieldDescriptor* f = s.findField(fieldName);
    if (!f || f->type != kTextType || s.currentRecord < 0)
        return false;
    const std::int64_t record = s.recordPosition(s.currentRecord);
    ByteLock lock(s.locks, record);
    if (!lock.granted() || settleJournal(s) != FileLocks::Result::Granted)
        return false;
    const std::int64_t position = record + f->offset;
    // A field reaching past the end belongs to a partial record another program left; writing it
    // would break the size invariant. Checked before the buffers of the field's width are allocated.
    const std::int64_t length = fileLength(s.fd);
    if (position >= length || position + f->width > length)
        return false;
    std::string old(static_cast<std::size_t>(f->width), '\0');
    if (!readExactly(s.fd, old.data(), f->width, position))
        return false;
    // The zero-filled buffer supplies the terminator and the padding.
    std::string bytes(static_cast<std::size_t>(f->width), '\0');
    const std::string text = bytesToText(value);
    std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
    return overwriteRecordBytes(s, bytes.data(), old.data(), f->width, position);
}

bool appendBlankRecord()
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    const Attempt a = tryAppend(s, [&s](std::int64_t position, std::int32_t serial) {
        return writeBlankRecord(s.fd, position, s.header.recordLength, serial);
    });
    return a == Attempt::Done;
}

bool modifyRecord(const std::vector<std::string>& values)
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    if (s.currentRecord < 0)
        return false;
    const std::size_t n = std::min(values.size(), s.fields.size());
    for (std::size_t i = 0; i < n; ++i)
        if (s.fields[i].type != kTextType)
            return false;
    const std::int64_t record = s.recordPosition(s.currentRecord);
    ByteLock lock(s.locks, record);
    if (!lock.granted() || settleJournal(s) != FileLocks::Result::Granted)
        return false;
    // The whole record must be there before a buffer of its claimed length is allocated.
    if (record + s.header.recordLength > fileLength(s.fd))
        return false;
    Bytes image(static_cast<std::size_t>(s.header.recordLength));
    if (!readExactly(s.fd, image.data(), s.header.recordLength, record))
        return false;
    const Bytes old = image;
    for (std::size_t i = 0; i < n; ++i) {
        const FieldDescriptor& f = s.fields[i];
        const std::string text = bytesToText(values[i]);
        const std::size_t copied = std::min(text.size() + 1, static_cast<std::size_t>(f.width));
        // c_str() supplies the terminating zero.
        std::copy_n(text.c_str(), copied, image.begin() + f.offset);
    }
    return overwriteRecordBytes(s, image.data() + kSerialSize, old.data() + kSerialSize,
                                s.header.recordLength - kSerialSize, record + kSerialSize);
}

bool deleteRecord()
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    if (s.currentRecord < 0)
        return false;
    const std::int64_t record = s.recordPosition(s.currentRecord);
    ByteLock lock(s.locks, record);
    if (!lock.granted() || settleJournal(s) != FileLocks::Result::Granted || record >= fileLength(s.fd))
        return false;
    unsigned char serial[4];
    if (!readExactly(s.fd, serial, 4, record))
        return false;
    const std::int32_t value = loadInt32(serial);
    if (value <= 0)
        return true;
    unsigned char marked[4];
    storeInt32(marked, -value);
    return overwriteRecordBytes(s, marked, serial, 4, record);
}

namespace {

// The file as a multi-record change starts from, read under the whole-file lock.
struct Area
{
    std::int32_t count = 0;
    std::int32_t nextSerial = 0;
    std::int64_t fileLength = 0;
    Bytes tail; // every byte from dataStart to the end of the file
};

// Reads the counted records and whatever follows them in one read; the read is bounded by the
// file's length, and a count claiming more records than the file holds fails it.
bool readArea(Store& s, Area& area)
{
    unsigned char counts[8];
    area.fileLength = fileLength(s.fd);
    if (area.fileLength < s.dataStart || !readExactly(s.fd, counts, 8, kCountOffset))
        return false;
    area.count = std::max<std::int32_t>(0, loadInt32(counts));
    area.nextSerial = loadInt32(counts + 4);
    if (s.recordPosition(area.count) > area.fileLength)
        return false;
    area.tail.resize(static_cast<std::size_t>(area.fileLength - s.dataStart));
    return readExactly(s.fd, area.tail.data(), std::int64_t(area.tail.size()), s.dataStart);
}

// Makes `records` (whole records, one after the other) the record area and `nextSerial` the header's,
// crash-atomically: the bytes about to change are journalled and synced first, the file is changed
// and synced, and deleting the journal commits. A failure rolls back at once; what a kill leaves is
// rolled back by the next open. The whole file is locked by the caller; nothing is written when
// nothing changes.
bool commitArea(Store& s, const Area& area, const Bytes& records, std::int32_t nextSerial)
{
    const auto count = static_cast<std::int32_t>(std::int64_t(records.size()) / s.header.recordLength);
    const auto firstChange = static_cast<std::int64_t>(
        std::mismatch(records.begin(), records.end(), area.tail.begin(), area.tail.end()).first -
        records.begin());
    // Bytes an interrupted append left beyond the count stay until a real change cuts them.
    if (count == area.count && nextSerial == area.nextSerial && firstChange == std::int64_t(records.size()))
        return true;

    store_journal::Journal journal;
    journal.originalLength = area.fileLength;
    std::string header(static_cast<std::size_t>(kHeaderSize), '\0');
    if (!readExactly(s.fd, header.data(), kHeaderSize, 0))
        return false;
    journal.segments.push_back({0, std::move(header)});
    if (firstChange < std::int64_t(area.tail.size()))
        journal.segments.push_back(
            {s.dataStart + firstChange, std::string(area.tail.begin() + firstChange, area.tail.end())});
    if (!store_journal::write(s.journalPath, journal))
        return false;

    unsigned char counts[8];
    storeInt32(counts, count);
    storeInt32(counts + 4, nextSerial);
    const std::int64_t newLength = s.dataStart + std::int64_t(records.size());
    const bool written =
        writeExactly(s.fd, records.data() + firstChange, std::int64_t(records.size()) - firstChange,
                     s.dataStart + firstChange) &&
        writeExactly(s.fd, counts, 8, kCountOffset) &&
        (newLength >= area.fileLength ||
         store_io::ops().ftruncate(s.fd, static_cast<off_t>(newLength)) == 0) &&
        store_io::ops().fsync(s.fd) == 0;
    if (written && store_journal::remove(s.journalPath))
        return true;
    // Still hot when this fails too: the next open or change rolls it back.
    store_journal::recover(s.fd, s.journalPath);
    return false;
}

// Runs `change(area, records, nextSerial)` on the current store under its whole-file lock, without
// waiting for another process, and commits what it leaves in `records` and `nextSerial`.
template <typename Change> bool changeArea(Change change)
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    WholeFileLock whole(s.locks);
    if (!whole.granted() || !store_journal::recover(s.fd, s.journalPath))
        return false;
    Area area;
    if (!readArea(s, area))
        return false;
    Bytes records;
    std::int32_t nextSerial = area.nextSerial;
    if (!change(s, area, records, nextSerial) || !commitArea(s, area, records, nextSerial))
        return false;
    s.currentRecord = 0;
    return true;
}

StoredRecord recordFromBytes(const Store& s, std::string bytes)
{
    StoredRecord r;
    r.serial = recordSerial(bytes);
    r.texts.reserve(s.fields.size());
    for (const auto& f : s.fields)
        r.texts.push_back(f.type == kTextType ? recordText(bytes, f) : std::string());
    r.bytes = std::move(bytes);
    return r;
}

} // namespace

bool purgeDeleted()
{
    return changeArea([](Store& s, const Area& area, Bytes& records, std::int32_t&) {
        const std::int64_t length = s.header.recordLength;
        records.reserve(static_cast<std::size_t>(area.count * length));
        for (std::int64_t i = 0; i < area.count; ++i) {
            const auto record = area.tail.begin() + i * length;
            if (loadInt32(&*record) >= 0)
                records.insert(records.end(), record, record + length);
        }
        return true;
    });
}

bool clearStore()
{
    return changeArea([](Store&, const Area&, Bytes&, std::int32_t&) { return true; });
}

bool replaceAllRecords(const std::vector<StoredRecord>& replacement, std::optional<std::int32_t> nextSerial)
{
    return changeArea([&](Store& s, const Area& area, Bytes& records, std::int32_t& serial) {
        if (nextSerial) {
            if (*nextSerial < std::max(1, area.nextSerial))
                return false;
            serial = *nextSerial;
        }
        const auto length = static_cast<std::size_t>(s.header.recordLength);
        if (replacement.size() > std::size_t(INT32_MAX))
            return false;
        for (const auto& r : replacement)
            if (r.bytes.size() != length)
                return false;
        records.reserve(replacement.size() * length);
        for (const auto& r : replacement) {
            const std::size_t at = records.size();
            records.insert(records.end(), r.bytes.begin(), r.bytes.end());
            storeInt32(records.data() + at, r.serial);
        }
        return true;
    });
}

std::vector<StoredRecord> readAllRecords(bool* ok, std::int32_t* nextSerial)
{
    if (ok)
        *ok = false;
    std::vector<StoredRecord> result;
    if (!g_current)
        return result;
    Store& s = *g_current;
    Area area;
    const Attempt a = retryWhileBusy([&] {
        WholeFileLock whole(s.locks);
        if (!whole.granted())
            return fromLock(whole.result());
        if (!store_journal::recover(s.fd, s.journalPath) || !readArea(s, area))
            return Attempt::Failed;
        return Attempt::Done;
    });
    if (a != Attempt::Done)
        return result;
    const std::int64_t length = s.header.recordLength;
    result.reserve(static_cast<std::size_t>(area.count));
    for (std::int64_t i = 0; i < area.count; ++i) {
        const auto record = area.tail.begin() + i * length;
        result.push_back(recordFromBytes(s, std::string(record, record + length)));
    }
    if (ok)
        *ok = true;
    if (nextSerial)
        *nextSerial = area.nextSerial;
    return result;
}

StoredRecord composeRecord(std::int32_t serial, const std::vector<std::string>& values)
{
    if (!g_current || g_current->header.recordLength > kMaxComposedRecord)
        return {};
    const Store& s = *g_current;
    std::string bytes(static_cast<std::size_t>(s.header.recordLength), '\0');
    storeInt32(reinterpret_cast<unsigned char*>(bytes.data()), serial);
    for (std::size_t i = 0; i < std::min(values.size(), s.fields.size()); ++i) {
        const FieldDescriptor& f = s.fields[i];
        if (f.type != kTextType)
            return {};
        const std::string text = bytesToText(values[i]);
        std::copy_n(text.begin(), std::min(text.size(), std::size_t(f.width)), bytes.begin() + f.offset);
    }
    return recordFromBytes(s, std::move(bytes));
}

bool appendRecord(const std::vector<std::string>& values)
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    StoredRecord image = composeRecord(0, values);
    if (image.bytes.empty())
        return false;
    return retryWhileBusy([&] {
               return tryAppend(s, [&](std::int64_t position, std::int32_t serial) {
                   storeInt32(reinterpret_cast<unsigned char*>(image.bytes.data()), serial);
                   return writeExactly(s.fd, image.bytes.data(), std::int64_t(image.bytes.size()), position);
               });
           }) == Attempt::Done;
}

StoreChange::StoreChange()
{
    if (!g_current)
        return;
    Store& s = *g_current;
    const Attempt a = retryWhileBusy([&] {
        const auto r = s.locks.lockWholeFile();
        if (r != FileLocks::Result::Granted)
            return fromLock(r);
        if (!store_journal::recover(s.fd, s.journalPath)) {
            s.locks.unlockWholeFile();
            return Attempt::Failed;
        }
        return Attempt::Done;
    });
    m_ok = a == Attempt::Done;
    if (m_ok)
        m_storeId = s.id;
}

StoreChange::~StoreChange()
{
    if (Store* s = m_ok ? findStore(m_storeId) : nullptr)
        s->locks.unlockWholeFile();
}

std::string journalPathFor(const std::string& path)
{
    return path + "-journal";
}

bool createStoreIfMissing(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_size > 0))
        return true;
    // A unique name, so that two instances starting together do not write into one temporary file.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // mkostemp creates the file for its owner only; a store is as readable as any file the user makes.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const bool written = writeExactly(fd, storeTemplate.data(), std::int64_t(storeTemplate.size()), 0) &&
                         store_io::ops().fsync(fd) == 0;
    ::close(fd);
    // Where nothing is there, link() refuses to replace a store another instance made meanwhile; an
    // empty file is replaced.
    const bool missing = ::lstat(path.c_str(), &st) != 0;
    bool placed = false;
    if (written && missing) {
        placed = store_io::ops().link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST;
        // A file system without hard links still renames.
        if (!placed && (errno == EPERM || errno == EOPNOTSUPP))
            placed = store_io::ops().rename(temporary.c_str(), path.c_str()) == 0;
    } else if (written) {
        placed = store_io::ops().rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!placed) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (missing)
        ::unlink(temporary.c_str());
    store_journal::syncDirectoryOf(path);
    return true;
}

std::int32_t fieldType(const std::string& fieldName)
{
    if (!g_current)
        return 0;
    const FieldDescriptor* f = g_current->findField(fieldName);
    return f ? f->type : 0;
}

std::optional<std::size_t> fieldIndex(const std::string& fieldName)
{
    if (!g_current)
        return std::nullopt;
    const FieldDescriptor* f = g_current->findField(fieldName);
    if (!f)
        return std::nullopt;
    return static_cast<std::size_t>(f - g_current->fields.data());
}

std::optional<std::int32_t> currentRecordIndex()
{
    if (!g_current)
        return std::nullopt;
    return g_current->currentRecord;
}

std::string currentStorePath()
{
    return g_current ? g_current->path : std::string();
}

} // namespace kuvona
