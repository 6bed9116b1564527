// Bytes in memory and on disk for the tests: whole files read and written, and integers put into or read
// out of byte strings in either order, as the file formats and drive replies under test store them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testkit {

using Bytes = std::vector<std::uint8_t>;

// The whole file; empty when it cannot be read.
Bytes ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
// Replaces the file's contents; false when it cannot be written.
bool WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
bool WriteText(const std::filesystem::path& path, const std::string& text);

// Appends the low `bytes` bytes of v, least significant first (Le) or most significant first (Be).
inline void PutLe(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutBe(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// Appends a four-character chunk or atom name.
inline void PutId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));
}

// UTF-16 text as little-endian bytes without a terminator: the registry's strings and UTF-16 files.
inline Bytes Utf16Le(std::u16string_view text) {
    Bytes b;
    for (const char16_t unit : text)
        PutLe(b, unit, 2);
    return b;
}

// Reads n bytes at `at` as an unsigned integer stored least (Le) or most (Be) significant byte first.
inline std::uint64_t Le(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}
inline std::uint64_t Be(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

} // namespace testkit
