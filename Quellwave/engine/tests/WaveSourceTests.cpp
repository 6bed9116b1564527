#include "CWaveSource.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace wavtest;

namespace {

class WaveSourceTest : public ::testing::Test {
protected:
    bool Open(const Bytes& bytes) {
        WriteFile(dir_ / "t.wav", bytes);
        return source_.Open((dir_ / "t.wav").c_str());
    }
    bool Open(const WavShape& shape) { return Open(BuildWav(shape)); }
    static WavShape Good(std::uint16_t bits = 16, std::size_t dataBytes = 32768 + 1000) {
        WavShape s;
        s.bits = bits;
        s.data = Pattern(dataBytes);
        return s;
    }
    static bool AllZero(const Bytes& b, std::size_t from, std::size_t to = 32768) {
        return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                           [](auto v) { return v == 0; });
    }

    ScratchDir dir_;
    CWaveSource source_;
    Bytes buffer_ = Bytes(32768, 0xEE);
};

TEST_F(WaveSourceTest, AcceptedLayouts) {
    struct Case {
        const char* name;
        void (*shape)(WavShape&);
        std::uint32_t bytesPerSample, dataOffset;
    };
    const Case cases[] = {
        {"16-bit", [](WavShape&) {}, 2, 44},
        {"24-bit extensible PCM", [](WavShape& s) { s.bits = 24, s.tag = 0xFFFE; }, 3, 68},
        {"256-byte format", [](WavShape& s) { s.formatSize = 256; }, 2, 284},
        {"four chunks first",
         [](WavShape& s) {
             for (int i = 0; i < 4; ++i)
                 s.chunksBeforeData.push_back({"LIST", Bytes(2)});
         },
         2, 84},
        {"odd chunk, no pad byte",
         [](WavShape& s) {
             s.chunksBeforeData.push_back({"junk", Bytes(3)});
         },
         2, 55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavShape s = Good();
        c.shape(s);
        ASSERT_TRUE(Open(s)) << WaveOpenErrorText(source_.LastOpenError());
        EXPECT_EQ(source_.BytesPerSample(), c.bytesPerSample);
        EXPECT_EQ(source_.DataOffset(), c.dataOffset);
        EXPECT_EQ(source_.DataSize(), s.data.size());
        ASSERT_TRUE(source_.Seek(0) && source_.Read(buffer_.data(), 64));
        EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 64, s.data.begin()));
    }
}

TEST_F(WaveSourceTest, RejectedLayoutsNameTheirReason) {
    using E = WaveOpenError;
    struct Case {
        const char* name;
        void (*shape)(WavShape&);
        E expected;
    };
    const Case cases[] = {
        {"48 kHz", [](WavShape& s) { s.rate = 48000; }, E::Not44100},
        {"mono", [](WavShape& s) { s.channels = 1; }, E::NotStereo},
        {"8-bit", [](WavShape& s) { s.bits = 8; }, E::NotSupportedBits},
        {"32-bit float", [](WavShape& s) { s.tag = 3, s.bits = 32; }, E::NotPcm},
        {"extensible float", [](WavShape& s) { s.tag = 0xFFFE, s.pcmSubFormat = false; }, E::NotPcm},
        {"block align", [](WavShape& s) { s.blockAlign = 6; }, E::BadBlockAlign},
        {"257-byte format", [](WavShape& s) { s.formatSize = 257; }, E::FormatTooLarge},
        {"14-byte format", [](WavShape& s) { s.formatSize = 14; }, E::FormatTooSmall},
        {"18-byte extensible", [](WavShape& s) { s.tag = 0xFFFE, s.formatSize = 18; }, E::FormatTooSmall},
        {"five chunks first",
         [](WavShape& s) {
             for (int i = 0; i < 5; ++i)
                 s.chunksBeforeData.push_back({"LIST", Bytes(2)});
         },
         E::NoDataChunk},
        {"empty data", [](WavShape& s) { s.data.clear(); }, E::EmptyData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavShape s = Good();
        c.shape(s);
        EXPECT_FALSE(Open(s));
        EXPECT_FALSE(source_.IsOpen());
        EXPECT_EQ(source_.LastOpenError(), c.expected) << WaveOpenErrorText(source_.LastOpenError());
    }
    // Damaged identifiers, and a chunk claiming 3 GB before the data.
    const std::pair<std::size_t, E> patches[] = {{0, E::NotRiff}, {8, E::NotWave}, {12, E::FormatNotFirst}};
    for (const auto& [offset, expected] : patches) {
        Bytes b = BuildWav(Good());
        b[offset] = 'X';
        EXPECT_FALSE(Open(b));
        EXPECT_EQ(source_.LastOpenError(), expected);
    }
    WavShape s = Good();
    s.chunksBeforeData.push_back({"LIST", Bytes(8)});
    Bytes b = BuildWav(s);
    b[36 + 7] = 0xC0;
    EXPECT_FALSE(Open(b));
    EXPECT_EQ(source_.LastOpenError(), E::NoDataChunk);
    EXPECT_FALSE(source_.Open(nullptr) || source_.Open(dir_.path.c_str()) || source_.Open("/no/such.wav"));
    EXPECT_EQ(source_.LastOpenError(), E::Unreadable);
}

TEST_F(WaveSourceTest, EveryTruncatedHeaderIsRejected) {
    for (const std::uint16_t tag : {1, 0xFFFE}) {
        WavShape s = Good();
        s.tag = tag;
        s.chunksBeforeData.push_back({"LIST", Bytes(5)});
        const Bytes whole = BuildWav(s);
        const std::size_t headerSize = whole.size() - s.data.size();
        for (std::size_t length = 0; length < headerSize; ++length) {
            EXPECT_FALSE(Open(Bytes(whole.begin(), whole.begin() + static_cast<long>(length)))) << length;
            const WaveOpenError e = source_.LastOpenError();
            EXPECT_TRUE(e == WaveOpenError::TruncatedHeader || e == WaveOpenError::NoDataChunk) << length;
        }
        // The whole header opens even though the samples are missing.
        EXPECT_TRUE(Open(Bytes(whole.begin(), whole.begin() + static_cast<long>(headerSize))));
    }
}

TEST_F(WaveSourceTest, FailedOpensCloseTheFile) {
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    ASSERT_TRUE(Open(Good()));
    WavShape mono = Good();
    mono.channels = 1;
    EXPECT_FALSE(Open(mono));
    const auto before = openDescriptors();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(Open(mono));
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(source_.Read(buffer_.data(), 4));
    EXPECT_FALSE(source_.Seek(0));
}

TEST_F(WaveSourceTest, FinalReadIsZeroFilledThenReadsFail) {
    const WavShape s = Good();
    ASSERT_TRUE(Open(s) && source_.Seek(0));
    ASSERT_TRUE(source_.Read(buffer_.data(), 32768));
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), s.data.begin()));
    std::fill(buffer_.begin(), buffer_.end(), 0xEE);
    ASSERT_TRUE(source_.Read(buffer_.data(), 32768)); // 1000 bytes left
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 1000, s.data.begin() + 32768));
    EXPECT_TRUE(AllZero(buffer_, 1000));
    std::fill(buffer_.begin(), buffer_.end(), 0xEE);
    EXPECT_FALSE(source_.Read(buffer_.data(), 32768));
    EXPECT_TRUE(AllZero(buffer_, 0));

    // Seeking back serves the right bytes again; past the end nothing is left.
    ASSERT_TRUE(source_.Seek(12345));
    ASSERT_TRUE(source_.Read(buffer_.data(), 777));
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 777, s.data.begin() + 12345));
    EXPECT_EQ(source_.ReadPosition(), 12345u + 777u);
    ASSERT_TRUE(source_.Seek(s.data.size() + 10));
    EXPECT_FALSE(source_.Read(buffer_.data(), 4));
    EXPECT_FALSE(source_.Seek(~0ull));
}

TEST_F(WaveSourceTest, DataLargerThanTheFileReadsShortWithZeros) {
    WavShape s = Good(16, 100);
    s.declaredDataSize = 10000;
    ASSERT_TRUE(Open(s) && source_.Seek(0));
    EXPECT_FALSE(source_.Read(buffer_.data(), 200));
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 100, s.data.begin()));
    EXPECT_TRUE(AllZero(buffer_, 100, 200));
}

TEST_F(WaveSourceTest, LongFilesNeedSixtyFourBitArithmetic) {
    // 2^32 - 1 bytes, the most a header can declare: about 6 h 45 min at 16 bits.
    EXPECT_EQ(WaveLengthMs(0xFFFFFFFFu, 2), 24347887u);
    EXPECT_EQ(WaveLengthMs(0xFFFFFFFFu, 3), 16231924u);
    EXPECT_EQ(WaveDataOffsetForMs(24347887u, 2), 4294967264u);
    EXPECT_EQ(WaveDataOffsetForMs(16231924u, 3), 4294967088u);
    WavShape s = Good(24, 600);
    s.declaredDataSize = 4000000000u;
    ASSERT_TRUE(Open(s));
    EXPECT_EQ(source_.LengthMs(), 15117157u);
    ASSERT_TRUE(source_.Seek(WaveDataOffsetForMs(15000000u, 3)));
    EXPECT_EQ(source_.ReadPosition(), 3969000000u);
}

} // namespace
