// The engine end to end through the ALSA outputs, each captured by ALSA's file plugin: two tracks with a
// pause and a resume in the first, then what reached ALSA read back.
#include "AlsaCapture.h"
#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace enginetest {
namespace {

constexpr double kLoud = 0.5;         // input level of the test files
constexpr double kHigh = 0.5 + 0.125; // one-density of +0.5 full scale
constexpr std::size_t kBlockBytes = 4096;

std::uint8_t Reverse(std::uint8_t b) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        r |= static_cast<std::uint8_t>(((b >> i) & 1) << (7 - i));
    return r;
}

// Rebuilds our LSB-first blocks from a stream of per-channel MSB-first bytes in time order.
dsdtest::DsfStream Blocks(const std::vector<std::uint8_t>& left, const std::vector<std::uint8_t>& right) {
    dsdtest::DsfStream s;
    s.valid = left.size() == right.size() && left.size() % kBlockBytes == 0;
    for (std::size_t at = 0; s.valid && at < left.size(); at += kBlockBytes) {
        dsdtest::Block b;
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            b.bytes.push_back(Reverse(left[at + i]));
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            b.bytes.push_back(Reverse(right[at + i]));
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
    static void ExpectBothTracksAtTheirLevel(const dsdtest::DsfStream& s) {
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

    mervanetest::AlsaCapture capture_;
};

TEST_F(EngineOutputTest, NativeDsdThroughAlsa) {
    EXPECT_EQ(PlayWithPauseAndTrackChange("alsa:dac"), 0u);
    // DSD_U32_BE (the null slave takes the first format tried): left word, right word.
    const auto raw = capture_.Bytes("dac");
    ASSERT_EQ(raw.size() % 8, 0u);
    std::vector<std::uint8_t> left, right;
    for (std::size_t at = 0; at < raw.size(); at += 8) {
        left.insert(left.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + 4));
        right.insert(right.end(), raw.begin() + static_cast<long>(at + 4),
                     raw.begin() + static_cast<long>(at + 8));
    }
    ExpectBothTracksAtTheirLevel(Blocks(left, right));
}

TEST_F(EngineOutputTest, DsdOverPcmThroughAlsaKeepsItsMarkersThroughPauseAndTrackChange) {
    EXPECT_EQ(PlayWithPauseAndTrackChange("dop:dac"), 0u);
    const auto raw = capture_.Bytes("dac"); // S32_LE
    ASSERT_EQ(raw.size() % 8, 0u);
    std::vector<std::uint8_t> left, right;
    std::size_t broken = 0;
    for (std::size_t at = 0, frame = 0; at < raw.size(); at += 8, ++frame) {
        const std::uint8_t marker = frame % 2 == 0 ? 0x05 : 0xFA;
        broken += raw[at + 3] != marker || raw[at + 7] != marker || raw[at] != 0 || raw[at + 4] != 0;
        left.push_back(raw[at + 2]);
        left.push_back(raw[at + 1]);
        right.push_back(raw[at + 6]);
        right.push_back(raw[at + 5]);
    }
    EXPECT_EQ(broken, 0u);
    ExpectBothTracksAtTheirLevel(Blocks(left, right));
}

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
