// Cost of taking the tracking service's answer apart, for an answer of 1 MiB.
//
// The worker takes one row (two cells) and then pauses 50 ms, so a row must cost far less than that
// even for an answer far beyond any real one (a real answer is a few kilobytes).

#include <algorithm>
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

// Hostile answers of 8 MiB, the most a fetch keeps, taken apart whole: counting and every row must
// stay linear in the answer, or a row in the middle would cost far more than the pause.
std::string hostileAnswer(int kind)
{
    const std::size_t limit = 8 << 20;
    std::string answer;
    if (kind == 0) { // a million start markers, then end markers
        while (answer.size() < 4000000)
            answer += "<td>";
        while (answer.size() < limit)
            answer += "</td>";
    } else if (kind == 1 || kind == 2) { // cells whose cutting joins the bytes around them into new
                                         // markers, after ASCII or after double-byte characters
        while (answer.size() < (4u << 20))
            answer += kind == 1 ? "xx" : "\xB0\xA1";
        const std::size_t depth = (limit - answer.size()) / 16;
        for (std::size_t i = 0; i < depth; ++i)
            answer += "<t";
        answer += "<td></td>";
        for (std::size_t i = 0; i < depth; ++i)
            answer += "d></td>";
    } else { // empty cells only (kind 3)
        while (answer.size() + 9 <= limit)
            answer += "<td></td>";
    }
    answer.resize(std::min(answer.size(), limit));
    return answer;
}

void hostileEveryRow(benchmark::State& state)
{
    const std::string answer = hostileAnswer(static_cast<int>(state.range(0)));
    std::int64_t rows = 0;
    for (auto _ : state) {
        ResultCells cells(answer);
        rows = cells.rowCount();
        for (int i = 0; i < cells.rowCount(); ++i)
            benchmark::DoNotOptimize(cells.nextRow());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}
BENCHMARK(hostileEveryRow)->ArgName("kind")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
