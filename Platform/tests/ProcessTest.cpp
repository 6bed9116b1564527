// Child processes and their exit status, and the wake-up descriptor.
#include "Platform/Process.h"
#include "Platform/WakeSignal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <thread>

namespace {

TEST(ChildProcess, ExitCodesSignalsAndEnvironmentReachTheParent) {
    // A program started with an environment entry of the test's own: the shell exits with what it sees.
    platform::ChildProcess shell = platform::ChildProcess::Start("/bin/sh", {"-c", "exit $QW_PROCESS_TEST"},
                                                                 {"QW_PROCESS_TEST=37", "not an entry"});
    ASSERT_TRUE(shell.Started());
    const platform::ExitStatus exited = shell.Wait();
    EXPECT_TRUE(exited.exited);
    EXPECT_EQ(exited.Code(), 37);
    EXPECT_FALSE(shell.Started()); // waited for: the holder is empty

    EXPECT_EQ(platform::ChildProcess::Fork([] { return 5; }).Wait().Code(), 5);
    EXPECT_EQ(platform::ChildProcess::Start("/nonexistent/program", {}).Wait().Code(), 127);

    platform::ChildProcess sleeper = platform::ChildProcess::Fork([] {
        std::this_thread::sleep_for(std::chrono::hours(1));
        return 0;
    });
    ASSERT_TRUE(sleeper.Signal(SIGTERM));
    const platform::ExitStatus killed = sleeper.Wait();
    EXPECT_FALSE(killed.exited);
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_EQ(killed.Code(), -1);
    EXPECT_FALSE(sleeper.Signal(SIGTERM)); // nothing left to signal

    EXPECT_EQ(platform::DecodeExitStatus(-1).Code(), -1); // std::system could not start a shell
}

TEST(WakeSignal, ReadableFromSignalUntilDrainedWhateverTheNumberOfSignals) {
    platform::WakeSignal wake;
    ASSERT_TRUE(wake.Valid());
    const auto readable = [&] {
        pollfd watch{wake.Descriptor(), POLLIN, 0};
        return ::poll(&watch, 1, 0) == 1;
    };
    EXPECT_FALSE(readable());
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            wake.Signal();
    }).join();
    EXPECT_TRUE(readable());
    wake.Drain();
    EXPECT_FALSE(readable());
}

} // namespace
