#pragma once

// A child process that holds a byte-range lock on a file, as another instance of the program would.

#include <csignal>
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace kuvona::test {

class LockHolder
{
public:
    // Locks [start, start + length) for writing in a child; releases it after `releaseAfterMs`
    // (never when negative). Returns once the child holds the lock; ok() tells whether it does.
    LockHolder(const std::string& path, std::int64_t start, std::int64_t length, int releaseAfterMs = -1)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_control) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(m_control[1]);
            const int fd = ::open(path.c_str(), O_RDWR);
            struct flock fl = {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = start;
            fl.l_len = length;
            const char status = (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0) ? 'y' : 'n';
            (void)!::write(ready[1], &status, 1);
            if (releaseAfterMs >= 0) {
                const struct timespec pause = {releaseAfterMs / 1000, (releaseAfterMs % 1000) * 1000000L};
                ::nanosleep(&pause, nullptr);
                fl.l_type = F_UNLCK;
                ::fcntl(fd, F_OFD_SETLK, &fl);
            }
            char byte;
            (void)!::read(m_control[0], &byte, 1); // until the parent lets go
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(m_control[0]);
        char status = 'n';
        m_ok = m_pid > 0 && ::read(ready[0], &status, 1) == 1 && status == 'y';
        ::close(ready[0]);
    }

    ~LockHolder()
    {
        ::close(m_control[1]);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }

    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool ok() const { return m_ok; }

private:
    pid_t m_pid = -1;
    int m_control[2] = {-1, -1};
    bool m_ok = false;
};

} // namespace kuvona::test
