#pragma once

// Answers a hostile tracking service could send, and a meter of the user-interface thread's
// longest stall while they come in.

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>

#include <sys/resource.h>
#include <time.h>

namespace kuvona::test {

// One cell of `bytes` bytes, then one short cell: a single row whose time column is huge.
inline std::string oneHugeCell(std::size_t bytes)
{
    return "<td>" + std::string(bytes, 'x') + "</td><td>b</td>";
}

// `n` start markers, then `n` end markers: the first cell holds every start marker but one, and
// n / 2 rows follow.
inline std::string startsThenEnds(std::size_t n)
{
    std::string body;
    body.reserve(9 * n);
    for (std::size_t i = 0; i < n; ++i)
        body += "<td>";
    for (std::size_t i = 0; i < n; ++i)
        body += "</td>";
    return body;
}

// A zero timer runs once per pass of the event loop: the longest gap between two runs is the
// longest time the user-interface thread could not have answered the user. On a loaded machine
// that gap also holds the time the thread waited for a processor, so the processor time the thread
// itself spent in the longest gap is kept as well: it is what the program's own work cost.
class StallMeter : public QObject
{
public:
    using Clock = std::chrono::steady_clock;

    StallMeter()
    {
        connect(&m_ticker, &QTimer::timeout, this, [this] {
            const auto now = Clock::now();
            const double cpu = threadCpuMs();
            m_longestMs =
                std::max(m_longestMs, std::chrono::duration<double, std::milli>(now - m_last).count());
            m_longestBusyMs = std::max(m_longestBusyMs, cpu - m_lastCpu);
            m_last = now;
            m_lastCpu = cpu;
        });
    }

    void start()
    {
        m_longestMs = m_longestBusyMs = 0;
        m_last = Clock::now();
        m_lastCpu = threadCpuMs();
        m_ticker.start(0);
    }
    void stop() { m_ticker.stop(); }
    // The longest gap, wall-clock time.
    double longestMs() const { return m_longestMs; }
    // The most processor time the user-interface thread spent between two passes.
    double longestBusyMs() const { return m_longestBusyMs; }

private:
    static double threadCpuMs()
    {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    }

    QTimer m_ticker;
    Clock::time_point m_last;
    double m_lastCpu = 0;
    double m_longestMs = 0;
    double m_longestBusyMs = 0;
};

// The process's peak resident size so far, in MiB.
inline double peakRssMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace kuvona::test
