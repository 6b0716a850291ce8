#pragma once

// The parent's side of tests/saved/command_driver: starts it with pipes and reads its lines, from
// one or several at once, with deadlines.

#include <QDeadlineTimer>
#include <cerrno>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kuvona::test {

inline const char* commandDriverPath()
{
    return KUVONA_BINARY_DIR "/tests/saved/command_driver";
}

class DriverProcess
{
public:
    // `runtimeDir`: the toolkit's runtime directory for the children (it complains without one).
    DriverProcess(const std::vector<std::string>& arguments, const std::string& runtimeDir)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtimeDir};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0 &&
                std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0)
                env.emplace_back(*e);
        std::vector<char*> argv = {const_cast<char*>(commandDriverPath())}, envp;
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~DriverProcess()
    {
        if (m_in >= 0)
            ::close(m_in);
        if (m_pid > 0) {
            // A server ends when its input does; anything else has had its time.
            for (int i = 0; i < 1000 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
                ::usleep(10000);
            if (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
            }
        }
        if (m_out >= 0)
            ::close(m_out);
    }
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_out; }

    bool send(const std::string& line)
    {
        const std::string out = line + "\n";
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(m_in, out.data() + done, out.size() - done);
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    // A whole line already read, if there is one.
    std::optional<std::string> takeLine()
    {
        const std::size_t newline = m_buffer.find('\n');
        if (newline == std::string::npos)
            return std::nullopt;
        std::string line = m_buffer.substr(0, newline);
        m_buffer.erase(0, newline + 1);
        return line;
    }
    // Reads what the pipe holds; false once it is closed.
    bool fill()
    {
        char chunk[4096];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n > 0)
            m_buffer.append(chunk, std::size_t(n));
        return n > 0 || (n < 0 && errno == EINTR);
    }

    // The next line, or nothing once `deadline` has passed or the pipe is closed.
    std::optional<std::string> readLine(QDeadlineTimer deadline)
    {
        for (;;) {
            if (auto line = takeLine())
                return line;
            pollfd p{m_out, POLLIN, 0};
            const int wait = int(std::max<qint64>(0, deadline.remainingTime()));
            if (::poll(&p, 1, wait) <= 0)
                return std::nullopt;
            if (!fill())
                return std::nullopt;
        }
    }

private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    std::string m_buffer;
};

} // namespace kuvona::test
