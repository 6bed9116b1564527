// Threads with a requested scheduling priority.
#pragma once

#include <functional>
#include <thread>

namespace platform {

enum class ThreadPriority {
    Normal,
    // Asks for real-time scheduling (SCHED_FIFO, ten levels below the maximum, or the highest level the
    // RLIMIT_RTPRIO limit allows); when that is not permitted, the lowest nice value the thread may take.
    // Failure to raise the priority is not an error.
    TimeCritical,
};

// Applies the priority to the calling thread only. Returns true when the request was granted in full
// (Normal always is: it leaves real-time scheduling and a raised nice value); false when it quietly fell
// back to what was allowed. Never blocks.
bool SetCurrentThreadPriority(ThreadPriority priority) noexcept;

// A joinable thread that runs fn at the given priority (set on the new thread before fn starts). The
// destructor and move assignment join a running thread; copying is not possible. Construction throws
// std::system_error when no thread can be started.
class Thread {
public:
    Thread() = default;
    Thread(std::function<void()> fn, ThreadPriority priority);
    ~Thread();
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&&) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Joinable() const noexcept { return thread_.joinable(); }
    // Blocks until the thread function returned. Must not be called from the thread itself.
    void Join();

private:
    std::thread thread_;
};

} // namespace platform
