#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

// What the kernel says about the calling thread's scheduling.
struct Scheduling {
    int policy = -1;
    int realTimePriority = -1;
    int nice = 0;
};

Scheduling CurrentScheduling() {
    Scheduling result;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &result.policy, &param) == 0) {
        result.realTimePriority = param.sched_priority;
    }
    result.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    return result;
}

// Whether real time is permitted depends on the machine (and is checked as root and as an ordinary user);
// either way the result must tell the truth, a refusal must never lower the priority, and Normal must
// return to plain time sharing at the process's nice value. Runs on its own thread so that the test
// thread's scheduling is never changed.
TEST(ThreadPriorityTest, TimeCriticalResultMatchesTheKernelAndNormalUndoesIt) {
    Scheduling before, critical, normal;
    bool granted = false, normalGranted = false;
    std::thread([&] {
        before = CurrentScheduling();
        granted = SetCurrentThreadPriority(ThreadPriority::TimeCritical);
        critical = CurrentScheduling();
        normalGranted = SetCurrentThreadPriority(ThreadPriority::Normal);
        normal = CurrentScheduling();
    }).join();
    if (granted) {
        EXPECT_EQ(critical.policy, SCHED_FIFO);
        EXPECT_LT(critical.realTimePriority, sched_get_priority_max(SCHED_FIFO)) << "must stay below the top";
    } else {
        EXPECT_EQ(critical.policy, before.policy);
        EXPECT_LE(critical.nice, before.nice) << "a refused request must not lower the priority";
    }
    EXPECT_TRUE(normalGranted);
    EXPECT_EQ(normal.policy, SCHED_OTHER);
    EXPECT_EQ(normal.nice, before.nice);
}

// A time-critical thread runs its function, and a normal thread it starts does not inherit real time.
TEST(ThreadTest, TimeCriticalThreadRunsAndItsNormalChildIsTimeSharing) {
    std::atomic<int> runs{0};
    Scheduling child;
    Thread outer(
        [&] {
            ++runs;
            Thread inner([&] { child = CurrentScheduling(); }, ThreadPriority::Normal);
        },
        ThreadPriority::TimeCritical);
    EXPECT_TRUE(outer.Joinable());
    outer.Join();
    EXPECT_FALSE(outer.Joinable());
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(child.policy, SCHED_OTHER);
    EXPECT_EQ(child.nice, CurrentScheduling().nice);
}

TEST(ThreadTest, DestructorWaitsForTheFunction) {
    std::atomic<bool> ran{false};
    {
        Thread thread(
            [&ran] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ran = true;
            },
            ThreadPriority::Normal);
    }
    EXPECT_TRUE(ran);
}

} // namespace
} // namespace platform
