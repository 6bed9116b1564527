// WAV files of a chosen shape, built in memory: every header field can be set to what a damaged or unusual
// file holds.
#pragma once

#include "TestKit/Bytes.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

struct WavShape {
    std::uint16_t tag = 1, channels = 2, bits = 16;
    std::uint32_t rate = 44100;
    std::optional<std::uint16_t> blockAlign; // default channels * bits / 8
    std::optional<std::uint32_t> formatSize; // default 16, or 40 when extensible
    bool pcmSubFormat = true;                // else the float sub-format
    int chunksBeforeData = 0;                // each "LIST" with 3 bytes and no pad byte
    Bytes data;
    std::optional<std::uint32_t> declaredDataSize;
};

inline void PutChunk(Bytes& b, const char* id, std::uint32_t size, const Bytes& body) {
    PutId(b, id);
    PutLe(b, size, 4);
    b.insert(b.end(), body.begin(), body.end());
}

inline Bytes BuildWav(const WavShape& s) {
    const std::uint16_t align = s.blockAlign.value_or(static_cast<std::uint16_t>(s.channels * s.bits / 8));
    Bytes fmt;
    PutLe(fmt, s.tag, 2), PutLe(fmt, s.channels, 2), PutLe(fmt, s.rate, 4), PutLe(fmt, s.rate * align, 4);
    PutLe(fmt, align, 2), PutLe(fmt, s.bits, 2);
    if (s.tag == 0xFFFE) {
        PutLe(fmt, 22, 2), PutLe(fmt, s.bits, 2), PutLe(fmt, 3, 4);
        fmt.insert(fmt.end(), {std::uint8_t(s.pcmSubFormat ? 1 : 3), 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA,
                               0, 0x38, 0x9B, 0x71});
    }
    fmt.resize(s.formatSize.value_or(s.tag == 0xFFFE ? 40 : 16), 0);
    Bytes body{'W', 'A', 'V', 'E'};
    PutChunk(body, "fmt ", static_cast<std::uint32_t>(fmt.size()), fmt);
    for (int i = 0; i < s.chunksBeforeData; ++i)
        PutChunk(body, "LIST", 3, {1, 2, 3});
    PutChunk(body, "data", s.declaredDataSize.value_or(static_cast<std::uint32_t>(s.data.size())), s.data);
    Bytes out;
    PutChunk(out, "RIFF", static_cast<std::uint32_t>(body.size()), body);
    return out;
}

// A 44.1 kHz stereo WAV holding `seconds` (rounded to whole frames) of one constant level on both
// channels, a fraction of full scale: what the player makes of it is easy to tell from the recording.
inline Bytes ConstantWav(std::uint16_t bits, double seconds, double level) {
    WavShape shape;
    shape.bits = bits;
    const auto frames = static_cast<std::size_t>(std::llround(seconds * 44100));
    const auto value = static_cast<std::int32_t>(std::lround(level * ((1 << (bits - 1)) - 1)));
    for (std::size_t i = 0; i < frames * 2; ++i)
        PutLe(shape.data, static_cast<std::uint32_t>(value), bits / 8);
    return BuildWav(shape);
}

// Non-zero bytes that differ from their neighbours, so misplaced or zeroed reads show.
inline Bytes Pattern(std::size_t count) {
    Bytes b(count);
    std::uint32_t x = 12345;
    for (auto& v : b)
        v = static_cast<std::uint8_t>(((x = x * 1664525u + 1013904223u) >> 24) | 1);
    return b;
}

} // namespace testkit
