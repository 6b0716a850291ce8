// Start-up to the main window shown, and peak memory, against a minimal Qt Widgets program.
//
// Each iteration starts the program as a child process that ends itself once its main window has
// been shown (KUVONA_TEST_ACTIONS), and waits for it; the peak resident size comes from wait4().
// Run with QT_QPA_PLATFORM=offscreen (set here when missing) so no display is needed.
//
// BM_StartupSaved/N runs a copy of the program from a temporary directory that holds a Danhao.edb
// with N saved numbers, since the program keeps its files beside itself.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "saved/store.h"

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

void putInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
}

// A directory with a copy of the program and a store of `count` numbers; removed on destruction.
class ProgramCopy
{
public:
    explicit ProgramCopy(int count)
    {
        namespace fs = std::filesystem;
        char pattern[] = "/tmp/kuvona-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        m_dir = pattern;
        m_exe = (m_dir / "kuvona").string();
        fs::copy_file(KUVONA_EXE, m_exe);
        std::string bytes(kuvona::storeTemplate.begin(), kuvona::storeTemplate.end());
        for (int i = 0; i < count; ++i) {
            std::string record(136, '\0');
            putInt32(record, 0, 34 + i);
            const std::string number = "YT" + std::to_string(1000000000 + i);
            record.replace(4, number.size(), number);
            record.replace(24, 4, "\xD4\xB2\xCD\xA8"); // 圆通
            record.replace(36, 8, "remark-" + std::to_string(i % 10));
            bytes += record;
        }
        putInt32(bytes, 16, count);
        putInt32(bytes, 20, 34 + count);
        std::ofstream((m_dir / "Danhao.edb").string(), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~ProgramCopy()
    {
        std::error_code ignored;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ignored);
    }
    const std::string& exe() const { return m_exe; }

private:
    std::filesystem::path m_dir;
    std::string m_exe;
};

} // namespace

static void BM_StartupSaved(benchmark::State& state)
{
    ProgramCopy copy(static_cast<int>(state.range(0)));
    measure(state, copy.exe());
}

static void BM_StartupFloor(benchmark::State& state)
{
    measure(state, KUVONA_FLOOR_EXE);
}
static void BM_StartupFloorWithText(benchmark::State& state)
{
    measure(state, KUVONA_FLOOR_TEXT_EXE);
}
static void BM_StartupKuvona(benchmark::State& state)
{
    measure(state, KUVONA_EXE);
}

BENCHMARK(BM_StartupFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_StartupFloorWithText)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_StartupKuvona)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_StartupSaved)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);

BENCHMARK_MAIN();
