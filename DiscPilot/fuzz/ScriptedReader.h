// A drive whose every answer comes from a fuzzer's input: TOC replies, the capabilities page, command
// results and the audio data itself. Shared by the fuzz targets that play or check such a drive.
#pragma once

#include "reader/cddaCReader.h"

#include <cstdint>
#include <cstring>
#include <iterator>

namespace fuzzdrive {

using namespace discpilot;

using namespace discpilot;

class ScriptedReader final : public cddaCReader {
public:
    ScriptedReader(const std::uint8_t* data, std::size_t size)
        : cddaCReader(kKindAspi), data_(data), size_(size) {}
    ~ScriptedReader() override { Release(); }

    int Toc() { return ReadTableOfContents(); }
    void Capabilities() { ReadCapabilities(); }

    int TestUnitReady() override { return Result(); }
    int ModeSense(int, bool, ModeBuffer buffer) override {
        Fill(buffer.data(), buffer.size());
        return Result();
    }
    int ModeSelect(BYTE, WORD, bool) override { return Result(); }
    int ReadSubChannel(int, int, SubChannelBuffer buffer) override {
        Fill(buffer.data(), buffer.size());
        return Result();
    }
    int ReadToc(int, int, bool, TocBuffer buffer) override {
        Fill(buffer.data(), buffer.size());
        return Result();
    }
    int Seek6(DWORD) override { return Result(); }
    int Seek10(DWORD) override { return Result(); }
    int SetSpeed(int) override { return Result(); }
    int ReadAudio(DWORD, DWORD, DWORD count, BYTE* buffer) override {
        if (++reads_ > 300) {
            return kTransportNoMedium; // the drive gives up: every read must end
        }
        Fill(buffer, std::size_t{count} * kSectorBytes);
        return Result();
    }

private:
    BYTE Next() {
        if (size_ == 0) {
            return 0;
        }
        const BYTE b = data_[at_ % size_];
        ++at_;
        return b;
    }
    void Fill(BYTE* out, std::size_t n) {
        // Repeats the input over the buffer, so that a later read can overlap an earlier one.
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = size_ == 0 ? 0 : data_[(at_ + i) % size_];
        }
        at_ += 7;
    }
    // Mostly success; otherwise one of the results the reader treats specially, or any other.
    int Result() {
        static constexpr int kResults[] = {0, 0, 0, 0, 0, 0, 500, 509, 512, 521, 526, 527};
        return kResults[Next() % std::size(kResults)];
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    int reads_ = 0;
};

} // namespace fuzzdrive
