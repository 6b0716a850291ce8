#pragma once

// Failing file operations for the store's tests: installs a table in the store's file layer
// (saved/store_io.h) that passes every call to the system except the Nth call of one kind, which
// fails with an I/O error, a full disk, or as a short write (half the bytes written, then the
// next write finds the disk full). One injector at a time; the destructor puts the system's
// operations back.
//
// Kill and KillMidWrite end the process instead, for crash tests that run the operation in a child.
//
// A sweep runs an operation once per fault point: with failAt = 1, 2, ... until the injector
// reports that the operation made fewer calls of that kind than failAt (fired() false).

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

#include "saved/store_io.h"

namespace kuvona::test {

enum class FaultKind
{
    Read,
    Write,
    Truncate,
    Sync,
    Rename, // rename and link: an entry put in place
    Unlink,
};

enum class FaultMode
{
    IoError,     // EIO
    DiskFull,    // ENOSPC
    ShortWrite,  // a write stores half its bytes, the next one fails with ENOSPC
    Kill,        // the process dies by SIGKILL at that call, before it is made
    KillMidWrite // a write stores half its bytes, then the process dies by SIGKILL
};

// The system's operations with every sync left out: for benchmarks that measure what the syncs cost,
// and for tests that kill processes, which page-cache contents survive anyway.
inline const store_io::FileOps& fileOpsWithoutSyncs()
{
    static const store_io::FileOps ops = [] {
        store_io::FileOps o = store_io::systemFileOps();
        o.fsync = [](int) {
            return 0;
        };
        return o;
    }();
    return ops;
}

inline const char* faultKindName(FaultKind kind)
{
    static const char* const names[] = {"read", "write", "truncate", "sync", "rename", "unlink"};
    return names[static_cast<int>(kind)];
}

class FaultInjector
{
public:
    // failAt: the 1-based call of `kind` to fail; 0 counts calls without failing any.
    explicit FaultInjector(FaultKind kind = FaultKind::Read, int failAt = 0,
                           FaultMode mode = FaultMode::IoError)
        : m_kind(kind), m_failAt(failAt), m_mode(mode)
    {
        active() = this;
        store_io::setFileOps(&table());
    }
    ~FaultInjector()
    {
        store_io::setFileOps(nullptr);
        active() = nullptr;
    }
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // Whether the fault point was reached.
    bool fired() const { return m_fired; }
    int calls(FaultKind kind) const { return m_calls[static_cast<std::size_t>(kind)]; }

private:
    static FaultInjector*& active()
    {
        static FaultInjector* current = nullptr;
        return current;
    }

    // True when this call is to fail; errno is then set.
    bool failNow(FaultKind kind)
    {
        const int n = ++m_calls[static_cast<std::size_t>(kind)];
        if (kind == FaultKind::Write && m_diskFullNext) {
            m_diskFullNext = false;
            errno = ENOSPC;
            return true;
        }
        if (kind != m_kind || n != m_failAt)
            return false;
        m_fired = true;
        if (m_mode == FaultMode::Kill)
            ::raise(SIGKILL);
        errno = m_mode == FaultMode::IoError ? EIO : ENOSPC;
        return true;
    }

    static const store_io::FileOps& table()
    {
        static const store_io::FileOps ops = {
            [](int fd, void* buffer, std::size_t length, off_t position) -> ssize_t {
                if (active()->failNow(FaultKind::Read))
                    return -1;
                return store_io::systemFileOps().pread(fd, buffer, length, position);
            },
            [](int fd, const void* buffer, std::size_t length, off_t position) -> ssize_t {
                FaultInjector& self = *active();
                if (!self.failNow(FaultKind::Write))
                    return store_io::systemFileOps().pwrite(fd, buffer, length, position);
                if (self.m_mode == FaultMode::KillMidWrite) {
                    store_io::systemFileOps().pwrite(fd, buffer, length / 2, position);
                    ::raise(SIGKILL);
                }
                if (self.m_mode != FaultMode::ShortWrite || length < 2)
                    return -1;
                self.m_diskFullNext = true;
                return store_io::systemFileOps().pwrite(fd, buffer, length / 2, position);
            },
            [](int fd, off_t length) {
                return active()->failNow(FaultKind::Truncate)
                           ? -1
                           : store_io::systemFileOps().ftruncate(fd, length);
            },
            [](int fd) {
                return active()->failNow(FaultKind::Sync) ? -1 : store_io::systemFileOps().fsync(fd);
            },
            [](const char* from, const char* to) {
                return active()->failNow(FaultKind::Rename) ? -1 : store_io::systemFileOps().rename(from, to);
            },
            [](const char* from, const char* to) {
                return active()->failNow(FaultKind::Rename) ? -1 : store_io::systemFileOps().link(from, to);
            },
            [](const char* path) {
                return active()->failNow(FaultKind::Unlink) ? -1 : store_io::systemFileOps().unlink(path);
            },
        };
        return ops;
    }

    FaultKind m_kind;
    int m_failAt;
    FaultMode m_mode;
    bool m_fired = false;
    bool m_diskFullNext = false;
    std::array<int, 6> m_calls{};
};

} // namespace kuvona::test
