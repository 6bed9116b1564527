// Feeds arbitrary text to the CUE parser and lays out whatever parses, with file sizes taken from the
// input, then checks the layout's promises: extents contiguous from 0 to the lead-out, every track inside
// the disc, and no address past 99:59:74.
#include "Platform/CueSheet.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace platform;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CueSheet sheet;
    CueError error;
    if (!ParseCueSheet(text, sheet, error)) {
        if (error.message.empty()) {
            std::fprintf(stderr, "refused without a message\n");
            std::abort();
        }
        return 0;
    }
    if (sheet.tracks.empty() || sheet.files.empty()) {
        std::abort();
    }
    // Sizes: mostly whole sectors derived from the input, sometimes a ragged size.
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 0; i < sheet.files.size(); ++i) {
        const std::uint64_t sectors = (size * 37 + i * 1013) % 20000;
        sizes.push_back(sectors * kCdSectorBytes + (size % 7 == 3 ? 1 : 0));
    }
    DiscLayout layout;
    if (!LayOutDisc(sheet, sizes, layout, error)) {
        if (error.message.empty()) {
            std::abort();
        }
        return 0;
    }
    LONG next = 0;
    for (const DiscExtent& extent : layout.extents) {
        if (extent.start != next || extent.count == 0) {
            std::fprintf(stderr, "extents not contiguous at %d\n", extent.start);
            std::abort();
        }
        next += static_cast<LONG>(extent.count);
    }
    if (next != layout.leadOut || layout.leadOut + kCdMsfOffset > kCdMaxMsfFrames) {
        std::abort();
    }
    for (const DiscTrack& track : layout.tracks) {
        if (track.start < 0 || track.length == 0 ||
            track.start + static_cast<LONG>(track.length) > layout.leadOut ||
            track.pregapStart > track.start) {
            std::fprintf(stderr, "track %d outside the disc\n", track.number);
            std::abort();
        }
    }
    return 0;
}
