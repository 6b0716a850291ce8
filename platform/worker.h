#pragma once

// Worker threads that never touch a widget themselves.
//
// A worker hands every control access to the user-interface thread with runOnUiThread() and waits
// for it; the user-interface thread never waits for a worker. terminateWorker() stops a worker at
// once from the user's point of view: its flag is raised (see platform/cancel.h), a message box it
// has open is taken away, and any control access it asks for afterwards is dropped, so it changes
// nothing more. The thread itself unwinds in the background.

#include <cstdint>
#include <functional>

namespace kuvona {

// Names a started worker. 0 names none. Ids are never reused, so an id that was released can never
// name another thread.
using WorkerId = std::uint64_t;

// Thrown inside a worker by runOnUiThread() and messageBox() once it has been stopped; the worker
// machinery catches it. Worker code must let it pass.
struct WorkerStopped
{};

// Starts `routine` on a new thread. Call on the user-interface thread.
WorkerId startWorker(std::function<void()> routine);

// Stops the worker without waiting and releases its id. Nothing happens for 0, for a worker that has
// ended or for an id already released. Call on the user-interface thread.
void terminateWorker(WorkerId id);

// Stops every running worker (at the end of the program).
void terminateAllWorkers();

// True while the worker is running and has not been stopped.
bool workerRunning(WorkerId id);

// Runs `op` on the user-interface thread and waits until it has run. On the user-interface thread it
// runs at once. Throws WorkerStopped, without running `op`, when the calling worker has been stopped.
void runOnUiThread(const std::function<void()>& op);

// True on the thread that created the QApplication.
bool isUiThread();

} // namespace kuvona
