// What the emulated drive's command handlers share (VirtualDrive*.cpp): the reply being built, the sense
// values the drive reports, and the address fields of its replies.
#pragma once

#include "Platform/ByteOrder.h"
#include "Platform/CdAddress.h"
#include "Platform/VirtualDrive.h"

#include <limits>

namespace platform {

// Sense the drive reports, as key, ASC, ASCQ.
struct Sense {
    BYTE key, asc, ascq;
};
inline constexpr Sense kNotReadyBecoming{0x02, 0x04, 0x01};
inline constexpr Sense kNoMediumTrayOpen{0x02, 0x3A, 0x02};
inline constexpr Sense kMediumError{0x03, 0x11, 0x00};
inline constexpr Sense kParameterListLength{0x05, 0x1A, 0x00};
inline constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};
inline constexpr Sense kInvalidFieldInCdb{0x05, 0x24, 0x00};
inline constexpr Sense kInvalidFieldInParameters{0x05, 0x26, 0x00};
inline constexpr Sense kSavingNotSupported{0x05, 0x39, 0x00};
inline constexpr Sense kRemovalPrevented{0x05, 0x53, 0x02};
inline constexpr Sense kIllegalModeForTrack{0x05, 0x64, 0x00};

// Read speeds are whole multiples of 1x (176 kB/s); the speed fields hold kB/s in 16 bits.
inline constexpr DWORD kKBsPerSpeed = 176;
inline constexpr DWORD kMaxSpeedMultiple = 0xFFFF / kKBsPerSpeed;

// The audio status of the Q channel: the drive never plays audio itself.
inline constexpr BYTE kNoAudioStatus = 0x15;

struct VirtualDrive::Reply {
    std::vector<BYTE> data;
    DWORD allocation = std::numeric_limits<DWORD>::max();
    BYTE status = kScsiGood;
    std::array<BYTE, kSenseBytes> sense{};

    void Fail(Sense s, LONG information = -1) {
        status = kScsiCheckCondition;
        sense = MakeFixedSense(s.key, s.asc, s.ascq, information);
    }
    void Fail(const std::array<BYTE, kSenseBytes>& fixedSense) {
        status = kScsiCheckCondition;
        sense = fixedSense;
    }
    // Ends a read of sectors from lba whose first `readable` were of the kind asked for: the sense of a
    // sector that failed, else 5/64/00 at the first sector of another kind when the read stopped there.
    void EndRead(bool failed, const std::array<BYTE, kSenseBytes>& failure, LONG lba, DWORD readable,
                 DWORD count) {
        if (failed) {
            Fail(failure);
        } else if (readable < count) {
            Fail(kIllegalModeForTrack, lba + static_cast<LONG>(readable));
        }
    }
};

// An address field of READ TOC and READ SUB-CHANNEL at data[at..at+3]: the LBA, or 0, M, S, F.
inline void PutAddress(BYTE* at, LONG lba, bool msf) noexcept {
    if (!msf) {
        WriteBe32(at, static_cast<DWORD>(lba));
        return;
    }
    const CdMsf time = LbaToMsf(lba);
    at[0] = 0;
    at[1] = time.minute;
    at[2] = time.second;
    at[3] = time.frame;
}

// The ADR/control byte of a track: ADR 1 (the Q channel holds the position) and the track's control bits.
constexpr BYTE AdrControl(BYTE control) noexcept {
    return static_cast<BYTE>(0x10 | control);
}

} // namespace platform
