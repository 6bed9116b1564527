// For the CD path: a disc image of two steady tones (different on the two channels) that
// run on across its track boundaries, decoding what reached the device back to 44.1 kHz, and a
// least-squares fit of the two tones that measures how far a decoded recording departs from them. Also a
// CUE sheet of any track layout, and the left channel of any recording decoded.
#pragma once

#include "DsdDecimator.h"
#include "TestKit/DsfReadback.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>
#include <string>
#include <vector>

namespace testkit {

// A CUE sheet of one BIN file holding tracks of these lengths (sectors) one after the other; the tracks
// numbered (from 1) in `data` are MODE1/2352 data tracks, the others audio.
inline std::string CueSheet(const std::string& bin, const std::vector<std::uint32_t>& sectors,
                            const std::set<std::size_t>& data = {}) {
    std::string cue = "FILE \"" + bin + "\" BINARY\n";
    std::uint32_t at = 0;
    for (std::size_t t = 0; t < sectors.size(); ++t) {
        char line[96];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n    INDEX 01 %02u:%02u:%02u\n", t + 1,
                      data.count(t + 1) != 0 ? "MODE1/2352" : "AUDIO", at / 4500, at / 75 % 60, at % 75);
        cue += line;
        at += sectors[t];
    }
    return cue;
}

// The left channel of `count` blocks from `first` on (to the end unless asked), decoded to 44.1 kHz by the
// output's decimator.
inline std::vector<double> DecodeLeft(const std::vector<Block>& blocks, std::size_t first = 0,
                                      std::size_t count = static_cast<std::size_t>(-1)) {
    mervane::DsdDecimator decimator(44100);
    std::vector<double> out;
    std::vector<float> samples(4096 * 8 / 64);
    for (std::size_t b = first; b < blocks.size() && b - first < count; ++b) {
        decimator.Process(blocks[b].bytes.data(), 4096, samples.data());
        out.insert(out.end(), samples.begin(), samples.end());
    }
    return out;
}

} // namespace testkit

namespace testkit::cdtone {

inline constexpr double kFrequency1 = 997.0;
inline constexpr double kFrequency2 = 3001.0;
// Levels of the two tones on the left and the right (fractions of full scale).
inline constexpr std::array<double, 2> kLevel1 = {0.5, 0.25};
inline constexpr std::array<double, 2> kLevel2 = {0.25, 0.5};
inline constexpr std::uint32_t kFramesPerSector = 588;

inline double Tone(double frequency, double frame) {
    return std::sin(2 * std::numbers::pi * frequency * frame / 44100.0);
}

// One channel's least-squares fit to c + a1 sin + b1 cos (tone 1) + a2 sin + b2 cos (tone 2).
struct Fit {
    std::array<double, 5> coefficients{};
    double level1 = 0, level2 = 0, signal = 0, residual = 0;

    double At(std::size_t k) const {
        const double x = static_cast<double>(k);
        return coefficients[0] + coefficients[1] * Tone(kFrequency1, x) +
               coefficients[2] * Tone(kFrequency1, x + 44100.0 / kFrequency1 / 4) +
               coefficients[3] * Tone(kFrequency2, x) +
               coefficients[4] * Tone(kFrequency2, x + 44100.0 / kFrequency2 / 4);
    }
    double SnrDb() const { return 10 * std::log10(signal / residual); }
};

inline Fit FitTones(const std::vector<float>& y, std::size_t from, std::size_t to) {
    std::array<std::array<double, 6>, 5> m{}; // normal equations with the right-hand side in column 5
    for (std::size_t k = from; k < to; ++k) {
        const double x = static_cast<double>(k);
        const std::array<double, 5> basis = {
            1.0, Tone(kFrequency1, x), Tone(kFrequency1, x + 44100.0 / kFrequency1 / 4), Tone(kFrequency2, x),
            Tone(kFrequency2, x + 44100.0 / kFrequency2 / 4)};
        for (int i = 0; i < 5; ++i) {
            for (int j = 0; j < 5; ++j)
                m[i][j] += basis[i] * basis[j];
            m[i][5] += basis[i] * y[k];
        }
    }
    for (int p = 0; p < 5; ++p) {
        for (int r = p + 1; r < 5; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 6; ++c)
                m[r][c] -= f * m[p][c];
        }
    }
    Fit fit;
    for (int p = 4; p >= 0; --p) {
        double v = m[p][5];
        for (int c = p + 1; c < 5; ++c)
            v -= m[p][c] * fit.coefficients[c];
        fit.coefficients[p] = v / m[p][p];
    }
    fit.level1 = std::hypot(fit.coefficients[1], fit.coefficients[2]);
    fit.level2 = std::hypot(fit.coefficients[3], fit.coefficients[4]);
    for (std::size_t k = from; k < to; ++k) {
        const double e = y[k] - fit.At(k);
        fit.residual += e * e;
        fit.signal += (fit.At(k) - fit.coefficients[0]) * (fit.At(k) - fit.coefficients[0]);
    }
    return fit;
}

// Writes tones.bin and tones.cue in dir: tracks of these lengths (sectors), one continuous signal.
inline void WriteDisc(const std::filesystem::path& dir, const std::array<std::uint32_t, 5>& tracks) {
    std::uint32_t sectors = 0;
    for (std::uint32_t t : tracks)
        sectors += t;
    std::vector<char> bin;
    for (std::uint32_t n = 0; n < sectors * kFramesPerSector; ++n) {
        for (int c = 0; c < 2; ++c) {
            const double v = kLevel1[c] * Tone(kFrequency1, n) + kLevel2[c] * Tone(kFrequency2, n);
            const auto s = static_cast<std::int16_t>(std::lround(v * 32767));
            bin.push_back(static_cast<char>(s & 0xFF));
            bin.push_back(static_cast<char>((s >> 8) & 0xFF));
        }
    }
    std::ofstream(dir / "tones.bin", std::ios::binary)
        .write(bin.data(), static_cast<std::streamsize>(bin.size()));
    std::ofstream(dir / "tones.cue") << CueSheet("tones.bin", {tracks.begin(), tracks.end()});
}

// Decodes one channel (0 left, 1 right) of a run of blocks to 44.1 kHz.
inline std::vector<float> Decode(const DsfStream& stream, const Run& run, int channel) {
    mervane::DsdDecimator decimator(44100);
    std::vector<float> out(run.count * 4096 * 8 / 64);
    for (std::size_t b = 0; b < run.count; ++b)
        decimator.Process(stream.blocks[run.first + b].bytes.data() + 4096 * channel, 4096,
                          out.data() + b * 512);
    return out;
}

} // namespace testkit::cdtone
