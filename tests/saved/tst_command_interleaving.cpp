// Two instances of the program on one folder, each adding, deleting, editing, sorting and dragging at
// random for a few seconds from the list it last loaded (tests/saved/command_driver, interleave). From
// their logs and the file they leave: no reported save missing, no record twice, no reported delete
// undone, no reported edit lost or put on another record, no torn record, no failure reported
// without waiting for the other instance; and every command done under the exclusive test lock left
// exactly what its report promises of the file before it.

#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "common/gbk.h"
#include "saved/store.h"
#include "tests/saved/driver_process.h"
#include "tests/saved/saved_records.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

using Entry = std::map<std::string, std::string>;

std::vector<Entry> readLog(const std::string& path)
{
    std::vector<Entry> entries;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        Entry e;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            const std::string field = line.substr(start, tab - start);
            const std::size_t eq = field.find('=');
            if (eq != std::string::npos)
                e[field.substr(0, eq)] = field.substr(eq + 1);
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        entries.push_back(e);
    }
    return entries;
}

const char* const kCouriers[] = {"中通", "申通", "韵达", "顺丰", "EMS"};

// The values a record may hold: those it was saved with, then those of each edit of it.
struct Value
{
    std::string company, remark; // UTF-8
    bool reported = false;       // the command said it succeeded
    bool creation = false;       // saved (not edited) with these
    long long t0 = 0, t1 = 0;
};

} // namespace

class TestCommandInterleaving : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_runtime.isValid());
        // The logs and the file, for a look at a failure.
        m_dir.setAutoRemove(!qEnvironmentVariableIsSet("KUVONA_INTERLEAVE_KEEP"));
        if (!m_dir.autoRemove())
            qInfo("keeping %s", qPrintable(m_dir.path()));
    }
    void twoInstancesAtOnce();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
};

void TestCommandInterleaving::twoInstancesAtOnce()
{
    constexpr int kSeconds = 6;
    const std::string dir = m_dir.path().toStdString();
    const std::string path = dir + "/Danhao.edb";
    std::map<std::string, std::vector<Value>> values; // by number
    std::set<std::string> saved, deleted;             // reported
    {
        std::string bytes = templateBytes();
        for (int i = 1; i <= 30; ++i) {
            const std::string number = "S" + std::to_string(10000 + i).substr(1);
            const std::string courier = kCouriers[i % 5];
            const std::string remark = number + ":初";
            bytes += makeRecord(33 + i, number, gbk(courier), gbk(remark));
            values[number].push_back({courier, remark, true, true, 0, 0});
            saved.insert(number);
        }
        putInt32(bytes, 16, 30);
        putInt32(bytes, 20, 64);
        writeFile(path, bytes);
    }
    const unsigned seed = qEnvironmentVariableIsSet("KUVONA_INTERLEAVE_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("KUVONA_INTERLEAVE_SEED"))
                              : 20261211u;
    {
        DriverProcess a(
            {"interleave", dir, "A", std::to_string(kSeconds), std::to_string(seed), dir + "/A.log"},
            m_runtime.path().toStdString());
        DriverProcess b(
            {"interleave", dir, "B", std::to_string(kSeconds), std::to_string(seed + 1), dir + "/B.log"},
            m_runtime.path().toStdString());
        QVERIFY(a.started() && b.started());
        for (DriverProcess* p : {&a, &b}) {
            const auto line = p->readLine(QDeadlineTimer(120000));
            QVERIFY2(line && *line == "end", line ? line->c_str() : "no end");
        }
    }

    // What each instance did and reported.
    std::map<std::string, std::map<std::string, int>> results; // verb -> result -> count
    std::map<std::string, int> checked, misplaced;             // by verb, exclusive ones
    std::vector<std::string> faults;
    int operations = 0, failedAtOnce = 0;
    for (const char* who : {"A", "B"}) {
        for (const Entry& e : readLog(dir + "/" + who + ".log")) {
            ++operations;
            const std::string& verb = e.at("verb");
            const bool ok = e.at("result") == "ok";
            ++results[verb][e.at("result")];
            if (e.at("mode") == "x") {
                ++checked[verb];
                if (e.at("check") != "ok") {
                    ++misplaced[verb];
                    faults.push_back(std::string(who) + e.at("seq") + " " + verb + " " + e.at("token") +
                                     ": " + e.at("check"));
                }
            }
            const std::string& token = e.at("token");
            const long long t0 = std::stoll(e.at("t0")), t1 = std::stoll(e.at("t1"));
            // Another instance's change holds the store for milliseconds; a command waits up to two
            // seconds for it before it may give up.
            if (e.at("result") == "failed" && t1 - t0 < 1900LL * 1000000) {
                ++failedAtOnce;
                faults.push_back("failed at once: " + std::string(who) + e.at("seq") + " " + verb + " " +
                                 token + " after " + std::to_string((t1 - t0) / 1000000) +
                                 " ms: " + e.at("boxes"));
            }
            if (verb == "auto" || verb == "add") {
                values[token].push_back({e.at("arg2"), verb == "add" ? e.at("arg3") : "", ok, true, t0, t1});
                if (ok)
                    saved.insert(token);
            } else if (verb == "edit") {
                values[token].push_back({e.at("arg3"), e.at("arg4"), ok, false, t0, t1});
            } else if (verb == "delete" && ok) {
                deleted.insert(token);
            }
        }
    }

    QVERIFY2(openStore(path), "the file does not open");
    closeStore();
    const SavedFile file = readSavedFile(path);
    std::map<std::string, int> count; // by invariant
    const auto fault = [&](const std::string& kind, const std::string& detail) {
        ++count[kind];
        faults.push_back(kind + ": " + detail);
    };
    if (file.ragged)
        fault("torn", "the file's count and length disagree");
    const std::regex tokenPattern("[ABS][0-9]{4}");
    std::map<std::string, int> present;
    for (const FileRow& r : file.rows) {
        const std::string number = utf8FromGbk(r.number), company = utf8FromGbk(r.company),
                          remark = utf8FromGbk(r.remark);
        if (r.serial <= 0 || !std::regex_match(number, tokenPattern) || !values.count(number)) {
            fault("torn", "a record " + number + " | " + company + " | " + remark);
            continue;
        }
        if (++present[number] == 2)
            fault("duplicated", number);
        const std::vector<Value>& history = values[number];
        const auto held = std::find_if(history.begin(), history.end(), [&](const Value& v) {
            return v.company == company && v.remark == remark;
        });
        if (held == history.end()) {
            const bool another = remark.rfind(number + ":", 0) != 0 && !remark.empty();
            fault(another ? "misplaced" : "torn", number + " holds " + company + " | " + remark);
            continue;
        }
        if (!held->reported) {
            fault("unreported", number + " holds a " + (held->creation ? "save" : "change") +
                                    " reported as not made: " + company + " | " + remark);
            continue;
        }
        // The last reported edit wins; of edits that overlapped in time, any may.
        const bool overtaken = std::any_of(history.begin(), history.end(), [&](const Value& v) {
            return &v != &*held && v.reported && !v.creation && (held->creation || v.t0 > held->t1);
        });
        if (overtaken)
            fault("edit lost", number + " holds " + remark + ", overtaken by a reported edit");
    }
    for (const std::string& number : saved)
        if (!present.count(number) && !deleted.count(number))
            fault("lost", number + " was reported saved and is gone");
    for (const std::string& number : deleted)
        if (present.count(number))
            fault("resurrected", number + " was reported deleted and is there");
    for (const auto& [verb, n] : misplaced)
        count["misplaced"] += n;

    QString summary;
    for (const auto& [verb, byResult] : results) {
        summary += QString::fromStdString(verb) + ":";
        for (const auto& [result, n] : byResult)
            summary += QString(" %1 %2").arg(n).arg(QString::fromStdString(result));
        summary += QString(" (%1 checked exactly, %2 failed); ").arg(checked[verb]).arg(misplaced[verb]);
    }
    qInfo("%d commands by two instances in %d s, %zu records left: %s", operations, kSeconds,
          file.rows.size(), qPrintable(summary));
    qInfo(
        "lost %d, duplicated %d, resurrected %d, misplaced %d, edits lost %d, unreported saves %d, torn %d; "
        "failed without waiting for the other instance %d",
        count["lost"], count["duplicated"], count["resurrected"], count["misplaced"], count["edit lost"],
        count["unreported"], count["torn"], failedAtOnce);
    for (std::size_t i = 0; i < faults.size() && i < 30; ++i)
        qWarning("%s", faults[i].c_str());
    QVERIFY2(operations >= 20, "too few commands to mean anything");
    QVERIFY2(faults.empty(), qPrintable(QString("%1 faults").arg(faults.size())));
}

QTEST_GUILESS_MAIN(TestCommandInterleaving)
#include "tst_command_interleaving.moc"
