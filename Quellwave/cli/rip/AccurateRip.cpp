#include "rip/AccurateRip.h"

#include <array>
#include <cstdio>

namespace rip {

namespace {

// The frames a track's checksum leaves out at the disc's ends: five sectors.
constexpr std::size_t kSkippedFrames = 5 * kSamplesPerSector;
constexpr std::uint32_t kSessionGapSectors = 11400;
constexpr std::uint32_t kLeadInSectors = 150; // LBA 0 is 00:02:00 on the disc

std::uint32_t Le32(const unsigned char* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

int DiscLayout::AudioTrackCount() const noexcept {
    int count = 0;
    for (const TocTrack& t : tracks) {
        count += t.data ? 0 : 1;
    }
    return count;
}

std::uint32_t DiscLayout::AudioLeadOut() const noexcept {
    if (tracks.size() < 2 || !tracks.back().data || tracks[tracks.size() - 2].data) {
        return leadOut;
    }
    const TocTrack& lastAudio = tracks[tracks.size() - 2];
    const std::uint32_t dataStart = tracks.back().start;
    return dataStart >= lastAudio.start + kSessionGapSectors + 1 ? dataStart - kSessionGapSectors : dataStart;
}

ArChecksums AccurateRipChecksums(const unsigned char* pcm, std::size_t bytes, bool firstTrack,
                                 bool lastTrack) {
    const std::size_t frames = bytes / 4;
    // Frames are counted from 1; the first track checks from the last frame of its fifth sector on, the
    // last one up to five sectors before its end.
    const std::size_t from = firstTrack ? kSkippedFrames : 1;
    const std::size_t to = lastTrack ? (frames > kSkippedFrames ? frames - kSkippedFrames : 0) : frames;
    ArChecksums sums;
    for (std::size_t i = from; i <= to && i <= frames; ++i) {
        const std::uint32_t sample = Le32(pcm + (i - 1) * 4);
        const auto multiplier = static_cast<std::uint32_t>(i);
        sums.v1 += multiplier * sample;
        const std::uint64_t product = std::uint64_t{multiplier} * sample;
        sums.v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
    }
    return sums;
}

DiscIds ComputeDiscIds(const DiscLayout& disc) {
    DiscIds ids;
    const std::uint32_t audioEnd = disc.AudioLeadOut();
    for (const TocTrack& t : disc.tracks) {
        if (t.data) {
            continue;
        }
        ++ids.audioTracks;
        ids.id1 += t.start;
        ids.id2 += (t.start == 0 ? 1 : t.start) * static_cast<std::uint32_t>(t.number);
    }
    ids.id1 += audioEnd;
    ids.id2 += audioEnd * static_cast<std::uint32_t>(ids.audioTracks + 1);

    // CDDB: the digit sums of every track's start in seconds, the disc's length in seconds, the count.
    std::uint32_t digits = 0;
    for (const TocTrack& t : disc.tracks) {
        for (std::uint32_t s = (t.start + kLeadInSectors) / 75; s > 0; s /= 10) {
            digits += s % 10;
        }
    }
    const std::uint32_t first = disc.tracks.empty() ? 0 : (disc.tracks.front().start + kLeadInSectors) / 75;
    const std::uint32_t length = (disc.leadOut + kLeadInSectors) / 75 - first;
    ids.cddb = (digits % 255) << 24 | length << 8 | static_cast<std::uint32_t>(disc.tracks.size());
    return ids;
}

std::string DbarPath(const DiscIds& ids) {
    char text[96];
    std::snprintf(text, sizeof text, "%x/%x/%x/dBAR-%03d-%08x-%08x-%08x.bin", ids.id1 & 0xF,
                  ids.id1 >> 4 & 0xF, ids.id1 >> 8 & 0xF, ids.audioTracks, ids.id1, ids.id2, ids.cddb);
    return text;
}

bool ParseDbar(const unsigned char* data, std::size_t size, std::vector<DbarEntry>& entries,
               std::string* error) {
    entries.clear();
    const auto fail = [&](const std::string& why) {
        entries.clear();
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (data == nullptr || size == 0) {
        return fail("the response is empty");
    }
    constexpr std::size_t kHeader = 13;
    constexpr std::size_t kTrack = 9;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < kHeader) {
            return fail("entry " + std::to_string(entries.size() + 1) + " is cut short in its header");
        }
        DbarEntry entry;
        entry.trackCount = data[at];
        if (entry.trackCount == 0) {
            return fail("entry " + std::to_string(entries.size() + 1) + " has no tracks");
        }
        entry.id1 = Le32(data + at + 1);
        entry.id2 = Le32(data + at + 5);
        entry.cddb = Le32(data + at + 9);
        at += kHeader;
        if ((size - at) / kTrack < static_cast<std::size_t>(entry.trackCount)) {
            return fail("entry " + std::to_string(entries.size() + 1) + " is cut short in its tracks");
        }
        for (int t = 0; t < entry.trackCount; ++t) {
            entry.tracks.push_back({data[at], Le32(data + at + 1), Le32(data + at + 5)});
            at += kTrack;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

TrackVerdict Verdict(const std::vector<DbarEntry>& entries, const DiscIds& ids, int trackIndex,
                     const ArChecksums& sums) {
    TrackVerdict verdict;
    for (const DbarEntry& e : entries) {
        if (e.id1 != ids.id1 || e.id2 != ids.id2 || e.cddb != ids.cddb || e.trackCount != ids.audioTracks ||
            trackIndex < 0 || trackIndex >= e.trackCount) {
            continue;
        }
        const DbarTrack& t = e.tracks[static_cast<std::size_t>(trackIndex)];
        if (t.confidence == 0) {
            continue; // a slot no rip filled
        }
        verdict.listed = true;
        if (t.crc == sums.v1) {
            verdict.v1Confidence += t.confidence;
        }
        if (t.crc == sums.v2 && sums.v2 != sums.v1) {
            verdict.v2Confidence += t.confidence;
        }
    }
    return verdict;
}

std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc) noexcept {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

} // namespace rip
