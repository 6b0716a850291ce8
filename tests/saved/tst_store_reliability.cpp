// The store between processes: many writers at once, and writers killed at random moments.

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>

#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/gbk.h"
#include "saved/store.h"
#include "tests/saved/store_fixture.h"
#include "tests/support/fault_injection.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

const std::string kFieldNames[3] = {gbk("单号"), gbk("公司"), gbk("备注")};
constexpr std::size_t kFieldWidths[3] = {20, 12, 100};
constexpr std::size_t kFieldOffsets[3] = {4, 24, 36};

struct Rec
{
    bool operator==(const Rec&) const = default;
    std::int32_t serial = 0;
    std::string fields[3];
};

// What the file should hold, replayed from the same operations the child ran.
struct Model
{
    bool operator==(const Model& o) const { return recs == o.recs && nextSerial == o.nextSerial; }
    std::vector<Rec> recs;
    std::int32_t nextSerial = 34;
    std::int64_t current = 0;
};

// The records as the file holds them, parsed without the store code. Read twice per kill over
// thousands of records, so it makes no copy it does not keep.
Model readModel(const std::string& path)
{
    const std::string bytes = readFile(path);
    Model m;
    m.nextSerial = getInt32(bytes, 20);
    const std::int32_t count = getInt32(bytes, 16);
    m.recs.reserve(std::size_t(std::max(count, 0)));
    for (std::int32_t i = 0; i < count && 332 + 136 * std::size_t(i + 1) <= bytes.size(); ++i) {
        const std::size_t at = 332 + 136 * std::size_t(i);
        Rec& rec = m.recs.emplace_back();
        rec.serial = getInt32(bytes, at);
        for (int f = 0; f < 3; ++f) {
            const char* field = bytes.data() + at + kFieldOffsets[f];
            rec.fields[f].assign(field, ::strnlen(field, kFieldWidths[f]));
        }
    }
    return m;
}

enum class Kind
{
    Append,
    Write,
    Delete,
    Purge,
    Clear
};
const char* kKindNames[] = {"append", "writeField", "deleteRecord", "purgeDeleted", "clearStore"};

struct Op
{
    Op(Kind k, int f = 0, std::string v = {}, std::int32_t r = 0)
        : kind(k), field(f), value(std::move(v)), record(r)
    {}
    Kind kind;
    int field = 0;
    std::string value;
    std::int32_t record = 0; // 1-based, for Delete
};

// The next few operations; deterministic in the generator and the model's size.
std::vector<Op> nextOps(std::mt19937& rng, const Model& m, int& counter)
{
    const unsigned roll = rng() % 100;
    if (roll < 60 || m.recs.empty()) {
        const std::string token = "T" + std::to_string(++counter) + "-" + std::to_string(rng() % 1000);
        std::string remark;
        while (remark.size() + token.size() < 100)
            remark += token; // a torn write would show as a broken repetition
        return {{Kind::Append},
                {Kind::Write, 0, token},
                {Kind::Write, 1, "C" + std::to_string(counter % 7)},
                {Kind::Write, 2, remark}};
    }
    if (roll < 90)
        return {{Kind::Delete, 0, {}, std::int32_t(rng() % m.recs.size()) + 1}};
    if (roll < 99)
        return {{Kind::Purge}};
    return {{Kind::Clear}};
}

void apply(Model& m, const Op& op)
{
    switch (op.kind) {
    case Kind::Append:
        m.recs.push_back({m.nextSerial++, {}});
        m.current = std::int64_t(m.recs.size()) - 1;
        break;
    case Kind::Write:
        m.recs[std::size_t(m.current)].fields[op.field] = op.value.substr(0, kFieldWidths[op.field]);
        break;
    case Kind::Delete: {
        m.current = std::clamp<std::int64_t>(op.record - 1, 0, std::int64_t(m.recs.size()) - 1);
        auto& serial = m.recs[std::size_t(m.current)].serial;
        serial = serial > 0 ? -serial : serial;
        break;
    }
    case Kind::Purge:
        std::erase_if(m.recs, [](const Rec& r) { return r.serial < 0; });
        m.current = 0;
        break;
    case Kind::Clear:
        m.recs.clear();
        m.current = 0;
        break;
    }
}

bool execute(const Op& op)
{
    switch (op.kind) {
    case Kind::Append:
        return appendBlankRecord();
    case Kind::Write:
        return writeField(kFieldNames[op.field], op.value);
    case Kind::Delete:
        return goToRecord(op.record) && deleteRecord();
    case Kind::Purge:
        return purgeDeleted();
    case Kind::Clear:
        return clearStore();
    }
    return false;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    return ::write(fd, data, size) == ssize_t(size);
}

std::string readAll(int fd)
{
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    return out;
}

} // namespace

class TestStoreReliability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void concurrentAppends();
    void killedWriters();
    void killedRewrites_data();
    void killedRewrites();
    void concurrentAutoSaves();

private:
    std::string path() const { return m_dir.filePath("Danhao.edb").toStdString(); }
    QTemporaryDir m_dir;
};

void TestStoreReliability::concurrentAppends()
{
    constexpr int kProcesses = 8;
    constexpr int kAppends = 500;
    struct Stats
    {
        int appended = 0;
        int appendFailures = 0;
        int writeFailures = 0;
        int openFailures = 0;
    };

    closeStore();
    writeFile(path(), templateBytes());
    QElapsedTimer timer;
    timer.start();
    std::vector<std::pair<pid_t, int>> children;
    for (int p = 0; p < kProcesses; ++p) {
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            Stats stats;
            while (!openStore(path())) {
                ++stats.openFailures;
                sched_yield();
            }
            for (int i = 0; i < kAppends; ++i) {
                const std::string tag = "P" + std::to_string(p) + "-" + std::to_string(i);
                std::string remark;
                while (remark.size() + tag.size() + 1 < 100)
                    remark += tag + "|";
                while (!appendBlankRecord()) {
                    ++stats.appendFailures;
                    sched_yield();
                }
                ++stats.appended;
                const std::string values[3] = {tag, "C" + std::to_string(p), remark};
                for (int f = 0; f < 3; ++f)
                    while (!writeField(kFieldNames[f], values[f])) {
                        ++stats.writeFailures;
                        sched_yield();
                    }
            }
            closeStore();
            ::_exit(writeAll(pipeFds[1], &stats, sizeof stats) ? 0 : 1);
        }
        ::close(pipeFds[1]);
        children.emplace_back(pid, pipeFds[0]);
    }
    Stats total;
    for (auto [pid, fd] : children) {
        Stats s;
        const bool got = ::read(fd, &s, sizeof s) == ssize_t(sizeof s);
        ::close(fd);
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(got && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        total.appended += s.appended;
        total.appendFailures += s.appendFailures;
        total.writeFailures += s.writeFailures;
        total.openFailures += s.openFailures;
    }
    const qint64 elapsed = timer.elapsed();

    QVERIFY(openStore(path()));
    QCOMPARE(recordCount(), total.appended);
    QCOMPARE(total.appended, kProcesses * kAppends);
    closeStore();
    const Model m = readModel(path());
    QCOMPARE(int(m.recs.size()), kProcesses * kAppends);
    QCOMPARE(m.nextSerial, 34 + kProcesses * kAppends);
    QCOMPARE(fileSize(path()), 332LL + 136LL * kProcesses * kAppends);
    std::set<std::string> seen;
    for (std::size_t i = 0; i < m.recs.size(); ++i) {
        const Rec& r = m.recs[i];
        // Appends are serialised by the count lock, so serials follow the record order exactly.
        QCOMPARE(r.serial, std::int32_t(34 + i));
        const std::string& tag = r.fields[0];
        QVERIFY2(seen.insert(tag).second, tag.c_str());
        const auto dash = tag.find('-');
        QVERIFY2(tag.size() > 2 && tag[0] == 'P' && dash != std::string::npos, tag.c_str());
        QCOMPARE(r.fields[1], "C" + tag.substr(1, dash - 1));
        std::string remark;
        while (remark.size() + tag.size() + 1 < 100)
            remark += tag + "|";
        QCOMPARE(r.fields[2], remark);
    }
    QCOMPARE(int(seen.size()), kProcesses * kAppends);
    qInfo("concurrency: %d processes x %d appends (+3 writeField each) in %lld ms; %d records, all distinct "
          "and "
          "whole; failed attempts retried: append %d, writeField %d, openStore %d",
          kProcesses, kAppends, elapsed, int(m.recs.size()), total.appendFailures, total.writeFailures,
          total.openFailures);
}

void TestStoreReliability::killedWriters()
{
    constexpr int kRuns = 200;
    closeStore();
    writeFile(path(), storeWithRecords(6000));
    std::mt19937 timing(20240607);
    std::map<Kind, int> inFlight;
    int before = 0, after = 0, purgeDuplicates = 0, tornWrites = 0, duplicateRecords = 0;
    std::size_t completedOps = 0;

    for (int run = 0; run < kRuns; ++run) {
        Model base = readModel(path());
        if (base.recs.size() < 3000) {
            // Refilled byte by byte: a purge has to span several batches to be worth killing.
            std::string bytes = readFile(path());
            for (int i = 0; i < 3000; ++i)
                bytes += makeRecord(base.nextSerial++, "F" + std::to_string(i), "C", "R");
            putInt32(bytes, 16, std::int32_t(base.recs.size()) + 3000);
            putInt32(bytes, 20, base.nextSerial);
            writeFile(path(), bytes);
            base = readModel(path());
        }
        const unsigned seed = 1000u + unsigned(run);
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            if (!openStore(path()))
                ::_exit(writeAll(pipeFds[1], "F", 1) ? 2 : 3);
            // The parent's kill waits for this, so that it lands among the operations however long the
            // start took.
            if (!writeAll(pipeFds[1], "r", 1))
                ::_exit(3);
            std::mt19937 rng(seed);
            Model& m = base; // this process's own copy already
            int counter = 0;
            for (;;) {
                for (const Op& op : nextOps(rng, m, counter)) {
                    if (!execute(op))
                        ::_exit(writeAll(pipeFds[1], "F", 1) ? 2 : 3);
                    apply(m, op);
                    if (!writeAll(pipeFds[1], "k", 1))
                        ::_exit(3);
                }
            }
        }
        ::close(pipeFds[1]);
        // Bounded, so that a child stuck before its start fails the test instead of hanging it.
        struct pollfd child = {pipeFds[0], POLLIN, 0};
        char started = 0;
        const bool opened =
            ::poll(&child, 1, 20000) == 1 && ::read(pipeFds[0], &started, 1) == 1 && started == 'r';
        ::usleep(useconds_t(timing() % 15000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string reports = readAll(pipeFds[0]);
        ::close(pipeFds[0]);
        QVERIFY2(opened, "the child did not open the store");
        QVERIFY2(reports.find('F') == std::string::npos, "an operation failed in the child");
        const std::size_t done = reports.size();
        completedOps += done;

        // Replay: the state after every reported operation, and after the one that may have been running.
        std::mt19937 rng(seed);
        Model expected = std::move(base);
        int counter = 0;
        std::vector<Op> ops;
        while (ops.size() <= done) {
            for (const Op& op : nextOps(rng, expected, counter)) {
                if (ops.size() < done)
                    apply(expected, op);
                ops.push_back(op);
            }
        }
        const Op& running = ops[done];
        ++inFlight[running.kind];

        QVERIFY2(openStore(path()), qPrintable(QString("run %1: the file does not open").arg(run)));
        const std::int32_t count = recordCount();
        closeStore();
        const Model actual = readModel(path());
        QCOMPARE(count, std::int32_t(actual.recs.size()));
        QCOMPARE(fileSize(path()), 332LL + 136LL * count);
        if (actual == expected) {
            ++before;
            continue;
        }
        Model afterRunning = expected;
        apply(afterRunning, running);
        if (actual == afterRunning) {
            ++after;
            continue;
        }
        const QString where = QString("run %1, killed during %2 after %3 operations")
                                  .arg(run)
                                  .arg(kKindNames[int(running.kind)])
                                  .arg(done);
        if (running.kind == Kind::Purge) {
            // Records are moved before the count is lowered: a kill in between leaves later records
            // twice. Nothing may be lost or invented.
            std::multiset<std::int32_t> present;
            for (const Rec& r : actual.recs) {
                const auto it = std::find_if(expected.recs.begin(), expected.recs.end(),
                                             [&](const Rec& e) { return e.serial == r.serial; });
                QVERIFY2(it != expected.recs.end() && *it == r, qPrintable(where + ": a record changed"));
                present.insert(r.serial);
            }
            for (const Rec& e : expected.recs)
                if (e.serial > 0)
                    QVERIFY2(present.count(e.serial) > 0, qPrintable(where + ": a live record was lost"));
            QCOMPARE(actual.nextSerial, expected.nextSerial);
            ++purgeDuplicates;
            duplicateRecords +=
                int(present.size() - std::set<std::int32_t>(present.begin(), present.end()).size());
            continue;
        }
        if (running.kind == Kind::Write && actual.recs.size() == expected.recs.size()) {
            // A write cut by the kill may leave part of its bytes; only that field may differ.
            Model patched = actual;
            patched.recs[std::size_t(expected.current)].fields[running.field] =
                expected.recs[std::size_t(expected.current)].fields[running.field];
            QVERIFY2(patched == expected, qPrintable(where + ": more than the written field changed"));
            ++tornWrites;
            continue;
        }
        QFAIL(qPrintable(where + ": the file matches neither the state before nor after it"));
    }
    QString kinds;
    for (auto [kind, n] : inFlight)
        kinds += QString("%1 %2, ").arg(kKindNames[int(kind)]).arg(n);
    qInfo("crash: %d kills, %zu operations completed and all found; killed during: %s", kRuns, completedOps,
          qPrintable(kinds));
    qInfo(
        "crash: afterwards the file held the state before the running operation %d times, after it %d times; "
        "an interrupted purge left duplicated records %d times (%d records twice, none lost); "
        "torn field writes %d",
        before, after, purgeDuplicates, duplicateRecords, tornWrites);
}

void TestStoreReliability::killedRewrites_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("kills");
    // clang-format off
    QTest::newRow("purge, 3000 records")   << "purge"   << 3000 << 20;
    QTest::newRow("purge, 300 records")    << "purge"   << 300  << 25;
    QTest::newRow("clear, 3000 records")   << "clear"   << 3000 << 20;
    QTest::newRow("reverse, 3000 records") << "reverse" << 3000 << 20;
    QTest::newRow("reverse, 300 records")  << "reverse" << 300  << 25;
    QTest::newRow("modify, across a page") << "modify"  << 30   << 25;
    // clang-format on
}

// One change killed at random instants while it runs: each time, the next open must find the
// records before it or after it, whole, each once.
void TestStoreReliability::killedRewrites()
{
    QFETCH(QString, operation);
    QFETCH(int, records);
    QFETCH(int, kills);
    closeStore();

    // Every third record marked, so that a purge moves records across the whole area.
    std::string before = storeWithRecords(records);
    std::vector<std::string> recs;
    for (int i = 0; i < records; ++i) {
        if (i % 3 == 1)
            putInt32(before, 332 + 136 * std::size_t(i), -(34 + i));
        recs.push_back(before.substr(332 + 136 * std::size_t(i), 136));
    }
    std::vector<std::string> kept;
    if (operation == "purge")
        std::copy_if(recs.begin(), recs.end(), std::back_inserter(kept),
                     [](const std::string& r) { return getInt32(r, 0) > 0; });
    else if (operation == "reverse")
        kept.assign(recs.rbegin(), recs.rend());
    else if (operation == "modify")
        kept = recs;
    // The 28th record lies across the first page boundary (4004..4140); the edit changes bytes on
    // both sides of it.
    const std::string longRemark(99, 'x');
    if (operation == "modify")
        kept[27] = makeRecord(getInt32(recs[27], 0), "M28", "MC", longRemark);
    std::string after = before.substr(0, 332);
    for (const auto& r : kept)
        after += r;
    putInt32(after, 16, std::int32_t(kept.size()));

    auto run = [&] {
        if (operation == "purge")
            return purgeDeleted();
        if (operation == "clear")
            return clearStore();
        if (operation == "modify")
            return goToRecord(28) && modifyRecord({"M28", "MC", longRemark});
        auto all = readAllRecords();
        std::reverse(all.begin(), all.end());
        return replaceAllRecords(all);
    };

    // A kill leaves the page cache as it was, so the syncs add nothing here but time; leaving them out
    // lets the kills land more often inside the change.
    store_io::setFileOps(&fileOpsWithoutSyncs());
    // How long the change takes here, so that the kills spread over all of it.
    writeFile(path(), before);
    QVERIFY(openStore(path()));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(run());
    const qint64 windowUs = std::max<qint64>(2000, timer.nsecsElapsed() / 1000 * 3 / 2);
    closeStore();
    QCOMPARE(readFile(path()), after);

    std::mt19937 timing(4242u + unsigned(records));
    const std::string journalPath = path() + "-journal";
    int sawBefore = 0, sawAfter = 0, journalAtKill = 0, finished = 0, killsAtCalls = 0;
    int pipeFd = -1; // the running child's reports
    // Runs the change in a child that `killer` ends; afterwards the next open must find the old
    // records or the new ones. False once the child finished without being killed.
    auto killedRun = [&](const QString& where, auto setUp, auto killer) {
        writeFile(path(), before);
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return false;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            if (!openStore(path()) || !writeAll(pipeFds[1], "r", 1))
                ::_exit(2);
            setUp();
            const bool ok = run();
            store_io::setFileOps(&fileOpsWithoutSyncs());
            writeAll(pipeFds[1], ok ? "d" : "F", 1);
            for (;;)
                ::pause();
        }
        ::close(pipeFds[1]);
        char ready = 0;
        const bool started = ::read(pipeFds[0], &ready, 1) == 1 && ready == 'r';
        pipeFd = pipeFds[0];
        killer();
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string reports = readAll(pipeFds[0]);
        ::close(pipeFds[0]);
        const bool done = reports == "d";
        [&] {
            QVERIFY2(started, qPrintable(where + ": the child did not start"));
            QVERIFY2(reports.find('F') == std::string::npos, qPrintable(where + ": the change failed"));
            finished += done;
            journalAtKill += ::access(journalPath.c_str(), F_OK) == 0;
            QVERIFY2(openStore(path()), qPrintable(where + ": the file does not open"));
            closeStore();
            const std::string now = readFile(path());
            QVERIFY2(::access(journalPath.c_str(), F_OK) != 0, qPrintable(where + ": journal left"));
            if (now == after) {
                ++sawAfter;
                return;
            }
            QVERIFY2(!done, qPrintable(where + ": a finished change was lost"));
            QVERIFY2(now == before,
                     qPrintable(where + ": the file holds neither the old records nor the new"));
            ++sawBefore;
        }();
        return !done;
    };

    // Killed at random instants over the whole change.
    for (int kill = 0; kill < kills; ++kill) {
        killedRun(
            QString("%1, kill %2").arg(operation).arg(kill), [] {},
            [&] { ::usleep(useconds_t(timing() % std::uint64_t(windowUs))); });
        if (QTest::currentTestFailed())
            return;
    }
    // Killed at each of its writes (before it, or with half its bytes written), truncations, syncs
    // and deletions in turn: every step of the commit.
    const std::pair<FaultKind, FaultMode> points[] = {
        {FaultKind::Write, FaultMode::Kill},    {FaultKind::Write, FaultMode::KillMidWrite},
        {FaultKind::Truncate, FaultMode::Kill}, {FaultKind::Sync, FaultMode::Kill},
        {FaultKind::Unlink, FaultMode::Kill},
    };
    for (auto [kind, mode] : points) {
        for (int n = 1;; ++n) {
            const QString where =
                QString("%1, killed at %2 call %3").arg(operation).arg(faultKindName(kind)).arg(n);
            const bool killed = killedRun(
                where,
                [kind, mode, n] {
                    static std::unique_ptr<FaultInjector> injector;
                    injector = std::make_unique<FaultInjector>(kind, n, mode);
                },
                [&] {
                    // Until the child reports the change done, or dies at the chosen call.
                    struct pollfd child = {pipeFd, POLLIN, 0};
                    ::poll(&child, 1, 30000);
                });
            if (QTest::currentTestFailed())
                return;
            if (!killed)
                break;
            ++killsAtCalls;
        }
    }
    store_io::setFileOps(nullptr);
    qInfo("crash: %s of %d records (%lld us here) killed %d times at random and %d times at its file calls: "
          "old records found %d times, new %d (%d reported done); a journal was left to roll back %d times",
          qPrintable(operation), records, windowUs * 2 / 3, kills, killsAtCalls, sawBefore, sawAfter,
          finished, journalAtKill);
    // The kills must land inside the change, not only before or after it.
    QVERIFY(journalAtKill > 0);
}

// Instances saving numbers at the same moment, each save a command of its own (open, append,
// close) that gives up after its lock wait: no number may be lost or saved twice.
void TestStoreReliability::concurrentAutoSaves()
{
    constexpr int kProcesses = 4;
    constexpr int kSaves = 40;
    closeStore();
    writeFile(path(), templateBytes());
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            int lost = 0;
            for (int i = 0; i < kSaves; ++i) {
                const std::string tag = "P" + std::to_string(p) + "-" + std::to_string(i);
                const bool saved =
                    openStore(path(), kStoreLockWaitMs) && appendRecord({tag, "C" + std::to_string(p), tag});
                closeStore();
                lost += !saved;
            }
            ::_exit(lost);
        }
        children.push_back(pid);
    }
    int lost = 0;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status));
        lost += WEXITSTATUS(status);
    }
    QCOMPARE(lost, 0);
    const Model m = readModel(path());
    QCOMPARE(int(m.recs.size()), kProcesses * kSaves);
    std::set<std::string> tags;
    for (const Rec& r : m.recs) {
        QCOMPARE(r.fields[2], r.fields[0]);
        tags.insert(r.fields[0]);
    }
    QCOMPARE(int(tags.size()), kProcesses * kSaves);
}

QTEST_GUILESS_MAIN(TestStoreReliability)
#include "tst_store_reliability.moc"
