// Start-up to the main window shown, and peak memory, against a minimal Qt Widgets program.
//
// Each iteration starts the program as a child process that ends itself once its main window has
// been shown (KUVONA_TEST_ACTIONS), and waits for it; the peak resident size comes from wait4().
// Run with QT_QPA_PLATFORM=offscreen (set here when missing) so no display is needed.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// Runs `exe` once; returns the wall time in seconds and the peak RSS in KiB.
bool runOnce(const std::string& exe, double& seconds, long& maxRssKiB)
{
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    maxRssKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void measure(benchmark::State& state, const std::string& exe)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("KUVONA_TEST_ACTIONS", "trigger:actionExit", 1);
    long peak = 0;
    for (auto _ : state) {
        double seconds = 0;
        long rss = 0;
        if (!runOnce(exe, seconds, rss)) {
            state.SkipWithError("the program did not end cleanly");
            break;
        }
        state.SetIterationTime(seconds);
        peak = std::max(peak, rss);
    }
    state.counters["peak_rss_KiB"] = static_cast<double>(peak);
}

} // namespace

static void BM_StartupFloor(benchmark::State& state) { measure(state, KUVONA_FLOOR_EXE); }
static void BM_StartupKuvona(benchmark::State& state) { measure(state, KUVONA_EXE); }

BENCHMARK(BM_StartupFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StartupKuvona)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

BENCHMARK_MAIN();
