// "play --gapless" through the real quellwave-cli: one continuous 997 Hz tone cut at sample boundaries
// into three FLAC files, three WAV files and three DSF files. With --gapless the recording, decoded, is
// one continuous tone: every 10 ms window across the joins fits a sine with a residual at least 90 dB
// below it. Without it each file is a segment of its own between silent blocks, faded in, as always.
#include "CliHarness.h"
#include "TestKit/DsdFiles.h"
#include "TestKit/DsfReadback.h"
#include "TestKit/PcmFiles.h"
#include "TestKit/ToneDisc.h"
#include "TestKit/Wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

using clitest::Quote;

constexpr double kHz = 997.0;
constexpr std::size_t kWindow = 441; // 10 ms at 44 100 Hz
constexpr std::size_t kStep = 44;    // windows start every millisecond
// The three pieces of the tone, in frames at 44 100 Hz: none a whole number of conversion units.
constexpr std::array<long, 3> kPieces = {17999, 20011, 18433};

enum class Kind { Flac, Flac96, Wav, Dsf };

struct Case {
    const char* name;
    Kind kind;
};

// Least-squares fit of x[from, from + n) to c + a sin + b cos at kHz; the residual's power below the fitted
// tone's, in dB (negative), and the tone's amplitude.
struct SineFit {
    double residualDb = 0;
    double amplitude = 0;
};

SineFit FitSine(const std::vector<double>& x, std::size_t from, std::size_t n) {
    std::array<std::array<double, 4>, 3> m{};
    const double w = 2 * std::numbers::pi * kHz / 44100.0;
    for (std::size_t k = from; k < from + n; ++k) {
        const double t = static_cast<double>(k);
        const std::array<double, 3> basis = {1.0, std::sin(w * t), std::cos(w * t)};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += basis[i] * basis[j];
            m[i][3] += basis[i] * x[k];
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c)
                m[r][c] -= f * m[p][c];
        }
    std::array<double, 3> q{};
    for (int p = 2; p >= 0; --p) {
        double v = m[p][3];
        for (int c = p + 1; c < 3; ++c)
            v -= m[p][c] * q[c];
        q[p] = v / m[p][p];
    }
    double tone = 0, residual = 0;
    for (std::size_t k = from; k < from + n; ++k) {
        const double t = static_cast<double>(k);
        const double s = q[1] * std::sin(w * t) + q[2] * std::cos(w * t);
        tone += s * s;
        residual += (x[k] - q[0] - s) * (x[k] - q[0] - s);
    }
    return {10 * std::log10(residual / tone), std::hypot(q[1], q[2])};
}

class GaplessCliTest : public clitest::CliFixture, public ::testing::WithParamInterface<Case> {
protected:
    testkit::PcmShape Piece(int format, long firstFrame, long frames) const {
        testkit::PcmShape shape;
        shape.format = format;
        shape.rate = rate_;
        shape.seconds = static_cast<double>(frames) / rate_;
        shape.firstFrame = firstFrame;
        return shape;
    }

    // The three files of the case, in order.
    std::vector<std::string> MakePieces(Kind kind) {
        std::vector<std::string> paths;
        if (kind == Kind::Flac96)
            rate_ = 96000;
        if (kind != Kind::Dsf) {
            const int format =
                kind != Kind::Wav ? SF_FORMAT_FLAC | SF_FORMAT_PCM_24 : SF_FORMAT_WAV | SF_FORMAT_PCM_24;
            long first = 0;
            for (std::size_t i = 0; i < kPieces.size(); ++i) {
                paths.push_back(
                    (dir_ / ("piece" + std::to_string(i) + (kind != Kind::Wav ? ".flac" : ".wav"))).string());
                EXPECT_TRUE(
                    testkit::WritePcm(paths.back(), Piece(format, first, kPieces[i] * rate_ / 44100)));
                first += kPieces[i] * rate_ / 44100;
            }
            return paths;
        }
        // The whole tone up-converted once, then its DSD cut into three files: at byte boundaries that are
        // no whole element (4 bytes) and no whole DSF block, so every file's last block is padded and its
        // last element only partly holds samples.
        long total = 0;
        for (long n : kPieces)
            total += n;
        const std::string whole = (dir_ / "whole.wav").string();
        EXPECT_TRUE(testkit::WritePcm(whole, Piece(SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, total)));
        const std::string converted = (dir_ / "whole.dsf").string();
        const auto run = CliLine("convert " + Quote(whole) + " " + Quote(converted));
        EXPECT_EQ(run.status, 0) << run.err;
        const auto stream = testkit::ReadDsf(converted);
        EXPECT_TRUE(stream.valid) << stream.error;
        const auto [left, right] = testkit::Channels(stream.blocks);
        const std::array<testkit::Bytes, 2> channels = {left, right};
        const std::array<std::size_t, 3> cuts = {0, 40001, 90003};
        const std::size_t end = channels[0].size() - 5001;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t from = cuts[i], to = i + 1 < 3 ? cuts[i + 1] : end;
            testkit::DsfShape shape;
            for (int c = 0; c < 2; ++c)
                shape.channels.emplace_back(channels[c].begin() + static_cast<long>(from),
                                            channels[c].begin() + static_cast<long>(to));
            shape.padByte = 0x00; // not the silence byte: padding that reached the device would show
            paths.push_back((dir_ / ("piece" + std::to_string(i) + ".dsf")).string());
            testkit::WriteBytes(paths.back(), testkit::BuildDsf(shape));
            expectedDsd_[0].insert(expectedDsd_[0].end(), shape.channels[0].begin(), shape.channels[0].end());
            expectedDsd_[1].insert(expectedDsd_[1].end(), shape.channels[1].begin(), shape.channels[1].end());
        }
        return paths;
    }

    testkit::DsfStream Play(const std::vector<std::string>& paths, bool gapless) {
        const std::string recording = (dir_ / "played.dsf").string();
        std::string args = "play --rf-mode --driver " + Quote("dsf:" + recording);
        if (gapless)
            args += " --gapless";
        for (const std::string& path : paths)
            args += " " + Quote(path);
        const auto played = CliLine(args);
        EXPECT_EQ(played.status, 0) << played.err;
        positions_ = played.out;
        return testkit::ReadDsf(recording);
    }

    int rate_ = 44100;
    std::array<testkit::Bytes, 2> expectedDsd_;
    std::string positions_;
};

TEST_P(GaplessCliTest, WithGaplessTheRecordingIsOneContinuousTone) {
    const Case& c = GetParam();
    const auto paths = MakePieces(c.kind);
    ASSERT_EQ(paths.size(), 3u);
    const auto stream = Play(paths, true);
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 1u) << "silent blocks inside the album";
    const auto decoded = testkit::DecodeLeft(stream.blocks, segments[0].first, segments[0].count);

    // From 50 ms after the start (past a PCM file's fade-in and the decoder's own start) to 50 ms before
    // the end, which holds every join.
    std::size_t tone = 0; // decoded samples that hold the tone
    for (std::size_t k = 0; k < decoded.size(); ++k)
        if (std::abs(decoded[k]) > 0.01)
            tone = k + 1;
    long total = 0;
    for (long n : kPieces)
        total += n;
    ASSERT_GT(tone, static_cast<std::size_t>(total) - 2205) << "the tone is shorter than the three files";
    const std::size_t from = 2205, to = tone - 2205;
    double worst = -300, least = 1e9, most = 0;
    std::size_t windows = 0;
    for (std::size_t at = from; at + kWindow <= to; at += kStep, ++windows) {
        const SineFit fit = FitSine(decoded, at, kWindow);
        worst = std::max(worst, fit.residualDb);
        least = std::min(least, fit.amplitude);
        most = std::max(most, fit.amplitude);
    }
    const SineFit whole = FitSine(decoded, from, to - from);
    std::printf(
        "[ figures  ] gapless %s: %zu windows of 10 ms, worst residual %.1f dB below the tone; one fit "
        "over all %.1f dB; amplitude %.5f..%.5f\n",
        c.name, windows, -worst, -whole.residualDb, least, most);
    EXPECT_LE(worst, -90.0);
    // One fit over the whole tone: a sample lost or added at a join would shift the phase of what follows.
    EXPECT_LE(whole.residualDb, -90.0);
    EXPECT_LT(most / least, 1.001);

    // The position messages renumber the track at each join, with the time carried over.
    for (const char* line : {"position 1 ", "position 2 ", "position 3 "})
        EXPECT_NE(positions_.find(line), std::string::npos) << line << " missing in\n" << positions_;
    EXPECT_EQ(positions_.find("position 2 0\n"), std::string::npos) << positions_;
    EXPECT_TRUE(positions_.ends_with("end\n")) << positions_;

    if (c.kind == Kind::Dsf) {
        // DSD files pass unconverted: the recording holds exactly the three files' samples, one after the
        // other, none of their padding.
        std::array<testkit::Bytes, 2> recorded;
        for (std::size_t b = segments[0].first; b < segments[0].first + segments[0].count; ++b)
            for (int ch = 0; ch < 2; ++ch)
                recorded[ch].insert(recorded[ch].end(), stream.blocks[b].bytes.begin() + 4096 * ch,
                                    stream.blocks[b].bytes.begin() + 4096 * (ch + 1));
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_GE(recorded[ch].size(), expectedDsd_[ch].size());
            EXPECT_TRUE(std::equal(expectedDsd_[ch].begin(), expectedDsd_[ch].end(), recorded[ch].begin()))
                << "channel " << ch;
            EXPECT_TRUE(std::all_of(recorded[ch].begin() + static_cast<long>(expectedDsd_[ch].size()),
                                    recorded[ch].end(), [](std::uint8_t b) { return b == 0x69; }));
        }
    }
}

TEST_P(GaplessCliTest, WithoutGaplessEachFileIsASegmentBetweenSilentBlocks) {
    const Case& c = GetParam();
    const auto stream = Play(MakePieces(c.kind), false);
    ASSERT_TRUE(stream.valid) << stream.error;
    const auto segments = stream.Segments();
    ASSERT_EQ(segments.size(), 3u);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const std::size_t gap = segments[i].first - (segments[i - 1].first + segments[i - 1].count);
        // The trailing silence after a drain and the lead-in before the next start (and for DSD files the
        // final chunk's own silence too).
        EXPECT_GE(gap, 40u + (c.kind == Kind::Dsf ? 10u : 0u)) << "between files " << i << " and " << i + 1;
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto decoded = testkit::DecodeLeft(stream.blocks, segments[i].first, segments[i].count);
        const SineFit steady = FitSine(decoded, 4410, kWindow);
        // The first 3 ms hold a PCM file's fade-in; a DSD file starts at once.
        double peak = 0;
        for (std::size_t k = 0; k < 132; ++k)
            peak = std::max(peak, std::abs(decoded[k]));
        std::printf(
            "[ figures  ] no gapless %s, file %zu: %zu blocks after %s, peak in the first 3 ms %.3f of "
            "the tone\n",
            c.name, i + 1, segments[i].count, i == 0 ? "the lead-in" : "a silent gap",
            peak / steady.amplitude);
        if (c.kind == Kind::Dsf)
            EXPECT_GT(peak, 0.8 * steady.amplitude);
        else
            EXPECT_LT(peak, 0.6 * steady.amplitude);
    }
    EXPECT_NE(positions_.find("position 2 0\n"), std::string::npos) << positions_;
    EXPECT_NE(positions_.find("position 3 0\n"), std::string::npos) << positions_;
}

INSTANTIATE_TEST_SUITE_P(Albums, GaplessCliTest,
                         ::testing::Values(Case{"flac", Kind::Flac}, Case{"flac96", Kind::Flac96},
                                           Case{"wav", Kind::Wav}, Case{"dsf", Kind::Dsf}),
                         [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

} // namespace
