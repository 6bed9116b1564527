// The emulated drive's reads: sectors from the image files with the profile's read faults (jitter, read
// errors, the stale cache), and the read commands built on them (READ CD, READ(10), the vendor reads).
#include "Platform/FileIo.h"
#include "Platform/VirtualDrive.h"
#include "VirtualDriveReply.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

void SwapSamples(BYTE* data, std::size_t bytes) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

// Byte ranges of one sector's fields as READ CD selects them: [begin, end) inside the raw 2352 bytes.
struct Field {
    DWORD begin, end;
};

// The sector fields of READ CD byte 9 that a sector of this mode delivers. Drives refuse selections that
// are not one contiguous run of the raw sector: false.
bool SelectReadCdField(CueTrackMode mode, BYTE fields, Field& field) {
    const bool sync = (fields & 0x80) != 0;
    const BYTE headers = (fields >> 5) & 0x03;
    const bool user = (fields & 0x10) != 0;
    const bool edc = (fields & 0x08) != 0;
    if (mode == CueTrackMode::Audio) {
        field = (sync || headers || user || edc) ? Field{0, kCdSectorBytes} : Field{0, 0};
        return true;
    }
    // Sync 0..11, header 12..15, user data from 16 (mode 1: 2048 bytes, then EDC/ECC to the end).
    constexpr DWORD kMode1EdcStart = 2064;
    Field parts[4];
    std::size_t count = 0;
    if (sync) {
        parts[count++] = {0, 12};
    }
    if (headers & 0x01) {
        parts[count++] = {12, 16};
    }
    if (user) {
        parts[count++] = {16, mode == CueTrackMode::Mode1Raw ? kMode1EdcStart : kCdSectorBytes};
    }
    if (edc && mode == CueTrackMode::Mode1Raw) {
        parts[count++] = {kMode1EdcStart, kCdSectorBytes};
    }
    if (count == 0) {
        field = {0, 0};
        return true;
    }
    for (std::size_t i = 1; i < count; ++i) {
        if (parts[i].begin != parts[i - 1].end) {
            return false;
        }
    }
    field = {parts[0].begin, parts[count - 1].end};
    return true;
}

// READ CD's expected sector type (byte 1 bits 2..4): any, CD-DA, mode 1, mode 2 (forms 1 and 2 alike).
bool MatchesExpectedType(BYTE expected, CueTrackMode mode) noexcept {
    switch (expected) {
    case 0:
        return true;
    case 1:
        return mode == CueTrackMode::Audio;
    case 2:
        return mode == CueTrackMode::Mode1Raw;
    default:
        return mode == CueTrackMode::Mode2Raw;
    }
}

} // namespace

bool VirtualDrive::ReadImage(LONG lba, DWORD count, int shiftBytes, BYTE* out) {
    const std::int64_t total = std::int64_t{disc_.leadOut} * kCdSectorBytes;
    std::int64_t from = std::int64_t{lba} * kCdSectorBytes + shiftBytes;
    std::int64_t left = std::int64_t{count} * kCdSectorBytes;
    std::memset(out, 0, static_cast<std::size_t>(left));
    // Bytes before the disc's start or past its end read as silence: a shifted read near an edge.
    if (from < 0) {
        out += -from;
        left += from;
        from = 0;
    }
    left = std::min(left, total - from);
    for (const DiscExtent& extent : disc_.extents) {
        if (left <= 0) {
            break;
        }
        const std::int64_t begin = std::int64_t{extent.start} * kCdSectorBytes;
        const std::int64_t end = begin + std::int64_t{extent.count} * kCdSectorBytes;
        if (from >= end || from < begin) {
            continue;
        }
        const std::int64_t chunk = std::min(left, end - from);
        if (extent.file >= 0) {
            const int fd = fds_[static_cast<std::size_t>(extent.file)];
            const auto offset = static_cast<std::uint64_t>(extent.offset + (from - begin));
            if (ReadFullyAt(fd, out, static_cast<std::size_t>(chunk), offset) != chunk) {
                return false; // the file shrank or failed under us
            }
        }
        out += chunk;
        from += chunk;
        left -= chunk;
    }
    return true;
}

DWORD VirtualDrive::ReadRawSectors(LONG lba, DWORD count, std::vector<BYTE>& out,
                                   std::array<BYTE, kSenseBytes>& sense, bool& failed) {
    failed = false;
    out.assign(std::size_t{count} * kCdSectorBytes, 0);
    int shift = 0;
    for (auto& jitter : profile_.jitter) {
        if (jitter.lba >= lba && jitter.lba < lba + static_cast<LONG>(count) &&
            (jitter.reads == 0 || jitter.used < jitter.reads)) {
            ++jitter.used;
            shift = jitter.shiftBytes;
            break;
        }
    }
    if (const int seekShift = SeekShift(lba); shift == 0) {
        shift = seekShift;
    }
    // The drive's own offset comes on top of any landing off: it moves every audio read alike.
    if (profile_.readOffset != 0 && count > 0 && TrackAt(lba)->mode == CueTrackMode::Audio) {
        shift -= static_cast<int>(profile_.readOffset) * 4;
    }
    DWORD delivered = 0;
    for (; delivered < count; ++delivered) {
        const LONG sector = lba + static_cast<LONG>(delivered);
        BYTE* dest = out.data() + std::size_t{delivered} * kCdSectorBytes;
        if (const auto cached = cache_.find(sector); cached != cache_.end()) {
            // A cache hit never reaches the disc: the earlier answer comes back, faults and all.
            std::memcpy(dest, cached->second.data(), kCdSectorBytes);
            continue;
        }
        auto error = std::find_if(profile_.readErrors.begin(), profile_.readErrors.end(), [&](const auto& e) {
            return e.lba == sector && (e.tries == 0 || e.used < e.tries);
        });
        if (error != profile_.readErrors.end()) {
            ++error->used;
            sense = MakeFixedSense(error->key, error->asc, error->ascq, sector);
            failed = true;
            break;
        }
        if (!ReadImage(sector, 1, shift, dest)) {
            sense = MakeFixedSense(kMediumError.key, kMediumError.asc, kMediumError.ascq, sector);
            failed = true;
            break;
        }
        if (profile_.noisePerMille > 0) {
            AddNoise(dest);
        }
    }
    if (profile_.staleCacheSectors > 0 && delivered > 0) {
        cache_.clear();
        const DWORD keep = std::min(delivered, profile_.staleCacheSectors);
        for (DWORD i = delivered - keep; i < delivered; ++i) {
            const BYTE* from = out.data() + std::size_t{i} * kCdSectorBytes;
            cache_[lba + static_cast<LONG>(i)].assign(from, from + kCdSectorBytes);
        }
    }
    position_ = lba + static_cast<LONG>(delivered);
    out.resize(std::size_t{delivered} * kCdSectorBytes);
    return delivered;
}

void VirtualDrive::AddNoise(BYTE* sector) {
    for (std::size_t i = 1; i < kCdSectorBytes; i += 2) {
        noiseState_ ^= noiseState_ << 13;
        noiseState_ ^= noiseState_ >> 17;
        noiseState_ ^= noiseState_ << 5;
        if (noiseState_ % 1000 < profile_.noisePerMille) {
            sector[i] = static_cast<BYTE>(noiseState_ >> 24);
        }
    }
}

void VirtualDrive::ReadAudioSectors(LONG lba, DWORD count, bool swapSamples, bool audioOnly, Reply& reply) {
    if (count == 0 || !CheckRange(lba, count, reply)) {
        return;
    }
    // A read that reaches a data track stops there, as the drive refuses the mode change mid-command.
    DWORD readable = count;
    if (audioOnly) {
        for (DWORD i = 0; i < count; ++i) {
            if (TrackAt(lba + static_cast<LONG>(i))->mode != CueTrackMode::Audio) {
                readable = i;
                break;
            }
        }
    }
    std::array<BYTE, kSenseBytes> sense{};
    bool failed = false;
    ReadRawSectors(lba, readable, reply.data, sense, failed);
    if (swapSamples) {
        SwapSamples(reply.data.data(), reply.data.size());
    }
    reply.EndRead(failed, sense, lba, readable, count);
}

void VirtualDrive::ReadCd(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const BYTE expected = (cdb[1] >> 2) & 0x07;
    const LONG lba = static_cast<LONG>(ReadBe32(cdb + 2));
    const DWORD count = ReadBe24(cdb + 6);
    const BYTE fields = cdb[9];
    if (expected > 5 || (cdb[10] & 0x07) != 0) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    if (count == 0 || !CheckRange(lba, count, reply)) {
        return;
    }
    // C2 error information: 294 bytes of bits (none set: the image has no errors), or the block error
    // byte and a pad byte before them.
    const BYTE c2 = (fields >> 1) & 0x03;
    if (c2 == 3) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    const DWORD c2Bytes = c2 == 0 ? 0 : (c2 == 1 ? 294 : 296);

    DWORD readable = count;
    for (DWORD i = 0; i < count; ++i) {
        if (!MatchesExpectedType(expected, TrackAt(lba + static_cast<LONG>(i))->mode)) {
            readable = i;
            break;
        }
    }
    Field field{};
    for (DWORD i = 0; i < readable; ++i) {
        if (!SelectReadCdField(TrackAt(lba + static_cast<LONG>(i))->mode, fields, field)) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
    }
    std::vector<BYTE> raw;
    std::array<BYTE, kSenseBytes> sense{};
    bool failed = false;
    const DWORD delivered = ReadRawSectors(lba, readable, raw, sense, failed);
    for (DWORD i = 0; i < delivered; ++i) {
        SelectReadCdField(TrackAt(lba + static_cast<LONG>(i))->mode, fields, field);
        const BYTE* sector = raw.data() + std::size_t{i} * kCdSectorBytes;
        reply.data.insert(reply.data.end(), sector + field.begin, sector + field.end);
        reply.data.insert(reply.data.end(), c2Bytes, 0);
    }
    reply.EndRead(failed, sense, lba, readable, count);
}

void VirtualDrive::ReadTen(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const LONG lba = static_cast<LONG>(ReadBe32(cdb + 2));
    const DWORD count = ReadBe16(cdb + 7);
    if (count == 0 || !CheckRange(lba, count, reply)) {
        return;
    }
    if (blockLength_ == kCdSectorBytes) {
        // Raw blocks: audio sectors are CD-DA samples, data sectors their raw 2352 bytes.
        std::array<BYTE, kSenseBytes> sense{};
        bool failed = false;
        ReadRawSectors(lba, count, reply.data, sense, failed);
        if (profile_.bigEndianRead10) {
            for (DWORD i = 0; i * kCdSectorBytes < reply.data.size(); ++i) {
                if (TrackAt(lba + static_cast<LONG>(i))->mode == CueTrackMode::Audio) {
                    SwapSamples(reply.data.data() + std::size_t{i} * kCdSectorBytes, kCdSectorBytes);
                }
            }
        }
        if (failed) {
            reply.Fail(sense);
        }
        return;
    }
    // Cooked blocks exist only on data tracks: an audio sector in this block length is refused.
    std::vector<BYTE> raw;
    std::array<BYTE, kSenseBytes> sense{};
    for (DWORD i = 0; i < count; ++i) {
        const LONG sector = lba + static_cast<LONG>(i);
        const CueTrackMode mode = TrackAt(sector)->mode;
        if (mode == CueTrackMode::Audio) {
            reply.Fail(kIllegalModeForTrack, sector);
            return;
        }
        bool failed = false;
        if (ReadRawSectors(sector, 1, raw, sense, failed) == 0) {
            reply.Fail(sense);
            return;
        }
        // User data starts after sync and header (mode 1, 2336-byte mode 2) or the sub-header too (mode 2
        // form 1 in 2048-byte blocks); 2340-byte blocks begin with the header.
        DWORD from = 16;
        if (blockLength_ == 2340) {
            from = 12;
        } else if (blockLength_ == 2048 && mode == CueTrackMode::Mode2Raw) {
            from = 24;
        }
        reply.data.insert(reply.data.end(), raw.begin() + from, raw.begin() + from + blockLength_);
    }
}

void VirtualDrive::VendorRead(LONG lba, DWORD count, Reply& reply) {
    ReadAudioSectors(lba, count, false, true, reply);
}

} // namespace platform
