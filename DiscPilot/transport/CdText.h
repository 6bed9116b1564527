// CD-Text as READ TOC/PMA/ATIP format 5 returns it: the parser of the drive's reply (outside input, never
// trusted) into the disc's and its tracks' texts. Pure; any thread.
//
// Only block 0 (the first language) is read, in the single-byte character sets (ISO 8859-1 and its
// ASCII subset), turned into UTF-8 without control characters. A pack whose CRC does not match is left
// out, and so is every text it carried a part of; the texts around it are still read. A drive that
// fills in no CRC at all (every CRC field zero) has its packs taken as they are.
#pragma once

#include "Platform/Types.h"

#include <array>
#include <cstddef>
#include <string>

namespace discpilot {

// The text pack types read: 0x80 title .. 0x85 message.
inline constexpr int kCdTextFirstType = 0x80;
inline constexpr int kCdTextTypes = 6;
// Track 0 is the disc (the album); 1 .. 99 the tracks.
inline constexpr int kCdTextEntries = 100;

struct CdText {
    std::array<std::array<std::string, kCdTextEntries>, kCdTextTypes> texts;

    // The text of a pack type for the disc (track 0) or a track; empty when there is none.
    const std::string& Get(int type, int track) const noexcept;
    bool Empty() const noexcept;
};

enum CdTextOutcome : int {
    kCdTextRead = 0,        // texts read (some may be missing where packs were bad)
    kCdTextNone = 1,        // no usable pack: no header, no packs, or none of block 0 with a good CRC
    kCdTextTruncated = 2,   // read, but the reply ended before the length its header gives
    kCdTextUnsupported = 3, // block 0 is in a double-byte character set: nothing read
};

struct CdTextCounts {
    int packs = 0;  // whole packs in the reply
    int badCrc = 0; // packs left out for their CRC
};

// Parses `size` bytes of a format-5 reply (the 4-byte header, then the packs). text is cleared first.
CdTextOutcome ParseCdText(const BYTE* reply, std::size_t size, CdText& text, CdTextCounts& counts);

} // namespace discpilot
