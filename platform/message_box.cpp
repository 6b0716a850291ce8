#include "platform/message_box.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <future>
#include <mutex>

#include "common/gbk.h"
#include "platform/ui_text.h"
#include "platform/worker.h"
#include "platform/worker_state.h"

namespace kuvona {
namespace {

struct Seam
{
    std::mutex mutex;
    bool envRead = false;
    bool autoAnswer = false;
    std::deque<int> answers;
    std::vector<messageBoxSeam::Shown> shown;
    std::string logFile;

    void readEnvironmentLocked()
    {
        if (envRead)
            return;
        envRead = true;
        if (const char* log = std::getenv("KUVONA_MSGBOX_LOG"); log && *log) {
            logFile = log;
            autoAnswer = true;
        }
        if (const char* list = std::getenv("KUVONA_MSGBOX_ANSWERS")) {
            for (const char* p = list; *p;) {
                char* end = nullptr;
                const long v = std::strtol(p, &end, 10);
                if (end == p)
                    break;
                answers.push_back(static_cast<int>(v));
                p = *end == ',' ? end + 1 : end;
            }
        }
    }
};

Seam& seam()
{
    static Seam s;
    return s;
}

std::string escapeLine(const std::string& utf8)
{
    std::string out;
    for (char c : utf8) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// Records the box; returns true with the answer when the seam answers it instead of the user.
bool recordBox(const messageBoxSeam::Shown& box, int& answer)
{
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.readEnvironmentLocked();
    s.shown.push_back(box);
    if (!s.logFile.empty()) {
        std::ofstream log(s.logFile, std::ios::app | std::ios::binary);
        log << box.kind << '\t' << escapeLine(utf8FromGbk(box.title)) << '\t'
            << escapeLine(utf8FromGbk(box.text)) << '\n';
    }
    if (!s.answers.empty()) {
        answer = s.answers.front();
        s.answers.pop_front();
        return true;
    }
    if (s.autoAnswer) {
        answer = 0;
        return true;
    }
    return false;
}

QMessageBox* createBox(const messageBoxSeam::Shown& box)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (box.kind & 0xF0) {
    case 16:
        icon = QMessageBox::Critical;
        break;
    case 48:
        icon = QMessageBox::Warning;
        break;
    case 64:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    const bool withCancel = (box.kind & 0x0F) == 1;
    auto* mb = new QMessageBox(icon, toQString(box.title), toQString(box.text),
                               withCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok);
    mb->setObjectName(QStringLiteral("messageBox"));
    mb->setDefaultButton(QMessageBox::Ok);
    mb->setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    return mb;
}

int answerOf(QMessageBox* mb)
{
    auto* clicked = mb->clickedButton();
    return clicked && mb->standardButton(clicked) == QMessageBox::Ok ? 0 : 1;
}

int showOnUiThread(const messageBoxSeam::Shown& box)
{
    QMessageBox* mb = createBox(box);
    mb->setWindowModality(Qt::ApplicationModal);
    mb->exec();
    const int answer = answerOf(mb);
    delete mb;
    return answer;
}

// The box of a worker: shown by the user-interface thread, blocking nothing, while the worker waits.
int showForWorker(const messageBoxSeam::Shown& box)
{
    auto state = currentWorkerState();
    if (state && state->cancelled.load())
        throw WorkerStopped{};
    auto answer = std::make_shared<std::promise<int>>();
    auto future = answer->get_future();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [box, answer, state] {
            if (state && state->cancelled.load()) {
                answer->set_value(-1);
                return;
            }
            QMessageBox* mb = createBox(box);
            mb->setAttribute(Qt::WA_DeleteOnClose);
            mb->setWindowModality(Qt::NonModal);
            QPointer<QMessageBox> guard(mb);
            QObject::connect(mb, &QDialog::finished, mb, [mb, answer, state] {
                if (state)
                    state->dismissBox = nullptr;
                answer->set_value(state && state->cancelled.load() ? -1 : answerOf(mb));
            });
            if (state)
                state->dismissBox = [guard] {
                    if (guard)
                        guard->reject();
                };
            mb->show();
            mb->raise();
            mb->activateWindow();
        },
        Qt::QueuedConnection);
    const int result = future.get();
    if (result < 0)
        throw WorkerStopped{};
    return result;
}

} // namespace

QMessageBox* createMessageBoxWidget(const std::string& text, const std::string& title, int kind)
{
    return createBox({text, title.empty() ? gbk("信息：") : title, kind});
}

int messageBox(const std::string& text, const std::string& title, int kind)
{
    messageBoxSeam::Shown box{text, title.empty() ? gbk("信息：") : title, kind};
    if (auto state = currentWorkerState(); state && state->cancelled.load())
        throw WorkerStopped{};
    int answer = 0;
    if (recordBox(box, answer))
        return answer;
    return isUiThread() ? showOnUiThread(box) : showForWorker(box);
}

namespace messageBoxSeam {

void queueAnswer(int answer)
{
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.readEnvironmentLocked();
    s.answers.push_back(answer);
}

void setAutoAnswer(bool on)
{
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.readEnvironmentLocked();
    s.autoAnswer = on;
}

std::vector<Shown> shown()
{
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    return s.shown;
}

void clear()
{
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.readEnvironmentLocked();
    s.shown.clear();
    s.answers.clear();
    s.autoAnswer = false;
}

} // namespace messageBoxSeam

} // namespace kuvona
