// PCM unit builders for the converter and an independent DSD decoder (bit unpacking plus a windowed FFT).
#pragma once

#include "Zentrafold/ZentrafoldConverter.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

namespace testkit {

// A signal as a function of the frame index, in PCM full-scale units (+/-1.0), for one channel.
using Signal = std::function<double(long frame)>;

// Interleaved stereo PCM for `units` units starting at frame `first`, rounded to the format's integers
// (clipped to its range).
std::vector<unsigned char> MakePcm(const Signal& left, const Signal& right, long first, int units,
                                   zentrafold::PcmFormat format);

Signal Sine(double hz, double amplitude);
Signal Square(double hz, double amplitude);
Signal Silence();

// One channel of a run of DSD blocks as +/-1.0 samples, earliest first; `msbFirst` reads the bytes the
// wrong way round (to show that the order matters).
std::vector<double> Unpack(const std::vector<unsigned char>& blocks, int channel, bool msbFirst = false,
                           zentrafold::DsdRate rate = zentrafold::DsdRate::kDsd64);

// In place, radix 2 (the size a power of two), forward, unscaled; the twiddles are computed directly, so
// round-off stays far below the -150 dB floors the converter's tests look at.
void Fft(std::vector<std::complex<double>>& a);

struct Spectrum {
    double binHz = 0;
    std::vector<double> power; // per bin, as the power of a sine of that amplitude (amplitude^2 / 2)
};

// Power spectrum of the first 2^log2Size samples at the rate (2 822 400 Hz for DSD64) under a 7-term
// Blackman-Harris window, normalised so that a sine of amplitude A shows A^2/2 summed over its bins.
Spectrum Analyse(const std::vector<double>& samples, int log2Size,
                 zentrafold::DsdRate rate = zentrafold::DsdRate::kDsd64);

// Summed power of the bins in [lowHz, highHz], leaving out +/-guardBins around each listed frequency.
double BandPower(const Spectrum& spectrum, double lowHz, double highHz,
                 const std::vector<double>& skipHz = {}, int guardBins = 12);
// Power of a sine at hz (its bins summed).
double TonePower(const Spectrum& spectrum, double hz, int guardBins = 12);
// Largest single bin in [lowHz, highHz].
double PeakBin(const Spectrum& spectrum, double lowHz, double highHz);

// dB relative to PCM full scale, whose sine has amplitude 0.5 of full modulation (power 0.125).
double DbFs(double power);

} // namespace testkit
