// The engine's messages and its answers to the window's calls at awkward moments.
#include "EngineFixture.h"

#include <filesystem>
#include <thread>

using engine::CPlaybackEngine;

namespace enginetest {
namespace {

class EngineMessageTest : public EngineFixture {};

TEST_F(EngineMessageTest, FirstReportAtTheFirstBlockThenOnePerWholeSecond) {
    const std::string a = ConstantWav("a.wav", 16, 3.5, 0.25);
    StartRecording();
    PlayFiles({a});
    ASSERT_TRUE(WaitForEnd());
    const auto positions = Positions();
    ASSERT_EQ(positions.size(), 4u);
    EXPECT_EQ(positions[0].wParam, 11u); // one block played
    for (std::size_t s = 1; s < positions.size(); ++s) {
        // Reported by the block that crossed the second: within one block (11.6 ms) of it.
        EXPECT_GE(positions[s].wParam, s * 1000) << s;
        EXPECT_LT(positions[s].wParam, s * 1000 + 12) << s;
    }
    for (const auto& p : positions)
        EXPECT_EQ(p.lParam, 1);
}

TEST_F(EngineMessageTest, PauseWhileNotPlayingReturnsAtOnce) {
    const std::string a = ConstantWav("a.wav", 16, 1.0, 0.25);
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result)); // before Initialize
    EXPECT_EQ(result, 1);
    StartRecording();
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result)); // nothing open
    ASSERT_EQ(engine_.OpenFiles({a}), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result)); // open, not started
    EXPECT_EQ(result, 1);
    EXPECT_EQ(engine_.Playing(), 0);
}

TEST_F(EngineMessageTest, APauseRightAfterPlayStopsThePlaybackThatIsStarting) {
    const std::string a = ConstantWav("a.wav", 16, 30.0, 0.25);
    StartRecording();
    PlayFiles({a});
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
    EXPECT_EQ(engine_.Playing(), 0);
    // Nothing is left running: no report arrives once the pause has returned.
    while (queue_.TryGet()) {
    }
    EXPECT_FALSE(queue_.WaitFor(300).has_value());
}

TEST_F(EngineMessageTest, APauseDuringTheMoveToTheNextFileIsHonoured) {
    // The null driver plays in real time, so the move from a to b (the drain of the rings, the final
    // chunk and 20 silent blocks: over half a second) is long enough to land a Pause in.
    const std::string a = ConstantWav("a.wav", 16, 0.4, 0.25);
    const std::string b = ConstantWav("b.wav", 16, 2.0, 0.25);
    ASSERT_EQ(Start("null"), S_OK);
    PlayFiles({a, b});
    // The position check has ended track 1 when the current track turns to 2 while still playing.
    bool caught = false;
    for (int i = 0; i < 20000 && !caught; ++i) {
        caught = engine_.CurrentTrack() == 2 && engine_.Playing() == 1;
        if (!caught)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(caught);
    int result = 0;
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
    // The engine moved to track 2 and reported it, but nothing started: no report of b's first block.
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.lParam == 2; }));
    EXPECT_EQ(seen_.back().wParam, 0u);
    EXPECT_FALSE(queue_.WaitFor(1000).has_value());
    EXPECT_EQ(engine_.Playing(), 0);
    EXPECT_EQ(engine_.CurrentTrack(), 2u);

    // Play starts b from its beginning.
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION; }));
    EXPECT_EQ(seen_.back(), (Message{WM_PLAYER_POSITION, 11, 2}));
    ASSERT_TRUE(Finishes([&] { return engine_.Pause(); }, &result));
}

TEST_F(EngineMessageTest, AnUnopenableDriverPostsTheDriverErrorAndPlayGivesUp) {
    const std::string a = ConstantWav("a.wav", 16, 1.0, 0.25);
    ASSERT_EQ(Start("no-such-driver"), S_OK);
    ASSERT_TRUE(WaitUntil([&](const Message& m) { return m.msg == driverError_; }));
    EXPECT_EQ(seen_.back(), (Message{driverError_, 0, 0}));
    EXPECT_NE(engine_.DriverOpenError().find("no-such-driver"), std::string::npos);
    ASSERT_EQ(engine_.OpenFiles({a}), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    int result = -1;
    ASSERT_TRUE(Finishes([&] { return engine_.Play(); }, &result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(engine_.Playing(), 0);
}

TEST_F(EngineMessageTest, PlayBeforeInitializeFailsWithoutWaiting) {
    int result = -1;
    ASSERT_TRUE(Finishes([&] { return engine_.Play(); }, &result));
    EXPECT_EQ(result, 0);
}

class EngineFileListTest : public EngineFixture {};

TEST_F(EngineFileListTest, OnlyTheAcceptablePathsMakeTheList) {
    testkit::WriteBytes(dir_ / "text.wav", testkit::Bytes{'n', 'o', 'p', 'e'});
    // Mono plays now (through the PCM file source); more than two channels never does.
    testkit::WavShape surround;
    surround.channels = 6;
    surround.data = testkit::Pattern(12000);
    testkit::WriteBytes(dir_ / "mono.wav", testkit::BuildWav(surround));
    const std::string good = ConstantWav("good.wav", 24, 2.5, 0.1);

    ASSERT_EQ(engine_.OpenFiles({(dir_ / "text.wav").string(), (dir_ / "mono.wav").string(), good}), 1);
    EXPECT_TRUE(engine_.SourceOpen());
    EXPECT_EQ(engine_.GetTrackCount(), 1u);
    EXPECT_EQ(engine_.CurrentTrack(), 1u);
    EXPECT_EQ(engine_.SourceKind(), CPlaybackEngine::kSourceWave24);
    std::vector<std::string> files{"stale"};
    engine_.GetFileList(&files);
    EXPECT_EQ(files, std::vector<std::string>{good});
    std::uint32_t ms = 0;
    ASSERT_TRUE(engine_.GetTrackLength(1, &ms));
    EXPECT_EQ(ms, 2500u);
    EXPECT_FALSE(engine_.GetTrackLength(0, &ms));
    EXPECT_FALSE(engine_.GetTrackLength(2, &ms));
    EXPECT_THROW(engine_.SelectTrack(2, 0), std::invalid_argument);

    EXPECT_EQ(engine_.OpenFiles({(dir_ / "text.wav").string()}), 0);
    EXPECT_FALSE(engine_.SourceOpen());
    EXPECT_EQ(engine_.GetTrackCount(), 0u);
    EXPECT_EQ(engine_.SelectTrack(1, 0), 0);
}

// A file that went away after the list was made is passed over when the list reaches it: the next file
// follows, and the vanished one is neither reported nor played as silence.
TEST_F(EngineMessageTest, AFileThatWentAwayIsSkippedWhenReached) {
    const std::string a = ConstantWav("a.wav", 16, 0.3, 0.25);
    const std::string b = ConstantWav("b.wav", 16, 2.0, 0.25);
    const std::string c = ConstantWav("c.wav", 24, 0.3, 0.25);
    StartRecording();
    ASSERT_EQ(engine_.OpenFiles({a, b, c}), 1);
    std::filesystem::remove(b);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const auto stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    for (const auto& p : Positions())
        EXPECT_NE(p.lParam, 2) << "the missing file was reported as playing";
    EXPECT_EQ(Positions().back().lParam, 3);
    // a and c, each faded in after silence: nothing of b's two seconds.
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_LT(segments[0].count + segments[1].count, 2 * (0.3 * 44100 / 512) + 2 * 45);
}

} // namespace
} // namespace enginetest
