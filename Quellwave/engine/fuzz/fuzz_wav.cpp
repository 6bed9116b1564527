// Feeds arbitrary bytes to CWaveSource as a file: Open must reject or accept without fault, and an accepted
// file must read and seek within the rules. The input lives in an anonymous memory file so that the real
// open/read/seek path runs without touching the disk.
#include "FuzzInput.h"
#include "engine/CWaveSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using engine::CWaveSource;
using engine::WaveOpenError;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzInputPath(data, size);
    if (path.empty())
        return 0;

    CWaveSource source;
    if (!source.Open(path.c_str())) {
        Check(!source.IsOpen());
        Check(source.LastOpenError() != WaveOpenError::None);
        return 0;
    }
    Check(source.BytesPerSample() == 2 || source.BytesPerSample() == 3);
    Check(source.DataSize() > 0 && source.DataSize() <= 0xFFFFFFFFu);
    Check(source.DataOffset() <= size);

    static std::uint8_t buffer[49152];
    const std::uint64_t dataSize = source.DataSize();
    const std::uint64_t positions[] = {0, dataSize / 2, dataSize > 7 ? dataSize - 7 : 0, dataSize,
                                       dataSize + 3};
    for (const std::uint64_t position : positions) {
        if (!source.Seek(position))
            continue;
        Check(source.ReadPosition() == position);
        for (int i = 0; i < 3; ++i) {
            const std::uint64_t before = source.ReadPosition();
            const bool ok = source.Read(buffer, sizeof buffer);
            // A read never moves past the end of the data, and fails where nothing is left.
            Check(source.ReadPosition() <= std::max(before, dataSize));
            if (before >= dataSize)
                Check(!ok);
        }
    }
    source.Close();
    Check(!source.IsOpen());
    return 0;
}
