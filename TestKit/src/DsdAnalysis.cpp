#include "TestKit/DsdAnalysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace testkit {

using zentrafold::DsdRate;
using zentrafold::kUnitFrames;
using zentrafold::PcmFormat;

std::vector<unsigned char> MakePcm(const Signal& left, const Signal& right, long first, int units,
                                   PcmFormat format) {
    const int frames = units * kUnitFrames;
    const bool is16 = format == PcmFormat::kInt16;
    const double scale = is16 ? 32768.0 : 8388608.0;
    std::vector<unsigned char> pcm(static_cast<std::size_t>(units) * UnitBytes(format));
    unsigned char* p = pcm.data();
    for (int i = 0; i < frames; ++i) {
        for (const Signal* s : {&left, &right}) {
            const double v = std::clamp(std::round((*s)(first + i) * scale), -scale, scale - 1);
            const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
            *p++ = static_cast<unsigned char>(bits);
            *p++ = static_cast<unsigned char>(bits >> 8);
            if (!is16)
                *p++ = static_cast<unsigned char>(bits >> 16);
        }
    }
    return pcm;
}

Signal Sine(double hz, double amplitude) {
    return [=](long n) {
        return amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / 44100.0);
    };
}

Signal Square(double hz, double amplitude) {
    return [=](long n) {
        const double phase = std::fmod(hz * static_cast<double>(n) / 44100.0, 1.0);
        return phase < 0.5 ? amplitude : -amplitude;
    };
}

Signal Silence() {
    return [](long) { return 0.0; };
}

std::vector<double> Unpack(const std::vector<unsigned char>& blocks, int channel, bool msbFirst,
                           DsdRate rate) {
    const std::size_t blockBytes = BlockBytes(rate);
    const std::size_t channelBytes = ChannelBytes(rate);
    std::vector<double> out;
    out.reserve(blocks.size() / 2 * 8);
    for (std::size_t b = 0; b + blockBytes <= blocks.size(); b += blockBytes) {
        const unsigned char* half = blocks.data() + b + static_cast<std::size_t>(channel) * channelBytes;
        for (std::size_t i = 0; i < channelBytes; ++i)
            for (int k = 0; k < 8; ++k) {
                const int bit = msbFirst ? 7 - k : k;
                out.push_back((half[i] >> bit) & 1 ? 1.0 : -1.0);
            }
    }
    return out;
}

void Fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * std::numbers::pi / static_cast<double>(len);
        for (std::size_t i = 0; i < n; i += len)
            for (std::size_t k = 0; k < len / 2; ++k) {
                // Twiddles computed directly (not by repeated multiplication) to keep round-off far below
                // the -150 dB floors the tests look at.
                const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
    }
}

Spectrum Analyse(const std::vector<double>& samples, int log2Size, DsdRate rate) {
    const std::size_t n = std::size_t{1} << log2Size;
    // 7-term Blackman-Harris: side lobes below -180 dB, so the loud noise above the audio band cannot leak
    // into the band being measured.
    static constexpr double kW[] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                                    0.01081174209837, 0.00077658482522, 0.00001388721735};
    std::vector<std::complex<double>> a(n);
    double sumW = 0;
    double sumW2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        double w = 0;
        for (int k = 0; k < 7; ++k)
            w += (k % 2 ? -1 : 1) * kW[k] * std::cos(k * x);
        sumW += w;
        sumW2 += w * w;
        a[i] = samples.at(i) * w;
    }
    Fft(a);
    Spectrum s;
    s.binHz = SampleRate(rate) / static_cast<double>(n);
    s.power.resize(n / 2);
    // A sine of amplitude A gives a peak |X| = A sumW / 2 and its bins sum to (A/2)^2 sumW2 n / ... ; scale
    // so that the bins of a sine sum to A^2/2 (and white noise to its power in the band).
    const double norm = 2.0 / (sumW2 * static_cast<double>(n));
    for (std::size_t k = 0; k < n / 2; ++k)
        s.power[k] = std::norm(a[k]) * norm;
    (void)sumW;
    return s;
}

double BandPower(const Spectrum& spectrum, double lowHz, double highHz, const std::vector<double>& skipHz,
                 int guardBins) {
    double sum = 0;
    const auto lo = static_cast<std::size_t>(std::ceil(lowHz / spectrum.binHz));
    const auto hi = std::min(spectrum.power.size() - 1, static_cast<std::size_t>(highHz / spectrum.binHz));
    for (std::size_t k = lo; k <= hi; ++k) {
        bool skip = false;
        for (double f : skipHz)
            skip = skip || std::abs(static_cast<double>(k) - f / spectrum.binHz) <= guardBins;
        if (!skip)
            sum += spectrum.power[k];
    }
    return sum;
}

double TonePower(const Spectrum& spectrum, double hz, int guardBins) {
    const double centre = hz / spectrum.binHz;
    double sum = 0;
    for (long k = std::lround(centre) - guardBins; k <= std::lround(centre) + guardBins; ++k)
        if (k >= 0 && static_cast<std::size_t>(k) < spectrum.power.size())
            sum += spectrum.power[static_cast<std::size_t>(k)];
    return sum;
}

double PeakBin(const Spectrum& spectrum, double lowHz, double highHz) {
    double peak = 0;
    const auto lo = static_cast<std::size_t>(std::ceil(lowHz / spectrum.binHz));
    const auto hi = std::min(spectrum.power.size() - 1, static_cast<std::size_t>(highHz / spectrum.binHz));
    for (std::size_t k = lo; k <= hi; ++k)
        peak = std::max(peak, spectrum.power[k]);
    return peak;
}

double DbFs(double power) {
    return 10 * std::log10(power / 0.125);
}

} // namespace testkit
