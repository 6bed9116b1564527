// The outputs at DSD128, DSD256 and DSD512: the frame rates the ALSA outputs ask for, the refusal that names
// the rates a device takes, the DSF recording's series of files across a change of rate, and the null sink's
// clock.
#include "AlsaDriver.h"
#include "DopDriver.h"
#include "DsfDriver.h"
#include "FakePcmDevice.h"
#include "Mervane/CDSDASIO.h"
#include "Mervane/DsdDriver.h"
#include "NullDriver.h"
#include "PcmPreviewDriver.h"
#include "TestKit/Bytes.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace mervanetest {
namespace {

namespace fs = std::filesystem;
using mervane::PcmFormat;
using platform::DsdRate;
using testkit::Bytes;

TEST(DsdRates, NativeAndDopOpenAtTheFrameRateOfEachRate) {
    const struct {
        bool dop;
        PcmFormat format;
        DsdRate rate;
        unsigned frameRate;
    } cases[] = {
        {false, PcmFormat::DsdU32Be, DsdRate::kDsd128, 176400},
        {false, PcmFormat::DsdU32Le, DsdRate::kDsd256, 352800},
        {false, PcmFormat::DsdU16Le, DsdRate::kDsd128, 352800},
        {false, PcmFormat::DsdU16Be, DsdRate::kDsd256, 705600},
        {false, PcmFormat::DsdU8, DsdRate::kDsd128, 705600},
        {false, PcmFormat::DsdU8, DsdRate::kDsd256, 1411200},
        {false, PcmFormat::DsdU32Be, DsdRate::kDsd512, 705600},
        {false, PcmFormat::DsdU32Le, DsdRate::kDsd512, 705600},
        {false, PcmFormat::DsdU16Le, DsdRate::kDsd512, 1411200},
        {false, PcmFormat::DsdU8, DsdRate::kDsd512, 2822400},
        {true, PcmFormat::S32Le, DsdRate::kDsd128, 352800},
        {true, PcmFormat::S24_3Le, DsdRate::kDsd256, 705600},
        {true, PcmFormat::S32Le, DsdRate::kDsd512, 1411200},
    };
    for (const auto& c : cases) {
        FakePcmDevice::State state;
        state.accepted = {c.format};
        state.dsdMultiples = {1, 2, 4, 8};
        state.pcmRates = {176400, 352800, 705600, 1411200};
        std::string error;
        auto device = std::make_unique<FakePcmDevice>(&state);
        auto driver = c.dop ? mervane::StartDopDriver(std::move(device), "fake", &error, c.rate)
                            : mervane::StartNativeDsdDriver(std::move(device), "fake", &error, c.rate);
        ASSERT_NE(driver, nullptr) << error;
        EXPECT_EQ(state.configuredFormat, c.format) << mervane::PcmFormatName(c.format);
        EXPECT_EQ(state.configuredRate, c.frameRate) << mervane::PcmFormatName(c.format);
        EXPECT_EQ(driver->Rate(), c.rate);
        EXPECT_EQ(driver->Rates(), platform::kAllDsdRates);
        // A block is still 4096 bytes per channel: the same frames per block at every rate.
        const std::size_t bytes = c.dop ? 2 : mervane::PcmFormatBytes(c.format);
        EXPECT_EQ(driver->Encoder().FramesPerBlock(), 4096u / bytes);
        driver->Close();
    }
}

TEST(DsdRates, ARateTheDeviceDoesNotTakeIsRefusedNamingTheRatesItTakes) {
    FakePcmDevice::State state;
    state.accepted = {PcmFormat::DsdU32Be, PcmFormat::S32Le};
    state.dsdMultiples = {1, 2};
    state.pcmRates = {176400};
    std::string error;
    EXPECT_EQ(mervane::StartNativeDsdDriver(std::make_unique<FakePcmDevice>(&state), "hw:1,0", &error,
                                            DsdRate::kDsd256),
              nullptr);
    EXPECT_EQ(error, "\"hw:1,0\" does not take DSD256; it takes DSD64 and DSD128");
    error.clear();
    EXPECT_EQ(
        mervane::StartDopDriver(std::make_unique<FakePcmDevice>(&state), "hw:1,0", &error, DsdRate::kDsd128),
        nullptr);
    EXPECT_EQ(error, "\"hw:1,0\" does not take DSD128; it takes DSD64 over DoP");
    // DSD512 over DoP needs 1 411 200 Hz PCM, which a device taking every lower DoP rate may still lack.
    state.pcmRates = {176400, 352800, 705600};
    error.clear();
    EXPECT_EQ(
        mervane::StartDopDriver(std::make_unique<FakePcmDevice>(&state), "hw:1,0", &error, DsdRate::kDsd512),
        nullptr);
    EXPECT_EQ(error, "\"hw:1,0\" does not take DSD512; it takes DSD64, DSD128 and DSD256 over DoP");
    error.clear();
    EXPECT_EQ(mervane::StartNativeDsdDriver(std::make_unique<FakePcmDevice>(&state), "hw:1,0", &error,
                                            DsdRate::kDsd512),
              nullptr);
    EXPECT_EQ(error, "\"hw:1,0\" does not take DSD512; it takes DSD64 and DSD128");
    // What it takes opens, and says what else it takes.
    auto driver = mervane::StartNativeDsdDriver(std::make_unique<FakePcmDevice>(&state), "hw:1,0", &error,
                                                DsdRate::kDsd128);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(driver->Rates(),
              platform::DsdRateBit(DsdRate::kDsd64) | platform::DsdRateBit(DsdRate::kDsd128));
    driver->Close();
    // The preview decimates DSD64 only.
    error.clear();
    EXPECT_EQ(mervane::OpenPcmPreviewDriver("default", &error, DsdRate::kDsd128), nullptr);
    EXPECT_NE(error.find("takes DSD64"), std::string::npos) << error;
}

// A device that takes none of a driver's formats at any rate is refused saying what it lacks; one that
// takes the last format tried at one rate only opens there, and names that rate alone.
TEST(DsdRates, ADeviceWithoutTheFormatsIsRefusedSayingWhatItLacks) {
    FakePcmDevice::State state;
    state.accepted = {PcmFormat::S16Le, PcmFormat::S32Le};
    state.pcmRates = {44100, 88200};
    std::string error;
    EXPECT_EQ(mervane::StartNativeDsdDriver(std::make_unique<FakePcmDevice>(&state), "hw:2,0", &error),
              nullptr);
    EXPECT_EQ(error, "\"hw:2,0\" takes no native DSD format (DSD_U32_BE, DSD_U32_LE, DSD_U16_BE, DSD_U16_LE, "
                     "DSD_U8); a DAC that takes DSD over PCM plays through \"dop:hw:2,0\"");
    error.clear();
    EXPECT_EQ(mervane::StartDopDriver(std::make_unique<FakePcmDevice>(&state), "hw:2,0", &error), nullptr);
    EXPECT_EQ(error,
              "\"hw:2,0\" takes neither S32_LE nor S24_3LE at 176 400, 352 800, 705 600 or 1 411 200 Hz, "
              "so it cannot carry DoP");

    state.accepted = {PcmFormat::S24_3Le, PcmFormat::DsdU8};
    state.pcmRates = {705600};
    state.dsdMultiples = {2};
    FakePcmDevice probe(&state);
    EXPECT_EQ(mervane::DopRates(probe), platform::DsdRateBit(DsdRate::kDsd256));
    EXPECT_EQ(mervane::NativeDsdRates(probe), platform::DsdRateBit(DsdRate::kDsd128));
    auto driver =
        mervane::StartDopDriver(std::make_unique<FakePcmDevice>(&state), "hw:2,0", &error, DsdRate::kDsd256);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(state.configuredFormat, PcmFormat::S24_3Le);
    EXPECT_EQ(state.configuredRate, 705600u);
    EXPECT_EQ(driver->Rates(), platform::DsdRateBit(DsdRate::kDsd256));
    driver->Close();
}

TEST(DsdRates, NullAndDsfTakeEveryRate) {
    std::string error;
    EXPECT_EQ(mervane::ProbeDsdRates("null", &error), platform::kAllDsdRates);
    EXPECT_EQ(mervane::ProbeDsdRates("dsf:/nonexistent/never-created.dsf", &error), platform::kAllDsdRates);
    EXPECT_FALSE(fs::exists("/nonexistent/never-created.dsf"));
    EXPECT_EQ(mervane::ProbeDsdRates("bogus", &error), 0u);
    EXPECT_EQ(error, "no driver named \"bogus\"");
}

TEST(DsdRates, TheNullSinkIsClockedAtTheStreamsRate) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(mervane::NullDriver::BlockStartNs(441), 5'120'000'000);
    EXPECT_EQ(mervane::NullDriver::BlockStartNs(441, DsdRate::kDsd128), 2'560'000'000);
    EXPECT_EQ(mervane::NullDriver::BlockStartNs(441, DsdRate::kDsd256), 1'280'000'000);
    EXPECT_EQ(mervane::NullDriver::BlockStartNs(441, DsdRate::kDsd512), 640'000'000);
    // 86 blocks of DSD256 last about 250 ms.
    mervane::NullDriver sink(DsdRate::kDsd256);
    const Bytes silence(4096, 0x69);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 87; ++i)
        ASSERT_TRUE(sink.WriteBlock(silence.data(), silence.data()));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, nanoseconds(mervane::NullDriver::BlockStartNs(86, DsdRate::kDsd256)));
    EXPECT_EQ(sink.Rate(), DsdRate::kDsd256);
}

class DsfSeriesTest : public ::testing::Test {
protected:
    static std::uint32_t Rate(const Bytes& f) {
        return f.size() < 60 ? 0 : static_cast<std::uint32_t>(testkit::Le(f, 56, 4));
    }
    const testkit::ScratchFolder scratch_{"rate"};
    const fs::path dir_ = scratch_.Path();
};

TEST_F(DsfSeriesTest, AChangeOfRateGoesOnInTheNextFileOfTheSeries) {
    EXPECT_EQ(mervane::DsfDriver::SegmentPath("/a/album.dsf", 1), "/a/album.dsf");
    EXPECT_EQ(mervane::DsfDriver::SegmentPath("/a/album.dsf", 3), "/a/album-3.dsf");
    EXPECT_EQ(mervane::DsfDriver::SegmentPath("/a.b/album", 2), "/a.b/album-2");
    EXPECT_EQ(mervane::DsfDriver::SegmentPath("/a/.hidden", 2), "/a/.hidden-2");

    // Through the device, as the engine drives it: DSD64, then DSD128, DSD256, DSD512 and DSD64 again.
    CDSDASIO device;
    const std::u16string name = u"dsf:" + (dir_ / "out.dsf").u16string();
    ASSERT_TRUE(device.OpenDriver(name.c_str(), DsdRate::kDsd64)) << device.LastOpenError();
    const DsdRate order[] = {DsdRate::kDsd64, DsdRate::kDsd128, DsdRate::kDsd256, DsdRate::kDsd512,
                             DsdRate::kDsd64};
    std::uint8_t fill = 1;
    for (DsdRate rate : order) {
        ASSERT_TRUE(device.ChangeRate(rate)) << device.LastOpenError();
        EXPECT_EQ(device.Rate(), rate);
        Bytes left(4096, fill), right(4096, static_cast<std::uint8_t>(fill + 100));
        std::uint8_t* channels[6] = {left.data(), right.data()};
        // As many blocks as a tenth of a second takes at the rate.
        for (int b = 0; b < 9 * platform::DsdRateMultiple(rate); ++b)
            ASSERT_TRUE(device.WriteBlock(0, channels, nullptr));
        ++fill;
    }
    ASSERT_TRUE(device.CloseDriver());
    const char* files[] = {"out.dsf", "out-2.dsf", "out-3.dsf", "out-4.dsf", "out-5.dsf"};
    for (int i = 0; i < 5; ++i) {
        const Bytes f = testkit::ReadBytes(dir_ / files[i]);
        const int multiple = platform::DsdRateMultiple(order[i]);
        ASSERT_EQ(f.size(), 92u + 9u * static_cast<unsigned>(multiple) * 8192) << files[i];
        EXPECT_EQ(Rate(f), platform::DsdSampleRate(order[i])) << files[i];
        EXPECT_EQ(f[92], i + 1) << files[i];
        EXPECT_EQ(f[92 + 4096], i + 101) << files[i];
    }
    EXPECT_FALSE(fs::exists(dir_ / "out-6.dsf"));
}

TEST_F(DsfSeriesTest, AFileOfNothingButSilenceStartsAfreshAtTheNewRate) {
    CDSDASIO device;
    const std::u16string name = u"dsf:" + (dir_ / "out.dsf").u16string();
    ASSERT_TRUE(device.OpenDriver(name.c_str()));
    Bytes silence(4096, 0x69), music(4096, 0x3C);
    std::uint8_t* quiet[6] = {silence.data(), silence.data()};
    std::uint8_t* loud[6] = {music.data(), music.data()};
    for (int b = 0; b < 50; ++b)
        ASSERT_TRUE(device.WriteBlock(0, quiet, nullptr));
    ASSERT_TRUE(device.ChangeRate(DsdRate::kDsd256));
    ASSERT_TRUE(device.WriteBlock(0, loud, nullptr));
    ASSERT_TRUE(device.CloseDriver());
    const Bytes f = testkit::ReadBytes(dir_ / "out.dsf");
    ASSERT_EQ(f.size(), 92u + 8192);
    EXPECT_EQ(Rate(f), 11289600u);
    EXPECT_EQ(f[92], 0x3C);
    EXPECT_FALSE(fs::exists(dir_ / "out-2.dsf"));
}

TEST_F(DsfSeriesTest, ARecordingThatCannotGoOnIsFailedNotStartedAfresh) {
    // The first file's name just fits a folder entry; every later name of the series is too long.
    const fs::path first = dir_ / (std::string(251, 'r') + ".dsf");
    CDSDASIO device;
    const std::u16string name = u"dsf:" + first.u16string();
    ASSERT_TRUE(device.OpenDriver(name.c_str())) << device.LastOpenError();
    Bytes block(4096, 0x55);
    std::uint8_t* channels[6] = {block.data(), block.data()};
    ASSERT_TRUE(device.WriteBlock(0, channels, nullptr));
    EXPECT_FALSE(device.ChangeRate(DsdRate::kDsd128));
    EXPECT_TRUE(device.resetRequest);
    EXPECT_FALSE(device.WriteBlock(0, channels, nullptr));
    device.CloseDriver();
    EXPECT_EQ(testkit::ReadBytes(first).size(), 92u + 8192); // the first one is kept as it is
}

TEST_F(DsfSeriesTest, ANameThatIsTakenIsPassedOverAndKept) {
    fs::create_directory(dir_ / "out-2.dsf");
    const Bytes kept(100, 0x11);
    testkit::WriteBytes(dir_ / "out-3.dsf", kept);
    CDSDASIO device;
    const std::u16string name = u"dsf:" + (dir_ / "out.dsf").u16string();
    ASSERT_TRUE(device.OpenDriver(name.c_str()));
    Bytes block(4096, 0x55);
    std::uint8_t* channels[6] = {block.data(), block.data()};
    ASSERT_TRUE(device.WriteBlock(0, channels, nullptr));
    ASSERT_TRUE(device.ChangeRate(DsdRate::kDsd128));
    ASSERT_TRUE(device.WriteBlock(0, channels, nullptr));
    ASSERT_TRUE(device.CloseDriver());
    EXPECT_TRUE(fs::is_directory(dir_ / "out-2.dsf"));
    EXPECT_EQ(testkit::ReadBytes(dir_ / "out-3.dsf"), kept);
    const Bytes f = testkit::ReadBytes(dir_ / "out-4.dsf");
    ASSERT_EQ(f.size(), 92u + 8192);
    EXPECT_EQ(Rate(f), 5644800u);
}

} // namespace
} // namespace mervanetest
