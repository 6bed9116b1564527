// One SCSI/MMC request as the reader builds it, the transport result codes, and the command builders,
// READ TOC parsing and sense mapping shared by the transports. Everything here is pure: no I/O, any
// thread.
#pragma once

#include "Platform/CdAddress.h"
#include "Platform/MmcCommands.h"
#include "Platform/Types.h"

#include <array>
#include <cstddef>

namespace discpilot {

// Transport results (int): 0 success, 500 and up failures.
enum TransportError : int {
    kTransportOk = 0,
    kTransportBadArgument = 501,    // unknown sub-channel or TOC format, unknown mode page
    kTransportNoDevice = 502,       // transport not open, identification failed, not a CD drive
    kTransportUnsupported = 503,    // pass-through missing, or the operation unsupported by the kind
    kTransportBadAdapter = 505,     // host adapter inquiry: invalid host adapter
    kTransportNoDrive = 506,        // no drive letter selected, or no matching device on any adapter
    kTransportTimedOut = 507,       // the request did not complete within the time-out
    kTransportShortTransfer = 508,  // an audio read moved fewer bytes than it asked for
    kTransportNotReady = 509,       // 2/04/xx
    kTransportNoMedium = 510,       // 2/3A/xx
    kTransportMediumError = 511,    // 2/53/xx
    kTransportSeekError = 512,      // 3/02/xx
    kTransportPlayInProgress = 521, // 5/00/11
    kTransportInvalidCommand = 526, // 5/20/00: the reader then switches its read mode
};

inline constexpr int kDirectionIn = 1;
inline constexpr int kDirectionOut = 2;

struct CommandBlock {
    std::array<BYTE, 16> cdb{}; // unused bytes zero
    BYTE* data = nullptr;
    DWORD transferLength = 0;
    int direction = kDirectionIn;
    WORD cdbLength = 0;    // 6, 10 or 12
    DWORD transferred = 0; // set by the transport: bytes the device actually moved
};

inline constexpr DWORD kSectorBytes = platform::kCdSectorBytes;

// Reply and parameter buffer sizes of the fixed-size commands.
inline constexpr std::size_t kInquiryReplyBytes = 36;
inline constexpr std::size_t kModeBufferBytes = 128; // MODE SENSE reply, MODE SELECT parameter list
inline constexpr std::size_t kSubChannelReplyBytes = 24;
inline constexpr std::size_t kTocReplyBytes = 48; // the largest READ TOC transfer (the full TOC)
// The CD-Text reply: the header and at most 8 blocks of 256 packs, within the 16-bit allocation length.
inline constexpr std::size_t kCdTextReplyBytes = 4 + 8 * 256 * 18;

// Read modes (the command variant used for audio reads, see BuildReadAudio).
inline constexpr DWORD kReadModeReadCd10 = 0xBE0010;
inline constexpr DWORD kReadModeReadCdF8 = 0xBE00F8;
inline constexpr DWORD kReadModeReadCd4F8 = 0xBE04F8;
inline constexpr DWORD kReadModeVendorD8 = 0xD80000;
inline constexpr DWORD kReadModeVendorD4 = 0xD40000;
inline constexpr DWORD kReadModeRead10 = 0x10280000;
inline constexpr DWORD kReadModeRead10Density82 = 0x10280082;
inline constexpr DWORD kReadModeRead10Swapped = 0x11280000;

// True for the three READ CD modes.
constexpr bool IsReadCdMode(DWORD mode) noexcept {
    return (mode >> 16) == platform::mmc::kReadCd;
}

// Buffers: INQUIRY kInquiryReplyBytes, MODE SENSE/SELECT kModeBufferBytes, READ SUB-CHANNEL
// kSubChannelReplyBytes, READ TOC kTocReplyBytes, audio reads count × kSectorBytes. The builders only
// point the block at the caller's buffer.
CommandBlock BuildTestUnitReady() noexcept;
CommandBlock BuildInquiry(BYTE* buffer) noexcept;
// page & 0x3F in CDB byte 2; kModeBufferBytes in.
CommandBlock BuildModeSense(int page, bool tenByte, BYTE* buffer) noexcept;
// Fills the parameter list (block descriptor with density code and block length) in buffer; kModeBufferBytes
// out.
CommandBlock BuildModeSelect(BYTE density, WORD blockLength, bool tenByte, BYTE* buffer) noexcept;
// format 1 (current position), 2 (catalogue), 3 (ISRC of track); other formats: 501 in result.
CommandBlock BuildReadSubChannel(int format, int track, BYTE* buffer, int& result) noexcept;
// Formats 0..4 (TOC, session info, full TOC, PMA, ATIP); olderForm puts the format in byte 9 bits 6..7
// instead of byte 2. trackOrSession goes to byte 6 for format 0; the other formats use their fixed value.
// Other formats: 501 in result.
CommandBlock BuildReadToc(int format, int trackOrSession, bool olderForm, BYTE* buffer, int& result) noexcept;
// READ TOC/PMA/ATIP format 5 (CD-Text) with an allocation length of `allocation` bytes (at most 0xFFFF)
// into buffer.
CommandBlock BuildReadCdText(BYTE* buffer, DWORD allocation) noexcept;
CommandBlock BuildSeek6(DWORD lba) noexcept;
CommandBlock BuildSeek10(DWORD lba) noexcept;
// Speed in kB/s = multiple × 176, or 0xFFFF (maximum) for a multiple of 0 or below; read and write
// speed fields both.
CommandBlock BuildSetCdSpeed(int multiple) noexcept;
// The most sectors one audio read of a mode can carry: READ CD has a 24-bit count, the 12-byte vendor
// form 16 bits, the 10-byte forms one byte.
DWORD MaxSectorsPerRead(DWORD readMode) noexcept;
// READ CD for the 0xBE modes, the 12-byte vendor form for 0xD80000, the 10-byte form otherwise. count must
// not exceed MaxSectorsPerRead(readMode).
CommandBlock BuildReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) noexcept;

// Where a mode page starts in a MODE SENSE reply (after the header and the block descriptors).
std::size_t ModePageOffset(const BYTE* reply, bool tenByte) noexcept;

// Parsed answers of READ TOC.
struct TocAnswer {
    BYTE first = 0; // first track (format 0) or session (format 1)
    BYTE last = 0;
    BYTE adrControl = 0;
    DWORD lba = 0;
};
TocAnswer ParseToc(const BYTE* reply) noexcept; // formats 0 and 1

struct FullTocAnswer {
    BYTE firstSession = 0;
    BYTE lastSession = 0;
    BYTE firstTrack = 0;   // point 0xA0 PMIN
    BYTE lastTrack = 0;    // point 0xA1 PMIN
    BYTE leadOut[3] = {};  // point 0xA2 PMIN:PSEC:PFRAME
    BYTE track1[3] = {};   // point 1 PMIN:PSEC:PFRAME
    bool complete = false; // all four points of session 1 were found
};
// Walks the 11-byte descriptors of a full-TOC reply (kTocReplyBytes) from byte 4, within the reply's data
// length.
FullTocAnswer ParseFullToc(const BYTE* reply, std::size_t size) noexcept;

// Fixed-format sense (key = byte 2 bits 0..3, ASC byte 12, ASCQ byte 13) to a transport result; all-zero
// sense gives 500.
int MapSense(const BYTE* sense) noexcept;

} // namespace discpilot
