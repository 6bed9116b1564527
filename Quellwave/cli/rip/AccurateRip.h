// What a rip computes to be compared with the discs other people ripped: the AccurateRip checksums of a
// track, the disc's AccurateRip and CDDB ids, and the answers of the AccurateRip database (its dBAR
// files). Pure computations on memory: no drive, no network, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rip {

inline constexpr std::uint32_t kSectorBytes = 2352;
inline constexpr std::uint32_t kSamplesPerSector = 588; // stereo frames of 16-bit samples

// One entry of a disc's table of contents.
struct TocTrack {
    int number = 0;
    std::uint32_t start = 0;  // LBA of index 1
    std::uint32_t length = 0; // sectors up to the next track's start (or the lead-out)
    bool data = false;
};

// A disc's table of contents: tracks in order, and the lead-out (one past the last sector).
struct DiscLayout {
    std::vector<TocTrack> tracks;
    std::uint32_t leadOut = 0;

    int AudioTrackCount() const noexcept;
    // Where the audio ends: the lead-out, or the start of the data track that comes last (the 11 400
    // sectors between the sessions of a multi-session disc left out when the data track is that far).
    std::uint32_t AudioLeadOut() const noexcept;
};

struct ArChecksums {
    std::uint32_t v1 = 0;
    std::uint32_t v2 = 0;
};

// The AccurateRip v1 and v2 checksums of one track's audio (16-bit stereo little-endian PCM, a whole
// number of 4-byte frames). The first track of the disc leaves out its first five sectors but one frame,
// the last audio track its last five sectors, where drives cannot agree on what they read.
ArChecksums AccurateRipChecksums(const unsigned char* pcm, std::size_t bytes, bool firstTrack,
                                 bool lastTrack);

// The ids the AccurateRip database files a disc under.
struct DiscIds {
    int audioTracks = 0;
    std::uint32_t id1 = 0;  // sum of the audio tracks' starts and the audio lead-out
    std::uint32_t id2 = 0;  // the same, each weighted by its track number (the lead-out by count + 1)
    std::uint32_t cddb = 0; // the CDDB (freedb) disc id
};
DiscIds ComputeDiscIds(const DiscLayout& disc);

// The database's file for a disc, relative to its address: "a/b/c/dBAR-NNN-id1-id2-cddb.bin", where a, b
// and c are the last three hex digits of id1, last first.
std::string DbarPath(const DiscIds& ids);

// One submission of a dBAR file: a header naming the disc, then per track a confidence (how many rips
// agreed), the checksum and the checksum of frame 450.
struct DbarTrack {
    int confidence = 0;
    std::uint32_t crc = 0;
    std::uint32_t frame450 = 0;
};
struct DbarEntry {
    int trackCount = 0;
    std::uint32_t id1 = 0, id2 = 0, cddb = 0;
    std::vector<DbarTrack> tracks;
};

// Reads a dBAR file: one or more entries of a 13-byte header (track count, id1, id2, CDDB id; little-
// endian) and 9 bytes per track. False with *error saying what is wrong for anything else: empty, a track
// count of 0, an entry cut short. Never reads past size.
bool ParseDbar(const unsigned char* data, std::size_t size, std::vector<DbarEntry>& entries,
               std::string* error);

// What the database says of one track (trackIndex among the audio tracks, from 0), from the entries
// filed under the disc's ids: the confidences of the entries whose checksum equals the track's v1 and v2
// checksums, and whether any entry holds the track at all.
struct TrackVerdict {
    bool listed = false;
    int v1Confidence = 0;
    int v2Confidence = 0;
    bool Accurate() const noexcept { return v1Confidence > 0 || v2Confidence > 0; }
};
TrackVerdict Verdict(const std::vector<DbarEntry>& entries, const DiscIds& ids, int trackIndex,
                     const ArChecksums& sums);

// The CRC-32 (IEEE 802.3, as zip and PNG use it) of bytes, continuing from crc (0 to start).
std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc = 0) noexcept;

} // namespace rip
