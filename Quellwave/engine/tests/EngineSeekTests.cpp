// Seeking within a track, through a paced recording: the audio queued before the seek plays out, fades
// out, and the track goes on at the new place inside the same run, with no silent blocks between; the
// reports move at once.
#include "EngineFixture.h"

#include "TestKit/DsdAnalysis.h"

#include <algorithm>
#include <cmath>

namespace enginetest {
namespace {

using engine::kDsdChannelBytes;
using testkit::Block;

constexpr double kHigh = 0.5 + 0.125; // one-density of +0.5 full scale at 50 % modulation
constexpr double kLow = 0.5 - 0.125;  // of -0.5

class EngineSeekTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        RegisterPacedRecorder();
    }
    void StartPaced() { ASSERT_EQ(Start("paced-dsf:" + DsfPath()), S_OK); }
    // Two seconds at +0.5 of full scale, then two at -0.5: the level after a join tells which half it
    // resumed in.
    std::string TwoLevelWav() {
        testkit::WavShape shape;
        for (int half = 0; half < 2; ++half) {
            const auto value = static_cast<std::int16_t>(half == 0 ? 16383 : -16383);
            for (std::size_t i = 0; i < 2 * 44100 * 2; ++i)
                testkit::PutLe(shape.data, static_cast<std::uint16_t>(value), 2);
        }
        return Write("two.wav", testkit::BuildWav(shape));
    }
    // A paced run lasts the audio played, and at most what a full ring, a chunk and the final chunk held
    // when the output found the end.
    static void ExpectLastsPaced(std::size_t blocks, double seconds) {
        EXPECT_GE(static_cast<double>(blocks), seconds * 44100 / 512);
        EXPECT_LE(static_cast<double>(blocks), seconds * 44100 / 512 + 32 + 16 + 11 + 2);
    }
    bool WaitForMs(std::uint32_t ms) {
        return WaitUntil([ms](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam >= ms; });
    }
    // The reports from the first one of at least `from` on.
    std::vector<std::uint32_t> ReportsFrom(std::uint32_t from) const {
        std::vector<std::uint32_t> out;
        for (const auto& m : Positions())
            if (!out.empty() || m.wParam == from)
                out.push_back(static_cast<std::uint32_t>(m.wParam));
        return out;
    }
};

TEST_F(EngineSeekTest, WhilePlayingTheTrackGoesOnThereWithAFadeAndNoSilence) {
    const std::string wav = TwoLevelWav();
    StartPaced();
    PlayFiles({wav});
    ASSERT_TRUE(WaitForMs(300));
    EXPECT_EQ(engine_.Seek(3000), 1);
    EXPECT_EQ(engine_.LastReportedMs(), 3000u) << "the new position at once";
    // The exact position follows the blocks: past the new place once the output has got there.
    ASSERT_TRUE(
        WaitUntil([this](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam == 3000; }));
    const std::uint32_t first = engine_.PositionMs();
    EXPECT_GE(first, 3000u);
    EXPECT_LT(first, 3400u);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;

    // One run of sound: the lead-in, the play, the trailing silence; no silent blocks at the join.
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    const testkit::Run& played = runs[1];
    // Loud positive, then a faded join (a block or two near silence), then loud negative to the end.
    std::size_t firstLow = 0;
    for (std::size_t b = played.first; b < played.first + played.count && firstLow == 0; ++b)
        if (stream.blocks[b].LeftDensity() < kLow + 0.01)
            firstLow = b;
    ASSERT_NE(firstLow, 0u) << "the second half was never heard";
    // Before the join the first half, up to the final chunk's fade-out (its 10 faded units end in
    // silence, as at a Pause); the first chunk at the new place then fades in.
    const std::size_t finalChunk = engine::kFinalChunkUnits;
    ASSERT_GT(firstLow, played.first + finalChunk + 2);
    for (std::size_t b = played.first + 1; b + finalChunk + 1 < firstLow; ++b)
        EXPECT_NEAR(stream.blocks[b].LeftDensity(), kHigh, 0.02) << "block " << b << " before the join";
    for (std::size_t b = firstLow - finalChunk + 1; b + 1 < firstLow; ++b)
        EXPECT_NEAR(stream.blocks[b].LeftDensity(), 0.5, 0.02) << "block " << b << " in the join";
    // From the join on: one second of the second half (3 s to 4 s), then what the reader, a ring ahead,
    // read past the end (silence) and the final chunk.
    const std::size_t after = played.first + played.count - firstLow;
    ExpectLastsPaced(after, 1.0);
    for (std::size_t b = firstLow; b < firstLow + 60; ++b)
        EXPECT_NEAR(stream.blocks[b].LeftDensity(), kLow, 0.02) << "block " << b;

    // Reports: 3000 at once, then on from there, never back before it.
    const auto reports = ReportsFrom(3000);
    ASSERT_FALSE(reports.empty());
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_GT(reports[i], 3000u);
    EXPECT_EQ(Count(WM_PLAYER_END), 1u);
}

TEST_F(EngineSeekTest, TheSoundRunsOnUnbrokenIntoTheFadeOutAndOutOfTheFadeIn) {
    // A staircase: every unit of 512 frames has a level of its own (32 levels, repeating), so each
    // recorded block tells which unit of the file it holds. A jump between two blocks is a click.
    constexpr int kSteps = 32;
    const auto levelOf = [](std::size_t unit) {
        return 0.2 + 0.6 * static_cast<double>(unit % kSteps) / kSteps;
    };
    testkit::WavShape shape;
    for (std::size_t unit = 0; unit < 10 * 44100 / 512; ++unit)
        for (std::size_t i = 0; i < 512 * 2; ++i)
            testkit::PutLe(shape.data, static_cast<std::uint16_t>(std::lround(levelOf(unit) * 32767)), 2);
    const std::string wav = Write("stairs.wav", testkit::BuildWav(shape));
    const auto unitOf = [&](const Block& block) {
        const double level = (block.LeftDensity() - 0.5) * 4;
        return static_cast<int>(std::lround((level - 0.2) / 0.6 * kSteps));
    };
    StartPaced();
    PlayFiles({wav});
    ASSERT_TRUE(WaitForMs(1000));
    ASSERT_EQ(engine_.Seek(5120), 1); // frame 225 792: unit 441 begins there
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    const testkit::Run& played = runs[1];
    // The join: the first block near silence.
    std::size_t join = 0;
    for (std::size_t b = played.first + 2; b < played.first + played.count && join == 0; ++b)
        if (std::abs(stream.blocks[b].LeftDensity() - 0.5) < 0.01)
            join = b;
    ASSERT_NE(join, 0u) << "no join";
    // From the fade-in at the start to the fade-out's block, each block is the unit after the one before.
    for (std::size_t b = played.first + 2; b + 1 < join - 1; ++b)
        ASSERT_EQ(unitOf(stream.blocks[b + 1]), (unitOf(stream.blocks[b]) + 1) % kSteps)
            << "blocks " << b << " and " << b + 1 << ", " << join - b << " blocks before the join";
    // After the join: unit 441 (its fade-in), 442, and on from there.
    std::size_t resumed = join;
    while (resumed < played.first + played.count &&
           std::abs(stream.blocks[resumed].LeftDensity() - 0.5) < 0.01)
        ++resumed;
    ASSERT_LT(resumed + 20, played.first + played.count);
    EXPECT_EQ(unitOf(stream.blocks[resumed + 1]), 442 % kSteps);
    for (std::size_t b = resumed + 1; b < resumed + 20; ++b)
        EXPECT_EQ(unitOf(stream.blocks[b + 1]), (unitOf(stream.blocks[b]) + 1) % kSteps) << "block " << b;
}

TEST_F(EngineSeekTest, TheConverterRunsOnThroughTheJoinLeavingNoStepInTheSilence) {
    // A 1 kHz tone at -6 dBFS for 2 s, then 2 s of digital silence; the seek lands in the silence. After the
    // fade-out all that may be heard is the modulator's own noise: a modulator landed on the silence
    // pattern and started again leaves a step there, 30 dB and more above that noise in the audio band.
    testkit::WavShape shape;
    for (std::size_t f = 0; f < 4 * 44100; ++f) {
        const double v =
            f < 2 * 44100 ? 0.5 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(f) / 44100) : 0.0;
        for (int c = 0; c < 2; ++c)
            testkit::PutLe(shape.data, static_cast<std::uint16_t>(std::lround(v * 32767)), 2);
    }
    const std::string wav = Write("tone.wav", testkit::BuildWav(shape));
    StartPaced();
    PlayFiles({wav});
    ASSERT_TRUE(WaitForMs(500));
    ASSERT_EQ(engine_.Seek(3000), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    const testkit::Run& played = runs[1];

    constexpr int kLog2Block = 15; // 32 768 one-bit samples: one block of one channel
    const auto levels = [&](std::size_t first, std::size_t count, double* tone, double* band) {
        std::vector<unsigned char> bytes;
        for (std::size_t b = first; b < first + count; ++b)
            bytes.insert(bytes.end(), stream.blocks[b].bytes.begin(), stream.blocks[b].bytes.end());
        const int log2Size = kLog2Block + static_cast<int>(std::lround(std::log2(count)));
        const testkit::Spectrum spectrum = testkit::Analyse(testkit::Unpack(bytes, 0), log2Size);
        *tone = testkit::DbFs(testkit::TonePower(spectrum, 1000));
        *band = testkit::DbFs(testkit::BandPower(spectrum, 0, 20000, {1000}));
    };
    // The fade-out's first block: the first one whose tone is clearly down.
    std::size_t fade = 0;
    for (std::size_t b = played.first + 20; b < played.first + played.count && fade == 0; ++b) {
        double tone = 0, band = 0;
        levels(b, 1, &tone, &band);
        if (tone < -12)
            fade = b;
    }
    ASSERT_NE(fade, 0u) << "the tone never faded";
    ASSERT_LT(fade + 100, played.first + played.count);
    // The fade's tail, stored as integers, ends in exact silence within its eighth block: from there to
    // the middle of the next chunk (8 blocks), against 8 blocks of steady silence later.
    std::size_t quiet = fade;
    for (double tone = 0, band = 0; quiet < fade + 12; ++quiet) {
        levels(quiet, 1, &tone, &band);
        if (tone < -140)
            break;
    }
    ASSERT_LT(quiet, fade + 12) << "the fade-out never reached silence";
    double joinTone = 0, joinBand = 0, steadyTone = 0, steadyBand = 0;
    levels(quiet, 8, &joinTone, &joinBand);
    levels(fade + 60, 8, &steadyTone, &steadyBand);
    EXPECT_LT(steadyBand, -110.0) << "the modulator's own noise in the audio band";
    EXPECT_LT(joinBand, steadyBand + 6.0) << "the join against steady silence, 0 to 20 kHz";
}

TEST_F(EngineSeekTest, ADsfFileResumesAtTheBlockOfTheNewPlace) {
    // 3 s of distinct bytes: where the recording resumes is found in the file, byte for byte.
    const testkit::DsfShape shape = Dsf(3 * 352800, 5);
    const std::string path = Write("a.dsf", testkit::BuildDsf(shape));
    engine_.SetRFModeOverride(true);
    StartPaced();
    PlayFiles({path});
    ASSERT_TRUE(WaitForMs(200));
    EXPECT_EQ(engine_.Seek(2000), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const testkit::StereoBytes got = testkit::Channels(stream.blocks);
    // The file from 2 s on (88 200 elements of 4 bytes a second per channel) is in the recording,
    // unbroken to the file's end, after a run of silence blocks where the join is (a DSD file has no fade).
    const std::size_t from = 2 * 352800;
    const testkit::Bytes want(shape.channels[0].begin() + from, shape.channels[0].end());
    const auto at = std::search(got.left.begin(), got.left.end(), want.begin(), want.begin() + 4096);
    ASSERT_NE(at, got.left.end()) << "the new place was not found in the recording";
    const auto offset = static_cast<std::size_t>(at - got.left.begin());
    EXPECT_EQ(offset % kDsdChannelBytes, 0u) << "resumed at a block";
    for (int c = 0; c < 2; ++c) {
        const testkit::Bytes& channel = c == 0 ? got.left : got.right;
        const testkit::Bytes tail(shape.channels[c].begin() + from, shape.channels[c].end());
        ASSERT_GE(channel.size(), offset + tail.size());
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), channel.begin() + offset)) << "channel " << c;
    }
    // What was heard before the join is the file from its start.
    const auto start = std::search(got.left.begin(), got.left.end(), shape.channels[0].begin(),
                                   shape.channels[0].begin() + 4096);
    EXPECT_LT(start, at) << "the file's start was heard before the join";
}

TEST_F(EngineSeekTest, PausedItMovesThePlaceOfTheNextPlayAndOutsideTheTrackItRefuses) {
    const std::string wav = TwoLevelWav();
    StartPaced();
    EXPECT_EQ(engine_.Seek(1000), 0) << "no source";
    ASSERT_EQ(engine_.OpenFiles({wav}), 1);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    EXPECT_EQ(engine_.Seek(4000), 0) << "at the end";
    EXPECT_EQ(engine_.Seek(3500), 1);
    EXPECT_EQ(engine_.LastReportedMs(), 3500u);
    EXPECT_EQ(engine_.PositionMs(), 3500u);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    const testkit::DsfStream stream = Finish();
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto runs = stream.Runs();
    ASSERT_EQ(runs.size(), 3u);
    // Half a second of the second half.
    ExpectLastsPaced(runs[1].count, 0.5);
    for (std::size_t b = runs[1].first + 1; b < runs[1].first + 40; ++b)
        EXPECT_NEAR(stream.blocks[b].LeftDensity(), kLow, 0.02) << "block " << b;
    for (const auto& m : Positions())
        EXPECT_GE(m.wParam, 3500u);
}

} // namespace
} // namespace enginetest
