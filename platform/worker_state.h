#pragma once

// Internal to the platform layer: what the worker machinery and the message boxes share.

#include <atomic>
#include <functional>
#include <memory>

namespace kuvona {

struct WorkerState
{
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    // Set on the user-interface thread while a box of this worker is shown; takes it away.
    std::function<void()> dismissBox;

    // On the user-interface thread.
    void stop();
};

// The state of the worker running on this thread, or null.
std::shared_ptr<WorkerState> currentWorkerState();

} // namespace kuvona
