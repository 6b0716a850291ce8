#pragma once

// Byte-range locks that other processes respect, held through one open file description.
//
// Linux open-file-description locks (F_OFD_SETLK): a lock belongs to the descriptor's open file
// description, not to the process, so the same file opened twice, even in one process, conflicts
// with itself, and closing one descriptor does not drop the locks of another. Requests never wait;
// a lock held elsewhere is reported as a conflict at once and the caller decides whether to retry.
//
// The class keeps the counts the store relies on:
//  - the same byte locked twice is released on the second unlock;
//  - while the whole file is held, single-byte locks are granted without touching the file, and
//    releasing the whole file keeps the single bytes still counted as held;
//  - whole-file locks nest.
// Where the file system does not support locking (EINVAL, ENOLCK, EOPNOTSUPP), every lock counts as
// granted, and is counted like any other.

#include <cstdint>
#include <map>

namespace kuvona {

class FileLocks
{
public:
    enum class Result
    {
        Granted,
        Conflict, // held by another open file description
        Failed,   // any other error
    };

    // `shared` takes read locks, for a descriptor opened read-only.
    explicit FileLocks(int fd = -1, bool shared = false) : m_fd(fd), m_shared(shared) {}
    FileLocks(const FileLocks&) = delete;
    FileLocks& operator=(const FileLocks&) = delete;

    Result lockByte(std::int64_t offset);
    void unlockByte(std::int64_t offset);

    // The range from 0 of kWholeFileLockLength bytes.
    Result lockWholeFile();
    void unlockWholeFile();

    // Drops every lock this object holds; the counts start again from zero.
    void releaseAll();

    int byteUseCount(std::int64_t offset) const;
    int wholeFileNesting() const { return m_wholeNesting; }

private:
    Result apply(short type, std::int64_t start, std::int64_t length);
    bool coveredByWholeFile(std::int64_t offset) const;

    int m_fd;
    bool m_shared;
    std::map<std::int64_t, int> m_bytes; // offset -> use count, only bytes with a count > 0
    int m_wholeNesting = 0;
};

} // namespace kuvona
