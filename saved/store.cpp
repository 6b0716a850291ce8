#include "saved/store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <type_traits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fatal.h"
#include "common/gbk.h"
#include "common/text.h"
#include "platform/cancel.h"
#include "saved/file_lock.h"
#include "saved/store_format.h"

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

constexpr int kCountRetryMs = 2000;

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

    std::int64_t recordPosition(std::int32_t index) const
    {
        return dataStart + std::int64_t(index) * header.recordLength;
    }

    const FieldDescriptor* findField(const std::string& name) const
    {
        const std::string text = bytesToText(name);
        for (const auto& f : fields)
            if (equalIgnoringAsciiCase(f.nameView(), text))
                return &f;
        return nullptr;
    }

    std::string path;
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
    explicit WholeFileLock(FileLocks& locks) : m_locks(locks)
    {
        m_granted = locks.lockWholeFile() == FileLocks::Result::Granted;
    }
    ~WholeFileLock()
    {
        if (m_granted)
            m_locks.unlockWholeFile();
    }
    WholeFileLock(const WholeFileLock&) = delete;
    WholeFileLock& operator=(const WholeFileLock&) = delete;
    bool granted() const { return m_granted; }

private:
    FileLocks& m_locks;
    bool m_granted;
};

// Runs a positioned read or write until all `length` bytes have moved, retrying interruptions.
// A short transfer that makes no progress (end of file, disk full) is a failure.
template <typename Buffer, typename Transfer>
bool transferExactly(Buffer* buffer, std::int64_t length, std::int64_t position, Transfer transfer)
{
    auto* p =
        reinterpret_cast<std::conditional_t<std::is_const_v<Buffer>, const unsigned char, unsigned char>*>(
            buffer);
    while (length > 0) {
        const ssize_t n = transfer(p, static_cast<std::size_t>(length), static_cast<off_t>(position));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= n;
        position += n;
    }
    return true;
}

bool readExactly(int fd, void* buffer, std::int64_t length, std::int64_t position)
{
    return transferExactly(buffer, length, position,
                           [fd](unsigned char* p, std::size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

bool writeExactly(int fd, const void* buffer, std::int64_t length, std::int64_t position)
{
    return transferExactly(buffer, length, position, [fd](const unsigned char* p, std::size_t n, off_t at) {
        return ::pwrite(fd, p, n, at);
    });
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

// Reads the header and descriptors, checks them and repairs the record area; the whole file is
// locked by the caller.
bool loadAndRepair(Store& s)
{
    unsigned char header[kHeaderSize];
    if (!readExactly(s.fd, header, kHeaderSize, 0) || parseHeader(header, s.header) != FormatError::None)
        return false;
    unsigned char countBytes[4];
    if (!readExactly(s.fd, countBytes, 4, kFieldCountOffset))
        return false;
    const std::int32_t fieldCount = loadInt32(countBytes);
    if (fieldCount <= 0)
        return false;
    s.dataStart = dataStartFor(fieldCount);
    const std::int64_t length = fileLength(s.fd);
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

    const std::int64_t whole = (length - s.dataStart) / s.header.recordLength;
    if (whole < s.header.storedRecordCount) {
        s.header.storedRecordCount = static_cast<std::int32_t>(whole);
        if (!writeInt32(s.fd, s.header.storedRecordCount, kCountOffset))
            return false;
    }
    const std::int64_t wanted = s.recordPosition(s.header.storedRecordCount);
    if (wanted != length && ::ftruncate(s.fd, static_cast<off_t>(wanted)) != 0)
        return false;
    return true;
}

} // namespace

bool openStore(const std::string& path)
{
    if (path.empty())
        return false;
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    for (const auto& s : g_openStores)
        if (equalIgnoringAsciiCase(s->path, abs))
            return false;

    const int fd = ::open(abs.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    auto store = std::make_unique<Store>(fd); // closes the file again on every failure below
    store->path = abs;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    {
        WholeFileLock whole(store->locks);
        if (!whole.granted() || !loadAndRepair(*store))
            return false;
    }
    store->currentRecord = 0;
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
    const auto start = tickCount();
    for (;;) {
        ByteLock lock(s.locks, kCountOffset);
        if (lock.granted()) {
            unsigned char bytes[8];
            if (!readExactly(s.fd, bytes, 8, kCountOffset))
                return std::nullopt;
            return std::max<std::int32_t>(0, loadInt32(bytes));
        }
        if (lock.result() != FileLocks::Result::Conflict || tickCount() - start >= kCountRetryMs)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + tickCount() % 20));
    }
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
    if (!lock.granted())
        return false;
    const std::int64_t position = record + f->offset;
    // A field reaching past the end belongs to a partial record another program left; writing it
    // would break the size invariant.
    const std::int64_t length = fileLength(s.fd);
    if (position >= length || position + f->width > length)
        return false;
    // The zero-filled buffer supplies the terminator and the padding.
    std::string bytes(static_cast<std::size_t>(f->width), '\0');
    const std::string text = bytesToText(value);
    std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
    return writeExactly(s.fd, bytes.data(), f->width, position);
}

bool appendBlankRecord()
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    ByteLock countLock(s.locks, kCountOffset);
    if (!countLock.granted())
        return false;
    unsigned char counts[8];
    if (!readExactly(s.fd, counts, 8, kCountOffset))
        return false;
    const std::int32_t count = std::max<std::int32_t>(0, loadInt32(counts));
    const std::int32_t serial = std::max<std::int32_t>(1, loadInt32(counts + 4));
    // One more would overflow the count or the serial; the file would no longer be a store.
    if (count == INT32_MAX || serial == INT32_MAX)
        return false;
    const std::int64_t position = s.recordPosition(count);
    ByteLock recordLock(s.locks, position);
    if (!recordLock.granted() || position > fileLength(s.fd))
        return false;
    // The record goes first: a stop before the header is written leaves a surplus record that the
    // next open drops, never a count that claims a record not yet written.
    if (!writeBlankRecord(s.fd, position, s.header.recordLength, serial))
        return false;
    storeInt32(counts, count + 1);
    storeInt32(counts + 4, serial + 1);
    if (!writeExactly(s.fd, counts, 8, kCountOffset))
        return false;
    s.currentRecord = count;
    return true;
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
    // The whole record must be there before a buffer of its claimed length is allocated.
    if (!lock.granted() || record + s.header.recordLength > fileLength(s.fd))
        return false;
    Bytes image(static_cast<std::size_t>(s.header.recordLength));
    if (!readExactly(s.fd, image.data(), s.header.recordLength, record))
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        const FieldDescriptor& f = s.fields[i];
        const std::string text = bytesToText(values[i]);
        const std::size_t copied = std::min(text.size() + 1, static_cast<std::size_t>(f.width));
        // c_str() supplies the terminating zero.
        std::copy_n(text.c_str(), copied, image.begin() + f.offset);
    }
    return writeExactly(s.fd, image.data() + kSerialSize, s.header.recordLength - kSerialSize,
                        record + kSerialSize);
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
    if (!lock.granted() || record >= fileLength(s.fd))
        return false;
    unsigned char serial[4];
    if (!readExactly(s.fd, serial, 4, record))
        return false;
    const std::int32_t value = loadInt32(serial);
    if (value > 0)
        return writeInt32(s.fd, -value, record);
    return true;
}

bool purgeDeleted()
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    WholeFileLock whole(s.locks);
    if (!whole.granted())
        return false;
    unsigned char countBytes[4];
    if (!readExactly(s.fd, countBytes, 4, kCountOffset))
        return false;
    const std::int64_t count = std::max<std::int32_t>(0, loadInt32(countBytes));
    const std::int64_t length = s.header.recordLength;
    const std::int64_t batch = std::max<std::int64_t>(1, kPurgeBatchBytes / length);
    // Checked before any buffer is allocated: a count beyond the records present is a read failure.
    if (s.recordPosition(0) + count * length > fileLength(s.fd))
        return false;
    Bytes buffer(static_cast<std::size_t>(std::min(batch, count) * length));

    // Records before `kept` are final. Writing never overtakes reading: a batch's kept records land
    // at or before the batch's own start, after it has been read whole.
    std::int64_t kept = 0;
    bool dropped = false;
    for (std::int64_t first = 0; first < count; first += batch) {
        const std::int64_t n = std::min(batch, count - first);
        if (!readExactly(s.fd, buffer.data(), n * length, s.recordPosition(static_cast<std::int32_t>(first))))
            return false;
        std::int64_t keptHere = 0;
        for (std::int64_t i = 0; i < n; ++i) {
            const unsigned char* record = buffer.data() + i * length;
            if (loadInt32(record) < 0) {
                dropped = true;
                continue;
            }
            if (keptHere != i)
                std::memmove(buffer.data() + keptHere * length, record, static_cast<std::size_t>(length));
            ++keptHere;
        }
        if (dropped && keptHere > 0 &&
            !writeExactly(s.fd, buffer.data(), keptHere * length,
                          s.recordPosition(static_cast<std::int32_t>(kept))))
            return false;
        kept += keptHere;
    }
    if (dropped) {
        if (!writeInt32(s.fd, static_cast<std::int32_t>(kept), kCountOffset))
            return false;
        if (::ftruncate(s.fd, static_cast<off_t>(s.recordPosition(static_cast<std::int32_t>(kept)))) != 0)
            return false;
    }
    s.currentRecord = 0;
    return true;
}

bool clearStore()
{
    if (!g_current)
        return false;
    Store& s = *g_current;
    WholeFileLock whole(s.locks);
    if (!whole.granted())
        return false;
    if (!writeInt32(s.fd, 0, kCountOffset) || ::ftruncate(s.fd, static_cast<off_t>(s.dataStart)) != 0)
        return false;
    s.currentRecord = 0;
    return true;
}

std::int32_t fieldType(const std::string& fieldName)
{
    if (!g_current)
        return 0;
    const FieldDescriptor* f = g_current->findField(fieldName);
    return f ? f->type : 0;
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
