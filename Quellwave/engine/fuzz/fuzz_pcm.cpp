// Feeds arbitrary bytes to CPcmFileSource as a file (FLAC, AIFF, CAF, W64, RF64, WAV and whatever else the
// decoder recognises): Open must reject with a reason or accept a file within the rules, and an accepted
// file must read, end and seek without fault. The tag readers (the decoder's and the ID3 parser) run on
// the same bytes.
#include "FuzzInput.h"
#include "engine/CPcmFileSource.h"
#include "engine/FileTags.h"

#include <cstdint>
#include <string>

using engine::CPcmFileSource;
using engine::ParseId3Tag;
using engine::PcmOpenError;
using engine::PcmTags;
using engine::ReadFileTags;
using engine::ReadPcmFileTags;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzInputPath(data, size);
    if (path.empty())
        return 0;

    PcmTags tags;
    ReadPcmFileTags(path.c_str(), &tags);
    // The same bytes as an ID3 tag on its own, and as a file (a DSF's tag is found through its header).
    PcmTags id3;
    ParseId3Tag(data, size, &id3);
    PcmTags any;
    ReadFileTags(path.c_str(), &any);

    CPcmFileSource source;
    if (!source.Open(path.c_str())) {
        Check(!source.IsOpen());
        Check(source.LastOpenError() != PcmOpenError::None);
        return 0;
    }
    Check(source.Channels() == 1 || source.Channels() == 2);
    Check(source.SampleRate() >= CPcmFileSource::kMinRate && source.SampleRate() <= CPcmFileSource::kMaxRate);
    Check(source.Frames() > 0);

    // A steady chunk's read; a header may announce hours, so only the first few seconds are read.
    static std::uint8_t buffer[8192 * CPcmFileSource::kOutputFrameBytes];
    for (int i = 0; i < 24 && source.Read(buffer, sizeof buffer); ++i) {
    }
    const auto length = static_cast<std::uint32_t>(source.LengthMs());
    for (const std::uint32_t ms : {length / 2, length, length + 1000, 0u}) {
        source.SeekMs(ms);
        Check(source.EarlyEndMs() == CPcmFileSource::kNoEarlyEnd);
        source.Read(buffer, sizeof buffer);
        // An early end lies within the audio the header announced.
        Check(source.EarlyEndMs() == CPcmFileSource::kNoEarlyEnd || source.EarlyEndMs() <= length);
    }
    source.Close();
    Check(!source.IsOpen());
    return 0;
}
