// The engine end to end through the ALSA outputs, each captured by ALSA's file plugin: two tracks with a
// pause and a resume in the first, then what reached ALSA read back.
#include "AlsaDriver.h"
#include "DopDriver.h"
#include "TestKit/AlsaCapture.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/OnlyFormats.h"
#include "engine/tests/EngineFixture.h"

#include "Mervane/DsdDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace enginetest {
namespace {

constexpr double kLoud = 0.5;         // input level of the test files
constexpr double kHigh = 0.5 + 0.125; // one-density of +0.5 full scale
constexpr std::size_t kBlockBytes = 4096;

using mervane::PcmFormat;

// Splits a capture into each channel's DSD bytes in time order, earliest sample in bit 0 (as in the file),
// checking the DoP markers on the way.
struct Decoded {
    std::vector<std::uint8_t> left, right;
    std::size_t brokenMarkers = 0;
};
Decoded Decode(const std::vector<std::uint8_t>& raw, PcmFormat format) {
    Decoded d;
    if (format == PcmFormat::S32Le || format == PcmFormat::S24_3Le) {
        const std::size_t sample = format == PcmFormat::S32Le ? 4 : 3;
        for (std::size_t at = 0, frame = 0; at + 2 * sample <= raw.size(); at += 2 * sample, ++frame) {
            const std::uint8_t marker = frame % 2 == 0 ? 0x05 : 0xFA;
            for (int c = 0; c < 2; ++c) {
                const std::uint8_t* s = raw.data() + at + static_cast<std::size_t>(c) * sample;
                const std::uint8_t* top = s + sample - 3; // the three significant bytes, low first
                d.brokenMarkers += top[2] != marker || (sample == 4 && s[0] != 0);
                auto& out = c == 0 ? d.left : d.right;
                out.push_back(testkit::ReverseBits(top[1]));
                out.push_back(testkit::ReverseBits(top[0]));
            }
        }
        return d;
    }
    const std::size_t word = mervane::PcmFormatBytes(format);
    const bool little = format == PcmFormat::DsdU32Le || format == PcmFormat::DsdU16Le;
    for (std::size_t at = 0; at + 2 * word <= raw.size(); at += 2 * word)
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < word; ++i) {
                const std::size_t from =
                    at + static_cast<std::size_t>(c) * word + (little ? word - 1 - i : i);
                (c == 0 ? d.left : d.right).push_back(testkit::ReverseBits(raw[from]));
            }
    return d;
}

// Cuts each channel's bytes, earliest sample in bit 0, into the blocks of a recording.
testkit::DsfStream Blocks(const std::vector<std::uint8_t>& left, const std::vector<std::uint8_t>& right) {
    testkit::DsfStream s;
    s.valid = left.size() == right.size() && left.size() % kBlockBytes == 0;
    for (std::size_t at = 0; s.valid && at < left.size(); at += kBlockBytes) {
        testkit::Block b;
        b.bytes.assign(left.begin() + static_cast<long>(at),
                       left.begin() + static_cast<long>(at + kBlockBytes));
        b.bytes.insert(b.bytes.end(), right.begin() + static_cast<long>(at),
                       right.begin() + static_cast<long>(at + kBlockBytes));
        s.blocks.push_back(std::move(b));
    }
    return s;
}

class EngineOutputTest : public EngineFixture {
protected:
    EngineOutputTest() : capture_({"dac"}) {}

    // Plays a.wav (8 s), pausing once past its first second and resuming, then b.wav (1 s) to the end.
    // Returns the underruns counted meanwhile.
    std::uint64_t PlayWithPauseAndTrackChange(const std::string& driver) {
        const std::string a = ConstantWav("a.wav", 16, 8.0, kLoud);
        const std::string b = ConstantWav("b.wav", 24, 1.0, kLoud);
        const CDSDASIO& device = *engine_.OutputProcessor().GetDSDASIO(0);
        const auto underruns = device.Underruns();
        EXPECT_EQ(Start(driver), S_OK);
        PlayFiles({a, b});
        EXPECT_TRUE(
            WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.wParam >= 1000; }));
        EXPECT_EQ(engine_.Pause(), 1);
        EXPECT_EQ(engine_.Playing(), 0);
        // Paused for a while: the output keeps the device fed with silence meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(engine_.Play(), 1);
        EXPECT_TRUE(WaitUntil([](const Message& m) { return m.msg == WM_PLAYER_POSITION && m.lParam == 2; }));
        EXPECT_TRUE(WaitForEnd());
        engine_.Shutdown();
        EXPECT_EQ(Count(driverError_), 0u);
        return device.Underruns() - underruns;
    }

    // Every second of both files is there at its level, and the stream starts and ends in silence.
    static void ExpectBothTracksAtTheirLevel(const testkit::DsfStream& s) {
        ASSERT_TRUE(s.valid);
        ASSERT_GT(s.blocks.size(), 100u);
        EXPECT_TRUE(s.blocks.front().Silent());
        EXPECT_TRUE(s.blocks.back().Silent());
        std::size_t loud = 0;
        for (const auto& b : s.blocks)
            loud += std::abs(b.LeftDensity() - kHigh) < 0.01 && std::abs(b.RightDensity() - kHigh) < 0.01;
        // 9 s of input is 775 blocks; the fades at the start, the pause and the track change take a few.
        EXPECT_GE(loud, 775u - 40u);
        EXPECT_LE(loud, 775u + 5u);
        // Before the pause, after it, and the second track: at least three stretches of music.
        EXPECT_GE(s.Segments().size(), 3u);
    }

    testkit::AlsaCapture capture_;
};

struct DsdOutputCase {
    const char* name;
    const char* driver;
    PcmFormat format; // what the null slave takes first of those the output tries
};

class EngineDsdOutputTest : public EngineOutputTest, public ::testing::WithParamInterface<DsdOutputCase> {};

// Native DSD (DSD_U32_BE: left word, right word) and DSD over PCM (S32_LE, whose markers must hold
// through the pause and the track change).
TEST_P(EngineDsdOutputTest, BothTracksReachAlsaAtTheirLevelThroughPauseAndTrackChange) {
    EXPECT_EQ(PlayWithPauseAndTrackChange(GetParam().driver), 0u);
    const auto raw = capture_.Bytes("dac");
    ASSERT_EQ(raw.size() % 8, 0u);
    const Decoded d = Decode(raw, GetParam().format);
    EXPECT_EQ(d.brokenMarkers, 0u);
    ExpectBothTracksAtTheirLevel(Blocks(d.left, d.right));
}

INSTANTIATE_TEST_SUITE_P(Alsa, EngineDsdOutputTest,
                         ::testing::Values(DsdOutputCase{"NativeDsd", "alsa:dac", PcmFormat::DsdU32Be},
                                           DsdOutputCase{"DsdOverPcm", "dop:dac", PcmFormat::S32Le}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(EngineOutputTest, PcmPreviewThroughAlsa) {
    EXPECT_EQ(PlayWithPauseAndTrackChange("pcm:dac"), 0u);
    const auto raw = capture_.Bytes("dac"); // S32_LE at 88 200 Hz, 24 significant bits
    ASSERT_EQ(raw.size() % 8, 0u);
    std::size_t atLevel = 0;
    double peak = 0;
    std::vector<double> left;
    for (std::size_t at = 0; at < raw.size(); at += 8) {
        std::int32_t l = 0;
        std::memcpy(&l, raw.data() + at, 4);
        left.push_back(l / 2147483648.0);
        atLevel += std::abs(left.back() - kLoud) < 0.001;
        peak = std::max(peak, std::abs(left.back()));
    }
    ASSERT_GT(left.size(), 88200u * 9);
    EXPECT_LT(std::abs(left.front()), 1e-4);
    EXPECT_LT(std::abs(left.back()), 1e-4);
    EXPECT_GE(atLevel, static_cast<std::size_t>(88200 * 8.7));
    // The test files are steps of DC, which no band-limited output can follow without ringing: a sharp
    // linear-phase low-pass overshoots a step by about 9 % (Gibbs). Anything beyond that would be a fault.
    EXPECT_LT(peak, kLoud * 1.15);
}

} // namespace
} // namespace enginetest

// ---- DSD128, DSD256 and DSD512 through ALSA ------------------------------------------------------

namespace enginetest {
namespace {

using platform::DsdRate;

// "only-NAME:PCM" opens PCM (native DSD, or DoP for the PCM formats) claiming to take only the format NAME,
// at the rate the engine asks for.
void RegisterSingleFormatOutputs() {
    static const bool registered = [] {
        for (PcmFormat format :
             {PcmFormat::DsdU32Be, PcmFormat::DsdU32Le, PcmFormat::DsdU16Be, PcmFormat::DsdU16Le,
              PcmFormat::DsdU8, PcmFormat::S32Le, PcmFormat::S24_3Le}) {
            mervane::RegisterDsdDriver(
                std::string("only-") + mervane::PcmFormatName(format) + ":",
                mervane::DsdDriverRateFactory([format](std::string_view pcmName, std::string* error,
                                                       DsdRate rate) {
                    auto pcm = mervane::OpenAlsaPcm(pcmName, error);
                    if (!pcm)
                        return std::unique_ptr<mervane::DsdDriver>();
                    auto device =
                        std::make_unique<testkit::OnlyFormats>(std::move(pcm), std::set<PcmFormat>{format});
                    const bool dop = mervane::DsdFrameRate(format) == 0;
                    std::unique_ptr<mervane::DsdDriver> driver =
                        dop ? mervane::StartDopDriver(std::move(device), std::string(pcmName), error, rate)
                            : mervane::StartNativeDsdDriver(std::move(device), std::string(pcmName), error,
                                                            rate);
                    return driver;
                }));
        }
        return true;
    }();
    (void)registered;
}

struct AlsaRateCase {
    PcmFormat format;
    DsdRate rate;
};

class EngineAlsaRateTest : public EngineFixture, public ::testing::WithParamInterface<AlsaRateCase> {
protected:
    void TearDown() override { engine_.Shutdown(); }
    // The capture's file name carries the rate and format ALSA was configured with, so a stream opened at
    // the wrong rate lands in a file of another name.
    testkit::AlsaCapture capture_{{"dac"}, "-%r-%f"};
};

TEST_P(EngineAlsaRateTest, ADsfFileReachesTheDacBitExactlyAtItsRate) {
    const auto [format, rate] = GetParam();
    RegisterSingleFormatOutputs();
    // 200 ms of distinct bytes, starting with a byte that is not silence.
    const std::size_t perChannel = static_cast<std::size_t>(platform::DsdBytesPerSecond(rate)) / 5;
    testkit::DsfShape shape;
    shape.rate = platform::DsdSampleRate(rate);
    shape.channels = testkit::StereoPattern(perChannel, 5);
    shape.channels[0][0] = 0x01, shape.channels[1][0] = 0x02;
    testkit::WriteBytes(dir_ / "a.dsf", testkit::BuildDsf(shape));
    engine_.SetRFModeOverride(true);
    ASSERT_EQ(Start(std::string("only-") + mervane::PcmFormatName(format) + ":dac"), S_OK);
    PlayFiles({(dir_ / "a.dsf").string()});
    ASSERT_TRUE(WaitForEnd());
    engine_.Shutdown();
    EXPECT_EQ(Count(driverError_), 0u);

    const bool dop = mervane::DsdFrameRate(format) == 0;
    const unsigned frameRate = dop ? mervane::DopEncoder::RateFor(rate) : mervane::DsdFrameRate(format, rate);
    const auto raw =
        capture_.Bytes("dac-" + std::to_string(frameRate) + "-" + mervane::PcmFormatName(format));
    ASSERT_FALSE(raw.empty()) << "nothing captured at " << frameRate << " Hz";
    const Decoded d = Decode(raw, format);
    EXPECT_EQ(d.brokenMarkers, 0u);
    // Silence, the file, silence.
    const auto start = std::find_if(d.left.begin(), d.left.end(), [](std::uint8_t b) { return b != 0x69; });
    ASSERT_NE(start, d.left.end());
    const auto offset = static_cast<std::size_t>(start - d.left.begin());
    ASSERT_GE(d.left.size(), offset + perChannel);
    EXPECT_TRUE(std::equal(shape.channels[0].begin(), shape.channels[0].end(),
                           d.left.begin() + static_cast<long>(offset)));
    EXPECT_TRUE(std::equal(shape.channels[1].begin(), shape.channels[1].end(),
                           d.right.begin() + static_cast<long>(offset)));
    EXPECT_TRUE(std::all_of(d.left.begin() + static_cast<long>(offset + perChannel), d.left.end(),
                            [](std::uint8_t b) { return b == 0x69; }));
}

INSTANTIATE_TEST_SUITE_P(HigherRates, EngineAlsaRateTest,
                         ::testing::Values(AlsaRateCase{PcmFormat::DsdU32Be, DsdRate::kDsd128},
                                           AlsaRateCase{PcmFormat::DsdU32Be, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::DsdU32Le, DsdRate::kDsd128},
                                           AlsaRateCase{PcmFormat::DsdU32Le, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::DsdU16Be, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::DsdU16Le, DsdRate::kDsd128},
                                           AlsaRateCase{PcmFormat::DsdU8, DsdRate::kDsd128},
                                           AlsaRateCase{PcmFormat::DsdU8, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::S32Le, DsdRate::kDsd128},
                                           AlsaRateCase{PcmFormat::S32Le, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::S24_3Le, DsdRate::kDsd256},
                                           AlsaRateCase{PcmFormat::DsdU32Be, DsdRate::kDsd512},
                                           AlsaRateCase{PcmFormat::DsdU32Le, DsdRate::kDsd512},
                                           AlsaRateCase{PcmFormat::DsdU16Be, DsdRate::kDsd512},
                                           AlsaRateCase{PcmFormat::DsdU16Le, DsdRate::kDsd512},
                                           AlsaRateCase{PcmFormat::DsdU8, DsdRate::kDsd512},
                                           AlsaRateCase{PcmFormat::S32Le, DsdRate::kDsd512}),
                         [](const ::testing::TestParamInfo<AlsaRateCase>& p) {
                             std::string name = std::string(mervane::PcmFormatName(p.param.format)) +
                                                platform::DsdRateName(p.param.rate);
                             std::replace(name.begin(), name.end(), '_', 'x');
                             return name;
                         });

} // namespace
} // namespace enginetest
