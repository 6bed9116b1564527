// DSF and DSDIFF files through the engine: the DSD chunk producers on their own, which lists accept DSD
// files, and whole playbacks recorded through the "dsf:" driver, compared byte for byte with the files.
#include "EngineFixture.h"
#include "engine/SamplePipeline.h"
#include "shell/Settings.h"

#include <mutex>

using engine::CDsdFileSource;
using engine::CPlaybackEngine;
using engine::DsdChunk;
using engine::DsdChunkProducer;
using engine::kDsdBlockBytes;
using engine::kDsdChannelBytes;

namespace enginetest {
namespace {

using testkit::Bytes;
using testkit::Channels;
using testkit::DsdiffShape;
using testkit::DsfShape;
using testkit::FirstDifference;
using testkit::kNoDifference;
using testkit::NotSilent;
using testkit::ReverseBits;
using testkit::StereoBytes;

constexpr std::size_t kLeadIn = 50 + 20; // priming blocks, then the silent lead-in of the first play

Bytes WithHead(Bytes pattern, std::initializer_list<std::uint8_t> head) {
    std::copy(head.begin(), head.end(), pattern.begin());
    return pattern;
}

// ---- the chunk producers -------------------------------------------------------------------------

class DsdChunkTest : public ::testing::Test {
protected:
    void Open(std::size_t bytesPerChannel) {
        shape_.channels = testkit::StereoPattern(bytesPerChannel, 1);
        testkit::WriteBytes(dir_ / "a.dsf", testkit::BuildDsf(shape_));
        ASSERT_TRUE(source_.Open((dir_ / "a.dsf").string().c_str(), 1, 1));
    }
    // Appends the chunk's blocks to the two channel runs.
    void Take(const DsdChunk& chunk) {
        for (std::uint32_t at = 0; at < chunk.size; at += kDsdBlockBytes) {
            left_.insert(left_.end(), chunk.data + at, chunk.data + at + kDsdChannelBytes);
            right_.insert(right_.end(), chunk.data + at + kDsdChannelBytes, chunk.data + at + kDsdBlockBytes);
        }
    }

    testkit::ScratchFolder dir_;
    DsfShape shape_;
    CDsdFileSource source_;
    DsdChunkProducer producer_;
    Bytes left_, right_;
};

TEST_F(DsdChunkTest, ChunksCarryTheFileBlockAfterBlockAndTheFinalChunkReadsNothing) {
    Open(40 * kDsdChannelBytes);
    const DsdChunk first = producer_.FirstChunk(source_);
    EXPECT_EQ(first.size, 10 * kDsdBlockBytes);
    Take(first);
    const DsdChunk next = producer_.NextChunk(source_);
    EXPECT_EQ(next.size, 16 * kDsdBlockBytes);
    Take(next);
    const DsdChunk final = producer_.FinalChunk();
    ASSERT_EQ(final.size, 10 * kDsdBlockBytes);
    EXPECT_EQ(NotSilent(Bytes(final.data, final.data + final.size), 0), 0u);
    // A resumed play goes on where the last chunk read stopped: the final chunk consumed nothing.
    Take(producer_.FirstChunk(source_));

    ASSERT_EQ(left_.size(), 36 * kDsdChannelBytes);
    const Bytes want0(shape_.channels[0].begin(), shape_.channels[0].begin() + 36 * kDsdChannelBytes);
    const Bytes want1(shape_.channels[1].begin(), shape_.channels[1].begin() + 36 * kDsdChannelBytes);
    EXPECT_EQ(FirstDifference(left_, want0), kNoDifference);
    EXPECT_EQ(FirstDifference(right_, want1), kNoDifference);
}

TEST_F(DsdChunkTest, WhatTheFileCannotDeliverIsSilenceEvenInTheFirstChunk) {
    Open(kDsdChannelBytes + 2048); // one and a half blocks
    Take(producer_.FirstChunk(source_));
    ASSERT_EQ(left_.size(), 10 * kDsdChannelBytes);
    EXPECT_EQ(FirstDifference(left_, shape_.channels[0]), kNoDifference);
    EXPECT_EQ(FirstDifference(right_, shape_.channels[1]), kNoDifference);
    // Zero bytes would be a full-scale negative pulse on the DAC, not silence.
    EXPECT_EQ(NotSilent(left_, shape_.channels[0].size()), 0u);
    EXPECT_EQ(NotSilent(right_, shape_.channels[1].size()), 0u);

    left_.clear(), right_.clear();
    Take(producer_.NextChunk(source_)); // past the end
    EXPECT_EQ(NotSilent(left_, 0) + NotSilent(right_, 0), 0u);
}

TEST_F(DsdChunkTest, AClosedSourceGivesSilentChunks) {
    Take(producer_.FirstChunk(source_));
    Take(producer_.NextChunk(source_));
    EXPECT_EQ(left_.size(), 26 * kDsdChannelBytes);
    EXPECT_EQ(NotSilent(left_, 0) + NotSilent(right_, 0), 0u);
}

// ---- the engine ----------------------------------------------------------------------------------

// Forwards to the fixture's queue and notes the engine's source kind as each position report is posted:
// the report is posted on the output thread while that track plays, so the kind seen is the track's.
class KindRecorder final : public platform::MessageTarget {
public:
    struct Report {
        LPARAM track;
        WPARAM ms;
        std::int32_t kind;
        bool operator==(const Report&) const = default;
    };
    KindRecorder(platform::MessageQueue& queue, const CPlaybackEngine& engine)
        : queue_(queue), engine_(engine) {}
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == WM_PLAYER_POSITION) {
            std::lock_guard lock(lock_);
            reports_.push_back({lParam, wParam, engine_.SourceKind()});
        }
        return queue_.post(msg, wParam, lParam);
    }
    std::vector<Report> Reports() {
        std::lock_guard lock(lock_);
        return reports_;
    }

private:
    platform::MessageQueue& queue_;
    const CPlaybackEngine& engine_;
    std::mutex lock_;
    std::vector<Report> reports_;
};

class EngineDsdTest : public EngineFixture {
protected:
    void TearDown() override {
        engine_.Shutdown(); // the threads post to recorder_, which goes first
    }
    static std::uint32_t LengthMs(std::size_t bytesPerChannel) {
        return static_cast<std::uint32_t>(((bytesPerChannel * 2 / 8) / 2) * 1000 / 44100);
    }
    void StartInRFMode() {
        engine_.SetRFModeOverride(true);
        engine_.SetDriverNameOverride("dsf:" + DsfPath());
        ASSERT_EQ(engine_.Initialize(&recorder_, driverError_), S_OK);
    }
    // Plays path from offsetMs to the end and returns both channels of everything after the lead-in.
    StereoBytes PlayOne(const std::string& path, std::uint32_t offsetMs, std::int32_t kind) {
        StartInRFMode();
        EXPECT_EQ(engine_.OpenFiles({path}), 1);
        EXPECT_EQ(engine_.SelectTrack(1, offsetMs), 1);
        EXPECT_EQ(engine_.SourceKind(), kind);
        EXPECT_EQ(engine_.Play(), 1);
        EXPECT_TRUE(WaitForEnd());
        const auto stream = Finish();
        EXPECT_TRUE(stream.valid) << stream.error;
        const auto runs = stream.Runs();
        EXPECT_GE(runs.size(), 2u);
        if (runs.size() < 2)
            return {};
        EXPECT_TRUE(runs[0].silent);
        EXPECT_EQ(runs[0].count, kLeadIn);
        return Channels(stream.blocks, kLeadIn);
    }
    static void PutRFMode(DWORD value) {
        testkit::RegistrySandbox::SetDword(platform::HKEY_LOCAL_MACHINE, kProgramKey, "useRFMode", value);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> files;
        engine_.GetFileList(&files);
        return files;
    }

    KindRecorder recorder_{queue_, engine_};
};

TEST_F(EngineDsdTest, DsfReachesTheDeviceUnchangedAndNothingBeyondItsSampleCount) {
    // Three whole blocks and a last block holding 1000 of its 4096 bytes per channel. The rest of that
    // block, and one more block group inside the data chunk, hold a loud pad byte that must not be played.
    DsfShape shape = Dsf(3 * kDsdChannelBytes + 1000, 11);
    shape.padByte = 0x33;
    shape.extraBlocks = 1;
    const StereoBytes got = PlayOne(Write("a.dsf", testkit::BuildDsf(shape)), 0, CPlaybackEngine::kSourceDsf);

    EXPECT_EQ(FirstDifference(got.left, shape.channels[0]), kNoDifference);
    EXPECT_EQ(FirstDifference(got.right, shape.channels[1]), kNoDifference);
    // Silence after the samples: the rest of the partial block, the rest of the first chunk and the end.
    EXPECT_EQ(NotSilent(got.left, shape.channels[0].size()), 0u);
    EXPECT_EQ(NotSilent(got.right, shape.channels[1].size()), 0u);
    // 37 ms long: reported at the first block, over after the fourth.
    EXPECT_EQ(seen_, (std::vector<Message>{{WM_PLAYER_POSITION, 11, 1}, {WM_PLAYER_END, 0, 0}}));
}

TEST_F(EngineDsdTest, DsdiffWithACommentReachesTheDeviceBitReversed) {
    DsdiffShape shape = Dsdiff(2 * kDsdChannelBytes + 500, 21);
    shape.channels[0] = WithHead(shape.channels[0], {0x01, 0x69, 0x80, 0x0F});
    shape.channels[1] = WithHead(shape.channels[1], {0x69, 0x01, 0xF0, 0x03});
    shape.commentAfterProperties = true;
    const StereoBytes got =
        PlayOne(Write("a.dff", testkit::BuildDsdiff(shape)), 0, CPlaybackEngine::kSourceDsdiff);

    ASSERT_GE(got.left.size(), 4u);
    EXPECT_EQ(Bytes(got.left.begin(), got.left.begin() + 4), (Bytes{0x80, 0x96, 0x01, 0xF0}));
    EXPECT_EQ(Bytes(got.right.begin(), got.right.begin() + 4), (Bytes{0x96, 0x80, 0x0F, 0xC0}));
    EXPECT_EQ(FirstDifference(got.left, ReverseBits(shape.channels[0])), kNoDifference);
    EXPECT_EQ(FirstDifference(got.right, ReverseBits(shape.channels[1])), kNoDifference);
    EXPECT_EQ(NotSilent(got.left, shape.channels[0].size()), 0u);
    EXPECT_EQ(NotSilent(got.right, shape.channels[1].size()), 0u);
}

TEST_F(EngineDsdTest, AnOffsetStartsPlayAtThatElementAndTheReportsCountFromIt) {
    // 100 ms = 8820 elements = byte 35 280 of each channel, inside the ninth DSF block.
    const DsfShape dsf = Dsf(30 * kDsdChannelBytes, 31);
    const StereoBytes got = PlayOne(Write("a.dsf", testkit::BuildDsf(dsf)), 100, CPlaybackEngine::kSourceDsf);
    EXPECT_EQ(FirstDifference(got.left, Bytes(dsf.channels[0].begin() + 35280, dsf.channels[0].end())),
              kNoDifference);
    EXPECT_EQ(FirstDifference(got.right, Bytes(dsf.channels[1].begin() + 35280, dsf.channels[1].end())),
              kNoDifference);
    ASSERT_FALSE(Positions().empty());
    EXPECT_EQ(Positions().front(), (Message{WM_PLAYER_POSITION, 111, 1})); // 100 ms + one block
}

TEST_F(EngineDsdTest, AnOffsetIntoADsdiffFileStartsAtThatByteOfEachChannel) {
    const DsdiffShape dff = Dsdiff(30 * kDsdChannelBytes, 41);
    const StereoBytes got =
        PlayOne(Write("a.dff", testkit::BuildDsdiff(dff)), 100, CPlaybackEngine::kSourceDsdiff);
    EXPECT_EQ(
        FirstDifference(got.left, ReverseBits(Bytes(dff.channels[0].begin() + 35280, dff.channels[0].end()))),
        kNoDifference);
    EXPECT_EQ(FirstDifference(got.right,
                              ReverseBits(Bytes(dff.channels[1].begin() + 35280, dff.channels[1].end()))),
              kNoDifference);
}

TEST_F(EngineDsdTest, DsdFilesJoinAListOnlyInRFMode) {
    const std::size_t perChannel = 50 * kDsdChannelBytes;
    const std::string dsf = Write("a.dsf", testkit::BuildDsf(Dsf(perChannel, 1)));
    const std::string wav = ConstantWav("b.wav", 16, 0.2, 0.5);
    const std::string dff = Write("c.dff", testkit::BuildDsdiff(Dsdiff(perChannel / 2, 3)));
    const std::string junk = Write("d.txt", Bytes(200, 'x'));
    const std::vector<std::string> list = {dsf, wav, dff, junk};

    // No setting, or any value but 1: only the WAV file.
    ASSERT_EQ(engine_.OpenFiles(list), 1);
    EXPECT_EQ(Files(), std::vector<std::string>{wav});
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourceWave16);
    PutRFMode(2);
    ASSERT_EQ(engine_.OpenFiles(list), 1);
    EXPECT_EQ(Files(), std::vector<std::string>{wav});
    // A list of DSD files alone opens nothing.
    EXPECT_EQ(engine_.OpenFiles({dsf, dff}), 0);
    EXPECT_FALSE(engine_.SourceOpen());

    PutRFMode(1);
    ASSERT_EQ(engine_.OpenFiles(list), 1);
    EXPECT_EQ(Files(), (std::vector<std::string>{dsf, wav, dff}));
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourceDsf); // the first entry is opened
    std::uint32_t ms = 0;
    ASSERT_TRUE(engine_.GetTrackLength(1, &ms));
    EXPECT_EQ(ms, LengthMs(perChannel));
    ASSERT_TRUE(engine_.GetTrackLength(3, &ms));
    EXPECT_EQ(ms, LengthMs(perChannel / 2));
    EXPECT_EQ(engine_.SelectTrack(3, 0), 1);
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourceDsdiff);

    // The override wins over the setting.
    engine_.SetRFModeOverride(false);
    ASSERT_EQ(engine_.OpenFiles(list), 1);
    EXPECT_EQ(Files(), std::vector<std::string>{wav});
}

TEST_F(EngineDsdTest, AListThatNoLongerOpensFailsTheSelection) {
    const std::string dsf = Write("a.dsf", testkit::BuildDsf(Dsf(4 * kDsdChannelBytes, 1)));
    engine_.SetRFModeOverride(true);
    ASSERT_EQ(engine_.OpenFiles({dsf}), 1);
    std::filesystem::remove(dsf);
    EXPECT_EQ(engine_.SelectTrack(1, 0), 0);
}

TEST_F(EngineDsdTest, AMixedListPlaysInOrderWithEachTracksSourceKind) {
    const std::size_t perChannel = 20 * kDsdChannelBytes; // 20 blocks: a first and a steady chunk
    const DsfShape dsf = Dsf(perChannel, 51);
    const DsdiffShape dff = Dsdiff(perChannel, 61);
    const std::vector<std::string> list = {
        ConstantWav("a.wav", 16, 0.3, 0.5), Write("b.dsf", testkit::BuildDsf(dsf)),
        Write("c.dff", testkit::BuildDsdiff(dff)), ConstantWav("d.wav", 24, 0.3, -0.5)};
    StartInRFMode();
    ASSERT_EQ(engine_.OpenFiles(list), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    // Every report, the engine's own (0, n) at each change included, sees the kind of track n.
    using R = KindRecorder::Report;
    EXPECT_EQ(recorder_.Reports(), (std::vector<R>{{1, 11, CPlaybackEngine::kSourceWave16},
                                                   {2, 0, CPlaybackEngine::kSourceDsf},
                                                   {2, 11, CPlaybackEngine::kSourceDsf},
                                                   {3, 0, CPlaybackEngine::kSourceDsdiff},
                                                   {3, 11, CPlaybackEngine::kSourceDsdiff},
                                                   {4, 0, CPlaybackEngine::kSourceWave24},
                                                   {4, 11, CPlaybackEngine::kSourceWave24}}));

    // Four sounding stretches in list order; the DSD ones are exactly their files' 20 blocks.
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_NEAR(stream.blocks[segments[0].first + 20].LeftDensity(), 0.625, 0.01);
    EXPECT_EQ(segments[1].count, 20u);
    EXPECT_EQ(segments[2].count, 20u);
    const StereoBytes b = Channels(stream.blocks, segments[1].first);
    EXPECT_EQ(FirstDifference(b.left, dsf.channels[0]), kNoDifference);
    EXPECT_EQ(FirstDifference(b.right, dsf.channels[1]), kNoDifference);
    const StereoBytes c = Channels(stream.blocks, segments[2].first);
    EXPECT_EQ(FirstDifference(c.left, ReverseBits(dff.channels[0])), kNoDifference);
    EXPECT_EQ(FirstDifference(c.right, ReverseBits(dff.channels[1])), kNoDifference);
    EXPECT_NEAR(stream.blocks[segments[3].first + 20].LeftDensity(), 0.375, 0.01);
}

TEST_F(EngineDsdTest, RepeatOneReplaysADsdFileFromItsStart) {
    const DsfShape dsf = Dsf(5 * kDsdChannelBytes, 71);
    const std::string path = Write("a.dsf", testkit::BuildDsf(dsf));
    StartInRFMode();
    engine_.SetRepeatMode(1);
    ASSERT_EQ(engine_.OpenFiles({path}), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    int replays = 0;
    ASSERT_TRUE(WaitUntil([&](const Message& m) {
        return m.msg == WM_PLAYER_POSITION && m.wParam == 0 && m.lParam == 1 && ++replays == 2;
    }));
    engine_.SetRepeatMode(0);
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    const auto segments = stream.Segments();
    ASSERT_GE(segments.size(), 3u);
    for (const auto& s : segments) {
        EXPECT_EQ(s.count, 5u);
        const StereoBytes got = Channels(stream.blocks, s.first);
        EXPECT_EQ(FirstDifference(got.left, dsf.channels[0]), kNoDifference) << "segment at " << s.first;
        EXPECT_EQ(FirstDifference(got.right, dsf.channels[1]), kNoDifference) << "segment at " << s.first;
    }
}

} // namespace
} // namespace enginetest
