// "auto" and the output survey on made-up machines: cards whose devices take given formats.
#include "FakePcmDevice.h"
#include "Mervane/DsdDriver.h"
#include "Mervane/OutputSurvey.h"
#include "OutputSystem.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace mervanetest {
namespace {

using mervane::PcmFormat;

class FakeSystem final : public mervane::OutputSystem {
public:
    // A playback device; its formats are what it takes (DSD at the DSD64 frame rates, PCM at 88 200 and
    // 176 400 Hz).
    void Add(const std::string& name, std::set<PcmFormat> formats, bool hardware = true,
             std::set<unsigned> dsdMultiples = {1}) {
        auto& s = states_[name];
        s.accepted = std::move(formats);
        s.dsdMultiples = std::move(dsdMultiples);
        s.pcmRates = {88200, 176400};
        if (hardware)
            devices_.push_back({name, "fake " + name});
    }
    std::vector<mervane::HardwarePcm> PlaybackDevices() override { return devices_; }
    std::unique_ptr<mervane::PcmDevice> Open(const std::string& name, std::string* error) override {
        opened_.push_back(name);
        const auto it = states_.find(name);
        if (it == states_.end()) {
            *error = "no such device";
            return nullptr;
        }
        return std::make_unique<FakePcmDevice>(&it->second);
    }
    std::vector<std::string> opened_;

private:
    std::vector<mervane::HardwarePcm> devices_;
    std::map<std::string, FakePcmDevice::State> states_;
};

std::string Auto(FakeSystem& system) {
    std::string chosen;
    auto driver = mervane::OpenAutoDriver(system, &chosen);
    EXPECT_NE(driver, nullptr);
    if (driver)
        driver->Close();
    return chosen;
}

TEST(AutoOutput, TakesTheFirstCardWithNativeDsdSkippingPcmOnlyAndDopOnlyCards) {
    FakeSystem system;
    system.Add("hw:0,0", {PcmFormat::S16Le, PcmFormat::S32Le}); // onboard sound: PCM only (would carry DoP)
    system.Add("hw:1,0", {PcmFormat::DsdU8});
    system.Add("hw:2,0", {PcmFormat::DsdU32Be});
    system.Add("default", {PcmFormat::S32Le}, false);
    EXPECT_EQ(Auto(system), "alsa:hw:1,0");
    // Each device was opened once: the chosen one was not probed and reopened. Both take DSD64 only, so
    // the first wins.
    EXPECT_EQ(std::count(system.opened_.begin(), system.opened_.end(), "hw:1,0"), 1);
    EXPECT_EQ(std::count(system.opened_.begin(), system.opened_.end(), "hw:2,0"), 1);
}

TEST(AutoOutput, FallsBackToThePreviewOnDefaultAndThenToNull) {
    FakeSystem preview;
    preview.Add("hw:0,0", {PcmFormat::S16Le});
    preview.Add("default", {PcmFormat::S16Le, PcmFormat::S32Le}, false);
    EXPECT_EQ(Auto(preview), "pcm:default");

    FakeSystem nothing;
    nothing.Add("hw:0,0", {PcmFormat::S16Le});
    EXPECT_EQ(Auto(nothing), "null");

    FakeSystem empty;
    EXPECT_EQ(Auto(empty), "null");
}

TEST(AutoOutput, TheChosenOutputDescribesItselfForTheLevelControl) {
    FakeSystem system;
    system.Add("hw:3,0", {PcmFormat::DsdU16Le});
    std::string chosen;
    auto driver = mervane::OpenAutoDriver(system, &chosen);
    ASSERT_NE(driver, nullptr);
    const auto info = driver->Describe();
    EXPECT_EQ(info.kind, platform::OutputKind::NativeDsd);
    EXPECT_EQ(info.pcmName, "hw:3,0");
    EXPECT_EQ(info.deviceName, "Fake DAC");
    driver->Close();
}

// The names a user may give, as the command line's help and errors list them; every built-in driver once.
TEST(BuiltInDrivers, NamesTextListsEachDriverOnceInItsOrder) {
    EXPECT_STREQ(
        mervane::DsdDriverNamesText(),
        "\"alsa:PCM\" (native DSD to an ALSA device, e.g. alsa:hw:1,0), \"dop:PCM\" (DSD over PCM), "
        "\"pcm:PCM\" (a PCM preview, e.g. pcm:default), \"auto\" (the DSD card taking the highest rate, "
        "else pcm:default, else null), \"dsf:PATH\" (record the stream as a DSF file) or \"null\" (discard "
        "the stream at the pace of its DSD rate)");
    std::string error;
    EXPECT_NE(mervane::OpenDsdDriver("null", &error), nullptr) << error;
    EXPECT_EQ(mervane::OpenDsdDriver("nul", &error), nullptr);
    EXPECT_EQ(error, "no driver named \"nul\"");
    EXPECT_EQ(mervane::OpenDsdDriver("dsf:", &error), nullptr);
    EXPECT_EQ(error, "\"dsf:\" needs a file path after the colon");
}

TEST(OutputSurvey, ListsWhatEachDeviceTakes) {
    FakeSystem system;
    system.Add("hw:0,0", {PcmFormat::S16Le, PcmFormat::S24_3Le});
    system.Add("hw:1,0", {PcmFormat::DsdU32Le, PcmFormat::DsdU8, PcmFormat::S32Le});
    system.Add("default", {PcmFormat::S16Le}, false);
    const auto report = mervane::SurveyOutputs(system);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].pcmName, "hw:0,0");
    EXPECT_TRUE(report[0].nativeFormats.empty());
    EXPECT_EQ(report[0].dopFormats, std::vector<std::string>{"S24_3LE"});
    EXPECT_EQ(report[1].nativeFormats, (std::vector<std::string>{"DSD_U32_LE", "DSD_U8"}));
    EXPECT_EQ(report[1].dopFormats, std::vector<std::string>{"S32_LE"});
    EXPECT_EQ(report[1].pcmFormat, "S32_LE at 88200 Hz");
    EXPECT_EQ(report[2].pcmName, "default");
    EXPECT_EQ(report[2].pcmFormat, "S16_LE at 88200 Hz");
}

} // namespace
} // namespace mervanetest

namespace mervanetest {
namespace {

TEST(AutoOutput, PrefersTheCardThatTakesTheHighestRate) {
    FakeSystem system;
    system.Add("hw:0,0", {PcmFormat::DsdU8});
    system.Add("hw:1,0", {PcmFormat::DsdU32Be}, true, {1, 2, 4});
    system.Add("hw:2,0", {PcmFormat::DsdU16Le}, true, {1, 2});
    std::string chosen, error;
    auto driver = mervane::OpenAutoDriver(system, &chosen, platform::DsdRate::kDsd256, &error);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(chosen, "alsa:hw:1,0");
    EXPECT_EQ(driver->Rate(), platform::DsdRate::kDsd256);
    driver->Close();
    EXPECT_EQ(mervane::AutoDriverRates(system),
              platform::kAllDsdRates & ~platform::DsdRateBit(platform::DsdRate::kDsd512));

    // A card that goes up to DSD512 wins over one before it that stops at DSD256.
    system.Add("hw:3,0", {PcmFormat::DsdU32Le}, true, {1, 2, 4, 8});
    driver = mervane::OpenAutoDriver(system, &chosen, platform::DsdRate::kDsd512, &error);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(chosen, "alsa:hw:3,0");
    EXPECT_EQ(driver->Rate(), platform::DsdRate::kDsd512);
    driver->Close();
    EXPECT_EQ(mervane::AutoDriverRates(system), platform::kAllDsdRates);

    // Where no card takes the rate asked for, "auto" says what the best one takes.
    FakeSystem lower;
    lower.Add("hw:0,0", {PcmFormat::DsdU8}, true, {1, 2});
    EXPECT_EQ(mervane::OpenAutoDriver(lower, &chosen, platform::DsdRate::kDsd256, &error), nullptr);
    EXPECT_EQ(error, "\"alsa:hw:0,0\" does not take DSD256; it takes DSD64 and DSD128");
}

} // namespace
} // namespace mervanetest
