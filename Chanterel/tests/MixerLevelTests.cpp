// The level and mute acting on a DAC's mixer element (a fake card), on the PCM preview's gain, and kept as
// state when there is nothing to act on.
#include "Chanterel/CChanterel.h"
#include "Mixer.h"
#include "Platform/OutputLevelTarget.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

// An element with `steps` raw steps spread evenly over [minDb, maxDb] (hundredths of a dB).
class FakeElement final : public chanterel::MixerElement {
public:
    FakeElement(long minDb, long maxDb, long steps, bool hasSwitch, bool hasDb = true)
        : minDb_(minDb), maxDb_(maxDb), steps_(steps), hasSwitch_(hasSwitch),
          hasDb_(hasDb), raw_{steps, steps} {}

    bool DbRange(long* min, long* max) override {
        *min = minDb_;
        *max = maxDb_;
        return hasDb_;
    }
    bool SetDb(long centiDb) override {
        if (refuse)
            return false;
        if (amplitude) {
            raw_.fill(std::clamp(std::lround(double(steps_) * std::pow(10.0, double(centiDb) / 2000.0)), 1L,
                                 steps_));
            return true;
        }
        const double step = double(maxDb_ - minDb_) / double(steps_);
        raw_.fill(std::clamp(std::lround(double(centiDb - minDb_) / step), 0L, steps_));
        return true;
    }
    bool GetDb(int channel, long* centiDb) override {
        if (amplitude) {
            *centiDb = std::lround(2000.0 * std::log10(double(std::max(raw_[channel], 1L)) / double(steps_)));
            return true;
        }
        *centiDb = minDb_ + std::lround(double(raw_[channel]) * double(maxDb_ - minDb_) / double(steps_));
        return hasDb_;
    }
    bool RawRange(long* min, long* max) override {
        *min = 0;
        *max = steps_;
        return true;
    }
    bool SetRaw(long value) override {
        if (refuse)
            return false;
        raw_.fill(value);
        return true;
    }
    bool GetRaw(int channel, long* value) override {
        *value = raw_[channel];
        return true;
    }
    bool HasSwitch() override { return hasSwitch_; }
    bool SetSwitch(bool on) override {
        on_ = on;
        return true;
    }
    bool GetSwitch(bool* on) override {
        *on = on_;
        return true;
    }

    long Db(int channel = 0) {
        long db = 0;
        GetDb(channel, &db);
        return db;
    }
    long minDb_, maxDb_, steps_;
    bool hasSwitch_, hasDb_;
    std::array<long, 2> raw_;
    bool on_ = true;
    bool refuse = false;
    bool amplitude = false; // steps linear in amplitude: dB = 20 log10(raw / steps), minDb at raw 1
};

class FakeMixer final : public chanterel::Mixer {
public:
    std::vector<std::string> PlaybackVolumes() override { return order; }
    chanterel::MixerElement* Element(const std::string& name) override {
        const auto it = elements.find(name);
        return it == elements.end() ? nullptr : it->second.get();
    }
    std::vector<std::string> order;
    std::map<std::string, std::unique_ptr<FakeElement>> elements;
};

// The output device as the level control sees it: what is open, and the gain it was given.
class FakeOutput final : public platform::OutputLevelTarget {
public:
    platform::OutputInfo CurrentOutput() const override { return info; }
    std::uint64_t CurrentOutputGeneration() const noexcept override { return info.generation; }
    void SetSoftwareGain(float g) noexcept override { gain = g; }

    // As a driver being opened, or closed (OutputKind::None).
    void Open(platform::OutputKind kind, int card, const std::string& deviceName) {
        const std::uint64_t generation = info.generation + 1;
        info = {kind, "hw:" + std::to_string(card) + ",0", card, deviceName, generation};
    }
    void Close() { info = {platform::OutputKind::None, "", -1, "", info.generation + 1}; }

    platform::OutputInfo info;
    float gain = 1.0f;
};

class MixerLevelTest : public ::testing::Test {
protected:
    FakeElement* AddElement(const std::string& name, std::unique_ptr<FakeElement> e) {
        auto* raw = e.get();
        mixer_.order.push_back(name);
        mixer_.elements[name] = std::move(e);
        return raw;
    }
    // Opens an output as a driver would, then makes the control, hands it the output and initialises it.
    void Open(platform::OutputKind kind, int card, const std::string& deviceName, bool readDevice = false) {
        output_.Open(kind, card, deviceName);
        chanterel_ = std::make_unique<CChanterel>(
            [this](int cardIndex, std::string* error) -> std::unique_ptr<chanterel::Mixer> {
                cardsOpened_.push_back(cardIndex);
                if (mixer_.order.empty() && mixer_.elements.empty() && failOpen_) {
                    *error = "no mixer";
                    return nullptr;
                }
                // Hands the fake over once; the test keeps pointers to its elements.
                auto m = std::make_unique<FakeMixer>();
                m->order = mixer_.order;
                m->elements = std::move(mixer_.elements);
                return m;
            },
            [this](const std::string& text) { reports_.push_back(text); });
        chanterel_->SetOutput(&output_);
        ASSERT_TRUE(chanterel_->Initialize(readDevice, readDevice));
    }

    FakeMixer mixer_;
    bool failOpen_ = false;
    std::vector<int> cardsOpened_;
    std::vector<std::string> reports_;
    FakeOutput output_;
    std::unique_ptr<CChanterel> chanterel_;
};

TEST(ElementChoice, PrefersThePcmsOwnNameThenPcmThenMasterThenTheFirst) {
    using chanterel::ChooseElement;
    EXPECT_EQ(ChooseElement({"Headphone", "PCM", "Master", "USB DAC"}, "usb dac"), "USB DAC");
    EXPECT_EQ(ChooseElement({"Headphone", "Master", "pcm"}, "USB Audio"), "pcm");
    EXPECT_EQ(ChooseElement({"Headphone", "Master"}, ""), "Master");
    EXPECT_EQ(ChooseElement({"Headphone", "Speaker"}, "USB Audio"), "Headphone");
    EXPECT_EQ(ChooseElement({}, "USB Audio"), "");
}

TEST_F(MixerLevelTest, TheLevelIsSpreadOverTheElementsDecibelsNotItsSteps) {
    AddElement("Headphone", std::make_unique<FakeElement>(-6000, 0, 60, true));
    FakeElement* pcm = AddElement("PCM", std::make_unique<FakeElement>(-9600, 0, 192, true));
    Open(platform::OutputKind::NativeDsd, 2, "USB Audio");
    EXPECT_EQ(cardsOpened_, std::vector<int>{2});
    EXPECT_EQ(pcm->Db(), 0); // full level written at start

    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    EXPECT_EQ(pcm->Db(), -4800); // half way in dB
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(0), 0.5f, 0.004f);
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(1), 0.5f, 0.004f);
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(1.0f));
    EXPECT_EQ(pcm->Db(), 0);
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.0f));
    EXPECT_EQ(pcm->raw_[0], 0); // the minimum
    EXPECT_EQ(chanterel_->GetRFPlaybackLevel(0), 0.0f);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(MixerLevelTest, StepsLinearInAmplitudeStillGiveEvenDecibels) {
    auto element = std::make_unique<FakeElement>(-6000, 0, 1000, true);
    element->amplitude = true;
    FakeElement* e = AddElement("PCM", std::move(element));
    Open(platform::OutputKind::NativeDsd, 2, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    EXPECT_EQ(e->raw_[0], 32); // -30 dB; half the steps would be -6 dB
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(0), 0.5f, 0.005f);
}

TEST_F(MixerLevelTest, AVolumeReachingDownToMuteIsMappedOverItsTopHundredDecibels) {
    FakeElement* master = AddElement("Master", std::make_unique<FakeElement>(-9999999, 0, 100000, false));
    Open(platform::OutputKind::Dop, 1, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.25f));
    EXPECT_NEAR(master->Db(), -7500, 150);
}

TEST_F(MixerLevelTest, AnElementWithoutDecibelsIsSetInSteps) {
    FakeElement* e = AddElement("Speaker", std::make_unique<FakeElement>(0, 0, 40, true, false));
    Open(platform::OutputKind::NativeDsd, 0, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.25f));
    EXPECT_EQ(e->raw_[0], 10);
    EXPECT_FLOAT_EQ(chanterel_->GetRFPlaybackLevel(0), 0.25f);
}

TEST_F(MixerLevelTest, MuteUsesTheSwitchAndKeepsTheVolume) {
    FakeElement* pcm = AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 200, true));
    Open(platform::OutputKind::NativeDsd, 3, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.8f));
    const long db = pcm->Db();
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(true));
    EXPECT_FALSE(pcm->on_);
    EXPECT_EQ(pcm->Db(), db);
    EXPECT_TRUE(chanterel_->GetRFPlaybackMute());
    // Unmuted from another mixer: the control sees it.
    pcm->on_ = true;
    EXPECT_FALSE(chanterel_->GetRFPlaybackMute());
}

TEST_F(MixerLevelTest, WithoutASwitchMuteIsTheMinimumAndUnmuteRestoresTheLevel) {
    FakeElement* pcm = AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 200, false));
    Open(platform::OutputKind::NativeDsd, 3, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.6f));
    const long db = pcm->Db();
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(true));
    EXPECT_EQ(pcm->raw_[0], 0);
    EXPECT_FLOAT_EQ(chanterel_->GetRFPlaybackLevel(0), 0.6f); // the kept level, not the minimum
    // A level set while muted is kept for the unmute, and does not unmute by itself.
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.7f));
    EXPECT_EQ(pcm->raw_[0], 0);
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(false));
    EXPECT_GT(pcm->Db(), db);
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(0), 0.7f, 0.01f);
}

TEST_F(MixerLevelTest, StartsFromTheDacsOwnSettingsWhenAskedTo) {
    FakeElement* pcm = AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 100, true));
    pcm->raw_.fill(25); // -75 dB
    pcm->on_ = false;
    Open(platform::OutputKind::NativeDsd, 1, "", true);
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(0), 0.25f, 0.001f);
    EXPECT_TRUE(chanterel_->GetRFPlaybackMute());
    EXPECT_EQ(pcm->raw_[0], 25); // nothing written
}

TEST_F(MixerLevelTest, ARefusedLevelKeepsTheOldOne) {
    FakeElement* pcm = AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 100, true));
    Open(platform::OutputKind::NativeDsd, 1, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    pcm->refuse = true;
    EXPECT_FALSE(chanterel_->SetRFPlayBackLevelALL(0.9f));
    EXPECT_NEAR(chanterel_->GetRFPlaybackLevel(0), 0.5f, 0.01f);
}

TEST_F(MixerLevelTest, ACardWithoutAVolumeKeepsTheLevelAsStateAndSaysSoOnce) {
    Open(platform::OutputKind::NativeDsd, 4, "USB Audio");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.3f));
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(true));
    EXPECT_EQ(chanterel_->GetRFPlaybackLevel(0), 0.3f);
    EXPECT_TRUE(chanterel_->GetRFPlaybackMute());
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_NE(reports_[0].find("no playback volume"), std::string::npos) << reports_[0];
}

TEST_F(MixerLevelTest, APluginWithoutACardIsReportedAndFileOutputsAreNot) {
    Open(platform::OutputKind::Dop, -1, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.3f));
    EXPECT_EQ(reports_.size(), 1u);
    EXPECT_TRUE(cardsOpened_.empty());

    output_.Close(); // now nothing (a file or null output) is open
    reports_.clear();
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.4f));
    EXPECT_EQ(chanterel_->GetRFPlaybackLevel(1), 0.4f);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(MixerLevelTest, ThePreviewGetsTheLevelAsAGainInDecibelsAndMuteAsSilence) {
    Open(platform::OutputKind::PcmPreview, -1, "");
    EXPECT_FLOAT_EQ(output_.gain, 1.0f);
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    EXPECT_NEAR(20 * std::log10(output_.gain), -30.0, 0.01);
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(true));
    EXPECT_EQ(output_.gain, 0.0f);
    ASSERT_TRUE(chanterel_->SetRFPlaybackMute(false));
    EXPECT_NEAR(20 * std::log10(output_.gain), -30.0, 0.01);
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.0f));
    EXPECT_EQ(output_.gain, 0.0f);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(MixerLevelTest, ANewOutputIsFollowed) {
    AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 100, true));
    Open(platform::OutputKind::NativeDsd, 5, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    // The driver is reopened on another card: the control binds to that card's mixer on its next call.
    output_.Close();
    output_.Open(platform::OutputKind::Dop, 6, "");
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    EXPECT_EQ(cardsOpened_, (std::vector<int>{5, 6}));
}

TEST_F(MixerLevelTest, WithoutAnOutputTheLevelIsStateUntilOneIsHandedOver) {
    AddElement("PCM", std::make_unique<FakeElement>(-10000, 0, 100, true));
    Open(platform::OutputKind::NativeDsd, 7, "");
    chanterel_->SetOutput(nullptr); // the card's mixer is let go
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.5f));
    EXPECT_EQ(chanterel_->GetRFPlaybackLevel(0), 0.5f);
    EXPECT_EQ(cardsOpened_, std::vector<int>{7});

    // A preview handed over later gets the kept level as its gain at once; a card is bound again.
    FakeOutput preview;
    preview.Open(platform::OutputKind::PcmPreview, -1, "");
    chanterel_->SetOutput(&preview);
    EXPECT_NEAR(20 * std::log10(preview.gain), -30.0, 0.01);
    chanterel_->SetOutput(&output_);
    ASSERT_TRUE(chanterel_->SetRFPlayBackLevelALL(0.25f));
    EXPECT_EQ(cardsOpened_, (std::vector<int>{7, 7}));
}

} // namespace
