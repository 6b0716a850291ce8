#include "saved/store_io.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace kuvona::store_io {

namespace {

const FileOps kSystem = {
    [](int fd, void* buffer, std::size_t length, off_t position) {
        return ::pread(fd, buffer, length, position);
    },
    [](int fd, const void* buffer, std::size_t length, off_t position) {
        return ::pwrite(fd, buffer, length, position);
    },
    [](int fd, off_t length) { return ::ftruncate(fd, length); },
    [](int fd) { return ::fsync(fd); },
    [](const char* from, const char* to) { return std::rename(from, to); },
    [](const char* from, const char* to) { return ::link(from, to); },
    [](const char* path) { return ::unlink(path); },
};

const FileOps* g_ops = &kSystem;

template <typename Byte, typename Transfer>
bool transferExactly(Byte* p, std::int64_t length, std::int64_t position, Transfer transfer)
{
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

} // namespace

const FileOps& systemFileOps()
{
    return kSystem;
}

const FileOps& ops()
{
    return *g_ops;
}

void setFileOps(const FileOps* table)
{
    g_ops = table ? table : &kSystem;
}

bool readExactly(int fd, void* buffer, std::int64_t length, std::int64_t position)
{
    return transferExactly(
        static_cast<unsigned char*>(buffer), length, position,
        [fd](unsigned char* p, std::size_t n, off_t at) { return g_ops->pread(fd, p, n, at); });
}

bool writeExactly(int fd, const void* buffer, std::int64_t length, std::int64_t position)
{
    return transferExactly(
        static_cast<const unsigned char*>(buffer), length, position,
        [fd](const unsigned char* p, std::size_t n, off_t at) { return g_ops->pwrite(fd, p, n, at); });
}

} // namespace kuvona::store_io
