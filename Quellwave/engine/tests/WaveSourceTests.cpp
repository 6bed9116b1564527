#include "TestKit/Scratch.h"
#include "TestKit/Wav.h"
#include "engine/CWaveSource.h"

#include "Platform/Process.h"

#include <gtest/gtest.h>

#include <algorithm>

using engine::CWaveSource;
using engine::WaveDataOffsetForMs;
using engine::WaveLengthMs;
using engine::WaveOpenError;
using engine::WaveOpenErrorText;

using namespace testkit;
using E = WaveOpenError;

namespace {

class WaveSourceTest : public ::testing::Test {
protected:
    bool Open(const Bytes& bytes) {
        WriteBytes(dir_ / "t.wav", bytes);
        return source_.Open((dir_ / "t.wav").c_str());
    }
    static WavShape Good(void (*change)(WavShape&) = nullptr, std::size_t dataBytes = 32768 + 1000) {
        WavShape s;
        s.data = Pattern(dataBytes);
        if (change)
            change(s);
        return s;
    }
    bool ReadsAs(std::uint32_t count, const std::uint8_t* expected, std::uint32_t valid) {
        std::fill(buffer_.begin(), buffer_.end(), 0xEE);
        const bool ok = source_.Read(buffer_.data(), count);
        EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + valid, expected));
        EXPECT_TRUE(
            std::all_of(buffer_.begin() + valid, buffer_.begin() + count, [](auto v) { return v == 0; }));
        return ok;
    }

    ScratchFolder dir_;
    CWaveSource source_;
    Bytes buffer_ = Bytes(32768);
};

TEST_F(WaveSourceTest, AcceptedLayouts) {
    const std::pair<WavShape, std::uint32_t> cases[] = {
        {Good(), 44},
        {Good([](WavShape& s) { s.bits = 24, s.tag = 0xFFFE; }), 68}, // extensible with the PCM sub-format
        {Good([](WavShape& s) { s.formatSize = 256; }), 284},
        {Good([](WavShape& s) { s.chunksBeforeData = 4; }), 88}, // odd sizes, no pad bytes
        {Good([](WavShape& s) { s.chunksBeforeData = 6; }), 110},
    };
    for (const auto& [shape, dataOffset] : cases) {
        ASSERT_TRUE(Open(BuildWav(shape))) << WaveOpenErrorText(source_.LastOpenError());
        EXPECT_EQ(source_.BytesPerSample(), shape.bits / 8u);
        EXPECT_EQ(source_.DataOffset(), dataOffset);
        EXPECT_EQ(source_.DataSize(), shape.data.size());
        EXPECT_TRUE(source_.Seek(0) && ReadsAs(64, shape.data.data(), 64));
    }
}

TEST_F(WaveSourceTest, RejectedLayoutsNameTheirReason) {
    const std::pair<WavShape, E> cases[] = {
        {Good([](WavShape& s) { s.rate = 48000; }), E::Not44100},
        {Good([](WavShape& s) { s.channels = 1; }), E::NotStereo},
        {Good([](WavShape& s) { s.bits = 8; }), E::NotSupportedBits},
        {Good([](WavShape& s) { s.tag = 3, s.bits = 32; }), E::NotPcm}, // float
        {Good([](WavShape& s) { s.tag = 0xFFFE, s.pcmSubFormat = false; }), E::NotPcm},
        {Good([](WavShape& s) { s.blockAlign = 6; }), E::BadBlockAlign},
        {Good([](WavShape& s) { s.formatSize = 257; }), E::FormatTooLarge},
        {Good([](WavShape& s) { s.formatSize = 14; }), E::FormatTooSmall},
        {Good([](WavShape& s) { s.tag = 0xFFFE, s.formatSize = 18; }), E::FormatTooSmall},
        {Good([](WavShape& s) { s.data.clear(); }), E::EmptyData},
    };
    for (const auto& [shape, expected] : cases) {
        EXPECT_FALSE(Open(BuildWav(shape)));
        EXPECT_FALSE(source_.IsOpen());
        EXPECT_EQ(source_.LastOpenError(), expected) << WaveOpenErrorText(source_.LastOpenError());
    }
    // Damaged identifiers, and a chunk claiming 3 GB before the data.
    for (const auto& [offset, value, expected] :
         {std::tuple{0, 'X', E::NotRiff}, std::tuple{8, 'X', E::NotWave},
          std::tuple{12, 'X', E::NoFormatChunk}, std::tuple{47, '\xC0', E::NoDataChunk}}) {
        Bytes b = BuildWav(Good([](WavShape& s) { s.chunksBeforeData = 1; }));
        b[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
        EXPECT_FALSE(Open(b));
        EXPECT_EQ(source_.LastOpenError(), expected);
    }
    const std::pair<const char*, E> paths[] = {
        {nullptr, E::Unreadable}, {dir_.Path().c_str(), E::IsDirectory}, {"/no/such.wav", E::NoSuchFile}};
    for (const auto& [path, expected] : paths) {
        EXPECT_FALSE(source_.Open(path));
        EXPECT_EQ(source_.LastOpenError(), expected) << (path ? path : "null");
    }
}

TEST_F(WaveSourceTest, EveryTruncatedHeaderIsRejected) {
    for (const WavShape& s : {Good([](WavShape& w) { w.chunksBeforeData = 2; }),
                              Good([](WavShape& w) { w.tag = 0xFFFE, w.chunksBeforeData = 1; })}) {
        const Bytes whole = BuildWav(s);
        const auto headerSize = static_cast<long>(whole.size() - s.data.size());
        for (long length = 0; length < headerSize; ++length) {
            EXPECT_FALSE(Open(Bytes(whole.begin(), whole.begin() + length))) << length;
            EXPECT_TRUE(source_.LastOpenError() == E::TruncatedHeader ||
                        source_.LastOpenError() == E::NoDataChunk ||
                        source_.LastOpenError() == E::NoFormatChunk)
                << length;
        }
    }
}

TEST_F(WaveSourceTest, FailedOpensCloseTheFile) {
    const auto descriptors = [] { return platform::OpenDescriptorCount(); };
    ASSERT_TRUE(Open(BuildWav(Good())));
    const auto before = descriptors();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(Open(BuildWav(Good([](WavShape& s) { s.channels = 1; }))));
    EXPECT_EQ(descriptors(), before - 1);
    EXPECT_FALSE(source_.Read(buffer_.data(), 4) || source_.Seek(0));
}

TEST_F(WaveSourceTest, ReadsZeroFillAndStopAtTheEndOfTheData) {
    const WavShape s = Good();
    ASSERT_TRUE(Open(BuildWav(s)) && source_.Seek(0));
    EXPECT_TRUE(ReadsAs(32768, s.data.data(), 32768));
    EXPECT_TRUE(ReadsAs(32768, s.data.data() + 32768, 1000)); // 1000 bytes left
    EXPECT_FALSE(ReadsAs(32768, nullptr, 0));
    ASSERT_TRUE(source_.Seek(12345));
    EXPECT_TRUE(ReadsAs(777, s.data.data() + 12345, 777));
    EXPECT_EQ(source_.ReadPosition(), 12345u + 777u);
    EXPECT_TRUE(source_.Seek(s.data.size() + 10));
    EXPECT_FALSE(ReadsAs(4, nullptr, 0));
    EXPECT_FALSE(source_.Seek(~0ull));

    // A data chunk declared larger than the file: the data ends with the file.
    const WavShape cut = Good([](WavShape& w) { w.declaredDataSize = 10000; }, 100);
    ASSERT_TRUE(Open(BuildWav(cut)) && source_.Seek(0));
    EXPECT_EQ(source_.DataSize(), 100u);
    EXPECT_TRUE(ReadsAs(200, cut.data.data(), 100));
    EXPECT_FALSE(ReadsAs(200, nullptr, 0));
}

TEST_F(WaveSourceTest, LongFilesNeedSixtyFourBitArithmetic) {
    // 2^32 - 1 bytes, the most a header can declare: about 6 h 45 min at 16 bits.
    EXPECT_EQ(WaveLengthMs(0xFFFFFFFFu, 2), 24347887u);
    EXPECT_EQ(WaveDataOffsetForMs(24347887u, 2), 4294967264u);
    EXPECT_EQ(WaveDataOffsetForMs(16231924u, 3), 4294967088u);
    ASSERT_TRUE(Open(BuildWav(Good([](WavShape& s) { s.bits = 24; }, 600))));
    ASSERT_TRUE(source_.Seek(WaveDataOffsetForMs(15000000u, 3)));
    EXPECT_EQ(source_.ReadPosition(), 3969000000u);
}

} // namespace
