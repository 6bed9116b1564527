// Addresses on a CD: sectors (LBA) and minutes:seconds:frames times. The one home of the sector size and
// of the MSF arithmetic. Pure; any thread.
#pragma once

#include "Platform/Types.h"

namespace platform {

// Bytes of one raw sector (CD-DA: 588 stereo 16-bit samples).
inline constexpr DWORD kCdSectorBytes = 2352;
// Sectors per second and the 2-second lead-in offset between LBA and the absolute MSF address.
inline constexpr LONG kCdFramesPerSecond = 75;
inline constexpr LONG kCdMsfOffset = 150;
// The highest absolute MSF address a disc can have, 99:59:74.
inline constexpr LONG kCdMaxMsfFrames = 100 * 60 * kCdFramesPerSecond - 1;

struct CdMsf {
    BYTE minute = 0;
    BYTE second = 0;
    BYTE frame = 0;
};

// A number of frames (sectors) as minutes, seconds and frames: a time inside a track or from the disc's
// start, no offset added. Negative counts give 00:00:00.
constexpr CdMsf FramesToMsf(LONG frames) noexcept {
    if (frames < 0) {
        frames = 0;
    }
    return {static_cast<BYTE>(frames / (60 * kCdFramesPerSecond)),
            static_cast<BYTE>(frames / kCdFramesPerSecond % 60),
            static_cast<BYTE>(frames % kCdFramesPerSecond)};
}

constexpr LONG MsfToFrames(BYTE minute, BYTE second, BYTE frame) noexcept {
    return (LONG{minute} * 60 + second) * kCdFramesPerSecond + frame;
}

// The absolute address of a sector (LBA + 150 frames); sectors before LBA -150 give 00:00:00.
constexpr CdMsf LbaToMsf(LONG lba) noexcept {
    return FramesToMsf(lba + kCdMsfOffset);
}

// The sector at an absolute address.
constexpr LONG MsfToLba(BYTE minute, BYTE second, BYTE frame) noexcept {
    return MsfToFrames(minute, second, frame) - kCdMsfOffset;
}

} // namespace platform
