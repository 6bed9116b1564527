// The rate a track plays at, and the arithmetic between played bytes and milliseconds at a rate.
#pragma once

#include "Platform/DsdRate.h"
#include "Platform/Types.h"

#include <cstdint>
#include <string>

namespace engine {

using platform::DsdRate;

// The rate PCM (WAV, other PCM files, a disc) plays at: the one a DsdRate setting asks for (64, 128, 256
// or 512; anything else is 64), lowered to the highest the output takes; DSD64 when it takes none (nothing
// is open yet).
DsdRate PcmRateFor(DWORD setting, platform::DsdRateSet outputRates) noexcept;

// Why an output does not take a track's rate, naming the rates it takes.
std::string RateRefusalText(const std::string& driverName, DsdRate rate, platform::DsdRateSet outputRates);

// Elapsed ms of a count of played bytes (both channels) at the rate: DSD64 has 352 800 bytes per second
// of one channel (2 822 400 / 8), the higher rates two, four and eight times that.
constexpr std::uint32_t PlayedMs(std::uint64_t playedBytes, DsdRate rate) noexcept {
    return static_cast<std::uint32_t>(((playedBytes / 2) * 1000) / platform::DsdBytesPerSecond(rate));
}

// The smallest played-bytes count, in whole stereo bytes, whose PlayedMs is ms.
constexpr std::uint64_t PlayedBytesForMs(std::uint32_t ms, DsdRate rate) noexcept {
    return ((std::uint64_t{ms} * platform::DsdBytesPerSecond(rate) + 999) / 1000) * 2;
}

// The DSD file source counts 4-byte elements per channel: 88 200 a second at DSD64.
constexpr std::uint64_t DsdElementsPerSecond(DsdRate rate) noexcept {
    return platform::DsdBytesPerSecond(rate) / 4;
}

} // namespace engine
