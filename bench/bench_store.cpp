// The saved-number store against SQLite doing the same work, at 1,000 and 100,000 records.
//
//   append    a record and its three fields, as adding a saved number does
//   read all  the three fields of every record by the one-cursor walk of the list reload
//   purge     every second record marked deleted (SQLite: one DELETE of every second row)
//   clear     all records
//   rewrite   every record in reverse order by one replaceAllRecords, as the sort and drag do
//
// purge, clear and rewrite journal the bytes they change and sync the journal, the file and the
// folder; their second argument 0 runs them with the syncs left out, in the same run, so that the
// difference is what the syncs cost.
//
// SQLite keeps one table of three text columns. Its "nosync" variant (synchronous=OFF) matches what
// the store promises: a change is in the file, in the operating system's cache, when the call
// returns. The default variant also waits for the disk on every commit; it runs at 1,000 only.
//
// `bench_store --syscall-probe read|write N` does N readField or writeField calls on a small store
// and nothing else, for counting system calls with strace (bench/store_syscalls.sh).

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include "common/gbk.h"
#include "saved/store.h"
#include "saved/store_io.h"
#include "tests/support/fault_injection.h"

using namespace kuvona;

namespace {

const std::string kNumber = gbk("单号");
const std::string kCompany = gbk("公司");
const std::string kRemark = gbk("备注");

const std::string& workDir()
{
    static const std::string dir = [] {
        char path[] = "/tmp/bench_store.XXXXXX";
        if (!::mkdtemp(path))
            std::abort();
        return std::string(path);
    }();
    return dir;
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::string numberOf(std::int64_t i)
{
    return "YT" + std::to_string(1000000000 + i);
}
const std::string kCarrier = gbk("圆通");
const std::string kNote = gbk("周一送到公司前台");

void appendRecords(std::int64_t n)
{
    for (std::int64_t i = 0; i < n; ++i) {
        if (!appendBlankRecord() || !writeField(kNumber, numberOf(i)) || !writeField(kCompany, kCarrier) ||
            !writeField(kRemark, kNote))
            std::abort();
    }
}

// The store file with n records, every second one marked deleted when asked; built once per shape.
const std::string& storeImage(std::int64_t n, bool markHalf)
{
    static std::map<std::pair<std::int64_t, bool>, std::string> images;
    auto& image = images[{n, markHalf}];
    if (image.empty()) {
        const std::string path = workDir() + "/image.edb";
        writeBytes(path, std::string(storeTemplate.begin(), storeTemplate.end()));
        if (!openStore(path))
            std::abort();
        appendRecords(n);
        if (markHalf)
            for (std::int64_t i = 2; i <= n; i += 2)
                if (!goToRecord(static_cast<std::int32_t>(i)) || !deleteRecord())
                    std::abort();
        closeStore();
        image = readBytes(path);
    }
    return image;
}

void setPerRecord(benchmark::State& state, std::int64_t n)
{
    state.SetItemsProcessed(state.iterations() * n);
    // Shown as time per record.
    state.counters["per_record"] = benchmark::Counter(
        double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_StoreAppend(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const std::string path = workDir() + "/Danhao.edb";
    for (auto _ : state) {
        state.PauseTiming();
        writeBytes(path, std::string(storeTemplate.begin(), storeTemplate.end()));
        state.ResumeTiming();
        if (!openStore(path))
            std::abort();
        appendRecords(n);
        closeStore();
    }
    setPerRecord(state, n);
}

void BM_StoreReadAll(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const std::string path = workDir() + "/Danhao.edb";
    writeBytes(path, storeImage(n, false));
    std::size_t bytes = 0;
    for (auto _ : state) {
        if (!openStore(path))
            std::abort();
        goToFirstRecord();
        const std::int32_t count = recordCount();
        for (std::int32_t i = 0; i < count; ++i) {
            bytes += readField(kNumber).size() + readField(kCompany).size() + readField(kRemark).size();
            skipRecord(1);
        }
        closeStore();
    }
    benchmark::DoNotOptimize(bytes);
    setPerRecord(state, n);
}

// With state.range(1) == 0 the store's syncs are left out for the benchmark.
class SyncChoice
{
public:
    explicit SyncChoice(const benchmark::State& state)
    {
        if (state.range(1) == 0)
            store_io::setFileOps(&test::fileOpsWithoutSyncs());
    }
    ~SyncChoice() { store_io::setFileOps(nullptr); }
    SyncChoice(const SyncChoice&) = delete;
    SyncChoice& operator=(const SyncChoice&) = delete;
};

void BM_StoreRewrite(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const SyncChoice sync(state);
    const std::string path = workDir() + "/Danhao.edb";
    writeBytes(path, storeImage(n, false));
    for (auto _ : state) {
        if (!openStore(path))
            std::abort();
        auto records = readAllRecords();
        std::reverse(records.begin(), records.end());
        if (!replaceAllRecords(records))
            std::abort();
        closeStore();
    }
    setPerRecord(state, n);
}

void BM_StorePurgeHalf(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const SyncChoice sync(state);
    const std::string path = workDir() + "/Danhao.edb";
    for (auto _ : state) {
        state.PauseTiming();
        writeBytes(path, storeImage(n, true));
        state.ResumeTiming();
        if (!openStore(path) || !purgeDeleted())
            std::abort();
        closeStore();
    }
    setPerRecord(state, n);
}

void BM_StoreClear(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const SyncChoice sync(state);
    const std::string path = workDir() + "/Danhao.edb";
    for (auto _ : state) {
        state.PauseTiming();
        writeBytes(path, storeImage(n, false));
        state.ResumeTiming();
        if (!openStore(path) || !clearStore())
            std::abort();
        closeStore();
    }
    setPerRecord(state, n);
}

// -- SQLite

void exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        std::abort();
}

sqlite3* openDb(const std::string& path, bool sync)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        std::abort();
    exec(db, sync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    exec(db, "CREATE TABLE IF NOT EXISTS saved(number TEXT, company TEXT, remark TEXT)");
    return db;
}

// One INSERT per record, each its own transaction, as each store append stands alone.
void insertRows(sqlite3* db, std::int64_t n)
{
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO saved VALUES(?, ?, ?)", -1, &insert, nullptr) != SQLITE_OK)
        std::abort();
    for (std::int64_t i = 0; i < n; ++i) {
        const std::string number = numberOf(i);
        sqlite3_bind_text(insert, 1, number.data(), int(number.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, kCarrier.data(), int(kCarrier.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, kNote.data(), int(kNote.size()), SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE)
            std::abort();
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
}

const std::string& sqliteImage(std::int64_t n)
{
    static std::map<std::int64_t, std::string> images;
    auto& image = images[n];
    if (image.empty()) {
        const std::string path = workDir() + "/image.db";
        ::unlink(path.c_str());
        sqlite3* db = openDb(path, false);
        exec(db, "BEGIN");
        insertRows(db, n);
        exec(db, "COMMIT");
        sqlite3_close(db);
        image = readBytes(path);
    }
    return image;
}

void BM_SqliteAppend(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const bool sync = state.range(1) != 0;
    const std::string path = workDir() + "/saved.db";
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
        sqlite3* db = openDb(path, sync);
        insertRows(db, n);
        sqlite3_close(db);
    }
    setPerRecord(state, n);
}

void BM_SqliteReadAll(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const std::string path = workDir() + "/saved.db";
    writeBytes(path, sqliteImage(n));
    std::size_t bytes = 0;
    for (auto _ : state) {
        sqlite3* db = openDb(path, false);
        sqlite3_stmt* select = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT number, company, remark FROM saved ORDER BY rowid", -1, &select,
                               nullptr) != SQLITE_OK)
            std::abort();
        while (sqlite3_step(select) == SQLITE_ROW)
            for (int c = 0; c < 3; ++c)
                bytes += std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(select, c)));
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
    benchmark::DoNotOptimize(bytes);
    setPerRecord(state, n);
}

void sqliteStatement(benchmark::State& state, const char* sql)
{
    const std::int64_t n = state.range(0);
    const bool sync = state.range(1) != 0;
    const std::string path = workDir() + "/saved.db";
    for (auto _ : state) {
        state.PauseTiming();
        writeBytes(path, sqliteImage(n));
        state.ResumeTiming();
        sqlite3* db = openDb(path, sync);
        exec(db, sql);
        sqlite3_close(db);
    }
    setPerRecord(state, n);
}

void BM_SqlitePurgeHalf(benchmark::State& state)
{
    sqliteStatement(state, "DELETE FROM saved WHERE rowid % 2 = 0");
}

void BM_SqliteClear(benchmark::State& state)
{
    sqliteStatement(state, "DELETE FROM saved");
}

// The arguments: records; for SQLite also 1 = synchronous (default), 0 = nosync.
BENCHMARK(BM_StoreAppend)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteAppend)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StoreReadAll)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteReadAll)->Args({1000, 0})->Args({100000, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
// Each size with its syncs (1) and without them (0), side by side, so that the cost of the syncs is
// read off one run.
void withAndWithoutSyncs(benchmark::internal::Benchmark* b, std::initializer_list<std::int64_t> sizes)
{
    for (const std::int64_t n : sizes)
        b->Args({n, 1})->Args({n, 0});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_StorePurgeHalf)->Apply([](auto* b) { withAndWithoutSyncs(b, {1000, 100000}); });
BENCHMARK(BM_StoreRewrite)->Apply([](auto* b) { withAndWithoutSyncs(b, {1000, 10000}); });
BENCHMARK(BM_SqlitePurgeHalf)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StoreClear)->Apply([](auto* b) { withAndWithoutSyncs(b, {1000, 100000}); });
BENCHMARK(BM_SqliteClear)
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int syscallProbe(const std::string& what, long n)
{
    const std::string path = workDir() + "/probe.edb";
    writeBytes(path, std::string(storeTemplate.begin(), storeTemplate.end()));
    if (!openStore(path))
        return 1;
    appendRecords(10);
    goToRecord(5);
    std::size_t bytes = 0;
    // Marks the start of the measured calls in an strace log.
    ::getppid();
    for (long i = 0; i < n; ++i) {
        if (what == "read")
            bytes += readField(kRemark).size();
        else if (!writeField(kRemark, kNote))
            return 1;
    }
    ::getppid();
    closeStore();
    ::unlink(path.c_str());
    return bytes == std::size_t(-1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--syscall-probe") == 0)
        return syscallProbe(argv[2], std::atol(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const std::string dir = workDir();
    for (const char* f :
         {"/Danhao.edb", "/Danhao.edb-journal", "/image.edb", "/saved.db", "/image.db", "/saved.db-journal"})
        ::unlink((dir + f).c_str());
    ::rmdir(dir.c_str());
    return 0;
}
