#pragma once

// The listening socket of the service, in front of the HTTP server.
//
// The HTTP library hands its handlers the headers sorted by name, but tests need the request exactly
// as it arrived: request line, header lines in their order and spelling. So the service accepts
// connections itself, records each request head byte for byte, and relays the connection to the HTTP
// server on a private loopback port. The server closes every connection after one request, so one
// head per connection is all there is to record.

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace kuvona::service {

class RequestLog
{
public:
    // `path` empty: the request lines go to stderr only.
    explicit RequestLog(const std::string& path);
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    bool ok() const { return m_path.empty() || m_file; }

    // Writes the request line to stderr and the whole head, verbatim with its closing blank line, to
    // the log file, flushed before the request goes on to the server.
    void record(const std::string& head);

private:
    std::string m_path;
    std::FILE* m_file = nullptr;
    std::mutex m_mutex;
};

class RecordingFront
{
public:
    RecordingFront(RequestLog& log, int backendPort);

    // Listens on 127.0.0.1:`port` (0: any free port). Returns the port, or -1 with errno set.
    int listen(int port);

    // Accepts connections until the process ends; each is served on a thread of its own.
    void run();

private:
    void serve(int client);

    RequestLog& m_log;
    int m_backendPort;
    int m_listener = -1;
};

} // namespace kuvona::service
