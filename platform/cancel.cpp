#include "platform/cancel.h"

#include <chrono>
#include <thread>

namespace kuvona {
namespace {

thread_local const std::atomic<bool>* t_cancelFlag = nullptr;

} // namespace

void setThreadCancelFlag(const std::atomic<bool>* flag)
{
    t_cancelFlag = flag;
}

const std::atomic<bool>* threadCancelFlag()
{
    return t_cancelFlag;
}

bool cancellationRequested()
{
    return t_cancelFlag && t_cancelFlag->load(std::memory_order_acquire);
}

unsigned long long tickCount()
{
    using namespace std::chrono;
    return static_cast<unsigned long long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool sleepUnlessCancelled(int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // Short slices keep a stop prompt without a condition variable shared with the stopper.
    while (std::chrono::steady_clock::now() < until) {
        if (cancellationRequested())
            return false;
        const auto left = until - std::chrono::steady_clock::now();
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(5)));
    }
    return !cancellationRequested();
}

} // namespace kuvona
