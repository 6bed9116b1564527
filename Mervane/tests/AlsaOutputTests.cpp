// The ALSA outputs: the bytes that reach ALSA for native DSD and DoP (captured through ALSA's file plugin),
// the choice of format against devices that take only some formats, and underruns and device loss.
#include "AlsaDriver.h"
#include "DopDriver.h"
#include "FakePcmDevice.h"
#include "TestKit/AlsaCapture.h"
#include "TestKit/OnlyFormats.h"

#include "Mervane/CProcessProc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace mervanetest {
namespace {

using mervane::PcmFormat;
using testkit::AlsaCapture;
using testkit::OnlyFormats;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = mervane::DsdDriver::kChannelBlockBytes;

// A channel block of a pattern that differs from byte to byte and from channel to channel.
Bytes Pattern(unsigned seed) {
    Bytes b(kBlock);
    for (std::size_t i = 0; i < kBlock; ++i)
        b[i] = static_cast<std::uint8_t>(i * (2 * seed + 37) + seed * 91 + (i >> 8));
    return b;
}

// Sample t (in time order) of an LSB-first DSD channel.
int Bit(const Bytes& lsbFirst, std::size_t t) {
    return (lsbFirst[t / 8] >> (t % 8)) & 1;
}

// What ALSA must receive for native DSD, built from the one-bit samples in time order: words of `word`
// bytes per channel, left then right; the earliest sample of a word in the most significant bit of its
// earliest byte; the earliest byte first in memory for big endian, last for little endian.
Bytes ExpectedNative(const std::vector<std::pair<Bytes, Bytes>>& blocks, std::size_t word,
                     bool littleEndian) {
    Bytes out;
    for (const auto& [left, right] : blocks) {
        for (std::size_t w = 0; w < kBlock / word; ++w) {
            for (const Bytes* ch : {&left, &right}) {
                Bytes bytes(word, 0);
                for (std::size_t k = 0; k < word * 8; ++k) {
                    const std::size_t byteInTime = k / 8;
                    const std::size_t at = littleEndian ? word - 1 - byteInTime : byteInTime;
                    bytes[at] |= static_cast<std::uint8_t>(Bit(*ch, w * word * 8 + k) << (7 - k % 8));
                }
                out.insert(out.end(), bytes.begin(), bytes.end());
            }
        }
    }
    return out;
}

// A capture without the keeper's silence: a writer later than the driver's idle time (a loaded machine, a
// sanitizer build) has the keeper fill the gap with silence blocks, which the listener hears as the pause it
// is. `keeper` of the all-silence blocks (each `blockBytes`, every byte 0x96 in native DSD) are taken out;
// blocks the test wrote as silence stay, as the keeper's and the test's cannot be told apart and only
// their number matters.
Bytes WithoutKeeperSilence(const Bytes& raw, std::size_t blockBytes, std::uint64_t keeper) {
    Bytes out;
    for (std::size_t at = 0; at < raw.size(); at += blockBytes) {
        const auto begin = raw.begin() + static_cast<long>(at);
        const auto end = raw.begin() + static_cast<long>(std::min(raw.size(), at + blockBytes));
        if (keeper > 0 && end - begin == static_cast<long>(blockBytes) &&
            std::all_of(begin, end, [](std::uint8_t b) { return b == 0x96; })) {
            --keeper;
            continue;
        }
        out.insert(out.end(), begin, end);
    }
    return out;
}

class AlsaCaptureTest : public ::testing::Test {
protected:
    AlsaCaptureTest() : capture_({"dsd", "dop"}) {}

    // Starts a driver on the capture device `name`, which claims to take only `formats`.
    std::unique_ptr<mervane::StreamDriver> Start(bool dop, const std::string& name,
                                                 std::set<PcmFormat> formats) {
        std::string error;
        auto pcm = mervane::OpenAlsaPcm(name, &error);
        EXPECT_NE(pcm, nullptr) << error;
        if (!pcm)
            return nullptr;
        auto device = std::make_unique<OnlyFormats>(std::move(pcm), std::move(formats));
        auto driver = dop ? mervane::StartDopDriver(std::move(device), name, &error)
                          : mervane::StartNativeDsdDriver(std::move(device), name, &error);
        EXPECT_NE(driver, nullptr) << error;
        return driver;
    }

    // Plays the blocks back to back through native DSD in the one format the device takes.
    Bytes PlayNative(PcmFormat format, const std::vector<std::pair<Bytes, Bytes>>& blocks) {
        auto driver = Start(false, "dsd", {format});
        if (!driver)
            return {};
        EXPECT_EQ(driver->Encoder().Format(), format);
        EXPECT_EQ(driver->Encoder().Rate(), mervane::DsdFrameRate(format));
        // About half a second of buffer, in at least four periods.
        EXPECT_NEAR(static_cast<double>(driver->BufferFrames()) / driver->Encoder().Rate(), 0.5, 0.05);
        EXPECT_GE(driver->BufferFrames() / std::max<std::size_t>(driver->PeriodFrames(), 1), 4u);
        for (const auto& [l, r] : blocks)
            EXPECT_TRUE(driver->WriteBlock(l.data(), r.data()));
        EXPECT_TRUE(driver->Close());
        EXPECT_EQ(driver->Underruns(), 0u);
        return WithoutKeeperSilence(capture_.Bytes("dsd"), 2 * kBlock, driver->SilentBlocks());
    }

    AlsaCapture capture_;
};

// A block beginning 01 02 03 04 (left) and F0 0F 80 01 (right), the rest silence.
std::pair<Bytes, Bytes> HandBlock() {
    Bytes l(kBlock, 0x69), r(kBlock, 0x69);
    const std::uint8_t lh[] = {0x01, 0x02, 0x03, 0x04}, rh[] = {0xF0, 0x0F, 0x80, 0x01};
    std::copy(std::begin(lh), std::end(lh), l.begin());
    std::copy(std::begin(rh), std::end(rh), r.begin());
    return {l, r};
}

TEST_F(AlsaCaptureTest, NativeU32BigEndianPacksWordsInTimeOrderWithTheEarliestBitHigh) {
    const auto got = PlayNative(PcmFormat::DsdU32Be, {HandBlock(), {Pattern(1), Pattern(2)}});
    ASSERT_EQ(got.size(), 2 * 2 * kBlock);
    const Bytes first = {0x80, 0x40, 0xC0, 0x20, 0x0F, 0xF0, 0x01, 0x80, 0x96, 0x96, 0x96, 0x96};
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 12), first);
    EXPECT_EQ(got, ExpectedNative({HandBlock(), {Pattern(1), Pattern(2)}}, 4, false));
}

TEST_F(AlsaCaptureTest, NativeU32LittleEndianReversesTheBytesOfEachWord) {
    const auto got = PlayNative(PcmFormat::DsdU32Le, {HandBlock(), {Pattern(3), Pattern(4)}});
    ASSERT_EQ(got.size(), 2 * 2 * kBlock);
    const Bytes first = {0x20, 0xC0, 0x40, 0x80, 0x80, 0x01, 0xF0, 0x0F};
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 8), first);
    EXPECT_EQ(got, ExpectedNative({HandBlock(), {Pattern(3), Pattern(4)}}, 4, true));
}

TEST_F(AlsaCaptureTest, NativeU8InterleavesSingleBytes) {
    const auto got = PlayNative(PcmFormat::DsdU8, {HandBlock(), {Pattern(5), Pattern(6)}});
    ASSERT_EQ(got.size(), 2 * 2 * kBlock);
    const Bytes first = {0x80, 0x0F, 0x40, 0xF0, 0xC0, 0x01, 0x20, 0x80, 0x96, 0x96};
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 10), first);
    EXPECT_EQ(got, ExpectedNative({HandBlock(), {Pattern(5), Pattern(6)}}, 1, false));
}

TEST_F(AlsaCaptureTest, NativeU16BothByteOrders) {
    EXPECT_EQ(PlayNative(PcmFormat::DsdU16Be, {{Pattern(7), Pattern(8)}}),
              ExpectedNative({{Pattern(7), Pattern(8)}}, 2, false));
    EXPECT_EQ(PlayNative(PcmFormat::DsdU16Le, {{Pattern(7), Pattern(8)}}),
              ExpectedNative({{Pattern(7), Pattern(8)}}, 2, true));
}

TEST_F(AlsaCaptureTest, EngineSilenceReachesTheDacAsTheDsdSilencePattern) {
    const Bytes silence(kBlock, 0x69);
    const auto got = PlayNative(PcmFormat::DsdU32Be, {{silence, silence}});
    ASSERT_EQ(got.size(), 2 * kBlock);
    EXPECT_EQ(std::count(got.begin(), got.end(), 0x96), static_cast<long>(got.size()));
}

TEST_F(AlsaCaptureTest, TheAlsaNameOpensTheFirstNativeFormatAndUnknownDevicesSayWhy) {
    std::string error;
    auto driver = mervane::OpenDsdDriver("alsa:dsd", &error);
    ASSERT_NE(driver, nullptr) << error;
    const auto [l, r] = HandBlock();
    ASSERT_TRUE(driver->WriteBlock(l.data(), r.data()));
    ASSERT_TRUE(driver->Close());
    // The null slave takes every format, so the first of the list is used: DSD_U32_BE.
    const auto* stream = dynamic_cast<const mervane::StreamDriver*>(driver.get());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(WithoutKeeperSilence(capture_.Bytes("dsd"), 2 * kBlock, stream->SilentBlocks()),
              ExpectedNative({HandBlock()}, 4, false));

    for (const char* name : {"alsa:", "alsa:no-such-device", "dop:", "dop:no-such-device"}) {
        error.clear();
        EXPECT_EQ(mervane::OpenDsdDriver(name, &error), nullptr) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

// ---- DoP ---------------------------------------------------------------------------------------------

struct DopWord {
    std::uint8_t marker, earlier, later;
};

// Splits a DoP capture into its words (left, right alternating).
std::vector<DopWord> DopWords(const Bytes& raw, bool padded) {
    std::vector<DopWord> out;
    const std::size_t size = padded ? 4 : 3;
    for (std::size_t at = 0; at + size <= raw.size(); at += size) {
        const std::uint8_t* w = raw.data() + at + (padded ? 1 : 0);
        if (padded) {
            EXPECT_EQ(raw[at], 0) << "padding byte of word " << at / size;
        }
        out.push_back({w[2], w[1], w[0]});
    }
    return out;
}

// Every frame's two words carry the same marker and the markers alternate, starting with 0x05.
void ExpectMarkersAlternate(const std::vector<DopWord>& words) {
    ASSERT_EQ(words.size() % 2, 0u);
    for (std::size_t f = 0; f < words.size() / 2; ++f) {
        const std::uint8_t expected = f % 2 == 0 ? 0x05 : 0xFA;
        if (words[2 * f].marker != expected || words[2 * f + 1].marker != expected) {
            ADD_FAILURE() << "frame " << f << " carries " << int(words[2 * f].marker) << "/"
                          << int(words[2 * f + 1].marker) << ", expected " << int(expected);
            return;
        }
    }
}

// The DSD bytes of words [from, from + 2 * 2048) against a block, MSB-first, earlier byte higher.
void ExpectDopBlock(const std::vector<DopWord>& words, std::size_t from, const Bytes& l, const Bytes& r) {
    for (std::size_t f = 0; f < kBlock / 2; ++f) {
        for (int c = 0; c < 2; ++c) {
            const Bytes& ch = c == 0 ? l : r;
            const DopWord& w = words[from + 2 * f + static_cast<std::size_t>(c)];
            std::uint8_t earlier = 0, later = 0;
            for (int k = 0; k < 8; ++k) {
                earlier |=
                    static_cast<std::uint8_t>(Bit(ch, f * 16 + static_cast<std::size_t>(k)) << (7 - k));
                later |=
                    static_cast<std::uint8_t>(Bit(ch, f * 16 + 8 + static_cast<std::size_t>(k)) << (7 - k));
            }
            if (w.earlier != earlier || w.later != later) {
                ADD_FAILURE() << "frame " << f << " channel " << c << " of the block at word " << from;
                return;
            }
        }
    }
}

constexpr std::size_t kDopBlockWords = 2 * 2048; // a block: 2048 frames of a left and a right word

// Where the blocks that are not silence begin (in words): a block of the DSD silence pattern (0x69 in our
// order, 0x96 on the wire) under its markers is the keeper's or the pause's.
std::vector<std::size_t> WrittenDopBlocks(const std::vector<DopWord>& words) {
    std::vector<std::size_t> at;
    for (std::size_t from = 0; from + kDopBlockWords <= words.size(); from += kDopBlockWords) {
        const auto silent = std::all_of(
            words.begin() + static_cast<long>(from), words.begin() + static_cast<long>(from + kDopBlockWords),
            [](const DopWord& w) { return w.earlier == 0x96 && w.later == 0x96; });
        if (!silent)
            at.push_back(from);
    }
    return at;
}

TEST_F(AlsaCaptureTest, DopCarriesTwoBytesPerWordAndKeepsTheMarkerPhaseAcrossBlocks) {
    auto driver = Start(true, "dop", {PcmFormat::S32Le, PcmFormat::S24_3Le});
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->Encoder().Format(), PcmFormat::S32Le);
    EXPECT_EQ(driver->Encoder().Rate(), 176400u);
    const auto [hl, hr] = HandBlock();
    const Bytes l2 = Pattern(9), r2 = Pattern(10);
    ASSERT_TRUE(driver->WriteBlock(hl.data(), hr.data()));
    ASSERT_TRUE(driver->WriteBlock(l2.data(), r2.data()));
    ASSERT_TRUE(driver->Close());

    const Bytes raw = capture_.Bytes("dop");
    // Two blocks, and the keeper's silence where the writer came later than the driver's idle time.
    ASSERT_EQ(raw.size(), (2 + driver->SilentBlocks()) * kDopBlockWords * 4);
    const auto words = DopWords(raw, true);
    ExpectMarkersAlternate(words); // 2048 frames a block: every block starts on 0x05 again
    const auto written = WrittenDopBlocks(words);
    ASSERT_EQ(written.size(), 2u);
    // Frame 0 by hand: left 01 02 -> 80 40, right F0 0F -> 0F F0; frame 1 (0xFA): left 03 04 -> C0 20.
    const Bytes head = {0x00, 0x40, 0x80, 0x05, 0x00, 0xF0, 0x0F, 0x05, 0x00, 0x20, 0xC0, 0xFA};
    const auto first = raw.begin() + static_cast<long>(written[0] * 4);
    EXPECT_EQ(Bytes(first, first + 12), head);
    ExpectDopBlock(words, written[0], hl, hr);
    ExpectDopBlock(words, written[1], l2, r2);
}

TEST_F(AlsaCaptureTest, DopFillsAPauseWithMarkedSilenceWithoutBreakingThePhase) {
    auto driver = Start(true, "dop", {PcmFormat::S24_3Le});
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->Encoder().Format(), PcmFormat::S24_3Le);
    // An odd number of frames before the pause would expose a phase restarted by the silence; a block
    // has an even number, so the check is that the silence and the next block continue the run exactly.
    const Bytes l1 = Pattern(11), r1 = Pattern(12), l2 = Pattern(13), r2 = Pattern(14);
    ASSERT_TRUE(driver->WriteBlock(l1.data(), r1.data()));
    // The engine writes nothing while paused; the driver fills the gap. Wait for it rather than for a time.
    for (int i = 0; i < 1000 && driver->SilentBlocks() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(driver->SilentBlocks(), 3u);
    ASSERT_TRUE(driver->WriteBlock(l2.data(), r2.data()));
    ASSERT_TRUE(driver->Close());

    const auto words = DopWords(capture_.Bytes("dop"), false);
    ASSERT_EQ(words.size() % kDopBlockWords, 0u);
    ExpectMarkersAlternate(words);
    // The two blocks written, and nothing but marked silence around and between them: at least the three
    // blocks waited for.
    const auto written = WrittenDopBlocks(words);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_GE(written[1] - written[0], 4 * kDopBlockWords);
    ExpectDopBlock(words, written[0], l1, r1);
    ExpectDopBlock(words, written[1], l2, r2);
}

// ---- format choice against a fake device -------------------------------------------------------------

class FormatChoiceTest : public ::testing::Test {
protected:
    std::unique_ptr<mervane::StreamDriver> StartWith(bool dop, std::set<PcmFormat> accepted) {
        state_.accepted = std::move(accepted);
        error_.clear();
        auto device = std::make_unique<FakePcmDevice>(&state_);
        return dop ? mervane::StartDopDriver(std::move(device), "fake", &error_)
                   : mervane::StartNativeDsdDriver(std::move(device), "fake", &error_);
    }
    FakePcmDevice::State state_;
    std::string error_;
};

TEST_F(FormatChoiceTest, NativeTakesTheFirstFormatOfThePreferenceTheDeviceAccepts) {
    const struct {
        std::set<PcmFormat> accepted;
        PcmFormat chosen;
    } cases[] = {
        {{PcmFormat::DsdU8, PcmFormat::DsdU16Le, PcmFormat::DsdU32Le}, PcmFormat::DsdU32Le},
        {{PcmFormat::DsdU8, PcmFormat::DsdU16Le}, PcmFormat::DsdU16Le},
        {{PcmFormat::DsdU16Be, PcmFormat::DsdU16Le}, PcmFormat::DsdU16Be},
        {{PcmFormat::DsdU8, PcmFormat::S32Le}, PcmFormat::DsdU8},
        {{PcmFormat::DsdU32Be, PcmFormat::DsdU8}, PcmFormat::DsdU32Be},
    };
    for (const auto& c : cases) {
        auto driver = StartWith(false, c.accepted);
        ASSERT_NE(driver, nullptr) << error_;
        EXPECT_EQ(state_.configuredFormat, c.chosen) << mervane::PcmFormatName(c.chosen);
        EXPECT_EQ(state_.configuredRate, mervane::DsdFrameRate(c.chosen));
    }
}

TEST_F(FormatChoiceTest, APcmOnlyDeviceIsRefusedForNativeDsdAndPointedToDop) {
    auto driver = StartWith(false, {PcmFormat::S32Le, PcmFormat::S24_3Le, PcmFormat::S16Le});
    EXPECT_EQ(driver, nullptr);
    EXPECT_NE(error_.find("dop:fake"), std::string::npos) << error_;
    // Every native format was asked for, each at the frame rates that carry DSD64, DSD128, DSD256 and
    // DSD512.
    ASSERT_EQ(state_.asked.size(), 20u);
    for (PcmFormat format : mervane::kNativeDsdFormats)
        for (unsigned multiple : {1u, 2u, 4u, 8u})
            EXPECT_EQ(std::count(state_.asked.begin(), state_.asked.end(),
                                 std::pair{format, mervane::DsdFrameRate(format) * multiple}),
                      1)
                << mervane::PcmFormatName(format) << " x" << multiple;
}

TEST_F(FormatChoiceTest, DopPrefers32BitsAndFallsBackToPacked24) {
    auto both = StartWith(true, {PcmFormat::S32Le, PcmFormat::S24_3Le});
    ASSERT_NE(both, nullptr) << error_;
    EXPECT_EQ(state_.configuredFormat, PcmFormat::S32Le);
    EXPECT_EQ(state_.configuredRate, 176400u);
    auto packed = StartWith(true, {PcmFormat::S24_3Le, PcmFormat::DsdU8});
    ASSERT_NE(packed, nullptr) << error_;
    EXPECT_EQ(state_.configuredFormat, PcmFormat::S24_3Le);
    EXPECT_EQ(StartWith(true, {PcmFormat::DsdU32Be, PcmFormat::S16Le}), nullptr);
    EXPECT_FALSE(error_.empty());
}

// ---- underruns and device loss -------------------------------------------------------------------------

class DeviceFaultTest : public FormatChoiceTest {
protected:
    void SetUp() override {
        driver_ = StartWith(false, {PcmFormat::DsdU8});
        ASSERT_NE(driver_, nullptr);
    }
    bool Write() { return driver_->WriteBlock(left_.data(), right_.data()); }

    Bytes left_ = Pattern(20), right_ = Pattern(21);
    std::unique_ptr<mervane::StreamDriver> driver_;
};

TEST_F(DeviceFaultTest, AnUnderrunIsRecoveredCountedAndTheBlockStillArrivesWhole) {
    state_.writeErrors = {-EPIPE};
    ASSERT_TRUE(Write());
    ASSERT_TRUE(Write());
    EXPECT_EQ(driver_->Underruns(), 1u);
    EXPECT_EQ(state_.prepares, 1);
    const auto once = ExpectedNative({{left_, right_}}, 1, false);
    ASSERT_EQ(state_.written.size(), 2 * once.size());
    EXPECT_TRUE(std::equal(once.begin(), once.end(), state_.written.begin()));
    EXPECT_FALSE(driver_->Lost());
}

TEST_F(DeviceFaultTest, ASuspendedDeviceIsResumedWhenItAllows) {
    state_.writeErrors = {-ESTRPIPE};
    state_.resumeResults = {-EAGAIN, -EAGAIN, 0};
    ASSERT_TRUE(Write());
    EXPECT_EQ(state_.resumes, 3);
    EXPECT_EQ(state_.written.size(), 2 * kBlock);
}

TEST_F(DeviceFaultTest, ADeviceThatCannotResumeNorRestartIsLost) {
    state_.writeErrors = {-ESTRPIPE};
    state_.resumeResults = {-ENOSYS};
    state_.prepareResult = -ENODEV;
    EXPECT_FALSE(Write());
    EXPECT_TRUE(driver_->Lost());
    EXPECT_FALSE(Write());
    EXPECT_FALSE(driver_->Close());
}

TEST(DeviceLossTest, AnUnpluggedDacRaisesTheDevicesResetRequest) {
    static FakePcmDevice::State state;
    state.accepted = {PcmFormat::DsdU32Le};
    mervane::RegisterDsdDriver("fakedac:", [](std::string_view rest, std::string* error) {
        return std::unique_ptr<mervane::DsdDriver>(
            mervane::StartNativeDsdDriver(std::make_unique<FakePcmDevice>(&state), std::string(rest), error));
    });
    CProcessProc proc;
    CDSDASIO* device = proc.GetDSDASIO(0);
    proc.LockProcess();
    ASSERT_TRUE(device->OpenDriver(u"fakedac:x"));
    proc.UnlockProcess();
    std::vector<std::uint8_t> buffers[6];
    std::uint8_t* table[6];
    for (int i = 0; i < 6; ++i) {
        buffers[i].assign(kBlock, 0x69);
        table[i] = buffers[i].data();
    }
    EXPECT_TRUE(device->WriteBlock(0, table, table));
    EXPECT_FALSE(device->resetRequest.load());
    {
        std::lock_guard lock(state.mutex);
        state.writeErrors = {-ENODEV};
    }
    EXPECT_FALSE(device->WriteBlock(512, table, table));
    EXPECT_TRUE(device->resetRequest.load());
    proc.Release();
}

} // namespace
} // namespace mervanetest
