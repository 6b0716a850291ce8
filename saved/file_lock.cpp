#include "saved/file_lock.h"

#include <cerrno>

#include <fcntl.h>

#include "saved/store_format.h"

namespace kuvona {

using store_format::kWholeFileLockLength;

FileLocks::Result FileLocks::apply(short type, std::int64_t start, std::int64_t length)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0; // required to be 0 for OFD locks
    if (::fcntl(m_fd, F_OFD_SETLK, &fl) == 0)
        return Result::Granted;
    switch (errno) {
    case EAGAIN:
    case EACCES:
        return Result::Conflict;
    case EINVAL:
    case ENOLCK:
    case EOPNOTSUPP:
        return Result::Granted;
    default:
        return Result::Failed;
    }
}

bool FileLocks::coveredByWholeFile(std::int64_t offset) const
{
    return m_wholeNesting > 0 && offset >= 0 && offset < kWholeFileLockLength;
}

FileLocks::Result FileLocks::lockByte(std::int64_t offset)
{
    if (auto it = m_bytes.find(offset); it != m_bytes.end()) {
        ++it->second;
        return Result::Granted;
    }
    if (!coveredByWholeFile(offset)) {
        const Result r = apply(m_shared ? F_RDLCK : F_WRLCK, offset, 1);
        if (r != Result::Granted)
            return r;
    }
    m_bytes.emplace(offset, 1);
    return Result::Granted;
}

void FileLocks::unlockByte(std::int64_t offset)
{
    auto it = m_bytes.find(offset);
    if (it == m_bytes.end())
        return;
    if (--it->second > 0)
        return;
    m_bytes.erase(it);
    // Inside a held whole file the byte is released together with it.
    if (!coveredByWholeFile(offset))
        apply(F_UNLCK, offset, 1);
}

FileLocks::Result FileLocks::lockWholeFile()
{
    if (m_wholeNesting > 0) {
        ++m_wholeNesting;
        return Result::Granted;
    }
    // Own byte locks inside the range merge with it rather than conflict.
    const Result r = apply(m_shared ? F_RDLCK : F_WRLCK, 0, kWholeFileLockLength);
    if (r == Result::Granted)
        m_wholeNesting = 1;
    return r;
}

void FileLocks::unlockWholeFile()
{
    if (m_wholeNesting == 0 || --m_wholeNesting > 0)
        return;
    // Unlock the gaps between the single bytes still held, so those stay locked.
    std::int64_t from = 0;
    for (const auto& [offset, count] : m_bytes) {
        if (offset < 0 || offset >= kWholeFileLockLength)
            continue;
        if (offset > from)
            apply(F_UNLCK, from, offset - from);
        from = offset + 1;
    }
    if (from < kWholeFileLockLength)
        apply(F_UNLCK, from, kWholeFileLockLength - from);
}

void FileLocks::releaseAll()
{
    if (m_fd >= 0 && (m_wholeNesting > 0 || !m_bytes.empty()))
        apply(F_UNLCK, 0, 0); // length 0: to the end of the file and beyond
    m_bytes.clear();
    m_wholeNesting = 0;
}

int FileLocks::byteUseCount(std::int64_t offset) const
{
    auto it = m_bytes.find(offset);
    return it == m_bytes.end() ? 0 : it->second;
}

} // namespace kuvona
