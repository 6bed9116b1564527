// The one interface of a CD transport: the operations the reader needs from a drive, answered either by
// SCSI/MMC command blocks through the pass-through bus (cddaCAspiDevice) or by the platform's CD device
// controls (cddaCRawDevice). cddaCDevice chooses one when a drive is opened and answers through it.
//
// Replies are laid out as the drive's SCSI reply would be, so the reader parses both transports alike.
// Results are the transport results of CommandBlock.h: 0, or 500 and up; the raw transport also passes on
// the device's errno values. Blocks while the drive works; one thread at a time per transport unless the
// implementation says otherwise.
#pragma once

#include "Platform/Types.h"
#include "transport/CommandBlock.h"

#include <span>

namespace discpilot {

using ModeBuffer = std::span<BYTE, kModeBufferBytes>;
using SubChannelBuffer = std::span<BYTE, kSubChannelReplyBytes>;
using TocBuffer = std::span<BYTE, kTocReplyBytes>;

class CdTransport {
public:
    virtual ~CdTransport() = default;

    virtual int TestUnitReady() = 0;
    // MODE SENSE of page (page & 0x3F), six- or ten-byte form; the page starts at ModePageOffset().
    virtual int ModeSense(int page, bool tenByte, ModeBuffer buffer) = 0;
    // MODE SELECT of a block descriptor with this density code and block length.
    virtual int ModeSelect(BYTE density, WORD blockLength, bool tenByte) = 0;
    // READ SUB-CHANNEL formats 1 (position), 2 (catalogue number), 3 (ISRC of track); others 501.
    virtual int ReadSubChannel(int format, int track, SubChannelBuffer buffer) = 0;
    // READ TOC formats 0..4 (as far as the transport answers them; others 501).
    virtual int ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) = 0;
    // READ TOC/PMA/ATIP format 5 (CD-Text) into buffer, asking for buffer.size() bytes (at most 0xFFFF).
    // A transport that cannot send the command answers 503 (the default).
    virtual int ReadCdText(std::span<BYTE> buffer) {
        return buffer.empty() ? kTransportBadArgument : kTransportUnsupported;
    }
    virtual int Seek6(DWORD lba) = 0;
    virtual int Seek10(DWORD lba) = 0;
    virtual int SetSpeed(int multiple) = 0;
    // Reads count audio sectors from lba into buffer, which holds count × kSectorBytes bytes.
    virtual int ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) = 0;
    // The longest transfer one request may carry, in bytes; 0 when unknown.
    virtual DWORD MaxTransferLength() const noexcept = 0;
};

} // namespace discpilot
