// DSF and DSDIFF files of a chosen shape, built in memory from per-channel sample bytes.
#pragma once

#include "TestKit/Bytes.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

struct DsfShape {
    std::vector<Bytes> channels; // sample bytes per channel, earliest sample in bit 0
    std::uint64_t formatChunkSize = 52;
    std::uint32_t formatId = 0;
    std::optional<std::uint32_t> channelCount; // default channels.size()
    std::uint32_t rate = 2822400;
    std::uint32_t bits = 1;
    std::uint32_t blockSize = 4096;
    std::optional<std::uint64_t> sampleCount; // default: every byte of channel 0, 8 samples each
    std::uint8_t padByte = 0;                 // fills each channel's last block beyond its bytes
    std::size_t extraBlocks = 0; // whole block groups of padByte after the samples, inside "data"
    std::optional<std::uint64_t> dataChunkSize; // default 12 + the payload
    const char* formatId4 = "fmt ";
    const char* dataId4 = "data";
};

// Blocks of blockSize bytes per channel, channel after channel, as the format stores them.
inline Bytes BuildDsf(const DsfShape& s) {
    const std::size_t perChannel = s.channels.empty() ? 0 : s.channels[0].size();
    const std::size_t block = s.blockSize == 0 ? 4096 : s.blockSize;
    const std::size_t blocks = (perChannel + block - 1) / block + s.extraBlocks;
    Bytes payload;
    for (std::size_t i = 0; i < blocks; ++i)
        for (const Bytes& channel : s.channels)
            for (std::size_t j = 0; j < block; ++j) {
                const std::size_t at = i * block + j;
                payload.push_back(at < channel.size() ? channel[at] : s.padByte);
            }
    Bytes out;
    PutId(out, "DSD ");
    PutLe(out, 28, 8);
    PutLe(out, 92 + payload.size(), 8);
    PutLe(out, 0, 8); // no metadata
    PutId(out, s.formatId4);
    PutLe(out, s.formatChunkSize, 8);
    PutLe(out, 1, 4); // version
    PutLe(out, s.formatId, 4);
    PutLe(out, 2, 4); // channel type: stereo
    PutLe(out, s.channelCount.value_or(static_cast<std::uint32_t>(s.channels.size())), 4);
    PutLe(out, s.rate, 4);
    PutLe(out, s.bits, 4);
    PutLe(out, s.sampleCount.value_or(perChannel * 8), 8);
    PutLe(out, s.blockSize, 4);
    PutLe(out, 0, 4);
    PutId(out, s.dataId4);
    PutLe(out, s.dataChunkSize.value_or(12 + payload.size()), 8);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

struct DsdiffShape {
    std::vector<Bytes> channels; // sample bytes per channel as stored (earliest sample in bit 7)
    const char* formType = "DSD ";
    bool withVersion = true;
    const char* propertyType = "SND ";
    bool withRate = true;
    std::uint32_t rate = 2822400;
    bool withChannels = true;
    std::optional<std::uint16_t> channelCount;                    // default channels.size()
    std::optional<std::string> compression = std::string("DSD "); // nullopt: no CMPR chunk
    bool commentAfterProperties = false; // a COMT chunk between PROP and the sound data
    bool withSound = true;
    std::optional<std::uint64_t> soundSize;        // default: the interleaved bytes
    std::optional<std::uint64_t> foreignChunkSize; // an "XTRA" chunk with this size before PROP
};

inline void PutBeChunk(Bytes& b, const char* id, const Bytes& body) {
    PutId(b, id);
    PutBe(b, body.size(), 8);
    b.insert(b.end(), body.begin(), body.end());
}

// Frames of one byte per channel, channel-interleaved.
inline Bytes BuildDsdiff(const DsdiffShape& s) {
    Bytes form;
    PutId(form, s.formType);
    if (s.withVersion) {
        Bytes v;
        PutBe(v, 0x01050000, 4);
        PutBeChunk(form, "FVER", v);
    }
    if (s.foreignChunkSize) {
        PutId(form, "XTRA");
        PutBe(form, *s.foreignChunkSize, 8);
        PutBe(form, 0, 8);
    }
    Bytes prop;
    PutId(prop, s.propertyType);
    if (s.withRate) {
        Bytes fs;
        PutBe(fs, s.rate, 4);
        PutBeChunk(prop, "FS  ", fs);
    }
    if (s.withChannels) {
        const std::uint16_t n = s.channelCount.value_or(static_cast<std::uint16_t>(s.channels.size()));
        Bytes chnl;
        PutBe(chnl, n, 2);
        for (std::uint16_t i = 0; i < n; ++i)
            PutId(chnl, i == 0 ? "SLFT" : i == 1 ? "SRGT" : "C   ");
        PutBeChunk(prop, "CHNL", chnl);
    }
    if (s.compression) {
        Bytes cmpr;
        PutId(cmpr, s.compression->c_str());
        const std::string name = *s.compression == "DSD " ? "not compressed" : "compressed";
        cmpr.push_back(static_cast<std::uint8_t>(name.size()));
        cmpr.insert(cmpr.end(), name.begin(), name.end());
        if (cmpr.size() % 2 != 0)
            cmpr.push_back(0);
        PutBeChunk(prop, "CMPR", cmpr);
    }
    PutBeChunk(form, "PROP", prop);
    if (s.commentAfterProperties) {
        Bytes comt;
        PutBe(comt, 1, 2); // one comment
        PutBe(comt, 0x07E40101, 4);
        PutBe(comt, 0x0C00, 2);
        PutBe(comt, 0, 2);
        PutBe(comt, 0, 2);
        const std::string text = "made by a test";
        PutBe(comt, text.size(), 4);
        comt.insert(comt.end(), text.begin(), text.end());
        PutBeChunk(form, "COMT", comt);
    }
    if (s.withSound) {
        Bytes sound;
        const std::size_t frames = s.channels.empty() ? 0 : s.channels[0].size();
        for (std::size_t f = 0; f < frames; ++f)
            for (const Bytes& channel : s.channels)
                sound.push_back(channel[f]);
        PutId(form, "DSD ");
        PutBe(form, s.soundSize.value_or(sound.size()), 8);
        form.insert(form.end(), sound.begin(), sound.end());
    }
    Bytes out;
    PutBeChunk(out, "FRM8", form);
    return out;
}

// Offset of the first sample byte of a DSDIFF file built above: the sound chunk is the last one, so its data
// starts the interleaved bytes before the end (or the header's end when it declares more than it holds).
inline std::size_t DsdiffDataOffset(const DsdiffShape& s, const Bytes& file) {
    const std::size_t bytes = s.channels.empty() ? 0 : s.channels[0].size() * s.channels.size();
    return file.size() - bytes;
}

// Distinct bytes per channel and position, never the silence byte, so swapped, shifted or repeated
// bytes show.
inline Bytes ChannelPattern(std::size_t count, std::uint32_t seed) {
    Bytes b(count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(x >> 24);
        if (v == 0x69 || v == 0x96)
            v = 0x5A;
    }
    return b;
}

// Two channels of distinct bytes, from seed and seed + 1.
inline std::vector<Bytes> StereoPattern(std::size_t bytesPerChannel, std::uint32_t seed) {
    return {ChannelPattern(bytesPerChannel, seed), ChannelPattern(bytesPerChannel, seed + 1)};
}

// A DsfShape or DsdiffShape of two channels of distinct bytes at a rate.
template <class Shape>
Shape StereoShape(std::size_t bytesPerChannel, std::uint32_t seed, std::uint32_t rate = 2822400) {
    Shape s;
    s.channels = StereoPattern(bytesPerChannel, seed);
    s.rate = rate;
    return s;
}

inline std::uint8_t ReverseBits(std::uint8_t v) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (v & (1u << i))
            r = static_cast<std::uint8_t>(r | (0x80u >> i));
    return r;
}

// Every byte with its bits in the other order: DSDIFF's order from DSF's and back.
inline Bytes ReverseBits(const Bytes& bytes) {
    Bytes r(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        r[i] = ReverseBits(bytes[i]);
    return r;
}

} // namespace testkit
