// The PCM preview: the decimator's response (from its coefficients and through the code), a 1 kHz tone
// converted to DSD64 by Zentrafold and decimated back, its cost, and what reaches ALSA with the level set.
#include "DecimatorCoefficients.h"
#include "DsdDecimator.h"
#include "PcmPreviewDriver.h"
#include "TestKit/AlsaCapture.h"
#include "TestKit/DsdAnalysis.h"

#include "Zentrafold/ZentrafoldConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <ctime>
#include <numbers>

namespace mervanetest {
namespace {

namespace zt = testkit;
using testkit::AlsaCapture;
constexpr double kDsdRate = 2822400.0;

// |H(f)| of one FIR at sample rate fs.
double Magnitude(const double* taps, std::size_t count, double fs, double f) {
    std::complex<double> sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += taps[i] * std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(i) / fs);
    return std::abs(sum);
}

// The cascade as one filter at the DSD rate: each stage's response at its own input rate, multiplied.
double CascadeDb(double f, bool to44) {
    using namespace mervane::decimator;
    double m = Magnitude(kStage1, std::size(kStage1), kDsdRate, f) *
               Magnitude(kStage2, std::size(kStage2), kDsdRate / 8, f) *
               Magnitude(kStage3, std::size(kStage3), kDsdRate / 16, f);
    if (to44)
        m *= Magnitude(kStage4, std::size(kStage4), kDsdRate / 32, f);
    return 20 * std::log10(std::max(m, 1e-20));
}

struct Response {
    double rippleDb;    // max - min over 0..20 kHz
    double rejectionDb; // least attenuation over everything that would fold into 0..20 kHz
};

Response Measure(bool to44) {
    const double out = to44 ? 44100 : 88200;
    double lo = 1e9, hi = -1e9;
    for (double f = 0; f <= 20000; f += 50) {
        lo = std::min(lo, CascadeDb(f, to44));
        hi = std::max(hi, CascadeDb(f, to44));
    }
    double worst = -1e9;
    for (double f = out - 20000; f <= kDsdRate / 2; f += 97)
        worst = std::max(worst, CascadeDb(f, to44));
    return {hi - lo, -worst};
}

TEST(DecimatorResponse, FlatAudioBandAndDeepRejectionOfEverythingThatWouldFoldIntoIt) {
    for (bool to44 : {false, true}) {
        const Response r = Measure(to44);
        std::printf("decimator to %s Hz: passband ripple %.5f dB (0..20 kHz), stop-band rejection %.1f dB\n",
                    to44 ? "44100" : "88200", r.rippleDb, r.rejectionDb);
        EXPECT_LT(r.rippleDb, 0.01);
        EXPECT_GT(r.rejectionDb, 105.0);
    }
    // At 88 200 Hz the modulator's noise above 40 kHz is gone too.
    for (double f = 40000; f < 300000; f += 101)
        ASSERT_LT(CascadeDb(f, false), -110.0) << f;
}

// n bytes of a repeating byte pattern, decimated; the RMS of the output after the filters settle.
double PatternRms(const std::vector<std::uint8_t>& pattern, unsigned rate) {
    mervane::DsdDecimator d(rate);
    std::vector<std::uint8_t> dsd(65536);
    for (std::size_t i = 0; i < dsd.size(); ++i)
        dsd[i] = pattern[i % pattern.size()];
    std::vector<float> out(dsd.size() * 8 / d.Factor());
    d.Process(dsd.data(), dsd.size(), out.data());
    double sum = 0;
    const std::size_t from = out.size() / 2;
    for (std::size_t i = from; i < out.size(); ++i)
        sum += double(out[i]) * out[i];
    return std::sqrt(sum / static_cast<double>(out.size() - from));
}

TEST(DecimatorResponse, UltrasonicPatternsAndTheSilencePatternDecodeToNothing) {
    for (unsigned rate : {88200u, 44100u}) {
        // Full-modulation squares at 1.41 MHz, 705.6 kHz, 352.8 kHz and 176.4 kHz: each folds onto 0 Hz in
        // some stage, so any leak shows as a constant.
        for (const auto& p : std::vector<std::vector<std::uint8_t>>{{0xAA}, {0xCC}, {0xF0}, {0xFF, 0x00}})
            EXPECT_LT(20 * std::log10(PatternRms(p, rate) + 1e-12), -100) << rate << " " << int(p[0]);
        EXPECT_LT(20 * std::log10(PatternRms({0x69}, rate) + 1e-12), -100) << rate;
        // And a constant level passes at its value: all ones is +1 modulation, clipped to full scale.
        EXPECT_NEAR(PatternRms({0xFF}, rate), 1.0, 1e-6);
        // One-density 5/8 is +0.25 modulation: half of full scale.
        EXPECT_NEAR(PatternRms({0x1F}, rate), 0.5, 1e-3);
    }
}

// A stereo 1 kHz sine through Zentrafold to DSD64, and back through the decimator.
std::vector<float> RoundTrip(double amplitude, unsigned rate, int units,
                             std::vector<std::uint8_t>* dsdLeft = nullptr) {
    using zentrafold::PcmFormat;
    auto converter = std::make_unique<zentrafold::Converter>();
    const auto sine = zt::Sine(1000, amplitude);
    const auto first = zt::MakePcm(sine, sine, 0, 1, PcmFormat::kInt24);
    converter->Initial(first.data(), PcmFormat::kInt24);
    const auto pcm = zt::MakePcm(sine, sine, zentrafold::kUnitFrames, units, PcmFormat::kInt24);
    std::vector<unsigned char> blocks(static_cast<std::size_t>(units) * zentrafold::kBlockBytes);
    converter->Convert(pcm.data(), units, PcmFormat::kInt24, blocks.data());
    mervane::DsdDecimator d(rate);
    std::vector<float> out;
    std::vector<float> part(zentrafold::kChannelBytes * 8 / d.Factor());
    for (int u = 0; u < units; ++u) {
        const std::uint8_t* left = blocks.data() + static_cast<std::size_t>(u) * zentrafold::kBlockBytes;
        d.Process(left, zentrafold::kChannelBytes, part.data());
        out.insert(out.end(), part.begin(), part.end());
        if (dsdLeft)
            dsdLeft->insert(dsdLeft->end(), left, left + zentrafold::kChannelBytes);
    }
    return out;
}

// Spectrum of PCM at rate, scaled as the Zentrafold support expects (full-scale sine amplitude 0.5).
zt::Spectrum PcmSpectrum(const std::vector<float>& pcm, std::size_t skip, int log2Size, unsigned rate) {
    std::vector<double> x;
    for (std::size_t i = skip; i < pcm.size(); ++i)
        x.push_back(pcm[i] * 0.5);
    auto s = zt::Analyse(x, log2Size);
    s.binHz = rate / static_cast<double>(std::size_t{1} << log2Size);
    return s;
}

TEST(DecimatorRoundTrip, AOneKilohertzToneComesBackAtItsLevelWithItsSignalToNoiseRatio) {
    for (unsigned rate : {88200u, 44100u}) {
        const int log2 = rate == 88200 ? 15 : 14; // 0.37 s either way
        const auto pcm = RoundTrip(0.5, rate, 80);
        const auto s = PcmSpectrum(pcm, pcm.size() - (std::size_t{1} << log2), log2, rate);
        const double tone = zt::DbFs(zt::TonePower(s, 1000));
        const std::vector<double> harmonics = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000};
        const double noise = zt::DbFs(zt::BandPower(s, 20, 20000, harmonics));
        const double thdn = zt::DbFs(zt::BandPower(s, 20, 20000, {1000}));
        std::printf("1 kHz at -6.02 dBFS through Zentrafold and the decimator to %u Hz: tone %.3f dBFS, "
                    "SNR %.1f dB (20 Hz-20 kHz, harmonics excluded), THD+N %.1f dB\n",
                    rate, tone, tone - noise, tone - thdn);
        EXPECT_NEAR(tone, -6.02, 0.05);
        EXPECT_GT(tone - noise, 110.0);
        EXPECT_GT(tone - thdn, 100.0);
    }
}

TEST(DecimatorCost, BlockByBlockEqualsOneGoAndItsCpuPerSecondOfAudioIsStated) {
    std::vector<std::uint8_t> dsd;
    RoundTrip(0.5, 88200, 8, &dsd);
    constexpr std::size_t kChunk = mervane::DsdDriver::kChannelBlockBytes;
    for (unsigned rate : {88200u, 44100u}) {
        mervane::DsdDecimator whole(rate), left(rate), right(rate);
        std::vector<float> once(dsd.size() * 8 / whole.Factor());
        whole.Process(dsd.data(), dsd.size(), once.data());

        const std::size_t perChunk = kChunk * 8 / left.Factor();
        std::vector<float> chunks(once.size()), scratch(perChunk);
        const int seconds = 10;
        const int reps = static_cast<int>(seconds * kDsdRate / 8 / static_cast<double>(dsd.size())) + 1;
        const std::clock_t start = std::clock();
        for (int r = 0; r < reps; ++r) {
            for (std::size_t at = 0; at < dsd.size(); at += kChunk) {
                float* to = r == 0 ? chunks.data() + at * 8 / left.Factor() : scratch.data();
                left.Process(dsd.data() + at, kChunk, to);
                right.Process(dsd.data() + at, kChunk, scratch.data());
            }
        }
        const double cpu = double(std::clock() - start) / CLOCKS_PER_SEC;
        const double audio = reps * static_cast<double>(dsd.size()) * 8 / kDsdRate;
        std::printf("decimator to %u Hz, stereo: %.2f ms of CPU per second of audio\n", rate,
                    1000 * cpu / audio);
        EXPECT_EQ(chunks, once) << rate;
    }
}

// FNV-1a over `count` bytes.
std::uint64_t Fingerprint(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < count; ++i)
        h = (h ^ bytes[i]) * 0x100000001b3ULL;
    return h;
}

// DSD64 bytes made with integers alone: a first-order one-bit loop on a 689 Hz triangle wave at 45 %
// modulation, so that the input is the same bits on every processor.
std::vector<std::uint8_t> TriangleDsd(std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    constexpr std::int64_t kFull = 1 << 20;
    constexpr std::int64_t kPeriod = 4096; // samples: 2 822 400 / 4096 = 689 Hz
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        for (int k = 0; k < 8; ++k) {
            const auto n = static_cast<std::int64_t>(i * 8) + k;
            const std::int64_t phase = n % kPeriod;
            const std::int64_t tri = phase < kPeriod / 2 ? phase * 4 - kPeriod : 3 * kPeriod - phase * 4;
            const std::int64_t x = tri * (kFull * 45 / 100) / kPeriod;
            const bool one = sum + x >= 0;
            sum += x - (one ? kFull : -kFull);
            out[i] |= static_cast<std::uint8_t>(one ? 1u << k : 0u);
        }
    return out;
}

TEST(DecimatorPinned, OutputBitsAreTheSameOnEveryProcessor) {
    // The tables and every stage's sum follow from the coefficients and IEEE arithmetic alone (each sum in
    // its order, no fused multiply-adds), so every processor gives these bits. Taken when the decimator's
    // coefficients last changed; only a change of its design may change them.
    const auto& tables = mervane::DecimatorStage1Tables();
    EXPECT_EQ(Fingerprint(tables.data(), sizeof tables), 0x16694f52fc9deda5ULL)
        << "tables: 0x" << std::hex << Fingerprint(tables.data(), sizeof tables);
    const auto dsd = TriangleDsd(64 * 1024);
    for (const auto& [rate, expected] :
         {std::pair{88200u, 0xa83c61ffd510f7f8ULL}, std::pair{44100u, 0xb5f62fde633a61c2ULL}}) {
        mervane::DsdDecimator decimator(rate);
        std::vector<float> pcm(dsd.size() * 8 / decimator.Factor());
        decimator.Process(dsd.data(), dsd.size(), pcm.data());
        // 45 % modulation decodes to 0.9 of full scale (the triangle's tips a little lower without their
        // harmonics above 20 kHz): the pinned bits are the triangle, not silence.
        const float peak = *std::max_element(pcm.begin() + 1024, pcm.end());
        EXPECT_NEAR(peak, 0.9, 0.03) << rate;
        EXPECT_EQ(Fingerprint(pcm.data(), pcm.size() * sizeof(float)), expected)
            << rate << ": 0x" << std::hex << Fingerprint(pcm.data(), pcm.size() * sizeof(float));
    }
}

// ---- the preview driver through ALSA -----------------------------------------------------------------

class PcmPreviewCaptureTest : public ::testing::Test {
protected:
    PcmPreviewCaptureTest() : capture_({"preview"}) {}

    // Plays the round-trip DSD of a 1 kHz sine through "pcm:preview" at the given gain; returns the left
    // channel of what reached ALSA as +/-1.0 samples.
    std::vector<float> Play(float gain, mervane::PcmFormat* format) {
        std::vector<std::uint8_t> left;
        RoundTrip(0.5, 88200, 40, &left);
        std::string error;
        auto driver = mervane::OpenDsdDriver("pcm:preview", &error);
        EXPECT_NE(driver, nullptr) << error;
        if (!driver)
            return {};
        driver->SetSoftwareGain(gain);
        for (std::size_t at = 0; at < left.size(); at += mervane::DsdDriver::kChannelBlockBytes)
            EXPECT_TRUE(driver->WriteBlock(left.data() + at, left.data() + at));
        EXPECT_TRUE(driver->Close());
        const auto raw = capture_.Bytes("preview");
        // The null slave takes everything, so the first choice is used: S32_LE at 88 200 Hz.
        *format = mervane::PcmFormat::S32Le;
        std::vector<float> out;
        for (std::size_t at = 0; at + 8 <= raw.size(); at += 8) {
            std::int32_t l = 0, r = 0;
            std::memcpy(&l, raw.data() + at, 4);
            std::memcpy(&r, raw.data() + at + 4, 4);
            EXPECT_EQ(l, r);
            EXPECT_EQ(l & 0xFF, 0); // 24 bits in the top of the word
            out.push_back(static_cast<float>(l / 2147483648.0));
        }
        EXPECT_EQ(out.size(), 40u * 1024);
        return out;
    }
    AlsaCapture capture_;
};

TEST_F(PcmPreviewCaptureTest, TheToneReachesAlsaAt88200HzScaledByTheLevel) {
    mervane::PcmFormat format{};
    const auto full = Play(1.0f, &format);
    ASSERT_EQ(full.size(), 40u * 1024);
    const auto s = PcmSpectrum(full, full.size() - 16384, 14, 88200);
    EXPECT_NEAR(zt::DbFs(zt::TonePower(s, 1000)), -6.02, 0.05);
    EXPECT_GT(zt::DbFs(zt::TonePower(s, 1000)) - zt::DbFs(zt::BandPower(s, 20, 20000, {1000, 2000, 3000})),
              100);

    const auto half = Play(0.5f, &format);
    ASSERT_EQ(half.size(), 40u * 1024);
    const auto h = PcmSpectrum(half, half.size() - 16384, 14, 88200);
    EXPECT_NEAR(zt::DbFs(zt::TonePower(h, 1000)), -6.02 - 6.02, 0.05);

    const auto muted = Play(0.0f, &format);
    EXPECT_EQ(std::count(muted.begin(), muted.end(), 0.0f), static_cast<long>(muted.size()));
}

} // namespace
} // namespace mervanetest
