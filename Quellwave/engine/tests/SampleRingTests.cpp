#include "engine/CSampleRing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using engine::CSampleRing;

namespace {

using Element = CSampleRing::Element;

class SampleRingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ring_.Create(32768, 4096, 8192, false)); }
    // Queues count elements in writes of at most 1024, numbered from next_.
    void Fill(int count) {
        while (count > 0) {
            const int n = std::min(count, 1024);
            std::vector<Element> v(static_cast<std::size_t>(n));
            std::iota(v.begin(), v.end(), next_);
            ASSERT_TRUE(ring_.Write(v.data(), n));
            next_ += static_cast<Element>(n);
            count -= n;
        }
    }
    std::vector<Element> block_ = std::vector<Element>(1024, 7);
    CSampleRing ring_;
    Element next_ = 0;
};

TEST_F(SampleRingTest, CreateRefusesCapacitySmallerThanADefault) {
    CSampleRing r;
    EXPECT_FALSE(r.Create(4095, 4096, 16, false));
    EXPECT_FALSE(r.Create(8191, 16, 8192, false));
    EXPECT_FALSE(r.Write(block_.data(), 1));
    EXPECT_TRUE(r.Create(8192, 4096, 8192, false));
    EXPECT_EQ(r.Free(), 8192);
    EXPECT_EQ(r.Readable(), 0);
}

TEST_F(SampleRingTest, A1024WriteFitsUpTo31743QueuedAndNotAt31744) {
    Fill(31743);
    EXPECT_EQ(ring_.Readable(), 31743);
    EXPECT_EQ(ring_.Free(), 1025);
    EXPECT_TRUE(ring_.Write(block_.data(), 1024));
    EXPECT_EQ(ring_.Readable(), 32767); // one slot always stays empty
    EXPECT_FALSE(ring_.PushOne(1));

    CSampleRing other;
    ASSERT_TRUE(other.Create(32768, 4096, 8192, false));
    std::vector<Element> big(31744, 3);
    ASSERT_TRUE(other.Write(big.data(), 31744));
    EXPECT_FALSE(other.Write(block_.data(), 1024));
    EXPECT_EQ(other.Readable(), 31744); // a refused write moves nothing
}

TEST_F(SampleRingTest, ReadingMoreThanIsQueuedFailsAndLeavesTheRingAlone) {
    Fill(1023);
    std::vector<Element> out(1024, 0xDEAD);
    EXPECT_FALSE(ring_.Read(out.data(), 1024));
    EXPECT_EQ(ring_.Readable(), 1023);
    EXPECT_EQ(out[0], 0xDEADu);
    ASSERT_TRUE(ring_.Read(out.data(), 1023));
    EXPECT_EQ(out[0], 0u);
    EXPECT_EQ(out[1022], 1022u);
    EXPECT_FALSE(ring_.Read(out.data(), 1)); // empty
}

TEST_F(SampleRingTest, ElementsComeOutInOrderAcrossTheWrap) {
    std::vector<Element> out(1024);
    Element expected = 0;
    // Far more than the capacity, so the pointers wrap many times at varying offsets.
    for (int round = 0; round < 100; ++round) {
        Fill(1000);
        ASSERT_TRUE(ring_.Read(out.data(), 1000));
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(out[static_cast<std::size_t>(i)], expected++) << "round " << round;
    }
}

TEST_F(SampleRingTest, DefaultCountsApplyToNegativeCounts) {
    std::vector<Element> in(8192, 5), out(4096);
    ASSERT_TRUE(ring_.Write(in.data()));
    EXPECT_EQ(ring_.Readable(), 8192);
    ASSERT_TRUE(ring_.Read(out.data()));
    EXPECT_EQ(ring_.Readable(), 4096);
}

TEST_F(SampleRingTest, TheWholeCapacityIsNeverWrittenAtOnce) {
    std::vector<Element> all(32768, 1);
    EXPECT_FALSE(ring_.Write(all.data(), 32768));
    EXPECT_EQ(ring_.Readable(), 0);
    EXPECT_TRUE(ring_.Write(all.data(), 32767));
}

TEST_F(SampleRingTest, OverwriteModeMarksOverflowAndBlocksReads) {
    CSampleRing r;
    ASSERT_TRUE(r.Create(8, 4, 4, true));
    std::vector<Element> in(6, 9), out(4);
    ASSERT_TRUE(r.Write(in.data(), 6));
    EXPECT_FALSE(r.Overflowed());
    EXPECT_TRUE(r.Write(in.data(), 4)); // does not fit, is made anyway
    EXPECT_TRUE(r.Overflowed());
    EXPECT_FALSE(r.Read(out.data(), 1));
    ASSERT_TRUE(r.Create(8, 4, 4, true)); // Create clears it
    EXPECT_FALSE(r.Overflowed());
}

TEST_F(SampleRingTest, OneProducerAndOneConsumerKeepEveryElementInOrder) {
    constexpr Element kTotal = 1024 * 2000;
    std::thread producer([&] {
        std::vector<Element> v(1024);
        for (Element base = 0; base < kTotal; base += 1024) {
            std::iota(v.begin(), v.end(), base);
            while (!(ring_.Empty() || ring_.Free() > 1024))
                std::this_thread::yield();
            ASSERT_TRUE(ring_.Write(v.data(), 1024));
        }
    });
    std::vector<Element> out(1024);
    Element expected = 0;
    while (expected < kTotal) {
        if (ring_.Readable() < 1024) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_TRUE(ring_.Read(out.data(), 1024));
        for (Element e : out)
            ASSERT_EQ(e, expected++);
    }
    producer.join();
}

} // namespace
