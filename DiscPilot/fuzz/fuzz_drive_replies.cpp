// Plays a drive whose every answer comes from the input: TOC replies, the capabilities page, command
// results and the audio data itself. The reader must build its track table, set up ranges, fetch, match
// overlaps, switch read modes, fall back in speed and deliver without reading or writing outside its
// buffers, and every read must end (the drive stops answering after a few hundred reads).
#include "reader/cddaCReader.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ScriptedReader reader(data, size);
    if (reader.Toc() != 0) {
        return 0;
    }
    reader.Capabilities();
    ReadCondition& condition = reader.Condition();
    condition.accurate = size > 0 && (data[0] & 1) != 0;
    condition.overlap = static_cast<WORD>(size > 1 ? data[1] % 12 : 5);
    condition.speed = static_cast<WORD>(size > 2 ? data[2] : 1);
    condition.bufferSize = size > 3 ? static_cast<DWORD>(data[3]) * 9000 : 0;
    const int first = size > 4 ? data[4] % 4 : 1;
    const int last = size > 5 ? data[5] % 100 : 1;
    const long offset = size > 6 ? static_cast<long>(data[6]) * 17 : 0;
    if (reader.SetupRange(first, last, offset) != 1) {
        return 0;
    }
    std::vector<BYTE> pcm(64 * 1024 + 6);
    std::size_t got = reader.Deliver(pcm.data(), pcm.size());
    if (got > pcm.size()) {
        __builtin_trap();
    }
    got = reader.Deliver(pcm.data(), 4098);
    if (got > 4098) {
        __builtin_trap();
    }
    reader.Release();
    return 0;
}
