// Reading back what reached the device. DSF files as the "dsf:" driver writes them, cut into
// blocks, and the density of one bits, which for a sigma-delta stream is 0.5 + signal / 4 (Zentrafold's full
// scale is 50 % modulation) once averaged over a few dozen bytes.
#pragma once

#include "TestKit/Bytes.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testkit {

inline double Density(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t ones = 0;
    for (std::size_t i = 0; i < count; ++i)
        ones += static_cast<std::uint64_t>(std::popcount(bytes[i]));
    return count ? static_cast<double>(ones) / (8.0 * static_cast<double>(count)) : 0.0;
}

// One 8192-byte block: left 4096, right 4096.
struct Block {
    std::vector<std::uint8_t> bytes;
    bool Silent() const {
        for (std::uint8_t b : bytes)
            if (b != 0x69)
                return false;
        return true;
    }
    double LeftDensity(std::size_t from = 0, std::size_t count = 4096) const {
        return Density(bytes.data() + from, count);
    }
    double RightDensity(std::size_t from = 0, std::size_t count = 4096) const {
        return Density(bytes.data() + 4096 + from, count);
    }
};

// A run of blocks that are all silent (the DSD silence byte) or all not.
struct Run {
    bool silent = false;
    std::size_t first = 0, count = 0;
};

struct DsfStream {
    bool valid = false;
    std::string error;
    std::vector<Block> blocks;

    std::vector<Run> Runs() const {
        std::vector<Run> runs;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const bool s = blocks[i].Silent();
            if (runs.empty() || runs.back().silent != s)
                runs.push_back({s, i, 0});
            ++runs.back().count;
        }
        return runs;
    }
    // The non-silent runs only.
    std::vector<Run> Segments() const {
        std::vector<Run> out;
        for (const Run& r : Runs())
            if (!r.silent)
                out.push_back(r);
        return out;
    }
};

// Parses a stereo LSB-first DSF file at the given sample rate (DSD64 unless asked) with 4096-byte blocks
// per channel, checking the header against the file's size.
inline DsfStream ReadDsf(const std::filesystem::path& path, std::uint64_t sampleRate = 2822400) {
    DsfStream s;
    const Bytes f = ReadBytes(path);
    if (f.size() < 92 || std::string(f.begin(), f.begin() + 4) != "DSD " ||
        std::string(f.begin() + 28, f.begin() + 32) != "fmt " ||
        std::string(f.begin() + 80, f.begin() + 84) != "data") {
        s.error = "not a DSF file";
        return s;
    }
    if (Le(f, 12, 8) != f.size() || Le(f, 52, 4) != 2 || Le(f, 56, 4) != sampleRate || Le(f, 60, 4) != 1 ||
        Le(f, 72, 4) != 4096) {
        s.error = "unexpected header fields";
        return s;
    }
    const std::uint64_t samples = Le(f, 64, 8);
    const std::uint64_t dataSize = Le(f, 84, 8) - 12;
    if (dataSize % 8192 != 0 || samples != dataSize / 8192 * 32768 || 92 + dataSize != f.size()) {
        s.error = "sizes disagree";
        return s;
    }
    for (std::size_t at = 92; at + 8192 <= f.size(); at += 8192)
        s.blocks.push_back({std::vector<std::uint8_t>(f.begin() + static_cast<long>(at),
                                                      f.begin() + static_cast<long>(at + 8192))});
    s.valid = true;
    return s;
}

// Each channel of the blocks from `first` on, as one run of bytes in time order.
struct StereoBytes {
    Bytes left, right;
};
inline StereoBytes Channels(const std::vector<Block>& blocks, std::size_t first = 0) {
    StereoBytes c;
    for (std::size_t b = first; b < blocks.size(); ++b) {
        const Bytes& bytes = blocks[b].bytes;
        c.left.insert(c.left.end(), bytes.begin(), bytes.begin() + 4096);
        c.right.insert(c.right.end(), bytes.begin() + 4096, bytes.end());
    }
    return c;
}

// Bytes at or after `from` that are not the DSD silence byte.
inline std::size_t NotSilent(const Bytes& bytes, std::size_t from = 0) {
    std::size_t n = 0;
    for (std::size_t i = from; i < bytes.size(); ++i)
        n += bytes[i] != 0x69;
    return n;
}

inline constexpr std::size_t kNoDifference = static_cast<std::size_t>(-1);

// Index into want of the first byte where got (read from `from`) differs from it or ends, else
// kNoDifference.
inline std::size_t FirstDifference(const Bytes& got, const Bytes& want, std::size_t from = 0) {
    for (std::size_t i = 0; i < want.size(); ++i)
        if (from + i >= got.size() || got[from + i] != want[i])
            return i;
    return kNoDifference;
}

} // namespace testkit
