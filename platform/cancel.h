#pragma once

// Cooperative stop of the calling worker thread, readable from code without a toolkit.
//
// A stopped worker must change nothing further, so long-running blocking work (an HTTP transfer,
// a pause between rows) polls cancellationRequested() and gives up as soon as it turns true.

#include <atomic>

namespace kuvona {

// The flag of the worker running on this thread; null on threads that are not workers.
// Set by the worker machinery (platform/worker.h) for the life of the worker routine.
void setThreadCancelFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* threadCancelFlag();

// True once the worker running on this thread has been stopped. Always false elsewhere.
bool cancellationRequested();

// Sleeps until at least `milliseconds` have passed on the monotonic tick count, waking early when
// this thread's worker is stopped. Returns false when it was stopped.
bool sleepUnlessCancelled(int milliseconds);

// The millisecond tick count (monotonic).
unsigned long long tickCount();

} // namespace kuvona
