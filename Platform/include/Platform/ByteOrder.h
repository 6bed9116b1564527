// Big- and little-endian integers in byte buffers: command blocks and replies (big-endian), stored
// records and file headers (little-endian). The caller makes sure the bytes are there. Pure; any thread.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

constexpr std::uint32_t ReadBe16(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 8 | p[1];
}
constexpr std::uint32_t ReadBe24(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}
constexpr std::uint32_t ReadBe32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
constexpr std::uint32_t ReadLe16(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[1]} << 8 | p[0];
}
constexpr std::uint32_t ReadLe32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}
constexpr std::uint64_t ReadLe64(const std::uint8_t* p) noexcept {
    return std::uint64_t{ReadLe32(p + 4)} << 32 | ReadLe32(p);
}

// Writers keep the low bits of value that fit.
constexpr void WriteBe16(std::uint8_t* p, std::uint32_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
constexpr void WriteBe24(std::uint8_t* p, std::uint32_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value >> 16);
    WriteBe16(p + 1, value);
}
constexpr void WriteBe32(std::uint8_t* p, std::uint32_t value) noexcept {
    WriteBe16(p, value >> 16);
    WriteBe16(p + 2, value);
}
constexpr void WriteLe16(std::uint8_t* p, std::uint32_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
constexpr void WriteLe32(std::uint8_t* p, std::uint32_t value) noexcept {
    WriteLe16(p, value);
    WriteLe16(p + 2, value >> 16);
}
constexpr void WriteLe64(std::uint8_t* p, std::uint64_t value) noexcept {
    WriteLe32(p, static_cast<std::uint32_t>(value));
    WriteLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

// Each byte with its bits in the opposite order (bit 0 becomes bit 7): DSD bytes carry the earliest sample
// in bit 0 in some formats and in bit 7 in others.
inline constexpr std::array<std::uint8_t, 256> kBitReversed = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            r |= ((v >> bit) & 1u) << (7 - bit);
        table[v] = static_cast<std::uint8_t>(r);
    }
    return table;
}();

} // namespace platform
