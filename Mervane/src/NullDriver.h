// The "null" driver: a sink that takes blocks at the pace a DSD DAC at the stream's rate would and discards
// them.
#pragma once

#include "Mervane/DsdDriver.h"

#include <chrono>

namespace mervane {

// Block n of the stream is due at the start time + n block durations (4096 x 8 / 2 822 400 s at DSD64,
// a half, a quarter and an eighth of that at DSD128, DSD256 and DSD512); WriteBlock
// returns once the block's time has come, as a device with a buffer of one block accepts it. A writer that
// falls more than kMaxLateness behind (an underrun on a real device) restarts the clock at the late block
// instead of rushing to catch up.
class NullDriver final : public DsdDriver {
public:
    static constexpr std::chrono::milliseconds kMaxLateness{100};

    explicit NullDriver(DsdRate rate = DsdRate::kDsd64) noexcept : rate_(rate) {}

    bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept override;
    bool Close() noexcept override;
    DsdRate Rate() const noexcept override { return rate_; }
    // The clock starts afresh at the new rate with the next block.
    bool ChangeRate(DsdRate rate) noexcept override;

    // Blocks accepted so far, and how often the writer was late enough to restart the clock.
    std::uint64_t BlockCount() const noexcept { return blocks_; }
    std::uint64_t Underruns() const noexcept override { return underruns_; }

    // Time of block n after the start, in nanoseconds, exact (no accumulated rounding): n x 32 768 /
    // 2 822 400 s = n x 512 / 44 100 s at DSD64, divided by the rate's multiple above it.
    static constexpr std::int64_t BlockStartNs(std::uint64_t n, DsdRate rate = DsdRate::kDsd64) noexcept {
        return static_cast<std::int64_t>(
            n * 512'000'000'000ull /
            (44'100ull * static_cast<std::uint64_t>(platform::DsdRateMultiple(rate))));
    }

private:
    DsdRate rate_;
    std::chrono::steady_clock::time_point start_{};
    std::uint64_t sinceStart_ = 0; // blocks since start_
    std::uint64_t blocks_ = 0;
    std::uint64_t underruns_ = 0;
    bool closed_ = false;
};

} // namespace mervane
