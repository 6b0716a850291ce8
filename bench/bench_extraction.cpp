// Cost of taking the tracking service's answer apart, for an answer of 1 MiB.
//
// The worker takes one row (two cells) and then pauses 50 ms, so a row must cost far less than that
// even for an answer far beyond any real one (a real answer is a few kilobytes).

#include <string>

#include <benchmark/benchmark.h>

#include "common/gbk.h"
#include "query/extraction.h"

using namespace kuvona;

namespace {

std::string answerOfSize(std::size_t bytes)
{
    const std::string head =
        gbk("<div class=\"result\"><table><tr><th>时间</th><th>地点和跟踪进度</th></tr>\r\n");
    const std::string progress = gbk("【杭州市】快件已到达 杭州中转部，正在发往 上海中转部");
    std::string answer = head;
    for (int i = 0; answer.size() < bytes; ++i)
        answer += "<tr><td>2024-03-01 08:" + std::to_string(10 + i % 50) + ":00</td><td>" + progress +
                  "</td></tr>\r\n";
    answer += "</table></div>";
    return answer;
}

const std::string& oneMiB()
{
    static const std::string answer = answerOfSize(1 << 20);
    return answer;
}

void rowCount(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(resultRowCount(oneMiB()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * oneMiB().size()));
}
BENCHMARK(rowCount)->Unit(benchmark::kMicrosecond);

// The first row, when the whole 1 MiB is still left: the dearest row.
void firstRow(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        ResultCells cells(oneMiB());
        state.ResumeTiming();
        benchmark::DoNotOptimize(cells.nextRow());
    }
}
// A fixed count: each iteration first copies and counts the whole answer outside the timing.
BENCHMARK(firstRow)->Unit(benchmark::kMicrosecond)->Iterations(300);

// Every row of the answer in turn: the average row.
void everyRow(benchmark::State& state)
{
    ResultCells cells(oneMiB());
    int left = cells.rowCount();
    state.counters["rows"] = left;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            cells = ResultCells(oneMiB());
            left = cells.rowCount();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(cells.nextRow());
        --left;
    }
}
BENCHMARK(everyRow)->Unit(benchmark::kMicrosecond);

// The same rows cut with takeRow(), which copies the rest of the answer for every cell: the cost the
// row-by-row reader avoids.
void everyRowByCopying(benchmark::State& state)
{
    std::string answer = oneMiB();
    int left = resultRowCount(answer);
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            answer = oneMiB();
            left = resultRowCount(answer);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(takeRow(answer));
        --left;
    }
}
BENCHMARK(everyRowByCopying)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
