// The fetch from several workers at once, as the program does when a query and the update check
// run together or a second query starts while the first still runs. Also built under
// ThreadSanitizer (scripts/test.sh), which watches the shared set-up and the stop flags.

#include <QTest>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/cancel.h"
#include "query/http_get.h"
#include "tests/service/local_service.h"

using namespace kuvona;
using kuvona::test::LocalService;
using Clock = std::chrono::steady_clock;

class TestHttpThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void concurrentFetchesGetTheirOwnAnswers();
    void eachStopEndsOnlyItsOwnFetch();

private:
    LocalService m_service;
};

void TestHttpThreads::initTestCase()
{
    QVERIFY2(m_service.start(), qPrintable(m_service.error()));
}

void TestHttpThreads::concurrentFetchesGetTheirOwnAnswers()
{
    // Two different answers, so a mix-up between threads would show.
    const std::string first = m_service.url("/big?bytes=20000");
    const std::string second = m_service.url("/status?code=200&body=second");
    const std::string expectedFirst = httpGetBytes(first);
    const std::string expectedSecond = httpGetBytes(second);
    QCOMPARE(expectedFirst.size(), std::size_t(20000));
    QCOMPARE(expectedSecond, std::string("second"));

    constexpr int kThreads = 8;
    constexpr int kFetches = 10;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFetches; ++i) {
                const bool odd = (t + i) % 2 == 1;
                if (httpGetBytes(odd ? second : first) != (odd ? expectedSecond : expectedFirst))
                    ++wrong;
            }
        });
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

void TestHttpThreads::eachStopEndsOnlyItsOwnFetch()
{
    // Ten seconds of body each; the even threads are stopped after 300 ms, the odd ones not.
    const std::string slow = m_service.url("/slow?pieces=20&ms=100");
    constexpr int kThreads = 4;
    std::vector<std::atomic<bool>> flags(kThreads);
    std::vector<double> seconds(kThreads);
    std::vector<std::size_t> sizes(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            setThreadCancelFlag(&flags[t]);
            const auto start = Clock::now();
            sizes[t] = httpGetBytes(slow).size();
            seconds[t] = std::chrono::duration<double>(Clock::now() - start).count();
            setThreadCancelFlag(nullptr);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int t = 0; t < kThreads; t += 2)
        flags[t].store(true, std::memory_order_release);
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        if (t % 2 == 0) {
            QVERIFY2(seconds[t] < 1.5, qPrintable(QString::number(seconds[t])));
        } else {
            QVERIFY2(seconds[t] >= 1.8, qPrintable(QString::number(seconds[t]))); // ran to its end
            QVERIFY(sizes[t] > sizes[0]);
        }
    }
}

QTEST_GUILESS_MAIN(TestHttpThreads)
#include "tst_http_threads.moc"
