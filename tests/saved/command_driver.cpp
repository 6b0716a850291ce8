// Runs the saved list's commands in the real main window, offscreen, for the tests that kill it in
// the middle of a command or run two of it on one folder. Every message box is answered OK through
// the seam; rows are chosen, dragged and deleted with the mouse and the keyboard as a user does.
//
//   command_driver serve
//     Reads requests from stdin, one a line: DIR <tab> KILL <tab> COMMAND [<tab> COMMAND ...]. For each
//     it forks a child before any toolkit object exists (the toolkit is not safe across a fork, and
//     an exec per request would cost the start-up of the sanitizers and the libraries every time).
//     The child writes "pid N", opens the main window on DIR/Danhao.edb, writes "ready", performs
//     the commands, writing "done I OUTCOME CALLS" after each one returned, then "end", and waits to
//     be killed. The server writes "exit STATUS" or "signal N" once the child is gone.
//     KILL is "none" or "call:K:MODE": at the K-th call that changes the disk (write, truncate, sync,
//     rename, link, unlink), counted from the first command, the child writes "stop K" and stops
//     itself for the caller to kill. MODE before: the call is not made; after: it is made; torn: a
//     write that spans a page boundary reaches the disk up to the first boundary only, as a write cut
//     by a kill can (the kernel checks for a fatal signal between pages).
//
//   command_driver interleave DIR NAME SECONDS SEED LOG
//     Performs random commands on DIR/Danhao.edb for SECONDS and logs each to LOG (see logOperation).
//     About half of them are done under an exclusive lock of DIR/driver.lock that every other driver
//     takes shared for its own commands; those are checked exactly against the file before and after.
//
// Commands, fields separated by '|', texts in UTF-8 ("\n" in a remark stands for a line break):
//   auto|NUMBER|COURIER              type NUMBER, highlight COURIER, run the query's auto-save step
//   add|NUMBER|COURIER|REMARK        the add window from the pop-up menu
//   edit|ROW|NUMBER|COURIER|REMARK   double-click ROW, fill the edit window, save
//   delete|ROW                       click ROW, press Delete
//   clear                            全部删除 from the pop-up menu
//   sort|COLUMN                      click the column's header
//   drag|FROM|TO                     press on row FROM, move onto row TO, release

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "saved/number_windows.h"
#include "saved/saved_commands.h"
#include "saved/saved_list.h"
#include "saved/store.h"
#include "saved/store_io.h"
#include "tests/saved/saved_records.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

QString q(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Whole lines in one write each: the server and its child share the pipe.
void say(const std::string& line)
{
    const std::string out = line + "\n";
    for (std::size_t done = 0; done < out.size();) {
        const ssize_t n = ::write(1, out.data() + done, out.size() - done);
        if (n <= 0)
            ::_exit(4);
        done += std::size_t(n);
    }
}

[[noreturn]] void fail(const std::string& why)
{
    say("error " + why);
    ::_exit(2);
}

[[noreturn]] void onFatal(int code, const std::string& message)
{
    fail("fatal " + std::to_string(code) + " " + utf8FromGbk(message));
}

// -- Kill points in the store's file layer.

enum class StopMode
{
    Before,
    After,
    Torn
};

struct KillPoint
{
    long at = 0; // 0: none
    StopMode mode = StopMode::Before;
};

KillPoint g_kill;
long g_calls = 0;

[[noreturn]] void stopForTheKill(bool cut = false)
{
    say("stop " + std::to_string(g_calls) + (cut ? " cut" : ""));
    for (;;)
        ::raise(SIGSTOP);
}

// Counts a call; true when it is the chosen one. Stops before it unless it is to be made (after)
// or is a write to be cut (torn).
bool atKillPoint(bool isWrite)
{
    if (++g_calls != g_kill.at)
        return false;
    if (g_kill.mode == StopMode::Before || (g_kill.mode == StopMode::Torn && !isWrite))
        stopForTheKill();
    return true;
}

template <typename Call> auto counted(Call call)
{
    const bool here = atKillPoint(false);
    const auto result = call();
    if (here)
        stopForTheKill();
    return result;
}

const store_io::FileOps& killingFileOps()
{
    static const store_io::FileOps ops = {
        [](int fd, void* buffer, std::size_t length, off_t position) {
            return store_io::systemFileOps().pread(fd, buffer, length, position);
        },
        [](int fd, const void* buffer, std::size_t length, off_t position) -> ssize_t {
            const auto& system = store_io::systemFileOps();
            const bool here = atKillPoint(true);
            if (here && g_kill.mode == StopMode::Torn) {
                constexpr off_t kPage = 4096;
                const off_t boundary = (position / kPage + 1) * kPage;
                const bool cut = boundary < position + off_t(length);
                if (cut)
                    system.pwrite(fd, buffer, std::size_t(boundary - position), position);
                stopForTheKill(cut);
            }
            const ssize_t result = system.pwrite(fd, buffer, length, position);
            if (here)
                stopForTheKill();
            return result;
        },
        [](int fd, off_t length) {
            return counted([&] { return store_io::systemFileOps().ftruncate(fd, length); });
        },
        [](int fd) { return counted([&] { return store_io::systemFileOps().fsync(fd); }); },
        [](const char* from, const char* to) {
            return counted([&] { return store_io::systemFileOps().rename(from, to); });
        },
        [](const char* from, const char* to) {
            return counted([&] { return store_io::systemFileOps().link(from, to); });
        },
        [](const char* path) { return counted([&] { return store_io::systemFileOps().unlink(path); }); },
    };
    return ops;
}

// "call:K:before|after|torn": stop at the K-th counted file call; anything else stops nowhere.
KillPoint parseKillPoint(const std::string& killAt)
{
    KillPoint k;
    const auto parts = split(killAt, ':');
    if (parts.size() == 3 && parts[0] == "call") {
        k.at = std::stol(parts[1]);
        k.mode = parts[2] == "after"  ? StopMode::After
                 : parts[2] == "torn" ? StopMode::Torn
                                      : StopMode::Before;
    }
    return k;
}

// -- The user's side of the main window.

// Rows as the list shows them (GBK).
std::vector<FileRow> shownRows()
{
    ReportListView& list = *mainControls().savedList;
    std::vector<FileRow> rows;
    for (int r = 0; r < listRowCount(list); ++r)
        rows.push_back({0, listCellText(list, r, 0), listCellText(list, r, 1), listCellText(list, r, 2)});
    return rows;
}

// The mouse through the window system, so that the application's record of the pressed buttons
// (which the drag reads) follows it.
class Mouse
{
public:
    Mouse() : m_list(*mainControls().savedList) {}

    QPoint showRow(int row)
    {
        if (row < 0 || row >= listRowCount(m_list))
            fail("no row " + std::to_string(row));
        const QModelIndex index = m_list.listModel()->index(row, 0);
        m_list.scrollTo(index);
        return m_list.viewport()->mapTo(m_list.window(), m_list.visualRect(index).center());
    }
    void press(QPoint at)
    {
        m_at = at;
        QTest::mousePress(window(), Qt::LeftButton, {}, m_at);
    }
    // Moves the pointer onto `row`, scrolled into view. The list may then show the row under the
    // pressed point; a user moves the pointer to get there, so it first goes beyond the drag distance
    // along the row, and the row is looked up again after whatever that move scrolled.
    void moveToRow(int row)
    {
        QPoint at = showRow(row);
        const int distance = QApplication::startDragDistance();
        if ((at - m_at).manhattanLength() < distance) {
            QTest::mouseMove(window(), m_at + QPoint(distance + 1, 0));
            at = showRow(row);
        }
        m_at = at;
        QTest::mouseMove(window(), m_at);
    }
    void release() { QTest::mouseRelease(window(), Qt::LeftButton, {}, m_at); }
    void click(QPoint at)
    {
        press(at);
        release();
    }

private:
    QWindow* window() const { return m_list.window()->windowHandle(); }

    ReportListView& m_list;
    QPoint m_at;
};

void selectRow(int row)
{
    Mouse mouse;
    mouse.click(mouse.showRow(row));
    if (listCurrentSelection(*mainControls().savedList) != row)
        fail("row " + std::to_string(row) + " not selected by a click");
}

// Drives the modal window of type W as soon as it is up, for as long as the returned timer lives.
template <typename W, typename Drive> std::unique_ptr<QTimer> whenModal(Drive drive)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* t = timer.get();
    QObject::connect(t, &QTimer::timeout, t, [t, drive] {
        auto* window = qobject_cast<W*>(QApplication::activeModalWidget());
        if (!window)
            return;
        t->stop();
        drive(window);
        if (window->isVisible())
            window->reject();
    });
    t->start(0);
    return timer;
}

void fillNumberWindow(NumberWindow* w, const std::string& number, const std::string& courier,
                      const std::string& remark)
{
    w->numberEdit()->setText(q(number));
    const int index = w->carrierBox()->findText(q(courier));
    if (index < 0)
        fail("no courier " + courier + " in the window");
    w->carrierBox()->setCurrentIndex(index);
    w->remarkEdit()->setPlainText(q(replaceAll(remark, "\\n", "\n")));
    QTest::mouseClick(w->okButton(), Qt::LeftButton);
}

struct Outcome
{
    std::string result; // ok, failed, stale (a box that is neither), none (no box, nothing said)
    std::string boxes;  // the texts of the boxes shown, UTF-8, separated by " / "
    std::string shown;  // edit: the number the window was filled with
};

bool isQuestion(const messageBoxSeam::Shown& box)
{
    return box.text == gbk("您确认删除单号吗？") || box.text == gbk("是否清空数据库？");
}

// What the command told the user. The first box that is not one of the commands' questions decides;
// without one, `silentResult`.
Outcome outcomeOfBoxes(const std::string& silentResult)
{
    Outcome o;
    for (const auto& box : messageBoxSeam::shown()) {
        const std::string text = utf8FromGbk(box.text);
        o.boxes += (o.boxes.empty() ? "" : " / ") + text;
        if (!o.result.empty() || isQuestion(box))
            continue;
        o.result = text.find("成功") != std::string::npos || text == "已全部删除！" ? "ok"
                   : text.find("失败") != std::string::npos                         ? "failed"
                                                                                    : "stale";
    }
    if (o.result.empty())
        o.result = silentResult;
    return o;
}

int number(const std::string& text)
{
    try {
        return std::stoi(text);
    } catch (...) {
        fail("not a number: " + text);
    }
}

Outcome perform(const std::vector<std::string>& c)
{
    messageBoxSeam::clear();
    messageBoxSeam::setAutoAnswer(true);
    const MainControls& controls = mainControls();
    ReportListView& list = *controls.savedList;
    const std::string& verb = c[0];
    const auto need = [&](std::size_t n) {
        if (c.size() != n + 1)
            fail("command " + verb + " takes " + std::to_string(n) + " fields");
    };
    if (verb == "auto") {
        need(2);
        controls.number->setText(q(c[1]));
        const auto items = controls.carriers->findItems(q(c[2]), Qt::MatchExactly);
        if (items.isEmpty())
            fail("no courier " + c[2] + " in the check list");
        controls.carriers->setCurrentSelection(controls.carriers->row(items.front()));
        autoSaveNumber();
        // The step says nothing: the user sees the number in the list, or does not.
        return outcomeOfBoxes(listFindRowByPrefix(list, gbk(c[1])) >= 0 ? "ok" : "failed");
    }
    if (verb == "add") {
        need(3);
        auto driving =
            whenModal<AddNumberWindow>([&](AddNumberWindow* w) { fillNumberWindow(w, c[1], c[2], c[3]); });
        runSavedListMenuItem(0);
        return outcomeOfBoxes("none");
    }
    if (verb == "edit") {
        need(4);
        const int row = number(c[1]);
        selectRow(row);
        std::string shown = "-";
        auto driving = whenModal<EditNumberWindow>([&](EditNumberWindow* w) {
            shown = w->numberEdit()->text().toStdString();
            fillNumberWindow(w, c[2], c[3], c[4]);
        });
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                           list.visualRect(list.listModel()->index(row, 0)).center());
        Outcome o = outcomeOfBoxes("none");
        o.shown = shown;
        return o;
    }
    if (verb == "delete") {
        need(1);
        selectRow(number(c[1]));
        QTest::keyClick(&list, Qt::Key_Delete);
        return outcomeOfBoxes("none");
    }
    if (verb == "clear") {
        need(0);
        runSavedListMenuItem(3);
        return outcomeOfBoxes("none");
    }
    if (verb == "sort") {
        need(1);
        QHeaderView* header = list.horizontalHeader();
        const int column = number(c[1]);
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        return outcomeOfBoxes("ok");
    }
    if (verb == "drag") {
        need(2);
        Mouse mouse;
        mouse.press(mouse.showRow(number(c[1])));
        mouse.moveToRow(number(c[2]));
        mouse.release();
        return outcomeOfBoxes("ok");
    }
    fail("unknown command " + verb);
}

struct Session
{
    Session(const std::string& dir)
    {
        static int argc = 1;
        static char name[] = "command_driver";
        static char* argv[] = {name, nullptr};
        setFatalHandler(onFatal);
        setProgramDirectory(dir);
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<MainWindow>();
        window->showCentred();
        if (!QTest::qWaitForWindowExposed(window.get()))
            fail("the main window was not shown");
    }
    std::unique_ptr<QApplication> app;
    std::unique_ptr<MainWindow> window;
};

// -- serve

[[noreturn]] void runRequest(const std::string& request)
{
    const auto fields = split(request, '\t');
    if (fields.size() < 2)
        fail("bad request");
    say("pid " + std::to_string(::getpid()));
    Session session(fields[0]);
    g_kill = parseKillPoint(fields[1]);
    store_io::setFileOps(&killingFileOps());
    say("ready");
    for (std::size_t i = 2; i < fields.size(); ++i) {
        const Outcome o = perform(split(fields[i], '|'));
        say("done " + std::to_string(i - 2) + " " + o.result + " " + std::to_string(g_calls));
    }
    say("end");
    for (;;)
        ::pause();
}

int serve()
{
    std::string pending;
    char buffer[65536];
    for (;;) {
        const std::size_t newline = pending.find('\n');
        if (newline == std::string::npos) {
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n <= 0)
                return 0;
            pending.append(buffer, std::size_t(n));
            continue;
        }
        const std::string request = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        const pid_t pid = ::fork();
        if (pid < 0)
            fail("fork");
        if (pid == 0) {
            const int devNull = ::open("/dev/null", O_RDONLY);
            ::dup2(devNull, 0);
            runRequest(request);
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        say(WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : "exit " + std::to_string(WEXITSTATUS(status)));
    }
}

// -- interleave

std::int64_t monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

const char* const kCouriers[] = {"中通", "申通", "韵达", "顺丰", "EMS"};

std::string without(const std::vector<FileRow>& rows, const std::string& number, std::vector<FileRow>& out)
{
    out.clear();
    int found = 0;
    for (const FileRow& r : rows) {
        if (r.number == number)
            ++found;
        else
            out.push_back(r);
    }
    return found == 1 ? "" : std::to_string(found) + " records " + number;
}

std::multiset<std::tuple<std::string, std::string, std::string>> texts(const std::vector<FileRow>& rows)
{
    std::multiset<std::tuple<std::string, std::string, std::string>> set;
    for (const FileRow& r : rows)
        set.emplace(r.number, r.company, r.remark);
    return set;
}

int indexOf(const std::vector<FileRow>& rows, const std::string& number)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].number == number)
            return int(i);
    return -1;
}

// Whether the file after the command is what the command's report promises of the file before it.
// Empty when it is; else why not.
std::string postconditionFault(const std::vector<std::string>& c, const std::vector<FileRow>& shown,
                               const Outcome& outcome, const SavedFile& before, const SavedFile& after)
{
    if (before.ragged || after.ragged)
        return "the file's count and length disagree";
    if (outcome.result != "ok")
        return after == before ? "" : "changed, yet reported " + outcome.result;
    const std::string& verb = c[0];
    if (verb == "auto" || verb == "add") {
        SavedFile expected = before;
        expected.rows.push_back({before.nextSerial, gbk(c[1]), gbk(c[2]), verb == "add" ? gbk(c[3]) : ""});
        ++expected.nextSerial;
        return after == expected ? "" : "not the records before with the new one appended";
    }
    if (verb == "delete") {
        const std::string& chosen = shown[std::size_t(number(c[1]))].number;
        SavedFile expected = before;
        if (const std::string why = without(before.rows, chosen, expected.rows); !why.empty())
            return "deleted while the file held " + why;
        return after == expected ? "" : "not the records before without " + chosen;
    }
    if (verb == "edit") {
        const std::string& chosen = shown[std::size_t(number(c[1]))].number;
        const int at = indexOf(before.rows, chosen);
        if (at < 0)
            return "edited " + chosen + ", which the file no longer held";
        SavedFile expected = before;
        expected.rows[std::size_t(at)].number = gbk(c[2]);
        expected.rows[std::size_t(at)].company = gbk(c[3]);
        expected.rows[std::size_t(at)].remark = gbk(c[4]);
        return after == expected ? "" : "not the records before with " + chosen + " edited";
    }
    if (texts(after.rows) != texts(before.rows))
        return "the records are not the ones before, moved";
    if (verb == "sort") {
        // The file's order is the one the list shows, for the records both hold.
        std::vector<std::string> inFile, inList;
        const auto listed = shownRows();
        for (const FileRow& r : after.rows)
            if (indexOf(listed, r.number) >= 0)
                inFile.push_back(r.number);
        for (const FileRow& r : listed)
            if (indexOf(after.rows, r.number) >= 0)
                inList.push_back(r.number);
        return inFile == inList ? "" : "the file's order is not the list's";
    }
    // drag: beside the record it was dropped on (after it when dragged down, before it when dragged
    // up); with a list that showed the file as it was, also between both its new neighbours. Records
    // the list did not show (another instance's) may lie between.
    std::vector<FileRow> moved = shown;
    const int from = number(c[1]), to = number(c[2]);
    const FileRow dragged = moved[std::size_t(from)];
    moved.erase(moved.begin() + from);
    moved.insert(moved.begin() + to, dragged);
    const int at = indexOf(after.rows, dragged.number);
    if (at < 0)
        return "the dragged record is gone";
    const auto shownNeighbour = [&](int step) {
        for (int i = at + step; i >= 0 && i < int(after.rows.size()); i += step)
            if (indexOf(moved, after.rows[std::size_t(i)].number) >= 0)
                return after.rows[std::size_t(i)].number;
        return std::string();
    };
    const auto expectedNeighbour = [&](int step) {
        for (int i = to + step; i >= 0 && i < int(moved.size()); i += step)
            if (indexOf(before.rows, moved[std::size_t(i)].number) >= 0)
                return moved[std::size_t(i)].number;
        return std::string();
    };
    bool fresh = shown.size() == before.rows.size();
    for (std::size_t i = 0; fresh && i < shown.size(); ++i)
        fresh = shown[i].number == before.rows[i].number;
    for (const int step : {-1, 1}) {
        const bool droppedOn = (from < to && step == -1) || (from > to && step == 1);
        if ((fresh || droppedOn) && shownNeighbour(step) != expectedNeighbour(step))
            return std::string(step < 0 ? "not after " : "not before ") + expectedNeighbour(step) + " but " +
                   shownNeighbour(step) + " (dropped on " + shown[std::size_t(to)].number + ", at " +
                   std::to_string(indexOf(before.rows, shown[std::size_t(to)].number)) + " before and " +
                   std::to_string(indexOf(after.rows, shown[std::size_t(to)].number)) +
                   " after; the dragged one at " + std::to_string(indexOf(before.rows, dragged.number)) +
                   " before and " + std::to_string(at) + " after" +
                   (fresh ? "" : "; the list was out of date") + ")";
    }
    return "";
}

// One line per command, tab-separated key=value fields (UTF-8): who, seq, verb, mode (x: exclusive,
// checked; s: shared), t0 and t1 (CLOCK_MONOTONIC ns around the command), result, the command's
// fields, token (the record the command meant), shown (edit), check, boxes.
void logOperation(std::FILE* log, const std::map<std::string, std::string>& fields)
{
    std::string line;
    for (const auto& [key, value] : fields)
        line += (line.empty() ? "" : "\t") + key + "=" + replaceAll(replaceAll(value, "\t", " "), "\n", " ");
    std::fprintf(log, "%s\n", line.c_str());
    std::fflush(log);
}

int interleave(const std::string& dir, const std::string& name, int seconds, unsigned seed,
               const std::string& logPath)
{
    Session session(dir);
    std::FILE* log = std::fopen(logPath.c_str(), "w");
    const int lock = ::open((dir + "/driver.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (!log || lock < 0)
        fail("cannot open the log or the lock");
    const std::string path = savedStorePath();
    std::mt19937 rng(seed);
    QElapsedTimer clock;
    clock.start();
    for (int seq = 1; clock.elapsed() < seconds * 1000LL; ++seq) {
        QTest::qWait(int(rng() % 15));
        const std::vector<FileRow> shown = shownRows();
        const int rows = int(shown.size());
        const unsigned roll = rng() % 100;
        const std::string token = name + std::to_string(10000 + seq).substr(1);
        const std::string courier = kCouriers[rng() % 5];
        std::vector<std::string> c;
        std::string meant;
        const auto pickRow = [&] {
            const int row = int(rng() % unsigned(rows));
            meant = utf8FromGbk(shown[std::size_t(row)].number);
            return std::to_string(row);
        };
        if (rows < 2 || roll < 15) {
            c = {"auto", token, courier};
            meant = token;
        } else if (roll < 30) {
            c = {"add", token, courier, token + ":加" + name};
            meant = token;
        } else if (roll < 50) {
            c = {"delete", pickRow()};
        } else if (roll < 70) {
            const std::string row = pickRow();
            c = {"edit", row, meant, courier, meant + ":改" + token};
        } else if (roll < 82) {
            c = {"sort", std::to_string(rng() % 3)};
        } else {
            const std::string from = pickRow();
            c = {"drag", from, std::to_string(rng() % unsigned(rows))};
        }
        const bool exclusive = rng() % 2 == 0;
        while (::flock(lock, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        }
        const SavedFile before = exclusive ? readSavedFile(path) : SavedFile{};
        const std::int64_t t0 = monotonicNs();
        const Outcome outcome = perform(c);
        const std::int64_t t1 = monotonicNs();
        std::string check = "-";
        if (exclusive) {
            const std::string fault = postconditionFault(c, shown, outcome, before, readSavedFile(path));
            check = fault.empty() ? "ok" : "FAIL " + fault;
        }
        ::flock(lock, LOCK_UN);
        std::map<std::string, std::string> fields = {{"who", name},
                                                     {"seq", std::to_string(seq)},
                                                     {"verb", c[0]},
                                                     {"mode", exclusive ? "x" : "s"},
                                                     {"t0", std::to_string(t0)},
                                                     {"t1", std::to_string(t1)},
                                                     {"result", outcome.result},
                                                     {"token", meant},
                                                     {"shown", outcome.shown},
                                                     {"check", check},
                                                     {"boxes", outcome.boxes}};
        for (std::size_t i = 1; i < c.size(); ++i)
            fields["arg" + std::to_string(i)] = c[i];
        logOperation(log, fields);
    }
    std::fclose(log);
    say("end");
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "serve")
        return serve();
    if (args.size() == 6 && args[0] == "interleave")
        return interleave(args[1], args[2], std::stoi(args[3]), unsigned(std::stoul(args[4])), args[5]);
    std::fprintf(stderr, "usage: command_driver serve | interleave DIR NAME SECONDS SEED LOG\n");
    return 2;
}
