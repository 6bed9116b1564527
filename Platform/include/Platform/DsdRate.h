// The DSD sample rates a stream may run at: 64, 128, 256 or 512 times 44 100 Hz. Whatever the rate, a
// device block holds 4096 bytes per channel, so a block lasts 11.6, 5.8, 2.9 or 1.45 ms. Shared by the output
// library and the engine; the values equal the up-converter's own rate multiples.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace platform {

enum class DsdRate : int {
    kDsd64 = 1,
    kDsd128 = 2,
    kDsd256 = 4,
    kDsd512 = 8,
};

inline constexpr DsdRate kDsdRates[] = {DsdRate::kDsd64, DsdRate::kDsd128, DsdRate::kDsd256,
                                        DsdRate::kDsd512};
inline constexpr std::uint32_t kDsd64SampleRate = 2822400;

// Times DSD64.
constexpr int DsdRateMultiple(DsdRate rate) noexcept {
    return static_cast<int>(rate);
}
// One-bit samples per second per channel: 2 822 400, 5 644 800, 11 289 600 or 22 579 200.
constexpr std::uint32_t DsdSampleRate(DsdRate rate) noexcept {
    return kDsd64SampleRate * static_cast<std::uint32_t>(DsdRateMultiple(rate));
}
// DSD bytes per second of one channel: 352 800 at DSD64.
constexpr std::uint64_t DsdBytesPerSecond(DsdRate rate) noexcept {
    return DsdSampleRate(rate) / 8;
}
// The number in the rate's name: 64, 128, 256 or 512.
constexpr int DsdRateNumber(DsdRate rate) noexcept {
    return 64 * DsdRateMultiple(rate);
}
// "DSD64", "DSD128", "DSD256", "DSD512".
constexpr const char* DsdRateName(DsdRate rate) noexcept {
    switch (rate) {
    case DsdRate::kDsd64:
        return "DSD64";
    case DsdRate::kDsd128:
        return "DSD128";
    case DsdRate::kDsd256:
        return "DSD256";
    case DsdRate::kDsd512:
        return "DSD512";
    }
    return "DSD64";
}
// The rate of a sample rate in Hz, or of its number (64, 128, 256, 512); none for anything else.
constexpr std::optional<DsdRate> DsdRateFromSampleRate(std::uint64_t hz) noexcept {
    for (DsdRate rate : kDsdRates)
        if (hz == DsdSampleRate(rate))
            return rate;
    return std::nullopt;
}
constexpr std::optional<DsdRate> DsdRateFromNumber(std::uint64_t number) noexcept {
    for (DsdRate rate : kDsdRates)
        if (number == static_cast<std::uint64_t>(DsdRateNumber(rate)))
            return rate;
    return std::nullopt;
}

// A set of rates, one bit per rate (the bit of its multiple).
using DsdRateSet = unsigned;
inline constexpr DsdRateSet kAllDsdRates = 1u | 2u | 4u | 8u;
constexpr DsdRateSet DsdRateBit(DsdRate rate) noexcept {
    return static_cast<DsdRateSet>(DsdRateMultiple(rate));
}
constexpr bool DsdRateSetHas(DsdRateSet set, DsdRate rate) noexcept {
    return (set & DsdRateBit(rate)) != 0;
}
// The highest rate of the set that is not above limit; none when the set holds no such rate.
constexpr std::optional<DsdRate> HighestDsdRate(DsdRateSet set, DsdRate limit = DsdRate::kDsd512) noexcept {
    std::optional<DsdRate> best;
    for (DsdRate rate : kDsdRates)
        if (DsdRateSetHas(set, rate) && DsdRateMultiple(rate) <= DsdRateMultiple(limit))
            best = rate;
    return best;
}
// "DSD64", "DSD64 and DSD128", "DSD64, DSD128 and DSD256"; "no DSD rate" for the empty set.
inline std::string DsdRateSetText(DsdRateSet set) {
    std::string names[std::size(kDsdRates)];
    int count = 0;
    for (DsdRate rate : kDsdRates)
        if (DsdRateSetHas(set, rate))
            names[count++] = DsdRateName(rate);
    if (count == 0)
        return "no DSD rate";
    std::string text = names[0];
    for (int i = 1; i < count; ++i)
        text += (i + 1 == count ? " and " : ", ") + names[i];
    return text;
}

} // namespace platform
