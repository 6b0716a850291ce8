#pragma once

// The file operations through which the store, its journal and its template creation reach the
// disk. Tests replace the table to fail a chosen call (an I/O error, a full disk, a short write) or
// to leave out the syncs in a benchmark; the program never changes it. A call through the table
// costs one indirect call, nothing more.
//
// Each entry follows its POSIX namesake: the result, and errno on failure.

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace kuvona::store_io {

struct FileOps
{
    ssize_t (*pread)(int fd, void* buffer, std::size_t length, off_t position);
    ssize_t (*pwrite)(int fd, const void* buffer, std::size_t length, off_t position);
    int (*ftruncate)(int fd, off_t length);
    // Flushes a file, or a directory after an entry in it was created, renamed or removed.
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

// The operations of the running system.
const FileOps& systemFileOps();

// The table in use; systemFileOps() unless a test installed another.
const FileOps& ops();

// Installs `table` (nullptr: the system's again). The table must outlive its use.
void setFileOps(const FileOps* table);

// Positioned transfers of exactly `length` bytes through ops(), retrying interruptions and partial
// transfers; a transfer that makes no progress (end of file, disk full) fails.
bool readExactly(int fd, void* buffer, std::int64_t length, std::int64_t position);
bool writeExactly(int fd, const void* buffer, std::int64_t length, std::int64_t position);

} // namespace kuvona::store_io
