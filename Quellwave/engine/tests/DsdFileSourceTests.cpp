// CDsdFileSource on generated DSF and DSDIFF files: what Get delivers per channel, element for element,
// where Seek lands, and which headers are refused.
#include "TestKit/DsdFiles.h"
#include "TestKit/Scratch.h"
#include "TestKit/Wav.h"
#include "engine/CDsdFileSource.h"

#include "Platform/FileIo.h"

#include <gtest/gtest.h>

#include <limits>

#include <fstream>

#include <algorithm>

using engine::CDsdFileSource;
using engine::DsdLengthMs;
using engine::DsdOpenError;
using engine::DsdOpenErrorText;

using namespace testkit;
using Elements = std::vector<std::uint32_t>;

namespace {

// The elements a channel's bytes make: four bytes each, the first lowest in memory.
Elements ToElements(const Bytes& bytes, std::size_t count) {
    Elements e(count);
    std::memcpy(e.data(), bytes.data(), count * 4);
    return e;
}

// The first count elements of bytes, the last one completed with the DSD silence byte where bytes end.
Elements Completed(Bytes bytes, std::size_t count) {
    bytes.resize(count * 4, 0x69);
    return ToElements(bytes, count);
}

class DsdSourceTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        testkit::WriteBytes(dir_ / name, bytes);
        return (dir_ / name).string();
    }

    // Gets `count` elements at a time until nothing comes; returns each channel's elements.
    std::pair<Elements, Elements> Drain(int count = 1024) {
        Elements left, right;
        Elements l(static_cast<std::size_t>(count)), r(static_cast<std::size_t>(count));
        std::uint32_t* destinations[2] = {l.data(), r.data()};
        for (int guard = 0; guard < 100000; ++guard) {
            const int got = source_.Get(count, destinations);
            EXPECT_GE(got, 0);
            EXPECT_LE(got, count);
            if (got <= 0)
                break;
            left.insert(left.end(), l.begin(), l.begin() + got);
            right.insert(right.end(), r.begin(), r.begin() + got);
        }
        return {left, right};
    }

    static DsfShape Dsf(std::size_t bytesPerChannel) { return StereoShape<DsfShape>(bytesPerChannel, 1); }
    static DsdiffShape Dsdiff(std::size_t bytesPerChannel) {
        return StereoShape<DsdiffShape>(bytesPerChannel, 3);
    }

    testkit::ScratchFolder dir_;
    CDsdFileSource source_;
};

TEST_F(DsdSourceTest, DsfDeliversEachChannelWholeAndInOrder) {
    const DsfShape shape = Dsf(3 * 4096);
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 1, 1));
    EXPECT_FALSE(source_.IsDsdiff());
    EXPECT_EQ(source_.TotalSampleBytes(), 2u * 3 * 4096);
    EXPECT_EQ(source_.Format().sampleCount, 3u * 4096 * 8);
    EXPECT_EQ(source_.DataBytes(), 2u * 3 * 4096);
    ASSERT_TRUE(source_.Seek(0));
    const auto [left, right] = Drain();
    EXPECT_EQ(left, ToElements(shape.channels[0], 3 * 1024));
    EXPECT_EQ(right, ToElements(shape.channels[1], 3 * 1024));
}

TEST_F(DsdSourceTest, DsfPartlyFilledLastBlockStopsAtTheSampleCount) {
    // 1001 bytes in the last block: 250 whole elements and one completed with silence; the padding and an
    // extra block group inside the data chunk are filled with 0xEE, which must never come out.
    DsfShape shape = Dsf(4096 + 1001);
    shape.padByte = 0xEE;
    shape.extraBlocks = 1;
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 1, 1));
    ASSERT_TRUE(source_.Seek(0));
    const auto [left, right] = Drain();
    EXPECT_EQ(left, Completed(shape.channels[0], 1024 + 251));
    EXPECT_EQ(right, Completed(shape.channels[1], 1024 + 251));
}

TEST_F(DsdSourceTest, DsfSampleCountBeyondTheFileDeliversWhatIsThere) {
    DsfShape shape = Dsf(2 * 4096);
    shape.sampleCount = 1000u * 4096 * 8;
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 1, 1));
    EXPECT_EQ(source_.TotalSampleBytes(), 2u * 2 * 4096); // what the file holds, not the header
    EXPECT_EQ(source_.LengthMs(), DsdLengthMs(2u * 2 * 4096));
    const auto [left, right] = Drain();
    EXPECT_EQ(left, ToElements(shape.channels[0], 2 * 1024));
    EXPECT_EQ(right, ToElements(shape.channels[1], 2 * 1024));
}

TEST_F(DsdSourceTest, DsfFileCutInsideTheRightChannelKeepsChannelsInStep) {
    Bytes file = BuildDsf(Dsf(2 * 4096));
    file.resize(92 + 8192 + 4096 + 400); // second group: whole left block, 400 bytes of right
    const DsfShape shape = Dsf(2 * 4096);
    ASSERT_TRUE(source_.Open(Write("a.dsf", file).c_str(), 1, 1));
    const auto [left, right] = Drain();
    EXPECT_EQ(left, ToElements(shape.channels[0], 1024 + 100));
    EXPECT_EQ(right, ToElements(shape.channels[1], 1024 + 100));
}

TEST_F(DsdSourceTest, LargerSizeFactorReadsSeveralBlocksAtOnce) {
    const DsfShape shape = Dsf(5 * 4096 + 40);
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 3, 2));
    const auto [left, right] = Drain(1000);
    EXPECT_EQ(left, ToElements(shape.channels[0], 5 * 1024 + 10));
    EXPECT_EQ(right, ToElements(shape.channels[1], 5 * 1024 + 10));
}

TEST_F(DsdSourceTest, CountBeyondTheRingIsServedInPartWithoutLosingData) {
    const DsfShape shape = Dsf(6 * 4096);
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 1, 1));
    Elements l(5000), r(5000);
    std::uint32_t* destinations[2] = {l.data(), r.data()};
    const int got = source_.Get(5000, destinations);
    ASSERT_GT(got, 0);
    ASSERT_LT(got, 5000);
    Elements left(l.begin(), l.begin() + got), right(r.begin(), r.begin() + got);
    const auto [restLeft, restRight] = Drain();
    left.insert(left.end(), restLeft.begin(), restLeft.end());
    right.insert(right.end(), restRight.begin(), restRight.end());
    EXPECT_EQ(left, ToElements(shape.channels[0], 6 * 1024));
    EXPECT_EQ(right, ToElements(shape.channels[1], 6 * 1024));
}

TEST_F(DsdSourceTest, DsdiffDeinterleavesAndReversesEveryByte) {
    DsdiffShape shape = Dsdiff(3 * 4096 + 12);
    // Known bytes first: 0x01 must arrive as 0x80 and 0x69 as 0x96.
    shape.channels[0][0] = 0x01;
    shape.channels[1][0] = 0x69;
    shape.commentAfterProperties = true;
    ASSERT_TRUE(source_.Open(Write("a.dff", BuildDsdiff(shape)).c_str(), 1, 1));
    EXPECT_TRUE(source_.IsDsdiff());
    EXPECT_EQ(source_.TotalSampleBytes(), 2u * (3 * 4096 + 12));
    EXPECT_EQ(source_.Format().channelCount, 2u);
    EXPECT_EQ(source_.Format().samplingFrequency, 2822400u);
    EXPECT_EQ(source_.Format().sampleCount, (3u * 4096 + 12) * 8);
    ASSERT_TRUE(source_.Seek(0));
    const auto [left, right] = Drain();
    ASSERT_EQ(left.size(), 3u * 1024 + 3);
    EXPECT_EQ(left, ToElements(ReverseBits(shape.channels[0]), 3 * 1024 + 3));
    EXPECT_EQ(right, ToElements(ReverseBits(shape.channels[1]), 3 * 1024 + 3));
    EXPECT_EQ(left[0] & 0xFF, 0x80u);
    EXPECT_EQ(right[0] & 0xFF, 0x96u);
}

TEST_F(DsdSourceTest, DsdiffTailShorterThanAnElementIsCompletedWithSilence) {
    for (std::size_t tail = 1; tail < 4; ++tail) {
        const DsdiffShape shape = Dsdiff(4096 + tail);
        ASSERT_TRUE(source_.Open(Write("a.dff", BuildDsdiff(shape)).c_str(), 1, 1));
        EXPECT_EQ(source_.ElementsPerChannel(), 1025u);
        const auto [left, right] = Drain(300);
        EXPECT_EQ(left, Completed(ReverseBits(shape.channels[0]), 1025)) << tail;
        EXPECT_EQ(right, Completed(ReverseBits(shape.channels[1]), 1025)) << tail;
    }
}

TEST_F(DsdSourceTest, DsdiffCutInsideAFrameGroupKeepsChannelsInStep) {
    const DsdiffShape shape = Dsdiff(4096);
    Bytes file = BuildDsdiff(shape);
    // 402 frames and half of one: the half frame is dropped, the two frames past element 100 completed.
    file.resize(DsdiffDataOffset(shape, file) + 8 * 100 + 5);
    ASSERT_TRUE(source_.Open(Write("a.dff", file).c_str(), 1, 1));
    EXPECT_EQ(source_.TotalSampleBytes(), 804u);
    const auto [left, right] = Drain();
    const auto first = [](const Bytes& b) { return Bytes(b.begin(), b.begin() + 402); };
    EXPECT_EQ(left, Completed(first(ReverseBits(shape.channels[0])), 101));
    EXPECT_EQ(right, Completed(first(ReverseBits(shape.channels[1])), 101));
}

TEST_F(DsdSourceTest, DsdiffChannelsArePlacedByTheirNames) {
    const DsdiffShape shape = Dsdiff(4096);
    const Bytes file = BuildDsdiff(shape);
    const auto at = [&](const char* id) {
        return static_cast<std::size_t>(std::search(file.begin(), file.end(), id, id + 4) - file.begin());
    };
    // Stored as given, the right channel named first, and two layouts that are not left and right.
    const std::tuple<const char*, const char*, bool> layouts[] = {
        {"SLFT", "SRGT", false}, {"SRGT", "SLFT", true}, {"SLFT", "SLFT", false}, {"C   ", "LFE ", false}};
    for (const auto& [first, second, swapped] : layouts) {
        Bytes named = file;
        std::memcpy(named.data() + at("SLFT"), first, 4);
        std::memcpy(named.data() + at("SRGT"), second, 4);
        const bool leftRight = std::string(first) != second && std::string(first).starts_with("S");
        ASSERT_EQ(source_.Open(Write("a.dff", named).c_str(), 1, 1), leftRight) << first << second;
        if (!leftRight) {
            EXPECT_EQ(source_.LastOpenError(), DsdOpenError::NotLeftRight);
            continue;
        }
        const auto [left, right] = Drain();
        EXPECT_EQ(left, ToElements(ReverseBits(shape.channels[swapped ? 1 : 0]), 1024)) << first;
        EXPECT_EQ(right, ToElements(ReverseBits(shape.channels[swapped ? 0 : 1]), 1024)) << first;
    }
}

class DsdSeekTest : public DsdSourceTest {
protected:
    void ExpectStartsAt(const Bytes& leftBytes, const Bytes& rightBytes, std::uint64_t position) {
        ASSERT_TRUE(source_.Seek(position)) << position;
        const auto [left, right] = Drain();
        const Elements allLeft = ToElements(leftBytes, leftBytes.size() / 4);
        const Elements allRight = ToElements(rightBytes, rightBytes.size() / 4);
        EXPECT_EQ(left, Elements(allLeft.begin() + static_cast<std::ptrdiff_t>(position), allLeft.end()))
            << position;
        EXPECT_EQ(right, Elements(allRight.begin() + static_cast<std::ptrdiff_t>(position), allRight.end()))
            << position;
    }
};

TEST_F(DsdSeekTest, DsfPositionsInsideABlockStartThere) {
    const DsfShape shape = Dsf(3 * 4096);
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(shape)).c_str(), 1, 1));
    for (const std::uint64_t position : {0u, 1u, 1023u, 1024u, 1500u, 3071u})
        ExpectStartsAt(shape.channels[0], shape.channels[1], position);
}

TEST_F(DsdSeekTest, DsdiffPositionsStartThere) {
    const DsdiffShape shape = Dsdiff(3 * 4096);
    ASSERT_TRUE(source_.Open(Write("a.dff", BuildDsdiff(shape)).c_str(), 1, 1));
    for (const std::uint64_t position : {0u, 7u, 1024u, 2049u, 3071u})
        ExpectStartsAt(ReverseBits(shape.channels[0]), ReverseBits(shape.channels[1]), position);
}

TEST_F(DsdSeekTest, PositionAtOrPastTheEndFails) {
    ASSERT_TRUE(source_.Open(Write("a.dsf", BuildDsf(Dsf(4096 + 40))).c_str(), 1, 1));
    EXPECT_TRUE(source_.Seek(1033));
    EXPECT_FALSE(source_.Seek(1034));
    EXPECT_FALSE(source_.Seek(~0ull));
    ASSERT_TRUE(source_.Open(Write("b.dff", BuildDsdiff(Dsdiff(400))).c_str(), 1, 1));
    EXPECT_TRUE(source_.Seek(99));
    EXPECT_FALSE(source_.Seek(100));
    source_.Close();
    EXPECT_FALSE(source_.Seek(0));
}

TEST_F(DsdSeekTest, RepeatedSeekWithoutGetKeepsWhatWasRead) {
    // The samples are changed on disk after the first Seek: a repeated Seek that re-read the file would
    // deliver the new bytes, one that does nothing delivers the old ones. A Get in between makes the
    // next Seek read again.
    const DsfShape shape = Dsf(2 * 4096);
    const std::string path = Write("a.dsf", BuildDsf(shape));
    ASSERT_TRUE(source_.Open(path.c_str(), 1, 1));
    ASSERT_TRUE(source_.Seek(10));
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        const Bytes zeros(4096 * 2, 0);
        file.seekp(92);
        file.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
        ASSERT_TRUE(file.flush()) << "the samples could not be changed on disk";
    }

    ASSERT_TRUE(source_.Seek(10));
    Elements l(4), r(4);
    std::uint32_t* destinations[2] = {l.data(), r.data()};
    ASSERT_EQ(source_.Get(4, destinations), 4);
    const Elements before = ToElements(shape.channels[0], 14);
    EXPECT_EQ(l, Elements(before.begin() + 10, before.end()));
    ASSERT_TRUE(source_.Seek(10));
    ASSERT_EQ(source_.Get(4, destinations), 4);
    EXPECT_EQ(l, Elements(4, 0));
    EXPECT_EQ(r, Elements(4, 0));
}

TEST_F(DsdSourceTest, OneObjectOpensDsdiffThenDsfThenCloses) {
    ASSERT_TRUE(source_.Open(Write("a.dff", BuildDsdiff(Dsdiff(64))).c_str(), 1, 1));
    const DsfShape shape = Dsf(64);
    ASSERT_TRUE(source_.Open(Write("b.dsf", BuildDsf(shape)).c_str(), 1, 1));
    EXPECT_FALSE(source_.IsDsdiff());
    EXPECT_EQ(Drain().first, ToElements(shape.channels[0], 16));
    EXPECT_TRUE(source_.Close());
    EXPECT_FALSE(source_.Close());
    EXPECT_FALSE(source_.IsOpen());
    Elements l(8), r(8);
    std::uint32_t* destinations[2] = {l.data(), r.data()};
    EXPECT_EQ(source_.Get(8, destinations), 0);
}

TEST_F(DsdSourceTest, LengthInMillisecondsCountsBothChannels) {
    EXPECT_EQ(DsdLengthMs(2u * 352800), 1000u); // one second: 352 800 bytes per channel
    EXPECT_EQ(DsdLengthMs(2u * 352799), 999u);
    EXPECT_EQ(DsdLengthMs(0), 0u);
    // The largest sizes must not wrap: 2^64 - 1 bytes is about 1.3e12 s.
    EXPECT_EQ(DsdLengthMs(~0ull), (~0ull / 16) / 44100 * 1000 + (~0ull / 16) % 44100 * 1000 / 44100);
    EXPECT_GT(DsdLengthMs(~0ull), DsdLengthMs(~0ull / 2));
}

struct Rejection {
    const char* name;
    Bytes file;
    DsdOpenError error;
};

class DsdRejectionTest : public DsdSourceTest {
protected:
    void ExpectRejected(const std::vector<Rejection>& cases) {
        for (const Rejection& c : cases) {
            EXPECT_FALSE(source_.Open(Write("x", c.file).c_str(), 1, 1)) << c.name;
            EXPECT_FALSE(source_.IsOpen()) << c.name;
            EXPECT_EQ(source_.LastOpenError(), c.error)
                << c.name << ": " << DsdOpenErrorText(source_.LastOpenError());
            EXPECT_FALSE(source_.Seek(0)) << c.name;
        }
    }
    template <typename Shape, typename Build>
    static Bytes With(Shape shape, Build build, void (*change)(Shape&)) {
        change(shape);
        return build(shape);
    }
};

TEST_F(DsdRejectionTest, DsfHeadersOtherThanStereoDsd64OneBit) {
    const DsfShape base = Dsf(4096);
    const auto dsf = [&](void (*change)(DsfShape&)) { return With(base, BuildDsf, change); };
    ExpectRejected({
        {"8 467 200 Hz", dsf([](DsfShape& s) { s.rate = 8467200; }), DsdOpenError::UnsupportedRate},
        {"one channel", dsf([](DsfShape& s) { s.channels.pop_back(); }), DsdOpenError::NotStereo},
        {"block size 2048", dsf([](DsfShape& s) { s.blockSize = 2048; }), DsdOpenError::BadBlockSize},
        {"8 bits per sample", dsf([](DsfShape& s) { s.bits = 8; }), DsdOpenError::NotOneBit},
        {"DST coded", dsf([](DsfShape& s) { s.formatId = 1; }), DsdOpenError::NotRawDsd},
        {"fmt size 56", dsf([](DsfShape& s) { s.formatChunkSize = 56; }), DsdOpenError::BadFormatSize},
        {"no fmt", dsf([](DsfShape& s) { s.formatId4 = "FMT "; }), DsdOpenError::NoFormatChunk},
        {"no data", dsf([](DsfShape& s) { s.dataId4 = "DATA"; }), DsdOpenError::NoDataChunk},
        {"data size 11", dsf([](DsfShape& s) { s.dataChunkSize = 11; }), DsdOpenError::BadDataSize},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, DsdOpenError::NotDsd},
        {"wav", testkit::BuildWav({}), DsdOpenError::NotDsd},
    });
    EXPECT_FALSE(source_.Open((dir_ / "missing.dsf").string().c_str(), 1, 1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::NoSuchFile);
    EXPECT_FALSE(source_.Open(dir_.Path().c_str(), 1, 1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::IsDirectory);
    EXPECT_FALSE(source_.Open(Write("ok.dsf", BuildDsf(base)).c_str(), 0, 1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::BadSizeFactors);
}

TEST_F(DsdRejectionTest, DsdiffHeadersOtherThanUncompressedStereoDsd64) {
    const DsdiffShape base = Dsdiff(400);
    const auto dff = [&](void (*change)(DsdiffShape&)) { return With(base, BuildDsdiff, change); };
    ExpectRejected({
        {"DST compressed", dff([](DsdiffShape& s) { s.compression = "DST "; }), DsdOpenError::DstCompressed},
        {"otherwise compressed", dff([](DsdiffShape& s) { s.compression = "XYZ "; }),
         DsdOpenError::Compressed},
        {"no FS", dff([](DsdiffShape& s) { s.withRate = false; }), DsdOpenError::NoRateChunk},
        {"no CHNL", dff([](DsdiffShape& s) { s.withChannels = false; }), DsdOpenError::NoChannelChunk},
        {"no FS, no CHNL", dff([](DsdiffShape& s) { s.withRate = false, s.withChannels = false; }),
         DsdOpenError::NoRateChunk},
        {"8 467 200 Hz", dff([](DsdiffShape& s) { s.rate = 8467200; }), DsdOpenError::UnsupportedRate},
        {"one channel", dff([](DsdiffShape& s) { s.channels.pop_back(); }), DsdOpenError::NotStereo},
        {"no FVER", dff([](DsdiffShape& s) { s.withVersion = false; }), DsdOpenError::NoVersionChunk},
        {"form DST", dff([](DsdiffShape& s) { s.formType = "DST "; }), DsdOpenError::NotDsdForm},
        {"PROP not SND", dff([](DsdiffShape& s) { s.propertyType = "XYZ "; }),
         DsdOpenError::NotSoundProperty},
        {"no sound data", dff([](DsdiffShape& s) { s.withSound = false; }), DsdOpenError::NoSoundData},
        // Sizes that would wrap into a backward seek and revisit the same header forever.
        {"size -12", dff([](DsdiffShape& s) { s.foreignChunkSize = ~0ull - 11; }),
         DsdOpenError::NoPropertyChunk},
        {"size 2^63", dff([](DsdiffShape& s) { s.foreignChunkSize = 1ull << 63; }),
         DsdOpenError::NoPropertyChunk},
        {"size 2^63 - 1", dff([](DsdiffShape& s) { s.foreignChunkSize = (1ull << 63) - 1; }),
         DsdOpenError::NoPropertyChunk},
    });
    // No CMPR chunk is uncompressed.
    EXPECT_TRUE(
        source_.Open(Write("ok.dff", dff([](DsdiffShape& s) { s.compression.reset(); })).c_str(), 1, 1));
}

TEST_F(DsdRejectionTest, AnOddChunkEndingAtTheLargestOffsetIsRefusedWithoutOverflow) {
    // The unknown chunk's data starts at offset 44; this odd size ends it at INT64_MAX, where the pad byte
    // would lie past any offset. A memory file lets the seek get there (a disk file system refuses such
    // an offset earlier), so the walk really reaches the pad byte's test.
    const DsdiffShape base = Dsdiff(400);
    DsdiffShape shape = base;
    shape.foreignChunkSize = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - 44;
    const Bytes dff = BuildDsdiff(shape);
    const std::string path = platform::MemoryFilePath(dff.data(), dff.size());
    ASSERT_FALSE(path.empty());
    EXPECT_FALSE(source_.Open(path.c_str(), 1, 1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::NoPropertyChunk);
}

TEST_F(DsdRejectionTest, EveryTruncationOfTheHeaderIsRefused) {
    const Bytes dsf = BuildDsf(Dsf(4096));
    const DsdiffShape dffShape = Dsdiff(4096);
    const Bytes dff = BuildDsdiff(dffShape);
    const std::size_t dffHeader = DsdiffDataOffset(dffShape, dff);
    for (std::size_t length = 0; length < 92; ++length) {
        const Bytes cut(dsf.begin(), dsf.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(source_.Open(Write("cut.dsf", cut).c_str(), 1, 1)) << length;
        if (length > 0) {
            EXPECT_EQ(source_.LastOpenError(), DsdOpenError::TruncatedHeader) << length;
        }
    }
    for (std::size_t length = 0; length < dffHeader; ++length) {
        const Bytes cut(dff.begin(), dff.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(source_.Open(Write("cut.dff", cut).c_str(), 1, 1)) << length;
    }
    // The whole header with no samples: there is no audio to play.
    EXPECT_FALSE(source_.Open(Write("hdr.dsf", Bytes(dsf.begin(), dsf.begin() + 92)).c_str(), 1, 1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::NoAudioData);
    EXPECT_FALSE(source_.Open(
        Write("hdr.dff", Bytes(dff.begin(), dff.begin() + static_cast<std::ptrdiff_t>(dffHeader))).c_str(), 1,
        1));
    EXPECT_EQ(source_.LastOpenError(), DsdOpenError::NoAudioData);
}

} // namespace
