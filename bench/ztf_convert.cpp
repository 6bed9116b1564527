// ztf-convert [--rate 64|128|256|512] [--land] [--portable] IN.wav OUT.dsf: converts a 44.1 kHz stereo
// 16/24-bit WAV to DSD64 (or DSD128, DSD256, DSD512) with Zentrafold alone (the library the player uses,
// called as the engine calls it) and writes a DSF file; with --land the last unit (the silent one added after
// the input) goes through ConvertFinal, so that the file ends on a landing and DSD silence bytes can follow
// it; with
// --portable the converter computes in plain C++ instead of the processor's vector unit (the same bytes).
// Prints the modulator's overload statistics (resets, bursts, samples whose fed-back error was limited) and
// the longest run of identical output bytes per channel, the stuck-output check. Exit status: 0 on success, 1
// on bad input or an output that stuck (a run of identical bytes over 1 ms).
#include "Platform/ByteOrder.h"
#include "Zentrafold/ZentrafoldConverter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using platform::ReadLe16;
using platform::ReadLe32;

// The whole file in one buffer, with room for the padding units after its samples.
struct Wav {
    int bits = 0;
    std::unique_ptr<unsigned char[]> file;
    std::size_t capacity = 0;
    std::size_t offset = 0; // of the samples in `file`
    std::size_t size = 0;   // sample bytes
};

bool ReadWav(const char* path, std::size_t slack, Wav& wav) {
    // One read into an uninitialised buffer of the file's size (and the padding's), used in place: growing
    // a vector byte by byte, then copying the samples out of it, cost a tenth of the run.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const auto length = static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0));
    wav.capacity = length + slack;
    wav.file = std::make_unique_for_overwrite<unsigned char[]>(wav.capacity);
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(wav.file.get()), static_cast<std::streamsize>(length)))
        return false;
    const std::span<const unsigned char> file(wav.file.get(), length);
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = ReadLe32(file.data() + at + 4);
        const std::size_t body = at + 8;
        const std::size_t avail = std::min<std::size_t>(size, file.size() - body);
        if (std::memcmp(file.data() + at, "fmt ", 4) == 0 && avail >= 16) {
            const unsigned char* f = file.data() + body;
            const std::uint16_t tag = ReadLe16(f);
            if ((tag != 1 && tag != 0xFFFE) || ReadLe16(f + 2) != 2 || ReadLe32(f + 4) != 44100)
                return false;
            wav.bits = ReadLe16(f + 14);
            if (wav.bits != 16 && wav.bits != 24)
                return false;
            haveFormat = true;
        } else if (std::memcmp(file.data() + at, "data", 4) == 0 && haveFormat) {
            wav.offset = body;
            wav.size = avail;
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}

void Put32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}
void Put64(std::vector<unsigned char>& v, std::uint64_t x) {
    for (int i = 0; i < 8; ++i)
        v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}

// DSF: blocks of 4096 bytes of the left channel, then 4096 of the right, LSB first: our DSD64 block layout
// (a DSD128, DSD256 or DSD512 unit is written as two, four or eight of these).
std::vector<unsigned char> DsfHeader(std::uint64_t blocks, zentrafold::DsdRate rate) {
    const std::uint64_t dataBytes = blocks * zentrafold::BlockBytes(rate);
    std::vector<unsigned char> h;
    h.insert(h.end(), {'D', 'S', 'D', ' '});
    Put64(h, 28);
    Put64(h, 28 + 52 + 12 + dataBytes);
    Put64(h, 0);
    h.insert(h.end(), {'f', 'm', 't', ' '});
    Put64(h, 52);
    Put32(h, 1);                                                        // format version
    Put32(h, 0);                                                        // raw DSD
    Put32(h, 2);                                                        // stereo
    Put32(h, 2);                                                        // channels
    Put32(h, static_cast<std::uint32_t>(zentrafold::SampleRate(rate))); // sampling frequency
    Put32(h, 1);                                                        // bits per sample: LSB first
    Put64(h, blocks * zentrafold::ChannelBytes(rate) * 8);
    Put32(h, zentrafold::kChannelBytes);
    Put32(h, 0);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    Put64(h, 12 + dataBytes);
    return h;
}

} // namespace

int main(int argc, char** argv) {
    auto rate = zentrafold::DsdRate::kDsd64;
    bool land = false;
    auto arithmetic = zentrafold::Arithmetic::kVector;
    bool usage = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-' && !usage; ++at) {
        const std::string option = argv[at];
        if (option == "--land") {
            land = true;
        } else if (option == "--portable") {
            arithmetic = zentrafold::Arithmetic::kPortable;
        } else if (option == "--rate" && at + 1 < argc) {
            const std::string r = argv[++at];
            if (r == "128")
                rate = zentrafold::DsdRate::kDsd128;
            else if (r == "256")
                rate = zentrafold::DsdRate::kDsd256;
            else if (r == "512")
                rate = zentrafold::DsdRate::kDsd512;
            else if (r != "64")
                usage = true;
        } else {
            usage = true;
        }
    }
    if (usage || argc - at != 2) {
        std::cerr << "usage: ztf-convert [--rate 64|128|256|512] [--land] [--portable] IN.wav OUT.dsf\n";
        return 1;
    }
    argv += at - 1;
    Wav wav;
    if (!ReadWav(argv[1], 2 * zentrafold::UnitBytes(zentrafold::PcmFormat::kInt24), wav)) {
        std::cerr << "ztf-convert: " << argv[1] << ": not a 44.1 kHz stereo 16/24-bit PCM WAV\n";
        return 1;
    }
    const std::size_t blockBytes = zentrafold::BlockBytes(rate);
    const std::size_t channelBytes = zentrafold::ChannelBytes(rate);
    const auto format = wav.bits == 16 ? zentrafold::PcmFormat::kInt16 : zentrafold::PcmFormat::kInt24;
    const std::size_t unitBytes = zentrafold::UnitBytes(format);
    // Whole units, then one unit of silence so the last frames leave the converter's latency.
    const std::size_t units = (wav.size + unitBytes - 1) / unitBytes + 1;
    unsigned char* const pcm = wav.file.get() + wav.offset;
    std::memset(pcm + wav.size, 0, units * unitBytes - wav.size); // within the slack

    const std::uint64_t blocks = units - 1;
    std::ofstream out(argv[2], std::ios::binary);
    const auto header = DsfHeader(blocks, rate);
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));

    zentrafold::Converter converter(rate, arithmetic);
    converter.Initial(pcm, format);
    std::vector<unsigned char> dsd(16 * blockBytes);
    std::vector<unsigned char> file(16 * blockBytes); // the chunk in the DSF's layout
    std::uint64_t longestRun[2] = {0, 0};
    std::uint64_t run[2] = {0, 0};
    int last[2] = {-1, -1};
    for (std::size_t u = 1; u < units; u += 16) {
        const int n = static_cast<int>(std::min<std::size_t>(16, units - u));
        if (land && u + static_cast<std::size_t>(n) == units)
            converter.ConvertFinal(pcm + u * unitBytes, n, format, dsd.data());
        else
            converter.Convert(pcm + u * unitBytes, n, format, dsd.data());
        unsigned char* to = file.data();
        for (int b = 0; b < n; ++b) {
            const unsigned char* block = dsd.data() + static_cast<std::size_t>(b) * blockBytes;
            for (std::size_t off = 0; off < channelBytes; off += zentrafold::kChannelBytes)
                for (std::size_t ch = 0; ch < 2; ++ch, to += zentrafold::kChannelBytes)
                    std::memcpy(to, block + ch * channelBytes + off, zentrafold::kChannelBytes);
        }
        out.write(reinterpret_cast<const char*>(file.data()), to - file.data());
        for (int b = 0; b < n; ++b)
            for (std::size_t ch = 0; ch < 2; ++ch) {
                const unsigned char* half =
                    dsd.data() + static_cast<std::size_t>(b) * blockBytes + ch * channelBytes;
                for (std::size_t i = 0; i < channelBytes; ++i) {
                    run[ch] = half[i] == last[ch] ? run[ch] + 1 : 1;
                    last[ch] = half[i];
                    longestRun[ch] = std::max(longestRun[ch], run[ch]);
                }
            }
    }
    if (!out) {
        std::cerr << "ztf-convert: cannot write " << argv[2] << "\n";
        return 1;
    }
    const auto stats = converter.Overloads();
    const double usPerByte = 8e6 / zentrafold::SampleRate(rate);
    std::printf("blocks %llu\n", static_cast<unsigned long long>(blocks));
    std::printf("overload resets %llu, bursts %llu, longest burst %.1f us, limited samples %llu\n",
                static_cast<unsigned long long>(stats.resets), static_cast<unsigned long long>(stats.bursts),
                static_cast<double>(stats.longestBurstSamples) * 1e6 / zentrafold::SampleRate(rate),
                static_cast<unsigned long long>(stats.limited));
    std::printf("look-ahead redid %llu channel bytes (%.2f per ms per channel)\n",
                static_cast<unsigned long long>(stats.redone),
                static_cast<double>(stats.redone) / (2.0 * static_cast<double>(blocks) * 512.0 / 44.1));
    std::printf("rate %d Hz\n", zentrafold::SampleRate(rate));
    std::printf(
        "longest run of identical bytes: left %llu (%.1f us), right %llu (%.1f us)\n",
        static_cast<unsigned long long>(longestRun[0]), static_cast<double>(longestRun[0]) * usPerByte,
        static_cast<unsigned long long>(longestRun[1]), static_cast<double>(longestRun[1]) * usPerByte);
    const bool stuck = std::max(longestRun[0], longestRun[1]) * usPerByte > 1000.0;
    if (stuck)
        std::printf("STUCK: output held one byte for more than 1 ms\n");
    return stuck ? 1 : 0;
}
