// "pcm:<pcm>": a preview for listeners without a DSD DAC. The DSD stream is decimated back to PCM and played
// through an ordinary sound output ("pcm:default" goes through the desktop's sound server).
#pragma once

#include "DsdDecimator.h"
#include "PcmDevice.h"
#include "StreamDriver.h"

#include <atomic>
#include <optional>

namespace mervane {

// Decimates each block to 88 200 or 44 100 Hz and writes it as 24-bit (S32_LE or S24_3LE) or 16-bit
// (S16_LE, with triangular dither) samples, scaled by the gain the level control sets (ramped across a
// block so that level changes do not click). Mute is a gain of 0.
class PcmPreviewEncoder final : public BlockEncoder {
public:
    PcmPreviewEncoder(PcmFormat format, unsigned rate);
    PcmFormat Format() const noexcept override { return format_; }
    unsigned Rate() const noexcept override { return rate_; }
    std::size_t FramesPerBlock() const noexcept override;
    void Encode(const std::uint8_t* left, const std::uint8_t* right, std::uint8_t* out) noexcept override;
    void SetGain(float gain) noexcept override { target_.store(gain, std::memory_order_relaxed); }

private:
    PcmFormat format_;
    unsigned rate_;
    DsdDecimator left_, right_;
    std::vector<float> leftOut_, rightOut_;
    std::atomic<float> target_{1.0f}; // the gain the level control asks for
    float gain_ = -1.0f;              // the gain at the end of the last block; negative before the first
    std::uint32_t dither_ = 0x9E3779B9u;
};

// The PCM formats and rates in the order they are tried: the higher rate first, 24 bits before 16.
struct PcmChoice {
    PcmFormat format;
    unsigned rate;
};
std::optional<PcmChoice> ChoosePreviewFormat(PcmDevice& device);

// Makes and starts the preview driver on an opened device; null (with *error) when it takes none of the
// formats.
std::unique_ptr<StreamDriver> StartPcmPreviewDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                    std::string* error);

// Opens the ALSA PCM called pcmName and starts the preview on it. It decimates DSD64 only: any other rate
// is refused (*error says so).
std::unique_ptr<DsdDriver> OpenPcmPreviewDriver(std::string_view pcmName, std::string* error,
                                                DsdRate rate = DsdRate::kDsd64);

} // namespace mervane
