// Level and mute of the DSD playback path. The level is not applied to the samples: it belongs to the
// output (a DAC's own attenuator, later). For the file and null outputs the object holds the per-channel
// level and the mute switch, so the player's dial and mute behave the same with every output.
#pragma once

#include <array>
#include <mutex>

class CChanterel {
public:
    // Two channels: 0 left, 1 right.
    static constexpr long kChannelCount = 2;

    CChanterel() noexcept = default;
    virtual ~CChanterel();
    CChanterel(const CChanterel&) = delete;
    CChanterel& operator=(const CChanterel&) = delete;

    // Prepares the control. The flags are reserved for outputs with a hardware attenuator (take the
    // device's level as the start value; keep the device's mute); the file and null outputs ignore them.
    // Starts at full level, unmuted. Returns true. Any thread; never blocks for long.
    virtual bool Initialize(bool readDeviceLevel, bool readDeviceMute);
    // Ends the control; later calls fail until Initialize runs again. restoreDevice is reserved (see
    // Initialize). Returns true when it was initialised.
    virtual bool Uninitialize(bool restoreDevice);

    // Level of one channel, 0.0 (silent) to 1.0 (full). 0.0 for an unknown channel or when not
    // initialised.
    virtual float GetRFPlaybackLevel(long channel) const;
    // Sets every channel to level. False (nothing changes) when not initialised, or when level is not a
    // number or lies outside [0.0, 1.0].
    virtual bool SetRFPlayBackLevelALL(float level);

    // Mute state; false when not initialised.
    virtual bool GetRFPlaybackMute() const;
    // Sets the mute state, keeping the levels. False when not initialised.
    virtual bool SetRFPlaybackMute(bool mute);

private:
    // Every member may be called from any thread; the state is small, so one lock covers it.
    mutable std::mutex mutex_;
    bool initialized_ = false;
    bool muted_ = false;
    std::array<float, kChannelCount> levels_{};
};
