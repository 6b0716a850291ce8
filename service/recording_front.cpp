#include "service/recording_front.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kuvona::service {
namespace {

constexpr std::size_t maxHeadBytes = 64 * 1024;
constexpr int headTimeoutMs = 30000;

bool sendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Copies both directions until the server has ended its answer. A client that half-closes still gets
// the whole answer.
void relay(int client, int server)
{
    bool clientOpen = true;
    bool serverOpen = true;
    char buffer[64 * 1024];
    while (serverOpen) {
        pollfd fds[2] = {{client, static_cast<short>(clientOpen ? POLLIN : 0), 0},
                         {server, static_cast<short>(serverOpen ? POLLIN : 0), 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int from = i == 0 ? client : server;
            const int to = i == 0 ? server : client;
            const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    return; // a reset: the other side learns it from the close
                ::shutdown(to, SHUT_WR);
                (i == 0 ? clientOpen : serverOpen) = false;
                continue;
            }
            if (!sendAll(to, buffer, static_cast<std::size_t>(n)))
                return;
        }
    }
}

} // namespace

RequestLog::RequestLog(const std::string& path) : m_path(path)
{
    if (!path.empty())
        m_file = std::fopen(path.c_str(), "ab");
}

RequestLog::~RequestLog()
{
    if (m_file)
        std::fclose(m_file);
}

void RequestLog::record(const std::string& head)
{
    std::lock_guard lock(m_mutex);
    const std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    std::fprintf(stderr, "%s\n", requestLine.c_str());
    std::fflush(stderr);
    if (m_file) {
        std::fwrite(head.data(), 1, head.size(), m_file);
        std::fflush(m_file);
    }
}

RecordingFront::RecordingFront(RequestLog& log, int backendPort) : m_log(log), m_backendPort(backendPort) {}

int RecordingFront::listen(int port)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return -1;
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listener, 64) != 0)
        return -1;
    socklen_t length = sizeof addr;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

void RecordingFront::run()
{
    for (;;) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            return;
        }
        std::thread([this, client] { serve(client); }).detach();
    }
}

void RecordingFront::serve(int client)
{
    // Read until the blank line that ends the head. Whatever came with it (a body) is passed on too.
    std::string received;
    std::size_t headEnd = std::string::npos;
    char buffer[16 * 1024];
    while (headEnd == std::string::npos && received.size() < maxHeadBytes) {
        pollfd pfd{client, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, headTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(n));
        headEnd = received.find("\r\n\r\n");
    }
    if (received.empty()) {
        ::close(client);
        return;
    }
    m_log.record(headEnd == std::string::npos ? received : received.substr(0, headEnd + 4));

    const int server = connectLoopback(m_backendPort);
    if (server >= 0) {
        if (sendAll(server, received.data(), received.size()))
            relay(client, server);
        ::close(server);
    }
    ::close(client);
}

} // namespace kuvona::service
