// Builds CUE/BIN images for the CD tests: audio sectors of recognisable pseudo-random samples (every byte
// depends on its position, so a shifted or misplaced read shows) and data sectors with a real sync
// pattern and header.
#pragma once

#include "TestKit/Bytes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

// One sector of audio; seed separates files.
inline Bytes AudioSector(std::uint32_t seed, std::uint32_t sector) {
    Bytes out(2352);
    std::uint32_t x = seed * 2654435761u ^ (sector + 1) * 40503u;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// A raw data sector: sync, BCD header for its disc address and mode, then patterned user data.
inline Bytes DataSector(std::uint32_t lba, std::uint8_t mode) {
    Bytes out = AudioSector(0xDA7A, lba);
    out[0] = 0x00;
    for (int i = 1; i <= 10; ++i) {
        out[i] = 0xFF;
    }
    out[11] = 0x00;
    const std::uint32_t f = lba + 150;
    auto bcd = [](std::uint32_t v) { return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10)); };
    out[12] = bcd(f / 4500);
    out[13] = bcd(f / 75 % 60);
    out[14] = bcd(f % 75);
    out[15] = mode;
    return out;
}

// Sector kinds for one file, in order: 'a' audio, '1' mode 1, '2' mode 2. baseLba is the disc address of
// the file's first sector (used for data headers).
inline Bytes BuildFile(std::uint32_t seed, const std::string& kinds, std::uint32_t baseLba) {
    Bytes out;
    for (std::uint32_t i = 0; i < kinds.size(); ++i) {
        const Bytes s =
            kinds[i] == 'a' ? AudioSector(seed, i) : DataSector(baseLba + i, kinds[i] == '1' ? 1 : 2);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

// The tracks of a one-file disc, one after another: each of one sector kind (as for BuildFile) and a
// length in sectors.
using DiscTracks = std::vector<std::pair<char, std::uint32_t>>;

// The sector kinds of the whole file, for BuildFile.
inline std::string KindsOf(const DiscTracks& tracks) {
    std::string kinds;
    for (const auto& [kind, sectors] : tracks) {
        kinds += std::string(sectors, kind);
    }
    return kinds;
}

// A disc address as a CUE sheet writes it: mm:ss:ff.
inline std::string CueTime(std::uint32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return text;
}

// The CUE sheet of `file` holding the tracks.
inline std::string SheetOf(const std::string& file, const DiscTracks& tracks) {
    std::string sheet = "FILE \"" + file + "\" BINARY\n";
    std::uint32_t at = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n    INDEX 01 ", i + 1,
                      tracks[i].first == 'a'   ? "AUDIO"
                      : tracks[i].first == '1' ? "MODE1/2352"
                                               : "MODE2/2352");
        sheet += line + CueTime(at) + "\n";
        at += tracks[i].second;
    }
    return sheet;
}

} // namespace testkit
