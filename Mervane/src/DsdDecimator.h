// Turns DSD64 back into PCM: a four-stage low-pass decimator, 2 822 400 Hz one-bit to 88 200 or 44 100 Hz.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mervane {

// One channel. Stage 1 (/8, 64 taps) runs on the bits through per-byte look-up tables; stages 2 and 3 (/2
// each, 23 and 59 taps) bring it to 88 200 Hz with the audio band flat to 20 kHz (ripple under 0.001 dB)
// and the modulator's noise above 40 kHz removed; stage 4 (/2, 127 taps) makes 44 100 Hz with nothing
// folding below 20 kHz. The coefficients come from design/decimator.py.
//
// Output scale: a DSD stream at 50 % modulation (the level a full-scale PCM sine is converted to) comes
// out at +/-1.0; louder passages are clipped there. Allocates only in the constructor.
class DsdDecimator {
public:
    // rate: 88200 or 44100.
    explicit DsdDecimator(unsigned rate);

    unsigned Rate() const noexcept { return rate_; }
    // Output samples per input byte count (bytes must be a multiple of Factor() / 8).
    std::size_t Factor() const noexcept { return rate_ == 44100 ? 64 : 32; }

    // Decimates `bytes` bytes of LSB-first DSD64 into bytes * 8 / Factor() samples at out. Keeps the
    // filters' history from call to call. Does not allocate.
    void Process(const std::uint8_t* dsd, std::size_t bytes, float* out) noexcept;

    // Back to silence (all history cleared).
    void Reset() noexcept;

private:
    // A decimate-by-two FIR over a history kept twice over, so that each dot product reads contiguously.
    struct HalfStage {
        const double* taps = nullptr;
        std::size_t count = 0;
        std::vector<double> history; // 2 x count
        std::size_t pos = 0;
        bool odd = false;
        // Feeds one sample; returns true (with *out) on every second one.
        bool Push(double x, double* out) noexcept;
    };

    unsigned rate_;
    std::array<std::uint8_t, 8> bytes_{}; // the last 8 input bytes, newest at index (pos_ - 1) mod 8
    std::size_t bytePos_ = 0;
    HalfStage stage2_, stage3_, stage4_;
};

// Stage 1's look-up tables: table[k][b] is the contribution of the byte k bytes before the newest.
const std::array<std::array<double, 256>, 8>& DecimatorStage1Tables() noexcept;

} // namespace mervane
