// The PCM side of the pipeline: sample formats at their limits, the fade envelope, and the chunk
// producers' block counts.
#include "engine/SamplePipeline.h"

#include "TestKit/DsfReadback.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using engine::ChunkProducer;
using engine::DsdChunk;
using engine::Envelope;
using engine::FloatBuffer;
using engine::kDsdBlockBytes;
using engine::kFadeSeconds;
using engine::kSampleFormat16;
using engine::kSampleFormat24;
using engine::PcmReader;

namespace {

using Bytes = std::vector<std::uint8_t>;

class SampleFormatTest : public ::testing::Test {
protected:
    FloatBuffer buffer_{2, 4};
};

TEST_F(SampleFormatTest, StoreClampsFullScaleToTheIntegerRange16) {
    const Bytes zeros(8, 0);
    ASSERT_EQ(buffer_.Load(zeros.data(), 2, kSampleFormat16), S_OK);
    buffer_.Channel(0)[0] = 1.0f, buffer_.Channel(1)[0] = -1.0f;
    buffer_.Channel(0)[1] = 2.0f, buffer_.Channel(1)[1] = -0.5f;
    std::int16_t out[4] = {};
    ASSERT_EQ(buffer_.Store(out, 2, kSampleFormat16), S_OK);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
    EXPECT_EQ(out[2], 32767);
    EXPECT_EQ(out[3], -16384);
}

TEST_F(SampleFormatTest, StoreClampsFullScaleToTheIntegerRange24) {
    const Bytes zeros(12, 0);
    ASSERT_EQ(buffer_.Load(zeros.data(), 2, kSampleFormat24), S_OK);
    buffer_.Channel(0)[0] = 1.0f, buffer_.Channel(1)[0] = -1.0f;
    buffer_.Channel(0)[1] = -1.0f / 8388608.0f, buffer_.Channel(1)[1] = 0.25f;
    Bytes out(12, 0xAA);
    ASSERT_EQ(buffer_.Store(out.data(), 2, kSampleFormat24), S_OK);
    const Bytes expected = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x20};
    EXPECT_EQ(out, expected);
}

TEST_F(SampleFormatTest, LoadAndStoreRoundTripEveryExtremeValue) {
    const std::int16_t in16[8] = {32767, -32768, 1, -1, 0, 12345, -12345, 256};
    FloatBuffer b(2, 4);
    ASSERT_EQ(b.Load(in16, 4, kSampleFormat16), S_OK);
    EXPECT_FLOAT_EQ(b.Channel(1)[0], -1.0f);
    std::int16_t out16[8] = {};
    ASSERT_EQ(b.Store(out16, 4, kSampleFormat16), S_OK);
    EXPECT_EQ(0, std::memcmp(in16, out16, sizeof in16));

    // 8 388 607, -8 388 608, -1, 1 (little-endian, three bytes each).
    const Bytes in24 = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
    ASSERT_EQ(b.Load(in24.data(), 2, kSampleFormat24), S_OK);
    EXPECT_FLOAT_EQ(b.Channel(0)[1], -1.0f / 8388608.0f);
    Bytes out24(12, 0);
    ASSERT_EQ(b.Store(out24.data(), 2, kSampleFormat24), S_OK);
    EXPECT_EQ(out24, in24);
}

TEST_F(SampleFormatTest, OutOfRangeFramesAndUnknownCodesConvertNothing) {
    const Bytes in(40, 0x11);
    EXPECT_EQ(buffer_.Load(in.data(), 5, kSampleFormat16), E_INVALIDARG);
    EXPECT_EQ(buffer_.ValidFrames(), 0u);
    EXPECT_EQ(buffer_.Load(in.data(), 2, 3), E_INVALIDARG);
    ASSERT_EQ(buffer_.Load(in.data(), 3, kSampleFormat16), S_OK);
    EXPECT_EQ(buffer_.ValidFrames(), 3u);
    Bytes out(24, 0xEE);
    EXPECT_EQ(buffer_.Store(out.data(), 4, kSampleFormat16), E_INVALIDARG);
    EXPECT_EQ(out, Bytes(24, 0xEE));
}

// The fade as the first chunk configures it: from 0 towards 1 with a 3 ms time constant.
Envelope FadeIn() {
    Envelope e;
    e.timeConstant = kFadeSeconds;
    e.coefficient = std::exp(-1.0 / (44100.0 * kFadeSeconds));
    return e;
}

TEST(EnvelopeTest, FadeInReachesOneMinusOneOverEAt132Frames) {
    std::vector<float> ones(200, 1.0f);
    Envelope e = FadeIn();
    e.Apply(ones.data(), 200);
    EXPECT_LT(ones[0], 0.01f); // starts from silence
    EXPECT_NEAR(ones[131], 1.0 - std::exp(-132.0 / 132.3), 1e-4);
    EXPECT_NEAR(ones[131], 0.63, 0.005);
    EXPECT_LT(ones[130], ones[131]);
}

TEST(EnvelopeTest, FadeOutEndsInExactZero) {
    Envelope e;
    e.Init(1.0, kFadeSeconds, 0.0, 0.0); // rate 0 means 44 100
    EXPECT_EQ(e.sampleRate, 44100.0);
    std::vector<float> ones(5120, 1.0f);
    e.Apply(ones.data(), 5120);
    EXPECT_GT(ones[0], 0.99f);
    EXPECT_EQ(ones[5119], 0.0f); // flushed below 2e-13, not a denormal tail
    EXPECT_EQ(e.gain, 0.0);
}

TEST(EnvelopeTest, DefaultsAreASlowFadeIn) {
    Envelope e;
    EXPECT_EQ(e.gain, 0.0);
    EXPECT_EQ(e.target, 1.0);
    EXPECT_DOUBLE_EQ(e.coefficient, std::exp(-1.0 / 4410.0));
}

// A reader that serves a fixed sample value and counts what was asked of it.
class ConstantReader final : public PcmReader {
public:
    explicit ConstantReader(std::uint8_t byte) : byte_(byte) {}
    void ReadPcm(void* buffer, std::uint32_t byteCount) override {
        std::memset(buffer, byte_, byteCount);
        bytesRead += byteCount;
    }
    std::uint64_t bytesRead = 0;

private:
    std::uint8_t byte_;
};

class ChunkProducerTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ChunkProducerTest, ChunksHaveTheirBlockCountsAndReadWholeUnits) {
    const std::uint32_t bytesPerSample = GetParam();
    const std::uint32_t unitBytes = 512 * 2 * bytesPerSample;
    ChunkProducer producer;
    ConstantReader silence(0);
    DsdChunk c = producer.FirstChunk(silence, bytesPerSample);
    EXPECT_EQ(c.size, 9 * kDsdBlockBytes);
    ASSERT_NE(c.data, nullptr);
    EXPECT_EQ(silence.bytesRead, 10u * unitBytes);
    c = producer.NextChunk(silence, bytesPerSample);
    EXPECT_EQ(c.size, 16 * kDsdBlockBytes);
    EXPECT_EQ(silence.bytesRead, 26u * unitBytes);
    c = producer.FinalChunk(silence, bytesPerSample);
    EXPECT_EQ(c.size, 11 * kDsdBlockBytes);
    EXPECT_EQ(silence.bytesRead, 36u * unitBytes);
}

TEST_P(ChunkProducerTest, TheFinalChunkFadesOutIntoSilence) {
    const std::uint32_t bytesPerSample = GetParam();
    ChunkProducer producer;
    // Half of positive full scale in both formats: 0x40 in every byte is +0.502 (16 bits) or +0.502
    // (24 bits), so the modulator's one-density sits well above one half.
    ConstantReader loud(0x40);
    producer.FirstChunk(loud, bytesPerSample);
    DsdChunk c = producer.NextChunk(loud, bytesPerSample);
    ASSERT_EQ(c.size, 16 * kDsdBlockBytes);
    EXPECT_GT(testkit::Density(c.data + 15 * kDsdBlockBytes, kDsdBlockBytes), 0.6);
    c = producer.FinalChunk(loud, bytesPerSample);
    ASSERT_EQ(c.size, 11 * kDsdBlockBytes);
    // Loud at the start of the chunk, silent from the second block on: the fade lasts a few ms.
    EXPECT_GT(testkit::Density(c.data, 128), 0.6);
    for (int b = 2; b < 11; ++b)
        EXPECT_NEAR(testkit::Density(c.data + b * kDsdBlockBytes, kDsdBlockBytes), 0.5, 0.01) << b;
}

INSTANTIATE_TEST_SUITE_P(BothWidths, ChunkProducerTest, ::testing::Values(2u, 3u));

} // namespace
