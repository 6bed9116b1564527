#include "CdStream.h"

#include "Platform/CdAddress.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {
constexpr std::uint64_t kSectorBytes = platform::kCdSectorBytes;
constexpr std::uint64_t kFrameBytes = 4; // 16-bit stereo
constexpr std::uint64_t kSectorFrames = kSectorBytes / kFrameBytes;
} // namespace

void CdStream::Start(std::uint32_t track, std::uint32_t offsetMs) {
    track_ = track;
    blank_ = false;
    silentAfter_ = 0;
    const std::uint64_t sectors = TrackSectors(track);
    const std::uint64_t offset = std::uint64_t{offsetMs} * 3 / 40;
    // The drive starts at the sector that holds the place; the frames of that sector before it are read
    // and dropped, so the stream begins at the asked frame (the nearest), as a file's does.
    const std::uint64_t frame = (std::uint64_t{offsetMs} * 441 + 5) / 10;
    skipBytes_ =
        sectors > offset ? std::min(frame - offset * kSectorFrames, kSectorFrames - 1) * kFrameBytes : 0;
    leftInTrack_ = sectors > offset ? (sectors - offset) * kSectorBytes - skipBytes_ : 0;
}

void CdStream::ReadPcm(void* buffer, std::uint32_t byteCount) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::memset(bytes, 0, byteCount);
    if (skipBytes_ != 0) {
        drive_.GetData(skipped_.data(), static_cast<unsigned long>(skipBytes_));
        skipBytes_ = 0;
    }
    drive_.GetData(bytes, byteCount);
    std::uint32_t done = 0;
    while (done < byteCount && !blank_) {
        if (leftInTrack_ == 0) {
            if (repeatMode_ == 1) {
                blank_ = true;
                silentAfter_ = track_;
                break;
            }
            const std::uint64_t next = TrackSectors(track_ + 1);
            if (next == 0)
                return; // past the last track the drive delivers nothing anyway
            ++track_;
            leftInTrack_ = next * kSectorBytes;
        }
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(leftInTrack_, byteCount - done));
        leftInTrack_ -= n;
        done += n;
    }
    if (blank_)
        std::memset(bytes + done, 0, byteCount - done);
}

std::uint64_t CdStream::TrackSectors(std::uint32_t track) const {
    unsigned long ms = 0;
    if (!drive_.GetTrackLength(track, ms))
        return 0;
    return (std::uint64_t{ms} * 3 + 39) / 40;
}

} // namespace engine
