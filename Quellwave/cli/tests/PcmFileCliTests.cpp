// FLAC, AIFF, float, 32-bit and mono WAV files at every rate through the real quellwave-cli: info
// describes each, and both convert and play give DSD whose decoded audio matches the input resampled to
// 44 100 Hz by an independent resampler (ffmpeg's), within a stated in-band noise.
#include "CliHarness.h"
#include "TestKit/DsdAnalysis.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/PcmFiles.h"
#include "TestKit/ToneDisc.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

namespace {

using clitest::Quote;
using testkit::Fft;
using testkit::PcmShape;

// The left channel of a file resampled to 44 100 Hz by ffmpeg at its best settings.
std::vector<double> FfmpegLeft(const std::string& path, int channels) {
    const std::string command = "ffmpeg -v error -i " + Quote(path) +
                                " -af aresample=44100:filter_size=256:phase_shift=16:cutoff=0.98 -f f64le -";
    FILE* p = ::popen(command.c_str(), "r");
    std::vector<double> out;
    if (p == nullptr)
        return out;
    double frame[2];
    while (std::fread(frame, sizeof(double) * static_cast<std::size_t>(channels), 1, p) == 1)
        out.push_back(frame[0]);
    ::pclose(p);
    return out;
}

// Power of x between lowHz and highHz at 44 100 Hz, under a Blackman-Harris window (same scale for any x).
double BandPower(const std::vector<double>& x, double lowHz, double highHz) {
    const std::size_t n = x.size();
    std::vector<std::complex<double>> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double w =
            0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        a[i] = x[i] * w;
    }
    Fft(a);
    double sum = 0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double hz = static_cast<double>(k) * 44100.0 / static_cast<double>(n);
        if (hz >= lowHz && hz <= highHz)
            sum += std::norm(a[k]);
    }
    return sum;
}

struct Match {
    double gainDb = 0; // of the decoded audio against the reference
    double snrDb = 0;  // the reference's power over the difference's, 20 Hz to 20 kHz
};

// Fits decoded[from..] as a * ref + b * ref' (ref' the central difference: together they take up any
// fractional delay of a tone), then measures what the fit leaves in the audio band.
Match Compare(const std::vector<double>& decoded, std::size_t from, const std::vector<double>& ref,
              std::size_t refFrom, std::size_t count) {
    double rr = 0, dd = 0, rd = 0, xr = 0, xd = 0;
    for (std::size_t n = 0; n < count; ++n) {
        const double r = ref[refFrom + n], d = (ref[refFrom + n + 1] - ref[refFrom + n - 1]) / 2;
        const double x = decoded[from + n];
        rr += r * r, dd += d * d, rd += r * d, xr += x * r, xd += x * d;
    }
    const double det = rr * dd - rd * rd;
    const double a = (xr * dd - xd * rd) / det, b = (xd * rr - xr * rd) / det;
    std::vector<double> fit(count), residual(count);
    for (std::size_t n = 0; n < count; ++n) {
        fit[n] = a * ref[refFrom + n] + b * (ref[refFrom + n + 1] - ref[refFrom + n - 1]) / 2;
        residual[n] = decoded[from + n] - fit[n];
    }
    double fitPower = 0, refPower = 0;
    for (std::size_t n = 0; n < count; ++n)
        fitPower += fit[n] * fit[n], refPower += ref[refFrom + n] * ref[refFrom + n];
    return {10 * std::log10(fitPower / refPower),
            10 * std::log10(BandPower(fit, 20, 20000) / BandPower(residual, 20, 20000))};
}

struct Case {
    const char* name;
    int format;
    int rate;
    int channels;
    const char* info; // the info line after "path: "
    double minSnrDb;  // 16-bit inputs carry their own quantisation noise
};

class PcmFileCliTest : public clitest::CliFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(PcmFileCliTest, InfoDescribesItAndConvertAndPlayMatchAnIndependentResampler) {
    ASSERT_TRUE(clitest::Have("ffmpeg")) << "ffmpeg is missing: scripts/setup installs it";
    const Case& c = GetParam();
    PcmShape shape;
    shape.format = c.format;
    shape.rate = c.rate;
    shape.channels = c.channels;
    shape.seconds = 2;
    const std::string path = (dir_ / c.name).string();
    ASSERT_TRUE(testkit::WritePcm(path, shape));

    const auto info = CliLine("info " + Quote(path));
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out, path + ": " + c.info + "\n");

    const auto reference = FfmpegLeft(path, c.channels);
    ASSERT_NEAR(static_cast<double>(reference.size()), 88200.0, 2.0) << c.name;
    // Half a second into the tone, one and a half seconds of it (2^16 samples).
    constexpr std::size_t kCount = 65536, kRefFrom = 11025;

    const std::string dsf = (dir_ / "converted.dsf").string();
    const auto converted = CliLine("convert " + Quote(path) + " " + Quote(dsf));
    ASSERT_EQ(converted.status, 0) << converted.err;
    const auto convertedStream = testkit::ReadDsf(dsf);
    ASSERT_TRUE(convertedStream.valid) << convertedStream.error;
    // One block per 512 frames at 44 100 Hz, plus the padded last one.
    EXPECT_NEAR(static_cast<double>(convertedStream.blocks.size()), 88200.0 / 512, 2.0);
    const auto fromConvert = testkit::DecodeLeft(convertedStream.blocks);
    // The converter and the decimator delay the audio by a fixed amount; a tone's fit takes up the rest.
    const Match convertMatch = Compare(fromConvert, kRefFrom + 64, reference, kRefFrom, kCount);

    const std::string recording = (dir_ / "played.dsf").string();
    const auto played = CliLine("play --driver " + Quote("dsf:" + recording) + " " + Quote(path));
    ASSERT_EQ(played.status, 0) << played.err;
    const auto playedStream = testkit::ReadDsf(recording);
    ASSERT_TRUE(playedStream.valid) << playedStream.error;
    const auto segments = playedStream.Segments();
    ASSERT_EQ(segments.size(), 1u);
    const std::vector<testkit::Block> track(
        playedStream.blocks.begin() + static_cast<long>(segments[0].first), playedStream.blocks.end());
    const Match playMatch = Compare(testkit::DecodeLeft(track), kRefFrom + 64, reference, kRefFrom, kCount);

    std::printf("[ figures  ] %-34s convert: gain %+.4f dB, SNR %.1f dB; play: gain %+.4f dB, SNR %.1f dB\n",
                c.info, convertMatch.gainDb, convertMatch.snrDb, playMatch.gainDb, playMatch.snrDb);
    for (const Match& m : {convertMatch, playMatch}) {
        EXPECT_NEAR(m.gainDb, 0.0, 0.01) << c.name;
        EXPECT_GE(m.snrDb, c.minSnrDb) << c.name;
    }
}

constexpr int kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kFlac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;

INSTANTIATE_TEST_SUITE_P(
    Files, PcmFileCliTest,
    ::testing::Values(
        Case{"f16-44100.flac", kFlac16, 44100, 2, "flac rate=44100 bits=16 channels=2 length_ms=2000", 85},
        Case{"f16-48000.flac", kFlac16, 48000, 2, "flac rate=48000 bits=16 channels=2 length_ms=2000", 85},
        Case{"f16-88200.flac", kFlac16, 88200, 2, "flac rate=88200 bits=16 channels=2 length_ms=2000", 85},
        Case{"f16-96000.flac", kFlac16, 96000, 2, "flac rate=96000 bits=16 channels=2 length_ms=2000", 85},
        Case{"f16-176400.flac", kFlac16, 176400, 2, "flac rate=176400 bits=16 channels=2 length_ms=2000", 85},
        Case{"f16-192000.flac", kFlac16, 192000, 2, "flac rate=192000 bits=16 channels=2 length_ms=2000", 85},
        Case{"f24-44100.flac", kFlac24, 44100, 2, "flac rate=44100 bits=24 channels=2 length_ms=2000", 110},
        Case{"f24-48000.flac", kFlac24, 48000, 2, "flac rate=48000 bits=24 channels=2 length_ms=2000", 110},
        Case{"f24-88200.flac", kFlac24, 88200, 2, "flac rate=88200 bits=24 channels=2 length_ms=2000", 110},
        Case{"f24-96000.flac", kFlac24, 96000, 2, "flac rate=96000 bits=24 channels=2 length_ms=2000", 110},
        Case{"f24-176400.flac", kFlac24, 176400, 2, "flac rate=176400 bits=24 channels=2 length_ms=2000",
             110},
        Case{"f24-192000.flac", kFlac24, 192000, 2, "flac rate=192000 bits=24 channels=2 length_ms=2000",
             110},
        Case{"a24-48000.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 2,
             "aiff rate=48000 bits=24 channels=2 length_ms=2000", 110},
        Case{"float-96000.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2,
             "wav-float rate=96000 bits=32 channels=2 length_ms=2000", 110},
        Case{"int32-48000.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 48000, 2,
             "wav rate=48000 bits=32 channels=2 length_ms=2000", 110},
        Case{"mono-44100.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1,
             "wav rate=44100 bits=16 channels=1 length_ms=2000", 85}),
    [](const auto& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// Damaged and cut FLACs: info and play name a reason or play what is there, and never crash.
using PcmFileCliDamageTest = clitest::CliFixture;

TEST_F(PcmFileCliDamageTest, DamagedAndCutFlacsGiveAReasonOrTheirAudioNeverACrash) {
    PcmShape shape;
    shape.seconds = 2;
    const auto whole = dir_ / "whole.flac";
    ASSERT_TRUE(testkit::WritePcm(whole, shape));
    const auto bytes = testkit::ReadBytes(whole);
    std::vector<std::string> paths;
    for (const std::size_t keep :
         {std::size_t{3}, std::size_t{20}, std::size_t{42}, std::size_t{200}, bytes.size() / 2}) {
        const auto p = dir_ / ("cut-" + std::to_string(keep) + ".flac");
        testkit::WriteBytes(p, testkit::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
        paths.push_back(p.string());
    }
    testkit::Bytes scrambled = bytes;
    for (std::size_t i = 8; i < scrambled.size(); i += 97)
        scrambled[i] ^= 0x5A;
    testkit::WriteBytes(dir_ / "scrambled.flac", scrambled);
    paths.push_back((dir_ / "scrambled.flac").string());
    for (const std::string& p : paths) {
        const auto info = CliLine("info " + Quote(p));
        ASSERT_TRUE(info.status == 0 || info.status == 1) << p << ": " << info.status;
        EXPECT_EQ(info.out.rfind(p + ": ", 0), 0u) << info.out;
        if (info.status == 1) {
            EXPECT_NE(info.out.find("rejected ("), std::string::npos) << info.out;
            continue;
        }
        const auto play = CliLine("play --driver null " + Quote(p));
        EXPECT_EQ(play.status, 0) << p << ": " << play.err;
        EXPECT_NE(play.out.find("end\n"), std::string::npos) << p;
    }
}

} // namespace
