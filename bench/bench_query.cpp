// The query as the user feels it, against the reference service on loopback, in the real window:
// press to first row, the spacing of the rows, and the longest stall of the user-interface thread
// while 500 rows come in; the same stall and the peak memory for hostile answers.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/service/local_service.h"
#include "../tests/settings/raw_http_server.h"
#include "../tests/support/ui_stall.h"
#include "app/main_window.h"
#include "common/listview.h"
#include "platform/check_list_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/worker.h"
#include "query/query_command.h"

using namespace kuvona;
using Clock = std::chrono::steady_clock;

namespace {

test::LocalService* g_service = nullptr;

struct Window
{
    MainWindow window;
    QLineEdit* number = window.findChild<QLineEdit*>(QString::fromUtf8("单号"));
    QPushButton* button = window.findChild<QPushButton*>(QString::fromUtf8("快递查询"));
    ReportListView* progress = window.findChild<ReportListView*>(QString::fromUtf8("进度列表框"));
    CheckListBox* carriers = window.findChild<CheckListBox*>(QString::fromUtf8("选择列表框1"));

    Window()
    {
        window.autoSaveAction()->setChecked(false); // the store is not what is measured here
        window.showCentred();
        carriers->setChecked(0, true);
        carriers->setCurrentSelection(0);
    }

    // Runs the event loop until `done` holds; returns false after `seconds`.
    template <typename F> bool runUntil(F done, double seconds)
    {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (Clock::now() > until)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        return true;
    }
};

void BM_PressToFirstRow(benchmark::State& state)
{
    Window w;
    for (auto _ : state) {
        w.number->setText(QStringLiteral("368726491023"));
        const auto start = Clock::now();
        w.button->click();
        if (!w.runUntil([&] { return listRowCount(*w.progress) >= 1; }, 10)) {
            state.SkipWithError("no row arrived");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        w.runUntil([&] { return w.button->isEnabled(); }, 10);
    }
}

void BM_FiveHundredRows(benchmark::State& state)
{
    Window w;
    for (auto _ : state) {
        std::vector<Clock::time_point> arrivals;
        QObject::connect(w.progress->listModel(), &QAbstractItemModel::rowsInserted, &w.window,
                         [&arrivals] { arrivals.push_back(Clock::now()); });
        // A zero timer runs once per event-loop pass: the longest gap between two runs is the
        // longest time the user-interface thread could not answer the user.
        double longestStallMs = 0;
        auto last = Clock::now();
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &w.window, [&] {
            const auto now = Clock::now();
            longestStallMs =
                std::max(longestStallMs, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        w.number->setText(QStringLiteral("1000000000500"));
        const auto start = Clock::now();
        w.button->click();
        last = Clock::now();
        ticker.start(0);
        if (!w.runUntil([&] { return w.button->isEnabled(); }, 60)) {
            state.SkipWithError("the rows did not all arrive");
            break;
        }
        ticker.stop();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        double minGap = 1e9, maxGap = 0, sum = 0;
        for (std::size_t i = 1; i < arrivals.size(); ++i) {
            const double gap =
                std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
            minGap = std::min(minGap, gap);
            maxGap = std::max(maxGap, gap);
            sum += gap;
        }
        state.counters["rows"] = static_cast<double>(arrivals.size());
        state.counters["gap_min_ms"] = minGap;
        state.counters["gap_max_ms"] = maxGap;
        state.counters["gap_mean_ms"] =
            arrivals.size() > 1 ? sum / static_cast<double>(arrivals.size() - 1) : 0;
        state.counters["ui_stall_max_ms"] = longestStallMs;
    }
}

// A hostile answer from a raw server: the longest stall of the user-interface thread from the press
// until the first `rows` rows are in (or the query has ended), and the peak memory of the process.
// Run each case in a process of its own (--benchmark_filter): the peak never goes down.
void BM_HostileAnswer(benchmark::State& state)
{
    const bool hugeCell = state.range(0) == 0;
    const std::string body = hugeCell ? test::oneHugeCell(7 << 20) : test::startsThenEnds(1000000);
    test::RawHttpServer server({test::RawHttpServer::response(body)});
    const QByteArray serviceHost = qgetenv("KUVONA_QUERY_HOST");
    qputenv("KUVONA_QUERY_HOST", "127.0.0.1:" + QByteArray::number(server.port()));
    Window w;
    const double rssBefore = test::peakRssMiB();
    for (auto _ : state) {
        test::StallMeter meter;
        w.number->setText(QStringLiteral("1"));
        const auto start = Clock::now();
        meter.start();
        w.button->click();
        double firstRowMs = 0;
        const bool done = w.runUntil(
            [&] {
                if (firstRowMs == 0 && listRowCount(*w.progress) >= 1)
                    firstRowMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                return w.button->isEnabled() || listRowCount(*w.progress) >= 20;
            },
            600);
        meter.stop();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!done) {
            state.SkipWithError("the rows did not arrive");
            break;
        }
        stopQuery();
        state.counters["rows"] = listRowCount(*w.progress);
        state.counters["first_row_ms"] = firstRowMs;
        state.counters["ui_stall_max_ms"] = meter.longestMs();
        state.counters["ui_busy_max_ms"] = meter.longestBusyMs();
    }
    state.counters["rss_before_mib"] = rssBefore;
    state.counters["rss_peak_mib"] = test::peakRssMiB();
    qputenv("KUVONA_QUERY_HOST", serviceHost);
}

// The meter's floor: the longest gap over two seconds of an idle window, on this machine and load.
void BM_IdleStall(benchmark::State& state)
{
    Window w;
    for (auto _ : state) {
        test::StallMeter meter;
        meter.start();
        const auto start = Clock::now();
        w.runUntil([&] { return Clock::now() - start > std::chrono::seconds(2); }, 3);
        meter.stop();
        state.SetIterationTime(2);
        state.counters["ui_stall_max_ms"] = meter.longestMs();
        state.counters["ui_busy_max_ms"] = meter.longestBusyMs();
    }
}

} // namespace

BENCHMARK(BM_IdleStall)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_HostileAnswer)
    ->ArgName("startsThenEnds")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_PressToFirstRow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_FiveHundredRows)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("no_proxy", "127.0.0.1,localhost");
    QApplication app(argc, argv);
    QTemporaryDir programDir;
    setProgramDirectory(programDir.path().toStdString());
    test::LocalService service;
    if (!service.start()) {
        std::fprintf(stderr, "service: %s\n", qPrintable(service.error()));
        return 1;
    }
    g_service = &service;
    qputenv("KUVONA_QUERY_HOST", QByteArray::fromStdString(service.hostAndPort()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    terminateAllWorkers();
    benchmark::Shutdown();
    return 0;
}
