#include "saved/store_snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "platform/unique_fd.h"
#include "saved/file_lock.h"

namespace kuvona {

using namespace store_format;

namespace {

// Bytes actually read, short only at the end of the file; -1 on error.
std::int64_t readAt(int fd, void* buffer, std::int64_t length, std::int64_t position)
{
    auto* p = static_cast<unsigned char*>(buffer);
    std::int64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, p + done, static_cast<std::size_t>(length - done),
                                  static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool notAStore(std::string& reason, FormatError error)
{
    reason = std::string("not a store: ") + describe(error);
    return false;
}

} // namespace

bool readStoreSnapshot(const std::string& path, bool withRecords, StoreSnapshot& snapshot,
                       std::string& reason)
{
    snapshot = StoreSnapshot();
    // O_NONBLOCK: the open of a FIFO must not wait for a writer; the fstat below then turns it away.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return false;
    }
    // The locks that guard a store cover this many bytes; a longer file is no store the program
    // keeps, and reading its records whole could exhaust the memory.
    if (st.st_size > kWholeFileLockLength) {
        reason = "too large: " + std::to_string(st.st_size) + " bytes, a store has at most " +
                 std::to_string(kWholeFileLockLength);
        return false;
    }
    FileLocks locks(fd.get(), true);
    const auto locked = locks.lockWholeFile();
    if (locked != FileLocks::Result::Granted) {
        reason = locked == FileLocks::Result::Conflict ? "locked by another process" : "cannot lock the file";
        return false;
    }

    snapshot.fileLength = st.st_size;
    unsigned char header[kHeaderSize];
    const std::int64_t got = readAt(fd.get(), header, kHeaderSize, 0);
    if (got < 0) {
        reason = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    if (got < kHeaderSize)
        return notAStore(reason, FormatError::ShortHeader);
    if (const auto e = parseHeader(header, snapshot.header); e != FormatError::None)
        return notAStore(reason, e);
    unsigned char countBytes[4];
    if (readAt(fd.get(), countBytes, 4, kFieldCountOffset) != 4 || loadInt32(countBytes) <= 0)
        return notAStore(reason, FormatError::BadFieldCount);
    const std::int32_t fieldCount = loadInt32(countBytes);
    snapshot.dataStart = dataStartFor(fieldCount);
    if (snapshot.fileLength < snapshot.dataStart)
        return notAStore(reason, FormatError::ShortDescriptors);
    std::vector<unsigned char> descriptors(static_cast<std::size_t>(snapshot.dataStart - kDescriptorsOffset));
    if (readAt(fd.get(), descriptors.data(), std::int64_t(descriptors.size()), kDescriptorsOffset) !=
        std::int64_t(descriptors.size()))
        return notAStore(reason, FormatError::ShortDescriptors);
    snapshot.fields.resize(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i) {
        const auto e = parseDescriptor(descriptors.data() + i * kDescriptorSize, snapshot.header.recordLength,
                                       snapshot.fields[static_cast<std::size_t>(i)]);
        if (e != FormatError::None) {
            reason = "not a store: field " + std::to_string(i + 1) + ": " + describe(e);
            return false;
        }
    }
    if (const auto e = checkRecordLength(snapshot.fields, snapshot.header.recordLength);
        e != FormatError::None)
        return notAStore(reason, e);
    const std::int64_t length = snapshot.header.recordLength;
    snapshot.wholeRecords = (snapshot.fileLength - snapshot.dataStart) / length;
    if (const auto e = planRepair(snapshot.header, snapshot.dataStart, snapshot.fileLength).error;
        e != FormatError::None)
        return notAStore(reason, e);
    if (!withRecords)
        return true;

    const std::int64_t count =
        std::min<std::int64_t>(snapshot.header.storedRecordCount, snapshot.wholeRecords);
    snapshot.records.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        std::string record(static_cast<std::size_t>(length), '\0');
        if (readAt(fd.get(), record.data(), length, snapshot.dataStart + i * length) != length) {
            reason = "cannot read record " + std::to_string(i + 1);
            return false;
        }
        snapshot.records.push_back(std::move(record));
    }
    return true;
}

std::int32_t recordSerial(const std::string& record)
{
    if (record.size() < 4)
        return 0;
    return loadInt32(reinterpret_cast<const unsigned char*>(record.data()));
}

std::string recordText(const std::string& record, const FieldDescriptor& field)
{
    const auto start = static_cast<std::size_t>(field.offset);
    if (start >= record.size())
        return {};
    return bytesToText(std::string_view(record).substr(start, static_cast<std::size_t>(field.width)));
}

} // namespace kuvona
