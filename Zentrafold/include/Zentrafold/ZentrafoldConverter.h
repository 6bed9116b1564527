// One PCM -> DSD up-converter (DSD64, DSD128, DSD256 or DSD512): a x64 to x512 interpolator followed by a
// one-bit sigma-delta modulator with a look-ahead quantiser, with all of its state, so that several can run
// at once. The four C functions of Zentrafold.h drive one of these at DSD64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zentrafold {

inline constexpr int kUnitFrames = 512;    // PCM frames per conversion unit
inline constexpr int kBlockBytes = 8192;   // DSD bytes per unit: left channel, then right
inline constexpr int kChannelBytes = 4096; // DSD bytes per channel per unit
inline constexpr int kOversampling = 64;   // DSD64 samples per PCM frame

// Output rates, as multiples of DSD64 (2 822 400 Hz). At DSD128, DSD256 and DSD512 a unit of 512 frames
// gives two, four or eight times the bytes, in the same layout: all of the left channel, then all of the
// right.
enum class DsdRate {
    kDsd64 = 1,
    kDsd128 = 2,
    kDsd256 = 4,
    kDsd512 = 8,
};
constexpr int RateMultiple(DsdRate rate) noexcept {
    return static_cast<int>(rate);
}
constexpr int SampleRate(DsdRate rate) noexcept {
    return 2822400 * RateMultiple(rate);
}
// DSD bytes per unit, and per channel per unit, at the rate.
constexpr std::size_t BlockBytes(DsdRate rate) noexcept {
    return static_cast<std::size_t>(kBlockBytes) * static_cast<std::size_t>(RateMultiple(rate));
}
constexpr std::size_t ChannelBytes(DsdRate rate) noexcept {
    return static_cast<std::size_t>(kChannelBytes) * static_cast<std::size_t>(RateMultiple(rate));
}

enum class PcmFormat {
    kInt16, // 2 bytes per sample, little-endian, 4 bytes per stereo frame
    kInt24, // 3 bytes per sample, packed little-endian, 6 bytes per stereo frame
};

// Bytes in one 512-frame unit of the format.
constexpr std::size_t UnitBytes(PcmFormat format) noexcept {
    return format == PcmFormat::kInt16 ? kUnitFrames * 4 : kUnitFrames * 6;
}

// What a converter computes with. kVector: the processor's vector unit, two channels per instruction
// (SSE2 on x86-64, NEON on arm64; plain C++ on any other processor). kPortable: plain C++, one channel at a
// time. Both give exactly the same bytes on every processor; the vector one is the faster.
enum class Arithmetic {
    kVector,
    kPortable,
};

namespace detail {
struct ConverterState; // the working state, for the arithmetic chosen
} // namespace detail

class Converter {
public:
    // A converter to `rate` (DSD64 unless asked). Allocates the whole working state (about 300 KB) and
    // resets it to silence. Throws std::bad_alloc only.
    explicit Converter(DsdRate rate = DsdRate::kDsd64, Arithmetic arithmetic = Arithmetic::kVector);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Starts a new stream: clears every filter and modulator state, reseeds the dither, and feeds the first
    // 512 frames (one unit of `format` at `pcm`) without producing output. Allocates nothing.
    void Initial(const void* pcm, PcmFormat format) noexcept;

    // The rate the converter was made for.
    DsdRate Rate() const noexcept;
    // What it computes with: "sse2", "neon" or "portable".
    const char* ArithmeticName() const noexcept;
    // A digest of every number in the working state (the filters' histories, the modulator's loop and its
    // look-ahead window, the dither's seed). Two converters that computed the same numbers, in whatever
    // arithmetic, agree on it; a difference of one unit in the last place anywhere shows in it long before
    // it changes an output bit.
    std::uint64_t StateDigest() const noexcept;

    // Continues the stream with unitCount units of PCM at `pcm` and writes unitCount DSD blocks to `out`
    // (unitCount x BlockBytes(Rate()) bytes, caller-owned). The output lags the input by a fixed latency of
    // just under one unit, so the first block after Initial carries the Initial frames. Allocates nothing;
    // one thread at a time.
    void Convert(const void* pcm, int unitCount, PcmFormat format, unsigned char* out) noexcept;

    // Ends the stream: converts unitCount units as Convert does, the last of which should be silence (a
    // stream's fade-out ends in a unit of digital silence), and lands the last block on the DSD silence
    // pattern, so that 0x69 bytes can follow it without a click. A modulator cut off anywhere leaves a
    // charge of up to a few samples in its running sum that its following bits would have corrected; the
    // pattern never does, and at the join that charge is an impulse (about -33 dBFS in the audio band at
    // DSD64). Over the last block the converter therefore moves its charge to a level the pattern
    // continues, slowly (under 20 Hz in effect, about -75 dBFS at its peak), and chooses its last bits
    // again for the least audio-band energy at the join with the pattern. The held-back samples are then
    // dropped: the next stream starts with Initial. Allocates nothing; one thread at a time.
    void ConvertFinal(const void* pcm, int unitCount, PcmFormat format, unsigned char* out) noexcept;

    // Clears all state to silence (as a fresh converter), without feeding any frames.
    void Reset() noexcept;

    // What the modulator's overload detector saw since the last Reset/Initial. The loop keeps itself in
    // range by deciding a stretch of output again, with several candidate bit sequences, when it comes near
    // the edge (`redone` counts those stretches); loud passages need that a few times per millisecond. An
    // overload is a channel sample at which the loop still left its normal range and its fed-back error was
    // limited; a reset (the last resort, when limiting did not hold the loop) restarts the channel from
    // rest, which is audible. A burst is a run of overloads less than 1 ms apart; its length is how long the
    // loop took to settle again. Every input tried so far leaves all overload counts at 0: full-scale sines,
    // squares and clipped noise.
    struct OverloadStats {
        std::uint64_t resets = 0;              // channel resets
        std::uint64_t bursts = 0;              // separate overload episodes
        std::uint64_t longestBurstSamples = 0; // samples from first to last overload of the worst burst
        std::uint64_t limited = 0;             // channel samples whose fed-back error was limited
        std::uint64_t redone = 0;              // channel bytes at which the look-ahead decided again
    };
    OverloadStats Overloads() const noexcept;

    // The fixed delay from PCM input to DSD output, in samples of `rate`.
    static int LatencySamples(DsdRate rate = DsdRate::kDsd64) noexcept;

private:
    std::unique_ptr<detail::ConverterState> state_;
};

} // namespace zentrafold
