#include "PcmPreviewDriver.h"

#include <algorithm>
#include <cmath>

namespace mervane {

PcmPreviewEncoder::PcmPreviewEncoder(PcmFormat format, unsigned rate)
    : format_(format), rate_(rate), left_(rate), right_(rate) {
    leftOut_.assign(FramesPerBlock(), 0.0f);
    rightOut_.assign(FramesPerBlock(), 0.0f);
}

std::size_t PcmPreviewEncoder::FramesPerBlock() const noexcept {
    return DsdDriver::kChannelBlockBytes * 8 / left_.Factor();
}

void PcmPreviewEncoder::Encode(const std::uint8_t* left, const std::uint8_t* right,
                               std::uint8_t* out) noexcept {
    left_.Process(left, DsdDriver::kChannelBlockBytes, leftOut_.data());
    right_.Process(right, DsdDriver::kChannelBlockBytes, rightOut_.data());
    const std::size_t frames = FramesPerBlock();
    const float target = target_.load(std::memory_order_relaxed);
    const float from = gain_ < 0 ? target : gain_;
    gain_ = target;
    for (std::size_t i = 0; i < frames; ++i) {
        const float g = from + (target - from) * static_cast<float>(i + 1) / static_cast<float>(frames);
        for (const float* channel : {leftOut_.data(), rightOut_.data()}) {
            const double x = static_cast<double>(channel[i] * g);
            if (format_ == PcmFormat::S16Le) {
                // Triangular dither of one step keeps the quantisation error independent of the signal.
                auto uniform = [this] {
                    dither_ ^= dither_ << 13;
                    dither_ ^= dither_ >> 17;
                    dither_ ^= dither_ << 5;
                    return static_cast<double>(dither_) / 4294967296.0;
                };
                const double d = uniform() - uniform();
                const long v = std::lround(std::clamp(x * 32767.0 + d, -32768.0, 32767.0));
                *out++ = static_cast<std::uint8_t>(v);
                *out++ = static_cast<std::uint8_t>(v >> 8);
            } else {
                const long v = std::lround(std::clamp(x * 8388607.0, -8388608.0, 8388607.0));
                if (format_ == PcmFormat::S32Le)
                    *out++ = 0;
                *out++ = static_cast<std::uint8_t>(v);
                *out++ = static_cast<std::uint8_t>(v >> 8);
                *out++ = static_cast<std::uint8_t>(v >> 16);
            }
        }
    }
}

std::optional<PcmChoice> ChoosePreviewFormat(PcmDevice& device) {
    const PcmChoice choices[] = {
        {PcmFormat::S32Le, 88200},   {PcmFormat::S24_3Le, 88200}, {PcmFormat::S32Le, 44100},
        {PcmFormat::S24_3Le, 44100}, {PcmFormat::S16Le, 88200},   {PcmFormat::S16Le, 44100},
    };
    for (const PcmChoice& c : choices) {
        if (device.Accepts(c.format, c.rate))
            return c;
    }
    return std::nullopt;
}

std::unique_ptr<StreamDriver> StartPcmPreviewDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                    std::string* error) {
    const auto choice = ChoosePreviewFormat(*device);
    if (!choice) {
        if (error)
            *error = "\"" + pcmName + "\" takes no 16, 24 or 32-bit stereo PCM at 88 200 or 44 100 Hz";
        return nullptr;
    }
    return StartStreamDriver(std::move(device),
                             std::make_unique<PcmPreviewEncoder>(choice->format, choice->rate),
                             OutputKind::PcmPreview, pcmName, error);
}

std::unique_ptr<DsdDriver> OpenPcmPreviewDriver(std::string_view pcmName, std::string* error, DsdRate rate) {
    // The decimator is made for DSD64: other rates are refused rather than played at the wrong pitch.
    if (rate != DsdRate::kDsd64) {
        if (error)
            *error =
                RateRefusedText("pcm:" + std::string(pcmName), rate, platform::DsdRateBit(DsdRate::kDsd64));
        return nullptr;
    }
    return OpenNamedPcmDriver(
        "pcm", "default", pcmName,
        [](std::unique_ptr<PcmDevice> device, std::string name, std::string* e, DsdRate) {
            return StartPcmPreviewDriver(std::move(device), std::move(name), e);
        },
        error, rate);
}

} // namespace mervane
