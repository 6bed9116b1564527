#include "NullDriver.h"

#include <thread>

namespace mervane {

bool NullDriver::WriteBlock(const std::uint8_t* /*left*/, const std::uint8_t* /*right*/) noexcept {
    if (closed_)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (sinceStart_ == 0) {
        start_ = now;
    } else {
        const auto due = start_ + std::chrono::nanoseconds(BlockStartNs(sinceStart_, rate_));
        if (now > due + kMaxLateness) {
            ++underruns_;
            start_ = now;
            sinceStart_ = 0;
        } else {
            std::this_thread::sleep_until(due);
        }
    }
    ++sinceStart_;
    ++blocks_;
    return true;
}

bool NullDriver::ChangeRate(DsdRate rate) noexcept {
    rate_ = rate;
    sinceStart_ = 0;
    return true;
}

bool NullDriver::Close() noexcept {
    closed_ = true;
    return true;
}

} // namespace mervane
