#pragma once

// A loopback HTTP server for the tests that sees requests exactly as they arrive on the wire.
//
// It listens on 127.0.0.1 at a free port, records the raw bytes of every request (the header block
// and a body of the announced Content-Length) and answers each connection with the next of its fixed
// responses (the last one repeats). In silent mode it accepts and reads but never answers.

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kuvona::test {

class RawHttpServer
{
public:
    explicit RawHttpServer(std::vector<std::string> responses, bool silent = false)
        : m_responses(std::move(responses)), m_silent(silent)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 16) != 0)
            return;
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~RawHttpServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_held)
            ::close(fd);
        if (m_listen >= 0)
            ::close(m_listen);
    }

    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return m_port; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // A complete response with Content-Length and Connection: close.
    static std::string response(const std::string& body, const std::string& status = "200 OK",
                                const std::string& extraHeaders = {})
    {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
               extraHeaders + "Connection: close\r\n\r\n" + body;
    }

    // A port on which nothing listens: bound once to get a free number, then released unheard.
    static int unusedPort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

private:
    bool waitReadable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        for (int waited = 0; waited < ms && !m_stop; waited += 20)
            if (::poll(&p, 1, 20) > 0)
                return true;
        return false;
    }

    static std::size_t contentLength(const std::string& head)
    {
        std::string lower = head;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.find("\r\ncontent-length:");
        if (at == std::string::npos)
            return 0;
        return static_cast<std::size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
    }

    std::string readRequest(int fd)
    {
        std::string data;
        char buffer[4096];
        std::size_t need = std::string::npos;
        while (!m_stop && (need == std::string::npos || data.size() < need)) {
            if (!waitReadable(fd, 3000))
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            data.append(buffer, static_cast<std::size_t>(n));
            const std::size_t end = data.find("\r\n\r\n");
            if (need == std::string::npos && end != std::string::npos)
                need = end + 4 + contentLength(data.substr(0, end + 2));
        }
        return data;
    }

    static void sendAll(int fd, const std::string& data)
    {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

    void run()
    {
        std::size_t served = 0;
        while (!m_stop) {
            if (!waitReadable(m_listen, 100))
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const std::string request = readRequest(fd);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            if (m_silent) {
                m_held.push_back(fd); // keeps the connection open, unanswered, until the end
                continue;
            }
            if (!m_responses.empty())
                sendAll(fd, m_responses[std::min(served, m_responses.size() - 1)]);
            ++served;
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    std::vector<std::string> m_responses;
    bool m_silent = false;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<int> m_held;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

} // namespace kuvona::test
