// The raw transport: no command blocks; each reader operation is answered from the platform's CD device
// controls (table of contents, last session, disk type, Q sub-channel, raw CD-DA reads). Replies are laid
// out where a drive's SCSI reply would put them, so the reader parses both transports alike.
#pragma once

#include "Platform/CdDevice.h"
#include "Platform/Types.h"
#include "transport/CdTransport.h"
#include "transport/CommandBlock.h"

#include <memory>

namespace discpilot {

// Largest raw read request, in sectors (75 264 bytes).
inline constexpr DWORD kRawReadSectors = 32;

class cddaCRawDevice final : public CdTransport {
public:
    // Reads the end-of-disc margin ("MARGIN_LBA"). Blocks on the registry.
    cddaCRawDevice();
    cddaCRawDevice(const cddaCRawDevice&) = delete;
    cddaCRawDevice& operator=(const cddaCRawDevice&) = delete;

    // Opens the CD device behind a letter (either case): 0, or 502 when the letter is not a CD drive or
    // cannot be opened. Takes the CD-DA capability bits from the drive's description (a virtual drive's
    // profile; 0 for real drives, which describe none). Blocks while the device opens.
    int Open(char letter);
    // Uses a device the caller opened (tests wrap the platform's device); 0.
    int Attach(char letter, std::unique_ptr<platform::CdDevice> device, bool cddaAccurate,
               bool cddaSupported);
    void Close() noexcept;

    // Every operation answers 502 when nothing is open. Other failures of the device are its errno value.
    // Capabilities page 0x2A synthesised at the page offset (byte 5 = 0x20 | supported | accurate << 1,
    // maximum and current speed 176 kB/s, buffer 0); page 0x3F a block descriptor of density 0, block
    // length 0; other pages 501.
    int ModeSense(int page, bool tenByte, ModeBuffer buffer) override;
    int ModeSelect(BYTE density, WORD blockLength, bool tenByte) override; // no effect: 0
    int Seek6(DWORD lba) override;                                         // no effect: 0
    int Seek10(DWORD lba) override;                                        // no effect: 0
    int SetSpeed(int multiple) override;                                   // unsupported: 502
    // 0 when the disc holds audio tracks (audio only or mixed), 510 otherwise.
    int TestUnitReady() override;
    // Formats 1..3 as a whole reply (kSubChannelReplyBytes): audio status in byte 1 (format 1); valid bit in
    // byte 8 bit 7 and the catalogue number or ISRC text from byte 9 (formats 2, 3). Other formats 501.
    int ReadSubChannel(int format, int track, SubChannelBuffer buffer) override;
    // Formats 0..2 answered from the device's table of contents and last session, laid out as the drive's
    // reply (format 2 with the points 0xA0, 0xA1, 0xA2 and 1 of session 1, MSF). Other formats 501.
    int ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) override;
    // The device's CD-Text control, laid out as the drive's reply; the device's errno when it cannot ask
    // (ENOTTY) or the drive refuses (EINVAL: a disc without CD-Text).
    int ReadCdText(std::span<BYTE> buffer) override;
    // Reads count sectors from lba into buffer (count × 2352 bytes) in requests of at most 32 sectors.
    // When a request fails at or past the margin before the last readable sector, its sectors are read
    // one by one and everything from the first sector that fails is zero-filled; the read then returns 0
    // without reading further. A failure earlier on the disc returns the device's errno. readMode is
    // ignored: the device always reads CD-DA.
    int ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) override;
    // The device controls do not say: 0.
    DWORD MaxTransferLength() const noexcept override { return 0; }

    // The last readable sector of the first audio session (the lead-out, or on a multi-session disc whose
    // audio is followed by data the start of the first data track less 150 seconds, minus one); reads the
    // table of contents once per open. −1 when it cannot be read.
    LONG LastReadableLba();
    DWORD MarginLba() const noexcept { return marginLba_; }
    char Letter() const noexcept { return letter_; }

private:
    int LoadToc();

    char letter_ = 0;
    bool cddaAccurate_ = false;
    bool cddaSupported_ = false;
    std::unique_ptr<platform::CdDevice> device_;
    bool tocKnown_ = false;
    bool multiSession_ = false;
    BYTE firstSession_ = 0;
    BYTE lastSession_ = 0;
    LONG lastReadableLba_ = -1;
    DWORD marginLba_ = 0;
    platform::CdToc toc_;
};

} // namespace discpilot
