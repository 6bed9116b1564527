#include "Platform/Thread.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// Linux keeps the nice value per thread; setpriority with PRIO_PROCESS and a thread id changes only that
// thread, which is what a per-thread priority needs.
id_t CurrentThreadId() noexcept {
    return static_cast<id_t>(::syscall(SYS_gettid));
}

// getpriority may legitimately return -1, so errno tells a failure apart.
bool GetNice(id_t who, int& nice) noexcept {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, who);
    if (value == -1 && errno != 0) {
        return false;
    }
    nice = value;
    return true;
}

// Real-time FIFO scheduling for the calling thread, high but below the maximum so that the kernel's own
// real-time threads (and a watchdog, if any) still come first. When the wanted level is refused but the
// resource limit grants a lower real-time level (the usual set-up for audio users), that level is taken.
bool RequestRealTime() noexcept {
    const int minPriority = ::sched_get_priority_min(SCHED_FIFO);
    const int maxPriority = ::sched_get_priority_max(SCHED_FIFO);
    if (minPriority < 0 || maxPriority < 0) {
        return false;
    }
    sched_param param{};
    param.sched_priority = std::max(minPriority, maxPriority - 10);
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0) {
        return true;
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return false;
    }
    const auto allowed = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(maxPriority)));
    if (allowed < minPriority || allowed >= param.sched_priority) {
        return false;
    }
    param.sched_priority = allowed;
    return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0;
}

// The lowest nice value the thread may take: tries from -20 upward and stops at the first one accepted,
// never going above the thread's present value (that would lower its priority).
void RaiseNiceAsFarAsAllowed() noexcept {
    const id_t tid = CurrentThreadId();
    int current = 0;
    if (!GetNice(tid, current)) {
        return;
    }
    for (int nice = -20; nice < current; ++nice) {
        if (::setpriority(PRIO_PROCESS, tid, nice) == 0) {
            return;
        }
    }
}

// Back to ordinary time sharing: leaves a real-time policy and gives up a nice level below the process's
// own (the main thread's), both of which a thread may always do.
void RestoreNormal() noexcept {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (::pthread_getschedparam(::pthread_self(), &policy, &param) == 0 && policy != SCHED_OTHER &&
        policy != SCHED_BATCH && policy != SCHED_IDLE) {
        param.sched_priority = 0;
        ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &param);
    }
    const id_t tid = CurrentThreadId();
    int processNice = 0;
    int threadNice = 0;
    if (GetNice(static_cast<id_t>(::getpid()), processNice) && GetNice(tid, threadNice) &&
        threadNice < processNice) {
        ::setpriority(PRIO_PROCESS, tid, processNice);
    }
}

} // namespace

bool SetCurrentThreadPriority(ThreadPriority priority) noexcept {
    switch (priority) {
    case ThreadPriority::Normal:
        RestoreNormal();
        return true;
    case ThreadPriority::TimeCritical:
        if (RequestRealTime()) {
            return true;
        }
        RaiseNiceAsFarAsAllowed();
        return false;
    }
    return false;
}

Thread::Thread(std::function<void()> fn, ThreadPriority priority)
    : thread_([fn = std::move(fn), priority] {
          // The priority is applied on the new thread itself, before any of its work runs.
          SetCurrentThreadPriority(priority);
          if (fn) {
              fn();
          }
      }) {}

Thread::~Thread() {
    Join();
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        // Assigning over a running thread would terminate the process; wait for it instead.
        Join();
        thread_ = std::move(other.thread_);
    }
    return *this;
}

void Thread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

} // namespace platform
