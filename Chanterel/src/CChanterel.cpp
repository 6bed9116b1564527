#include "Chanterel/CChanterel.h"

#include "Mixer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The dB span a level of 0..1 is spread over on an element: its whole range, or the top of it when the
// bottom is "mute" or absurdly low, so that the dial's travel stays useful.
struct DbScale {
    long min = 0, max = 0;
};

bool ElementScale(chanterel::MixerElement* e, DbScale* s) {
    long min = 0, max = 0;
    if (!e->DbRange(&min, &max) || max <= min)
        return false;
    const long span = static_cast<long>(CChanterel::kMaxHardwareRangeDb * 100);
    s->min = std::max(min, max - span);
    s->max = max;
    return true;
}

} // namespace

CChanterel::CChanterel()
    : CChanterel(chanterel::OpenAlsaMixer,
                 [](const std::string& text) { std::fprintf(stderr, "level control: %s\n", text.c_str()); }) {
}

CChanterel::CChanterel(chanterel::MixerOpener openMixer, std::function<void(const std::string&)> report)
    : openMixer_(std::move(openMixer)), report_(std::move(report)) {}

CChanterel::~CChanterel() = default;

void CChanterel::SetOutput(platform::OutputLevelTarget* output) {
    std::lock_guard lock(mutex_);
    output_ = output;
    boundGeneration_ = ~std::uint64_t{0};
    element_ = nullptr;
    mixer_.reset();
    if (initialized_) {
        Follow();
        PublishSoftwareGain();
    }
}

bool CChanterel::Initialize(bool readDeviceLevel, bool readDeviceMute) {
    std::lock_guard lock(mutex_);
    initialized_ = true;
    readDeviceLevel_ = readDeviceLevel;
    readDeviceMute_ = readDeviceMute;
    muted_ = false;
    levels_.fill(1.0f);
    boundGeneration_ = ~std::uint64_t{0};
    Follow();
    PublishSoftwareGain();
    return true;
}

bool CChanterel::Uninitialize(bool /*restoreDevice*/) {
    std::lock_guard lock(mutex_);
    const bool wasInitialized = initialized_;
    initialized_ = false;
    element_ = nullptr;
    mixer_.reset();
    return wasInitialized;
}

void CChanterel::Follow() {
    if (!initialized_ || !output_ || output_->CurrentOutputGeneration() == boundGeneration_)
        return;
    const platform::OutputInfo info = output_->CurrentOutput();
    boundGeneration_ = info.generation;
    element_ = nullptr;
    mixer_.reset();
    if (info.kind != platform::OutputKind::NativeDsd && info.kind != platform::OutputKind::Dop)
        return;
    const std::string what = "\"" + info.pcmName + "\"";
    if (info.card < 0) {
        report_(what + " is not a sound card's own device, so it has no volume to set; the level is kept but "
                       "not applied");
        return;
    }
    std::string error;
    mixer_ = openMixer_ ? openMixer_(info.card, &error) : nullptr;
    if (!mixer_) {
        report_(error + "; the level is kept but not applied");
        return;
    }
    const std::string name = chanterel::ChooseElement(mixer_->PlaybackVolumes(), info.deviceName);
    element_ = name.empty() ? nullptr : mixer_->Element(name);
    if (!element_) {
        report_("card " + std::to_string(info.card) + " (" + what +
                ") has no playback volume; the level is kept but not applied");
        mixer_.reset();
        return;
    }
    // Either the DAC's settings become ours, or ours are written to it.
    bool on = true;
    if (readDeviceMute_ && element_->HasSwitch() && element_->GetSwitch(&on))
        muted_ = !on;
    else
        ApplyMute(muted_);
    if (readDeviceLevel_ && !(muted_ && !element_->HasSwitch())) {
        for (int c = 0; c < kChannelCount; ++c)
            levels_[static_cast<std::size_t>(c)] = ReadLevel(c);
    } else if (!muted_ || element_->HasSwitch()) {
        ApplyLevel(levels_[0]);
    }
}

bool CChanterel::ApplyLevel(float level) {
    if (!element_)
        return true;
    long rawMin = 0, rawMax = 0;
    if (!element_->RawRange(&rawMin, &rawMax))
        return false;
    if (level <= 0.0f)
        return element_->SetRaw(rawMin);
    DbScale s;
    if (ElementScale(element_, &s))
        return element_->SetDb(
            std::lround(s.min + static_cast<double>(level) * static_cast<double>(s.max - s.min)));
    return element_->SetRaw(rawMin +
                            std::lround(static_cast<double>(level) * static_cast<double>(rawMax - rawMin)));
}

bool CChanterel::ApplyMute(bool mute) {
    if (!element_)
        return true;
    if (element_->HasSwitch())
        return element_->SetSwitch(!mute);
    // No switch: muting is the volume at its minimum, unmuting puts the level back.
    if (mute) {
        long rawMin = 0, rawMax = 0;
        return element_->RawRange(&rawMin, &rawMax) && element_->SetRaw(rawMin);
    }
    return ApplyLevel(levels_[0]);
}

float CChanterel::ReadLevel(int channel) {
    const float kept = levels_[static_cast<std::size_t>(channel)];
    long rawMin = 0, rawMax = 0, raw = 0;
    if (!element_->RawRange(&rawMin, &rawMax) || !element_->GetRaw(channel, &raw))
        return kept;
    if (raw <= rawMin)
        return 0.0f;
    DbScale s;
    long db = 0;
    if (ElementScale(element_, &s) && element_->GetDb(channel, &db))
        return static_cast<float>(std::clamp(double(db - s.min) / double(s.max - s.min), 0.0, 1.0));
    if (rawMax <= rawMin)
        return kept;
    return static_cast<float>(std::clamp(double(raw - rawMin) / double(rawMax - rawMin), 0.0, 1.0));
}

void CChanterel::PublishSoftwareGain() {
    const float level = levels_[0];
    double gain = 0.0;
    if (!muted_ && level > 0.0f)
        gain = std::pow(10.0, (static_cast<double>(level) - 1.0) * kSoftwareRangeDb / 20.0);
    if (output_)
        output_->SetSoftwareGain(static_cast<float>(gain));
}

float CChanterel::GetRFPlaybackLevel(long channel) {
    std::lock_guard lock(mutex_);
    if (!initialized_ || channel < 0 || channel >= kChannelCount)
        return 0.0f;
    Follow();
    // While muted without a switch the element sits at its minimum; the level is the one kept.
    if (element_ && !(muted_ && !element_->HasSwitch()))
        levels_[static_cast<std::size_t>(channel)] = ReadLevel(static_cast<int>(channel));
    return levels_[static_cast<std::size_t>(channel)];
}

bool CChanterel::SetRFPlayBackLevelALL(float level) {
    // A NaN fails both comparisons, so it is refused with the out-of-range values.
    if (!(level >= 0.0f && level <= 1.0f))
        return false;
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return false;
    Follow();
    if (!(muted_ && element_ && !element_->HasSwitch()) && !ApplyLevel(level))
        return false;
    levels_.fill(level);
    PublishSoftwareGain();
    return true;
}

bool CChanterel::GetRFPlaybackMute() {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return false;
    Follow();
    bool on = true;
    if (element_ && element_->HasSwitch() && element_->GetSwitch(&on))
        muted_ = !on;
    return muted_;
}

bool CChanterel::SetRFPlaybackMute(bool mute) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return false;
    Follow();
    const bool was = muted_;
    muted_ = mute;
    if (!ApplyMute(mute)) {
        muted_ = was;
        return false;
    }
    PublishSoftwareGain();
    return true;
}
