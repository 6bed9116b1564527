// Builds CUE/BIN images for the CD tests: audio sectors of recognisable pseudo-random samples (every byte
// depends on its position, so a shifted or misplaced read shows) and data sectors with a real sync
// pattern and header.
#pragma once

#include "TestKit/Bytes.h"

#include <cstdint>
#include <string>
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

} // namespace testkit
