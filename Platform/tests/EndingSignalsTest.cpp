#include "Platform/EndingSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <signal.h>
#include <utility>

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

// A caught signal may restart the blocking calls it interrupts, or make them fail, as the caller asks.
TEST(EndingSignals, InterruptedCallsRestartOrFailAsAsked) {
    for (const auto& [calls, restart] :
         {std::pair{InterruptedCalls::Fail, false}, std::pair{InterruptedCalls::Restart, true}}) {
        const EndingSignalCatcher catcher(Catch, calls);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now {};
            ASSERT_EQ(sigaction(signal, nullptr, &now), 0);
            EXPECT_EQ((now.sa_flags & SA_RESTART) != 0, restart) << signal;
        }
    }
}

extern "C" void EndAtOnce(int signal) {
    EndAsTheSignalWould(signal);
}

// A handler that gives up ends the program by the signal itself, even from inside the handler, where the
// signal waits.
TEST(EndingSignalsDeathTest, EndAsTheSignalWouldEndsByThatSignal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(
            {
                const EndingSignalCatcher catcher(EndAtOnce);
                std::raise(signal);
                std::_Exit(0);
            },
            testing::KilledBySignal(signal), "")
            << signal;
    }
}

} // namespace
} // namespace platform
