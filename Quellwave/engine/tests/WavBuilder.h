// Test support: WAV files of a chosen shape, built in memory, written into a scratch folder.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<std::uint8_t>;

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

inline void Put(Bytes& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutChunk(Bytes& b, const char* id, std::uint32_t size, const Bytes& body) {
    b.insert(b.end(), id, id + 4);
    Put(b, size, 4);
    b.insert(b.end(), body.begin(), body.end());
}

inline Bytes BuildWav(const WavShape& s) {
    const std::uint16_t align = s.blockAlign.value_or(static_cast<std::uint16_t>(s.channels * s.bits / 8));
    Bytes fmt;
    Put(fmt, s.tag, 2), Put(fmt, s.channels, 2), Put(fmt, s.rate, 4), Put(fmt, s.rate * align, 4);
    Put(fmt, align, 2), Put(fmt, s.bits, 2);
    if (s.tag == 0xFFFE) {
        Put(fmt, 22, 2), Put(fmt, s.bits, 2), Put(fmt, 3, 4);
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

// Non-zero bytes that differ from their neighbours, so misplaced or zeroed reads show.
inline Bytes Pattern(std::size_t count) {
    Bytes b(count);
    std::uint32_t x = 12345;
    for (auto& v : b)
        v = static_cast<std::uint8_t>(((x = x * 1664525u + 1013904223u) >> 24) | 1);
    return b;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A fresh folder under the temporary directory, removed with its contents.
struct ScratchDir {
    ScratchDir() {
        std::string t = (std::filesystem::temp_directory_path() / "qwtest-XXXXXX").string();
        path = ::mkdtemp(t.data()) ? t : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::filesystem::path path;
};

} // namespace wavtest
