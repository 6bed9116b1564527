// The CD device: the operating system's own CD-ROM controls for one drive (table of contents, raw CD-DA
// reads, the Q sub-channel, and the volume and tray controls). Implementations: linux (CD-ROM ioctls on a
// /dev/sr* device, linux/CdDevice.cpp) and virtual (the emulated drive, virtual/VirtualCdDevice.cpp). Open
// one through OpenCdDevice (DriveTable.h).
//
// Every operation returns 0 on success or an errno value (ENOMEDIUM: no disc or tray open; EIO: the drive
// failed the request; EINVAL: an address or count outside the disc; EBUSY: the volume is in use; ENOTTY:
// the device does not know the control). Operations block until the drive answers. An object may be used
// from one thread at a time.
#pragma once

#include "Platform/CdAddress.h"
#include "Platform/Types.h"

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What GetDiskType reports: which kinds of tracks the disc holds (0 when there is no disc or no track).
inline constexpr DWORD kCdDiskAudio = 1;
inline constexpr DWORD kCdDiskData = 2;
inline constexpr DWORD kCdDiskMixed = kCdDiskAudio | kCdDiskData;

inline constexpr BYTE kCdLeadOutTrack = 0xAA;

// What the drive says about itself and its tray (the drive status control).
enum class CdDriveStatus { NoInfo, NoDisc, TrayOpen, NotReady, DiscOk };

struct CdTocEntry {
    BYTE track = 0;      // 1..99, or kCdLeadOutTrack
    BYTE adrControl = 0; // ADR in bits 4..7, control (kCdControl* of CueSheet.h) in bits 0..3
    BYTE minute = 0;     // absolute address: LBA + 150 as minutes, seconds, frames
    BYTE second = 0;
    BYTE frame = 0;

    LONG Lba() const noexcept { return MsfToLba(minute, second, frame); }

    static CdTocEntry At(BYTE track, BYTE adrControl, CdMsf time) noexcept {
        CdTocEntry entry;
        entry.track = track;
        entry.adrControl = adrControl;
        entry.minute = time.minute;
        entry.second = time.second;
        entry.frame = time.frame;
        return entry;
    }
};

struct CdToc {
    BYTE firstTrack = 0;
    BYTE lastTrack = 0;
    std::vector<CdTocEntry> entries; // firstTrack..lastTrack in order, then the lead-out
};

struct CdSessionInfo {
    BYTE firstSession = 0;
    BYTE lastSession = 0;
    LONG lastSessionStart = 0; // LBA of the first track of the last session
};

// The Q sub-channel's current position.
struct CdQPosition {
    BYTE audioStatus = 0x15; // 0x11 playing, 0x12 paused, 0x13 completed, 0x14 error, 0x15 no status
    BYTE adrControl = 0;
    BYTE track = 0;
    BYTE index = 0;
    LONG absoluteLba = 0;
    LONG relativeLba = 0; // from the track's start (negative inside its pregap)
};

// A media catalogue number (13 digits) or an ISRC (12 characters); valid is false when the disc or the
// track has none.
struct CdQText {
    bool valid = false;
    std::string text;
};

class CdDevice {
public:
    virtual ~CdDevice() = default;

    // Which track kinds the disc holds: kCdDiskAudio, kCdDiskData or kCdDiskMixed.
    virtual int GetDiskType(DWORD& type) = 0;
    // Whether a disc is in and ready; ENOTTY when the device cannot tell.
    virtual int DriveStatus(CdDriveStatus& status) {
        status = CdDriveStatus::NoInfo;
        return ENOTTY;
    }
    virtual int ReadToc(CdToc& toc) = 0;
    virtual int GetLastSession(CdSessionInfo& info) = 0;
    // Reads `count` raw CD-DA sectors of 2352 bytes from `lba` into buffer (count * 2352 bytes, caller
    // owned). On failure the buffer's contents are unspecified.
    virtual int ReadAudio(LONG lba, DWORD count, BYTE* buffer) = 0;
    virtual int ReadPosition(CdQPosition& position) = 0;
    virtual int ReadCatalogue(CdQText& catalogue) = 0;
    virtual int ReadIsrc(BYTE track, CdQText& isrc) = 0;
    // The disc's CD-Text as READ TOC/PMA/ATIP format 5 returns it (the 4-byte header, then the packs), up
    // to size bytes (at most 0xFFFF) into buffer; length gets the bytes the drive moved. EINVAL when the
    // drive refuses it (a disc without CD-Text), ENOTTY when the device cannot ask (the default).
    virtual int ReadCdText(BYTE* buffer, DWORD size, DWORD& length) {
        (void)buffer;
        (void)size;
        length = 0;
        return ENOTTY;
    }
    // Takes the drive for this object alone (an exclusive open); EBUSY when someone else has it open or
    // a file system of the disc is mounted. Released when the object is destroyed.
    virtual int Lock() = 0;
    // Succeeds when nothing of the disc is mounted (we never unmount on our own); EBUSY otherwise.
    virtual int Dismount() = 0;
    // Locks (prevent true) or unlocks the tray.
    virtual int PreventRemoval(bool prevent) = 0;
    virtual int Eject() = 0;
    virtual int Load() = 0;
};

} // namespace platform
