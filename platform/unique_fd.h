#pragma once

// An open file descriptor closed when it goes out of scope, so that no early return leaks one.

#include <unistd.h>

namespace kuvona {

class UniqueFd
{
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace kuvona
