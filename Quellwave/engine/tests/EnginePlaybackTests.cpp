// The engine end to end through the "dsf:" driver: the recording is exactly what reached the device.
#include "EngineFixture.h"

#include "Mervane/DsfWriter.h"

#include <chrono>
#include <filesystem>
#include <thread>

using engine::kStopCommandId;

namespace enginetest {
namespace {

using testkit::Block;
using Span = testkit::Run;

constexpr double kLoud = 0.5;         // input level of the test files
constexpr double kHigh = 0.5 + 0.125; // one-density of +0.5 full scale at 50 % modulation
constexpr double kLow = 0.5 - 0.125;

class EnginePlaybackTest : public EngineFixture {
protected:
    // The first block of a track starts from silence (the fade-in) and is at the track's level by its end.
    static void ExpectFadeIn(const Block& b, double level) {
        EXPECT_NEAR(b.LeftDensity(0, 32), 0.5, 0.03);
        EXPECT_NEAR(b.RightDensity(0, 32), 0.5, 0.03);
        EXPECT_NEAR(b.LeftDensity(2048, 2048), level, 0.02);
        EXPECT_NEAR(b.RightDensity(2048, 2048), level, 0.02);
    }
    // A track's last blocks: digital silence after the fade-out.
    static void ExpectEndsInSilence(const std::vector<Block>& blocks, const Span& r) {
        const Block& last = blocks[r.first + r.count - 1];
        EXPECT_NEAR(last.LeftDensity(), 0.5, 0.005);
        EXPECT_NEAR(last.RightDensity(), 0.5, 0.005);
    }
    static double MidDensity(const std::vector<Block>& blocks, const Span& r) {
        return blocks[r.first + r.count / 3].LeftDensity();
    }
};

TEST_F(EnginePlaybackTest, OneFileIsPrimedLedInFadedAndTrailedBySilence) {
    const std::string a = ConstantWav("a.wav", 16, 1.0, kLoud);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].silent);
    EXPECT_EQ(runs[0].count, 50u + 20u); // priming, then the lead-in before the start
    EXPECT_FALSE(runs[1].silent);
    // The whole second of the file (86.1 blocks), then at least the faded final chunk.
    EXPECT_GE(runs[1].count, 87u + 11u);
    EXPECT_TRUE(runs[2].silent);
    EXPECT_EQ(runs[2].count, 20u);

    ExpectFadeIn(stream.blocks[runs[1].first], kHigh);
    EXPECT_NEAR(MidDensity(stream.blocks, runs[1]), kHigh, 0.01);
    ExpectEndsInSilence(stream.blocks, runs[1]);

    // A report at the first block (11 ms played), none at 1 s (the track ends at 1010 ms, past its
    // length), one end.
    EXPECT_EQ(seen_, (std::vector<Message>{{WM_PLAYER_POSITION, 11, 1}, {WM_PLAYER_END, 0, 0}}));
}

TEST_F(EnginePlaybackTest, TwoFilesPlayInOrderWithFadesAndSilenceBetween) {
    const std::string a = ConstantWav("a.wav", 16, 0.5, kLoud);
    const std::string b = ConstantWav("b.wav", 24, 0.5, -kLoud);
    StartRecording();
    PlayFiles({a, b});
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].count, 70u);
    EXPECT_EQ(runs[2].count, 40u); // 20 after the drain of a, 20 before the start of b
    EXPECT_EQ(runs[4].count, 20u);
    EXPECT_NEAR(MidDensity(stream.blocks, runs[1]), kHigh, 0.01);
    EXPECT_NEAR(MidDensity(stream.blocks, runs[3]), kLow, 0.01);
    ExpectEndsInSilence(stream.blocks, runs[1]);
    ExpectFadeIn(stream.blocks[runs[3].first], kLow);
    ExpectEndsInSilence(stream.blocks, runs[3]);

    // The engine's own move to track 2 reports (0, 2), then b's first block does.
    EXPECT_EQ(seen_, (std::vector<Message>{{WM_PLAYER_POSITION, 11, 1},
                                           {WM_PLAYER_POSITION, 0, 2},
                                           {WM_PLAYER_POSITION, 11, 2},
                                           {WM_PLAYER_END, 0, 0}}));
    EXPECT_EQ(engine_.Playing(), 0);
    EXPECT_EQ(engine_.CurrentTrack(), 3u); // counted past the last track
}

TEST_F(EnginePlaybackTest, RepeatOneReplaysTheSameFile) {
    const std::string a = ConstantWav("a.wav", 16, 0.3, kLoud);
    const std::string b = ConstantWav("b.wav", 16, 0.3, -kLoud);
    StartRecording();
    engine_.SetRepeatMode(1);
    PlayFiles({a, b});
    // Each replay of track 1 begins with the engine's own report (0, 1).
    int replays = 0;
    ASSERT_TRUE(WaitUntil([&](const Message& m) {
        return m.msg == WM_PLAYER_POSITION && m.wParam == 0 && m.lParam == 1 && ++replays == 2;
    }));
    engine_.SetRepeatMode(0);
    ASSERT_TRUE(WaitForEnd()); // with repeat off, the list goes on to b and ends
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    const auto segments = stream.Segments();
    ASSERT_GE(segments.size(), 4u);
    for (std::size_t i = 0; i + 1 < segments.size(); ++i)
        EXPECT_NEAR(MidDensity(stream.blocks, segments[i]), kHigh, 0.01) << "segment " << i;
    EXPECT_NEAR(MidDensity(stream.blocks, segments.back()), kLow, 0.01);
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);
}

TEST_F(EnginePlaybackTest, RepeatAllWrapsToTrackOne) {
    const std::string a = ConstantWav("a.wav", 16, 0.3, kLoud);
    const std::string b = ConstantWav("b.wav", 24, 0.3, -kLoud);
    StartRecording();
    engine_.SetRepeatMode(2);
    PlayFiles({a, b});
    bool sawTrack2 = false;
    ASSERT_TRUE(WaitUntil([&](const Message& m) {
        sawTrack2 |= m.msg == WM_PLAYER_POSITION && m.lParam == 2;
        return sawTrack2 && m.msg == WM_PLAYER_POSITION && m.lParam == 1;
    }));
    engine_.SetRepeatMode(0);
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    const auto segments = stream.Segments();
    ASSERT_GE(segments.size(), 4u);
    EXPECT_EQ(segments.size() % 2, 0u); // a, b, a, b ... and the end comes after b
    for (std::size_t i = 0; i < segments.size(); ++i)
        EXPECT_NEAR(MidDensity(stream.blocks, segments[i]), i % 2 == 0 ? kHigh : kLow, 0.01) << i;
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);
}

TEST_F(EnginePlaybackTest, RepeatOffPostsTheEndOnceAndNothingAfter) {
    const std::string a = ConstantWav("a.wav", 24, 0.2, kLoud);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitForEnd());
    EXPECT_FALSE(queue_.WaitFor(500).has_value());
    EXPECT_EQ(engine_.Playing(), 0);
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);
    // Stopped at the end: Pause has nothing to wait for.
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
    EXPECT_EQ(result, 1);
}

TEST_F(EnginePlaybackTest, PauseFadesOutAndPlayResumesWithAFadeIn) {
    const std::string a = ConstantWav("a.wav", 16, 30.0, kLoud);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam >= 1000; }));
    ASSERT_EQ(engine_.Pause(), 1);
    EXPECT_EQ(engine_.Playing(), 0);
    const std::uint32_t reached = engine_.LastReportedMs();
    EXPECT_GE(reached, 1000u);
    EXPECT_LT(reached, 2000u);

    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION; }));
    ASSERT_EQ(engine_.Pause(), 1);
    // The reports carry on from the time reached: the next one is the next whole second of track 1.
    const Message next = seen_.back();
    EXPECT_EQ(next.lParam, 1);
    EXPECT_GE(next.wParam, 2000u);
    EXPECT_LT(next.wParam, 2012u); // within the block that crossed the second
    EXPECT_EQ(engine_.CurrentTrack(), 1u);

    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[2].count, 40u);
    EXPECT_EQ(runs[4].count, 20u);
    // The pause fades out within the final chunk (loud at its start, silent after), and the resumed play
    // fades in again.
    const Span& first = runs[1];
    EXPECT_GT(stream.blocks[first.first + first.count - 11].LeftDensity(0, 64), kHigh - 0.03);
    for (std::size_t i = first.first + first.count - 9; i < first.first + first.count; ++i)
        EXPECT_NEAR(stream.blocks[i].LeftDensity(), 0.5, 0.005) << i;
    ExpectFadeIn(stream.blocks[runs[3].first], kHigh);
    ExpectEndsInSilence(stream.blocks, runs[3]);
}

TEST_F(EnginePlaybackTest, APauseWithFullRingsStillEndsWithTheFadeOut) {
    RegisterPacedRecorder();
    const std::string a = ConstantWav("a.wav", 16, 30.0, kLoud);
    ASSERT_EQ(Start("paced-dsf:" + DsfPath()), S_OK);
    PlayFiles({a});
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam >= 1000; }));
    ASSERT_EQ(engine_.Pause(), 1);
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].count, 20u);
    // The final chunk was queued behind the full rings rather than dropped: loud up to it, silent after.
    const Span& played = runs[1];
    EXPECT_NEAR(stream.blocks[played.first + played.count - 12].LeftDensity(), kHigh, 0.01);
    for (std::size_t i = played.first + played.count - 9; i < played.first + played.count; ++i)
        EXPECT_NEAR(stream.blocks[i].LeftDensity(), 0.5, 0.005) << i;
}

TEST_F(EnginePlaybackTest, PlayWhilePlayingChangesNothing) {
    const std::string a = ConstantWav("a.wav", 16, 30.0, kLoud);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION; }));
    EXPECT_EQ(engine_.Play(), 1);
    ASSERT_EQ(engine_.Pause(), 1);
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    EXPECT_EQ(stream.Segments().size(), 1u);
}

TEST_F(EnginePlaybackTest, ADeviceResetStopsTheWritesAndAsksTheWindowToStopOnce) {
    const std::string a = ConstantWav("a.wav", 16, 30.0, kLoud);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION; }));
    CDSDASIO* device = engine_.OutputProcessor().GetDSDASIO(0);
    device->resetRequest = true;
    // The recorder writes each block to the file as it comes, as fast as it can: what the file holds just
    // after the request is every block written before it, and perhaps a few after.
    const std::uintmax_t blocksAtRequest =
        (std::filesystem::file_size(DsfPath()) - DsfWriter::kHeaderBytes) / DsfWriter::kBlockBytes;
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_COMMAND; }));
    EXPECT_EQ(seen_.back(), (Message{WM_COMMAND, kStopCommandId, 0}));
    EXPECT_FALSE(device->resetRequest.load()); // seen and cleared
    device->resetRequest = true;               // the device asks again before the window reacts
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam >= 1000; }));
    ASSERT_EQ(engine_.Pause(), 1); // the window's stop handling
    EXPECT_EQ(Count(WM_COMMAND), 1u);

    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    // After the request nothing but the drain's trailing silence reached the device.
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].count, 20u);
    // Once the request is set, at most the block being written and the next one already taken.
    EXPECT_LE(runs[0].count + runs[1].count, blocksAtRequest + 2);
}

} // namespace
} // namespace enginetest
