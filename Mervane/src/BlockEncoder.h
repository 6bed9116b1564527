// Turning the engine's DSD blocks into the frames a PCM device takes.
#pragma once

#include "Platform/ByteOrder.h"
#include "Platform/DsdRate.h"

#include "PcmDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace mervane {

// Converts one block (kChannelBlockBytes bytes per channel of LSB-first DSD) into FramesPerBlock()
// interleaved stereo frames of Format() at Rate(). Encoders may keep state from block to block (the DoP
// marker phase, a filter's history): silence is encoded through the same call so that state runs on
// unbroken. Encode never allocates; one thread calls it at a time.
class BlockEncoder {
public:
    virtual ~BlockEncoder() = default;
    virtual PcmFormat Format() const noexcept = 0;
    virtual unsigned Rate() const noexcept = 0;
    virtual std::size_t FramesPerBlock() const noexcept = 0;
    std::size_t FrameBytes() const noexcept { return 2 * PcmFormatBytes(Format()); }
    std::size_t BlockBytes() const noexcept { return FramesPerBlock() * FrameBytes(); }
    // out holds BlockBytes() bytes.
    virtual void Encode(const std::uint8_t* left, const std::uint8_t* right, std::uint8_t* out) noexcept = 0;
    // The gain an encoder with a software level applies from its next block on; others ignore it. Any
    // thread; lock-free.
    virtual void SetGain(float /*gain*/) noexcept {}
};

// Our blocks carry the earliest sample in bit 0 of each byte; ALSA's DSD formats and DoP carry it in bit 7
// (platform::kBitReversed turns one into the other).
using platform::kBitReversed;

// Native DSD: words of 1, 2 or 4 bytes per channel, each byte bit-reversed, the bytes of a word in time
// order for _BE and in reverse for _LE; at the DSD rate's frame rate (DSD64: 352 800 bytes, 176 400
// 16-bit or 88 200 32-bit words a second; two, four or eight times that at DSD128, DSD256 and DSD512).
class NativeDsdEncoder final : public BlockEncoder {
public:
    explicit NativeDsdEncoder(PcmFormat format, platform::DsdRate rate = platform::DsdRate::kDsd64) noexcept
        : format_(format), rate_(rate) {}
    PcmFormat Format() const noexcept override { return format_; }
    unsigned Rate() const noexcept override { return DsdFrameRate(format_, rate_); }
    std::size_t FramesPerBlock() const noexcept override;
    void Encode(const std::uint8_t* left, const std::uint8_t* right, std::uint8_t* out) noexcept override;

private:
    PcmFormat format_;
    platform::DsdRate rate_;
};

// DSD over PCM at 176 400 Hz (DSD64), 352 800 (DSD128), 705 600 (DSD256) or 1 411 200 (DSD512): each sample
// holds two DSD bytes (earlier byte higher, earliest bit first) under a marker byte that alternates 0x05 /
// 0xFA from frame to frame, in S32_LE (low byte zero) or S24_3LE. The marker phase carries on across blocks,
// so a stream is never broken at a block boundary.
class DopEncoder final : public BlockEncoder {
public:
    static constexpr unsigned kRate = 176400;
    static constexpr std::uint8_t kMarkerA = 0x05;
    static constexpr std::uint8_t kMarkerB = 0xFA;

    // The PCM frame rate that carries a DSD rate.
    static constexpr unsigned RateFor(platform::DsdRate rate) noexcept {
        return kRate * static_cast<unsigned>(platform::DsdRateMultiple(rate));
    }

    // format: S32Le or S24_3Le.
    explicit DopEncoder(PcmFormat format, platform::DsdRate rate = platform::DsdRate::kDsd64) noexcept
        : format_(format), rate_(rate) {}
    PcmFormat Format() const noexcept override { return format_; }
    unsigned Rate() const noexcept override { return RateFor(rate_); }
    std::size_t FramesPerBlock() const noexcept override;
    void Encode(const std::uint8_t* left, const std::uint8_t* right, std::uint8_t* out) noexcept override;

private:
    PcmFormat format_;
    platform::DsdRate rate_;
    bool nextIsB_ = false; // the first frame of a stream carries 0x05
};

} // namespace mervane
