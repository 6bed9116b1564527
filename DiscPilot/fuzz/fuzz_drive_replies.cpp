// Plays a drive whose every answer comes from the input: TOC replies, the capabilities page, command
// results and the audio data itself. The reader must build its track table, set up ranges, fetch, match
// overlaps, switch read modes, fall back in speed and deliver without reading or writing outside its
// buffers, and every read must end (the drive stops answering after a few hundred reads).
#include "ScriptedReader.h"

#include <cstdint>
#include <cstring>
#include <vector>

using fuzzdrive::ScriptedReader;
using namespace discpilot;

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
