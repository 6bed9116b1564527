#include "Platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// Waiter threads on one event, alternately through Wait and through WaitAny behind a never-set event;
// each counts its release.
class EventWaitersTest : public ::testing::Test {
protected:
    void StartWaiters(Event& event, int count) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, &event, i] {
                if (i % 2 == 0) {
                    event.Wait();
                } else if (WaitAny({&never_, &event}) != 1) {
                    ++wrongIndex_;
                }
                ++released_;
            });
        }
        // Set only once every waiter is known to be blocked.
        while (event.WaiterCount() != static_cast<std::size_t>(count)) {
            std::this_thread::yield();
        }
    }

    void JoinAll() {
        for (auto& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

    void TearDown() override { JoinAll(); }

    Event never_{true, false};
    std::vector<std::thread> threads_;
    std::atomic<int> released_{0};
    std::atomic<int> wrongIndex_{0};
};

TEST_F(EventWaitersTest, ManualResetReleasesEveryWaiterAndStaysSet) {
    Event event(true, false);
    StartWaiters(event, 4);
    event.Set();
    JoinAll();
    EXPECT_EQ(released_, 4);
    EXPECT_EQ(wrongIndex_, 0);
    EXPECT_TRUE(event.TryWait());
    EXPECT_TRUE(event.TryWait()) << "a manual-reset event stays set until Reset";
}

TEST_F(EventWaitersTest, AutoResetReleasesExactlyOneWaiterPerSet) {
    Event event(false, false);
    StartWaiters(event, 4);
    for (int set = 1; set <= 4; ++set) {
        event.Set();
        while (released_ < set) {
            std::this_thread::yield();
        }
        // Give a wrongly released second thread the chance to show up before counting.
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(released_, set);
        EXPECT_FALSE(event.TryWait()) << "a Set taken by a waiter must not leave the event set";
    }
    JoinAll();
    EXPECT_EQ(wrongIndex_, 0);
}

TEST_F(EventWaitersTest, CreatedSetThenResetKeepsWaitersBlockedUntilSet) {
    Event event(true, true);
    event.Wait(); // created set: returns at once
    event.Reset();
    EXPECT_FALSE(event.TryWait());
    StartWaiters(event, 2);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released_, 0);
    event.Set();
    JoinAll();
    EXPECT_EQ(released_, 2);
}

TEST(EventTest, CreatedSetAutoResetIsConsumedOnce) {
    Event event(false, true);
    EXPECT_TRUE(event.TryWait());
    EXPECT_FALSE(event.TryWait());
    event.Set();
    event.Set(); // setting a set event adds nothing
    event.Wait();
    EXPECT_FALSE(event.TryWait());
}

TEST(WaitAnyTest, LowestSetIndexWinsAndOnlyThatEventIsConsumed) {
    Event clear(false, false);
    Event autoSet(false, true);
    Event autoSet2(false, true);
    Event manualSet(true, true);
    Event* events[] = {&clear, &autoSet, &autoSet2, &manualSet};
    EXPECT_EQ(WaitAny(events), 1u);
    EXPECT_EQ(WaitAny(events), 2u) << "the other auto-reset event must still be set";
    EXPECT_EQ(WaitAny(events), 3u);
    EXPECT_EQ(WaitAny(events), 3u) << "a manual-reset event is not consumed";
    Event later(false, true);
    EXPECT_EQ(WaitAny({&manualSet, &later}), 0u);
    EXPECT_TRUE(later.TryWait());
}

// Two threads hand a plain counter back and forth many thousands of times. A lost wake-up hangs the test,
// a Set that wakes the wrong number of threads breaks the count, and under the thread sanitizer the
// counter checks that a Set/Wait pair orders memory.
TEST(EventStressTest, PingPongAcrossTwoThreads) {
    constexpr int kRounds = 20000;
    Event ping(false, false);
    Event pong(false, false);
    Event quit(true, false);
    int counter = 0;
    std::thread responder([&] {
        while (WaitAny({&quit, &ping}) == 1) {
            ++counter;
            pong.Set();
        }
    });
    int firstMismatch = -1;
    for (int round = 0; round < kRounds && firstMismatch < 0; ++round) {
        ping.Set();
        pong.Wait();
        if (counter != round + 1) {
            firstMismatch = round;
        }
    }
    quit.Set();
    responder.join();
    EXPECT_EQ(firstMismatch, -1);
    EXPECT_EQ(counter, kRounds);
}

} // namespace
} // namespace platform
