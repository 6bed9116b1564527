#include "Platform/EndingSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace platform {
namespace {

std::atomic<int> caught{0};
std::atomic<int> before{0};

extern "C" void Catch(int signal) {
    caught = signal;
}

extern "C" void Before(int signal) {
    before = signal;
}

// The catcher takes every ending signal while it lives, a held signal arrives only when the hold ends, and
// what was installed before comes back afterwards.
TEST(EndingSignals, CatchHoldAndRestore) {
    const auto previous = std::signal(SIGTERM, Before);
    {
        const EndingSignalCatcher catcher(Catch);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            caught = 0;
            ASSERT_EQ(std::raise(signal), 0);
            EXPECT_EQ(caught, signal);
        }
        caught = 0;
        {
            const EndingSignalsHeld held;
            ASSERT_EQ(std::raise(SIGHUP), 0);
            EXPECT_EQ(caught, 0) << "a held signal must wait";
        }
        EXPECT_EQ(caught, SIGHUP) << "the held signal arrives when the hold ends";
    }
    caught = 0;
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(before, SIGTERM);
    EXPECT_EQ(caught, 0);
    std::signal(SIGTERM, previous);
    EXPECT_TRUE(IsInterruptSignal(SIGINT));
    EXPECT_FALSE(IsInterruptSignal(SIGTERM));
}

} // namespace
} // namespace platform
