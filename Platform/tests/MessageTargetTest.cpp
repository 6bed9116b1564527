#include "Platform/MessageTarget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(MessageQueueTest, EmptyQueueTimesOutWithNothing) {
    MessageQueue queue;
    EXPECT_FALSE(queue.TryGet().has_value());
    EXPECT_FALSE(queue.WaitFor(30).has_value());
    EXPECT_EQ(queue.Size(), 0u);
}

// Several threads post at once while this one takes: nothing is lost or duplicated, parameters arrive
// intact and each poster's messages keep their order.
TEST(MessageQueueTest, ConcurrentPostersKeepTheirOwnOrder) {
    constexpr int kPosters = 4;
    constexpr int kEach = 5000;
    MessageQueue queue;
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&queue, p] {
            for (int i = 0; i < kEach; ++i) {
                queue.post(0xC000 + p, static_cast<WPARAM>(p), -i);
            }
        });
    }
    std::vector<LPARAM> next(kPosters, 0);
    int wrong = 0;
    for (int taken = 0; taken < kPosters * kEach; ++taken) {
        const std::optional<Message> message = taken % 2 ? queue.Wait() : queue.WaitFor(60000);
        if (!message || message->wParam >= kPosters || message->msg != 0xC000 + message->wParam ||
            message->lParam != next[message->wParam]--) {
            ++wrong;
        }
    }
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(next, std::vector<LPARAM>(kPosters, -kEach));
    EXPECT_EQ(queue.Size(), 0u);
}

// Names are process-wide; each test uses its own so that the order of tests does not matter.
// The ring refuses what does not fit, keeps its order across the wrap at the end of its slots, and taking
// one kind out leaves the others where they were.
TEST(MessageRingTest, FixedCapacityKeepsOrderAcrossTheWrapAndWhatIsTaken) {
    MessageRing ring(4);
    EXPECT_EQ(ring.Capacity(), 4u);
    // Move the start to the last slot so that what follows wraps.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ring.post(1, 0, 0));
        ASSERT_TRUE(ring.TryGet().has_value());
    }
    const std::vector<Message> posted = {{10, 1, -1}, {20, 2, -2}, {10, 3, -3}, {30, 4, -4}};
    for (const Message& m : posted) {
        EXPECT_TRUE(ring.post(m.msg, m.wParam, m.lParam));
    }
    EXPECT_FALSE(ring.post(40, 5, -5)) << "a full ring must refuse";
    EXPECT_EQ(ring.Size(), 4u);

    EXPECT_EQ(ring.Take(10), (std::vector<Message>{posted[0], posted[2]}));
    EXPECT_TRUE(ring.Take(99).empty());
    EXPECT_TRUE(ring.post(50, 6, -6)) << "what was taken frees its slots";
    std::vector<Message> rest;
    while (const std::optional<Message> m = ring.TryGet()) {
        rest.push_back(*m);
    }
    EXPECT_EQ(rest, (std::vector<Message>{posted[1], posted[3], {50, 6, -6}}));
    EXPECT_EQ(ring.Size(), 0u);
}

TEST(RegisterMessageNameTest, SameNameInAnyAsciiCaseGivesTheSameId) {
    const UINT id = RegisterMessageName("QwTestPlaySelectedTrack");
    EXPECT_GE(id, 0xC000u);
    EXPECT_EQ(RegisterMessageName("qwtestplayselectedtrack"), id);
    EXPECT_EQ(RegisterMessageName("QWTESTPLAYSELECTEDTRACK"), id);
    EXPECT_NE(RegisterMessageName("QwTestPlaySelectedTrack2"), id);
    EXPECT_NE(RegisterMessageName("QwTestPlaySelectedTrac"), id);
    // Only ASCII letters fold: "\xC3\x89" (E acute) and "\xC3\xA9" (e acute) stay different.
    EXPECT_NE(RegisterMessageName("QwTest\xC3\x89"), RegisterMessageName("QwTest\xC3\xA9"));
    EXPECT_EQ(RegisterMessageName(""), 0u);
}

TEST(RegisterMessageNameTest, ConcurrentRegistrationAgreesOnEveryId) {
    constexpr int kThreads = 8;
    constexpr int kNames = 60;
    std::vector<std::vector<UINT>> ids(kThreads, std::vector<UINT>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ids, t] {
            // Every thread walks the names in its own order, odd threads in upper case.
            for (int k = 0; k < kNames; ++k) {
                const int n = (k * 7 + t * 13) % kNames;
                ids[t][n] = RegisterMessageName((t % 2 ? "QWTESTCONCURRENT" : "QwTestConcurrent") +
                                                std::to_string(n));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<UINT> first = ids[0];
    for (int t = 1; t < kThreads; ++t) {
        EXPECT_EQ(ids[t], first) << "thread " << t;
    }
    std::sort(first.begin(), first.end());
    EXPECT_EQ(std::adjacent_find(first.begin(), first.end()), first.end()) << "two names shared an id";
    EXPECT_GE(first.front(), 0xC000u);
}

} // namespace
} // namespace platform
