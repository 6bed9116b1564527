// The engine at DSD128, DSD256 and DSD512, recorded through the "dsf:" driver: DSD files played bit-exactly
// at their own rate, a list that mixes rates played each at its own rate in order (the recording goes on in a
// new file at every change), PCM up-converted to the rate asked for or the highest the output takes, and
// the refusal of a file at a rate the output does not take.
#include "DsfDriver.h"
#include "EngineFixture.h"
#include "engine/SamplePipeline.h"

#include "Mervane/DsdDriver.h"

using engine::CPlaybackEngine;

namespace enginetest {
namespace {

using platform::DsdRate;
using testkit::Bytes;
using testkit::Channels;
using testkit::FirstDifference;
using testkit::kNoDifference;
using testkit::NotSilent;
using testkit::ReverseBits;
using testkit::StereoBytes;

int Multiple(DsdRate rate) {
    return platform::DsdRateMultiple(rate);
}

// The priming of a freshly opened (or newly switched) output and the lead-in of a play, at the rate.
std::size_t LeadIn(DsdRate rate) {
    return static_cast<std::size_t>(
        (CPlaybackEngine::kPrimingSilentBlocks + CPlaybackEngine::kEdgeSilentBlocks) * Multiple(rate));
}

// A driver that records like "dsf:" but whose output takes only some rates, as a DAC that stops at DSD128.
class LimitedRecorder final : public mervane::DsdDriver {
public:
    LimitedRecorder(std::unique_ptr<mervane::DsdDriver> inner, platform::DsdRateSet rates)
        : inner_(std::move(inner)), rates_(rates) {}
    bool WriteBlock(const std::uint8_t* l, const std::uint8_t* r) noexcept override {
        return inner_->WriteBlock(l, r);
    }
    bool Close() noexcept override { return inner_->Close(); }
    bool Reopenable() const noexcept override { return false; }
    DsdRate Rate() const noexcept override { return inner_->Rate(); }
    platform::DsdRateSet Rates() const noexcept override { return rates_; }
    bool ChangeRate(DsdRate rate) noexcept override {
        return platform::DsdRateSetHas(rates_, rate) && inner_->ChangeRate(rate);
    }

private:
    std::unique_ptr<mervane::DsdDriver> inner_;
    platform::DsdRateSet rates_;
};

// "upto128:PATH" records to PATH and takes DSD64 and DSD128 only.
void RegisterLimitedRecorder() {
    static const bool registered = [] {
        mervane::RegisterDsdDriver(
            "upto128:",
            mervane::DsdDriverRateFactory([](std::string_view path, std::string* error, DsdRate rate) {
                constexpr platform::DsdRateSet kRates =
                    platform::DsdRateBit(DsdRate::kDsd64) | platform::DsdRateBit(DsdRate::kDsd128);
                if (!platform::DsdRateSetHas(kRates, rate))
                    return std::unique_ptr<mervane::DsdDriver>();
                auto inner = mervane::OpenDsdDriver("dsf:" + std::string(path), error, rate);
                return inner ? std::make_unique<LimitedRecorder>(std::move(inner), kRates)
                             : std::unique_ptr<mervane::DsdDriver>();
            }));
        return true;
    }();
    (void)registered;
}

class EngineRateTest : public EngineFixture {
protected:
    void TearDown() override { engine_.Shutdown(); }
    void StartRecordingInRFMode(const std::string& driver = {}) {
        engine_.SetRFModeOverride(true);
        ASSERT_EQ(Start(driver.empty() ? "dsf:" + DsfPath() : driver), S_OK);
    }
    // The recording's n-th file (1: the path itself), read at rate.
    testkit::DsfStream Recording(int n, DsdRate rate) const {
        return testkit::ReadDsf(mervane::DsfDriver::SegmentPath(DsfPath(), n), platform::DsdSampleRate(rate));
    }
    void ExpectPlayedExactly(const testkit::DsfStream& s, DsdRate rate, const Bytes& left,
                             const Bytes& right) {
        ASSERT_TRUE(s.valid) << s.error;
        const auto runs = s.Runs();
        ASSERT_GE(runs.size(), 2u);
        EXPECT_TRUE(runs[0].silent);
        EXPECT_EQ(runs[0].count, LeadIn(rate));
        const StereoBytes got = Channels(s.blocks, LeadIn(rate));
        EXPECT_EQ(FirstDifference(got.left, left), kNoDifference);
        EXPECT_EQ(FirstDifference(got.right, right), kNoDifference);
        EXPECT_EQ(NotSilent(got.left, left.size()), 0u);
        EXPECT_EQ(NotSilent(got.right, right.size()), 0u);
    }
};

struct FileCase {
    bool dsdiff;
    DsdRate rate;
};

class EngineDsdFileRateTest : public EngineRateTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(EngineDsdFileRateTest, PlaysBitExactlyAtItsOwnRateWithPositionsInMilliseconds) {
    const auto [dsdiff, rate] = GetParam();
    // 300 ms at the rate, and a part block at the end.
    const std::size_t perChannel = static_cast<std::size_t>(platform::DsdBytesPerSecond(rate)) * 3 / 10 + 100;
    std::string path;
    Bytes left, right;
    if (dsdiff) {
        const auto shape = Dsdiff(perChannel, 7, rate);
        path = Write("a.dff", testkit::BuildDsdiff(shape));
        left = ReverseBits(shape.channels[0]), right = ReverseBits(shape.channels[1]);
    } else {
        const auto shape = Dsf(perChannel, 7, rate);
        path = Write("a.dsf", testkit::BuildDsf(shape));
        left = shape.channels[0], right = shape.channels[1];
    }
    StartRecordingInRFMode();
    ASSERT_EQ(engine_.OpenFiles({path}), 1);
    std::uint32_t ms = 0;
    ASSERT_TRUE(engine_.GetTrackLength(1, &ms));
    EXPECT_EQ(ms, 300u);
    ASSERT_EQ(engine_.SelectTrack(1, 0), 1);
    EXPECT_EQ(engine_.TrackRate(), rate);
    ASSERT_EQ(engine_.Play(), 1);
    ASSERT_TRUE(WaitForEnd());
    Finish();
    ExpectPlayedExactly(Recording(1, rate), rate, left, right);
    // The first report comes with the first block: 4096 bytes of one channel, 5 ms at DSD128, 2 at DSD256,
    // 1 at DSD512.
    const auto positions = Positions();
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(),
              (Message{WM_PLAYER_POSITION, 4096 * 1000 / platform::DsdBytesPerSecond(rate), 1}));
    // The recording holds only the one rate: the priming at DSD64 held nothing but silence.
    EXPECT_FALSE(std::filesystem::exists(mervane::DsfDriver::SegmentPath(DsfPath(), 2)));
}

INSTANTIATE_TEST_SUITE_P(
    HigherRates, EngineDsdFileRateTest,
    ::testing::Values(FileCase{false, DsdRate::kDsd128}, FileCase{false, DsdRate::kDsd256},
                      FileCase{false, DsdRate::kDsd512}, FileCase{true, DsdRate::kDsd128},
                      FileCase{true, DsdRate::kDsd256}, FileCase{true, DsdRate::kDsd512}),
    [](const ::testing::TestParamInfo<FileCase>& p) {
        return std::string(p.param.dsdiff ? "Dsdiff" : "Dsf") + platform::DsdRateName(p.param.rate);
    });

TEST_F(EngineRateTest, AListMixingRatesPlaysEachAtItsOwnRateInOrder) {
    const DsdRate rates[] = {DsdRate::kDsd64, DsdRate::kDsd128, DsdRate::kDsd256, DsdRate::kDsd512};
    std::vector<std::string> paths;
    std::vector<testkit::DsfShape> shapes;
    std::vector<testkit::DsdiffShape> dffs;
    for (int i = 0; i < 4; ++i) {
        // About 150 ms each; the middle one a DSDIFF file.
        const std::size_t perChannel =
            static_cast<std::size_t>(platform::DsdBytesPerSecond(rates[i])) * 15 / 100;
        if (i == 1) {
            dffs.push_back(Dsdiff(perChannel, 20, rates[i]));
            paths.push_back(Write("b.dff", testkit::BuildDsdiff(dffs.back())));
        } else {
            shapes.push_back(Dsf(perChannel, static_cast<std::uint32_t>(10 * i + 1), rates[i]));
            paths.push_back(Write(i == 0   ? "a.dsf"
                                  : i == 2 ? "c.dsf"
                                           : "d.dsf",
                                  testkit::BuildDsf(shapes.back())));
        }
    }
    StartRecordingInRFMode();
    PlayFiles(paths);
    ASSERT_TRUE(WaitForEnd());
    engine_.Shutdown();
    while (auto m = queue_.TryGet())
        seen_.push_back(*m);
    // The tracks were announced in order, each from 0.
    std::vector<LPARAM> starts;
    for (const Message& m : seen_)
        if (m.msg == WM_PLAYER_POSITION && m.wParam == 0)
            starts.push_back(m.lParam);
    EXPECT_EQ(starts, (std::vector<LPARAM>{2, 3, 4}));
    EXPECT_EQ(Count(WM_PLAYER_RATE_REFUSED), 0u);

    // One file per rate: the first at DSD64 as a DSD64 playback records it, then each change goes on in
    // the next file with the priming silence a DAC needs to lock onto the new rate.
    ExpectPlayedExactly(Recording(1, DsdRate::kDsd64), DsdRate::kDsd64, shapes[0].channels[0],
                        shapes[0].channels[1]);
    ExpectPlayedExactly(Recording(2, DsdRate::kDsd128), DsdRate::kDsd128, ReverseBits(dffs[0].channels[0]),
                        ReverseBits(dffs[0].channels[1]));
    ExpectPlayedExactly(Recording(3, DsdRate::kDsd256), DsdRate::kDsd256, shapes[1].channels[0],
                        shapes[1].channels[1]);
    ExpectPlayedExactly(Recording(4, DsdRate::kDsd512), DsdRate::kDsd512, shapes[2].channels[0],
                        shapes[2].channels[1]);
    EXPECT_FALSE(std::filesystem::exists(mervane::DsfDriver::SegmentPath(DsfPath(), 5)));
}

TEST_F(EngineRateTest, PcmIsUpConvertedToTheRateAskedForWithItsFadesAndSilencesLastingAsLong) {
    const std::string wav = ConstantWav("a.wav", 16, 1.5, 0.5);
    for (DsdRate rate : {DsdRate::kDsd128, DsdRate::kDsd256, DsdRate::kDsd512}) {
        SCOPED_TRACE(platform::DsdRateName(rate));
        engine_.SetDsdRateOverride(static_cast<DWORD>(platform::DsdRateNumber(rate)));
        std::filesystem::remove(DsfPath());
        StartRecording();
        PlayFiles({wav});
        EXPECT_EQ(engine_.TrackRate(), rate);
        ASSERT_TRUE(WaitForEnd());
        engine_.Shutdown();
        const auto s = testkit::ReadDsf(DsfPath(), platform::DsdSampleRate(rate));
        ASSERT_TRUE(s.valid) << s.error;
        const auto runs = s.Runs();
        ASSERT_EQ(runs.size(), 3u);
        const auto m = static_cast<std::size_t>(Multiple(rate));
        EXPECT_EQ(runs[0].count, LeadIn(rate));
        // 1.5 s of music is 129 DSD64 blocks at its level: as many times the rate's multiple here. (After
        // the end of the file the converter plays on in digital silence until the stop.)
        std::size_t loud = 0;
        for (const auto& b : s.blocks)
            loud += std::abs(b.LeftDensity() - 0.625) < 0.01 && std::abs(b.RightDensity() - 0.625) < 0.01;
        EXPECT_NEAR(static_cast<double>(loud), 129.0 * static_cast<double>(m), 2.0 * static_cast<double>(m));
        // The track starts with the fade-in: the first block of music begins at silence.
        const auto& first = s.blocks[runs[1].first];
        EXPECT_NEAR(first.LeftDensity(0, 64), 0.5, 0.05);
        // The trailing silence lasts as long as at DSD64: 20 blocks.
        EXPECT_EQ(runs[2].count, 20 * m);
        // The position reports stay in milliseconds: the first block, then the first whole second.
        const auto positions = Positions();
        ASSERT_EQ(positions.size(), 2u);
        EXPECT_EQ(positions[0].wParam, 4096 * 1000 / platform::DsdBytesPerSecond(rate));
        EXPECT_GE(positions[1].wParam, 1000u);
        EXPECT_LT(positions[1].wParam, 1012u);
        seen_.clear();
    }
}

TEST_F(EngineRateTest, PcmGoesAsHighAsTheOutputTakesAndAFileAboveItIsRefusedByName) {
    RegisterLimitedRecorder();
    const std::string wav = ConstantWav("a.wav", 24, 0.3, 0.25);
    const std::string dsd256 = Write("b.dsf", testkit::BuildDsf(Dsf(100000, 3, DsdRate::kDsd256)));
    engine_.SetDsdRateOverride(256);
    StartRecordingInRFMode("upto128:" + DsfPath());
    PlayFiles({wav, dsd256});
    // PCM asked for DSD256 plays at DSD128, the highest this output takes.
    EXPECT_EQ(engine_.TrackRate(), DsdRate::kDsd128);
    ASSERT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_RATE_REFUSED; }));
    EXPECT_EQ(seen_.back().wParam, 2u);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(engine_.RateRefusal(),
              "the output \"upto128:" + DsfPath() + "\" does not take DSD256; it takes DSD64 and DSD128");
    // Started on the file itself, Play refuses it at once.
    ASSERT_EQ(engine_.SelectTrack(2, 0), 1);
    EXPECT_EQ(engine_.Play(), 0);
    EXPECT_EQ(engine_.Playing(), 0);
    engine_.Shutdown();
    const auto s = testkit::ReadDsf(DsfPath(), platform::DsdSampleRate(DsdRate::kDsd128));
    ASSERT_TRUE(s.valid) << s.error;
    EXPECT_EQ(s.Segments().size(), 1u); // the WAV file, and nothing of the DSD256 file
}

} // namespace
} // namespace enginetest
