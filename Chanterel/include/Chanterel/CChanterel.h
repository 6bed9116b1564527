// Level and mute of the DSD playback path. The level is not applied to the DSD samples: it belongs to the
// output. With an "alsa:" or "dop:" output the level and mute act on the DAC's own playback volume and
// switch (the card's mixer element a user would pick); with "pcm:" the preview applies them in its PCM
// stage; with the other outputs (a file, the null sink) and with a DAC without a volume element they are
// kept as state only, so the player's dial and mute behave the same with every output. The output is the
// one the owner hands over with SetOutput (the engine hands its DSD output device).
#pragma once

#include "Platform/OutputLevelTarget.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace chanterel {
class Mixer;
class MixerElement;
using MixerOpener = std::function<std::unique_ptr<Mixer>(int card, std::string* error)>;
} // namespace chanterel

class CChanterel {
public:
    // Two channels: 0 left, 1 right.
    static constexpr long kChannelCount = 2;
    // The preview's level range: 1.0 is 0 dB, 0.0 silence, levels between spread evenly over this many dB.
    static constexpr double kSoftwareRangeDb = 60.0;
    // A card whose volume reaches down to "mute" (or very far) is mapped over its top this many dB.
    static constexpr double kMaxHardwareRangeDb = 100.0;

    // Acts on ALSA mixers; reports (once per output) on standard error why a level cannot reach the DAC.
    CChanterel();
    // For tests: mixers come from openMixer, reports go to report.
    CChanterel(chanterel::MixerOpener openMixer, std::function<void(const std::string&)> report);
    virtual ~CChanterel();
    CChanterel(const CChanterel&) = delete;
    CChanterel& operator=(const CChanterel&) = delete;

    // The output whose level this controls: followed to whichever driver it has open, and given the
    // preview's software gain. Null (the default): the level and mute are kept as state only. The output
    // must outlive the control, or be replaced first. Any thread.
    void SetOutput(platform::OutputLevelTarget* output);

    // Prepares the control; starts at full level, unmuted. readDeviceLevel / readDeviceMute: when an output
    // with a hardware volume is found, take its current level / mute as the start (else the control's own
    // state is written to it). Returns true. Any thread; never blocks for long.
    virtual bool Initialize(bool readDeviceLevel, bool readDeviceMute);
    // Ends the control; later calls fail until Initialize runs again. restoreDevice is reserved. Returns
    // true when it was initialised.
    virtual bool Uninitialize(bool restoreDevice);

    // Level of one channel, 0.0 (silent) to 1.0 (full): read from the DAC's element when there is one
    // (so a change made in another mixer shows), else the state. 0.0 for an unknown channel or when not
    // initialised.
    virtual float GetRFPlaybackLevel(long channel);
    // Sets every channel to level: the DAC's element (mapped over its dB range), the preview's gain, and
    // the state. False (nothing changes) when not initialised, when level is not a number or lies outside
    // [0.0, 1.0], or when the DAC refused it.
    virtual bool SetRFPlayBackLevelALL(float level);

    // Mute state, read from the DAC's switch when there is one; false when not initialised.
    virtual bool GetRFPlaybackMute();
    // Sets the mute state, keeping the levels: the DAC's playback switch, or its volume at the minimum when
    // it has no switch. False when not initialised or when the DAC refused it.
    virtual bool SetRFPlaybackMute(bool mute);

private:
    // Follows the output's open driver: binds to its mixer element when it changed. Lock held.
    void Follow();
    bool ApplyLevel(float level);
    bool ApplyMute(bool mute);
    float ReadLevel(int channel);
    void PublishSoftwareGain();

    chanterel::MixerOpener openMixer_;
    std::function<void(const std::string&)> report_;

    // Every member may be called from any thread; the state is small, so one lock covers it.
    std::mutex mutex_;
    platform::OutputLevelTarget* output_ = nullptr;
    bool initialized_ = false;
    bool readDeviceLevel_ = true;
    bool readDeviceMute_ = true;
    bool muted_ = false;
    std::array<float, kChannelCount> levels_{};
    // The driver bound to, by the output's generation count, and its element (owned by mixer_).
    std::uint64_t boundGeneration_ = ~std::uint64_t{0};
    std::unique_ptr<chanterel::Mixer> mixer_;
    chanterel::MixerElement* element_ = nullptr;
};
