// CD-Text as a drive returns it from the lead-in (READ TOC/PMA/ATIP format 5): 18-byte packs of a pack
// type, a track number, a sequence number, the block and character position, 12 bytes of text and a
// CRC. The CRC both sides use, and the packs of a disc's titles and performers as a drive would hold
// them (the virtual drive answers with these). Pure functions; any thread.
#pragma once

#include "Platform/Types.h"

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

inline constexpr std::size_t kCdTextPackBytes = 18;
inline constexpr std::size_t kCdTextPayloadBytes = 12;
inline constexpr BYTE kCdTextPackTitle = 0x80;
inline constexpr BYTE kCdTextPackPerformer = 0x81;
inline constexpr BYTE kCdTextPackSizeInfo = 0x8F;
// A block's sequence numbers are one byte: at most 256 packs per block.
inline constexpr std::size_t kCdTextMaxPacks = 256;

// CRC-16 CCITT (x^16 + x^12 + x^5 + 1, initial value 0) over a pack's first 16 bytes, inverted: the value
// bytes 16 and 17 hold, most significant byte first. Inline: the CD library's pack parser checks with it.
constexpr WORD CdTextCrc(const BYTE* pack) noexcept {
    unsigned crc = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        crc ^= static_cast<unsigned>(pack[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return static_cast<WORD>(~crc & 0xFFFF);
}

// The disc's (entry 0) and its tracks' (entries 1 .. n, tracks firstTrack ..) titles and performers.
struct CdTextEntry {
    std::string title;
    std::string performer;
};

// The packs of one block (block 0, ISO 8859-1, English) holding the titles and, where any entry has one,
// the performers, followed by the three size-information packs; each pack with its CRC. Text is taken as
// UTF-8 when it is valid UTF-8 (characters beyond ISO 8859-1 become '?'), else as ISO 8859-1 bytes;
// control characters are left out. A text the same as the previous track's is written as a tab, as
// mastering tools do. Texts that do not fit in a block are cut. Empty when no entry holds any text.
std::vector<BYTE> BuildCdTextPacks(const std::vector<CdTextEntry>& entries, int firstTrack);

} // namespace platform
