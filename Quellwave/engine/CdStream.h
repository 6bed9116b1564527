// The audio CD as the chunk producers' PCM reader: the disc is one continuous stream from the selected
// track on. It also follows the track boundaries in that stream, so that a track that is to repeat ends in
// silence (as a file does) instead of running on into the next track while the output plays out what it
// holds.
#pragma once

#include "SamplePipeline.h"

#include "CDiscPilot.h"

#include "Platform/CdAddress.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace engine {

class CdStream final : public PcmReader {
public:
    // repeatMode is the engine's (0 off, 1 repeat one track, 2 all), read where a track ends.
    CdStream(CDiscPilot& drive, const std::atomic<std::int32_t>& repeatMode) noexcept
        : drive_(drive), repeatMode_(repeatMode) {}
    CdStream(const CdStream&) = delete;
    CdStream& operator=(const CdStream&) = delete;

    // A new read from offsetMs into track. Only while the reader thread is idle.
    void Start(std::uint32_t track, std::uint32_t offsetMs);
    // Reader thread. What the drive does not deliver (a read failure, the end of the disc) plays as
    // silence; the track still ends by its length.
    void ReadPcm(void* buffer, std::uint32_t byteCount) override;
    // The track at whose end the stream went silent, because the repeat mode was 1 when the reader got
    // there; 0 while it runs on. The output thread compares it with the repeat mode it finds when it
    // plays that end: the reader is a ring ahead of what is heard, and the mode may have changed since.
    std::uint32_t SilentAfter() const noexcept { return silentAfter_.load(); }

private:
    // The exact sector count behind a length in ms (ms = sectors × 40 / 3, truncated); 0 for no track.
    std::uint64_t TrackSectors(std::uint32_t track) const;

    CDiscPilot& drive_;
    const std::atomic<std::int32_t>& repeatMode_;
    std::uint32_t track_ = 0;
    std::uint64_t leftInTrack_ = 0;
    // The bytes of the first sector before the place a start asked for, dropped at the first read.
    std::uint64_t skipBytes_ = 0;
    std::array<std::uint8_t, platform::kCdSectorBytes> skipped_{};
    bool blank_ = false;
    // Written by the reader before the blocks after that end are queued, read by the output thread
    // after it took them from the rings (whose lock orders the two), without waiting for any lock.
    std::atomic<std::uint32_t> silentAfter_{0};
};

} // namespace engine
