#include "Chanterel/CChanterel.h"

#include <cmath>

CChanterel::~CChanterel() = default;

bool CChanterel::Initialize(bool /*readDeviceLevel*/, bool /*readDeviceMute*/) {
    std::lock_guard lock(mutex_);
    initialized_ = true;
    muted_ = false;
    levels_.fill(1.0f);
    return true;
}

bool CChanterel::Uninitialize(bool /*restoreDevice*/) {
    std::lock_guard lock(mutex_);
    const bool wasInitialized = initialized_;
    initialized_ = false;
    return wasInitialized;
}

float CChanterel::GetRFPlaybackLevel(long channel) const {
    std::lock_guard lock(mutex_);
    if (!initialized_ || channel < 0 || channel >= kChannelCount)
        return 0.0f;
    return levels_[static_cast<std::size_t>(channel)];
}

bool CChanterel::SetRFPlayBackLevelALL(float level) {
    // A NaN fails both comparisons, so it is refused with the out-of-range values.
    if (!(level >= 0.0f && level <= 1.0f))
        return false;
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return false;
    levels_.fill(level);
    return true;
}

bool CChanterel::GetRFPlaybackMute() const {
    std::lock_guard lock(mutex_);
    return initialized_ && muted_;
}

bool CChanterel::SetRFPlaybackMute(bool mute) {
    std::lock_guard lock(mutex_);
    if (!initialized_)
        return false;
    muted_ = mute;
    return true;
}
