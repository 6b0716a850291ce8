#include "platform/worker.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <future>
#include <map>
#include <memory>
#include <thread>

#include "platform/cancel.h"
#include "platform/worker_state.h"

namespace kuvona {
namespace {

// Ids to states, touched on the user-interface thread only. A released id is erased and ids only
// grow, so a stale id finds nothing.
std::map<WorkerId, std::shared_ptr<WorkerState>>& workers()
{
    static std::map<WorkerId, std::shared_ptr<WorkerState>> map;
    return map;
}
WorkerId g_lastId = 0;

thread_local std::shared_ptr<WorkerState> t_worker;

} // namespace

std::shared_ptr<WorkerState> currentWorkerState()
{
    return t_worker;
}

bool isUiThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

WorkerId startWorker(std::function<void()> routine)
{
    auto state = std::make_shared<WorkerState>();
    const WorkerId id = ++g_lastId;
    workers()[id] = state;
    std::thread([state, routine = std::move(routine)] {
        t_worker = state;
        setThreadCancelFlag(&state->cancelled);
        try {
            routine();
        } catch (const WorkerStopped&) {
            // The user stopped it; there is nothing left to do.
        }
        state->finished.store(true, std::memory_order_release);
        setThreadCancelFlag(nullptr);
        t_worker.reset();
    }).detach();
    return id;
}

void WorkerState::stop()
{
    cancelled.store(true, std::memory_order_release);
    if (dismissBox)
        dismissBox();
}

void terminateWorker(WorkerId id)
{
    auto it = workers().find(id);
    if (it == workers().end())
        return;
    it->second->stop();
    workers().erase(it);
}

void terminateAllWorkers()
{
    for (auto& [id, state] : workers())
        state->stop();
    workers().clear();
}

bool workerRunning(WorkerId id)
{
    auto it = workers().find(id);
    return it != workers().end() && !it->second->finished.load() && !it->second->cancelled.load();
}

void runOnUiThread(const std::function<void()>& op)
{
    if (isUiThread()) {
        op();
        return;
    }
    auto state = t_worker;
    if (state && state->cancelled.load(std::memory_order_acquire))
        throw WorkerStopped{};
    std::promise<bool> done;
    auto future = done.get_future();
    // The stop is decided on the user-interface thread, so checking it there, right before the
    // access, is what guarantees that a stopped worker changes nothing any more.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&op, &done, state] {
            if (state && state->cancelled.load(std::memory_order_acquire)) {
                done.set_value(false);
                return;
            }
            op();
            done.set_value(true);
        },
        Qt::QueuedConnection);
    if (!future.get())
        throw WorkerStopped{};
}

} // namespace kuvona
