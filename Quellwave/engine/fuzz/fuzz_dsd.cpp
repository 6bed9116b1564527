// Feeds arbitrary bytes to CDsdFileSource as a file: Open must reject or accept without fault, and an
// accepted DSF or DSDIFF file must seek and deliver within its declared samples. The input lives in an
// anonymous memory file so that the real open/read/seek path runs without touching the disk.
#include "FuzzInput.h"
#include "engine/CDsdFileSource.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using engine::CDsdFileSource;
using engine::DsdFormat;
using engine::DsdOpenError;

namespace {

// Gets until nothing comes; returns the elements delivered per channel.
std::uint64_t Drain(CDsdFileSource& source, int count) {
    static std::uint32_t left[4096], right[4096];
    std::uint32_t* destinations[2] = {left, right};
    std::uint64_t total = 0;
    for (;;) {
        const int got = source.Get(count, destinations);
        Check(got >= 0 && got <= count);
        if (got == 0)
            return total;
        total += static_cast<std::uint64_t>(got);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzInputPath(data, size);
    if (path.empty())
        return 0;

    CDsdFileSource source;
    const auto factor = static_cast<std::int32_t>(1 + size % 3);
    if (!source.Open(path.c_str(), factor, 1)) {
        Check(!source.IsOpen());
        Check(source.LastOpenError() != DsdOpenError::None);
        Check(!source.Seek(0));
        return 0;
    }
    const DsdFormat& format = source.Format();
    Check(format.channelCount == 2);
    Check(platform::DsdRateFromSampleRate(format.samplingFrequency).has_value());
    Check(format.bitsPerSample == 1);
    Check(format.blockSizePerChannel == (source.IsDsdiff() ? 1u : 4096u));

    // Never more than the file holds, nor more than the header declares.
    const std::uint64_t elements = source.ElementsPerChannel();
    const std::uint64_t fileLimit = size / 4;
    const std::uint64_t first = Drain(source, 1024);
    Check(first <= elements && first <= fileLimit);

    const std::uint64_t positions[] = {0, elements / 2, elements > 0 ? elements - 1 : 0, elements,
                                       elements + 1};
    for (const std::uint64_t position : positions) {
        const bool ok = source.Seek(position);
        if (position >= elements)
            Check(!ok);
        if (!ok)
            continue;
        Check(source.Seek(position)); // a repeat does nothing and succeeds
        const std::uint64_t got = Drain(source, position % 2 == 0 ? 1000 : 4096);
        Check(got <= elements - position);
    }
    Check(source.Close());
    Check(!source.IsOpen());
    return 0;
}
