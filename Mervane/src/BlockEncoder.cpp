#include "BlockEncoder.h"

#include "Mervane/DsdDriver.h"

namespace mervane {

namespace {
constexpr std::size_t kChannelBytes = DsdDriver::kChannelBlockBytes;
} // namespace

std::size_t NativeDsdEncoder::FramesPerBlock() const noexcept {
    return kChannelBytes / PcmFormatBytes(format_);
}

void NativeDsdEncoder::Encode(const std::uint8_t* left, const std::uint8_t* right,
                              std::uint8_t* out) noexcept {
    const std::size_t word = PcmFormatBytes(format_);
    const bool reversed = format_ == PcmFormat::DsdU32Le || format_ == PcmFormat::DsdU16Le;
    const std::uint8_t* channels[2] = {left, right};
    for (std::size_t at = 0; at < kChannelBytes; at += word) {
        for (const std::uint8_t* channel : channels) {
            for (std::size_t i = 0; i < word; ++i) {
                const std::size_t to = reversed ? word - 1 - i : i;
                out[to] = kBitReversed[channel[at + i]];
            }
            out += word;
        }
    }
}

std::size_t DopEncoder::FramesPerBlock() const noexcept {
    return kChannelBytes / 2;
}

void DopEncoder::Encode(const std::uint8_t* left, const std::uint8_t* right, std::uint8_t* out) noexcept {
    const bool padded = format_ == PcmFormat::S32Le;
    const std::uint8_t* channels[2] = {left, right};
    for (std::size_t at = 0; at < kChannelBytes; at += 2) {
        const std::uint8_t marker = nextIsB_ ? kMarkerB : kMarkerA;
        nextIsB_ = !nextIsB_;
        for (const std::uint8_t* channel : channels) {
            // Little-endian sample: lowest byte first. The later DSD byte sits below the earlier one.
            if (padded)
                *out++ = 0;
            *out++ = kBitReversed[channel[at + 1]];
            *out++ = kBitReversed[channel[at]];
            *out++ = marker;
        }
    }
}

} // namespace mervane
