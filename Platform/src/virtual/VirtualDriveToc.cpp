// The emulated drive's table of contents (READ TOC formats 0..5, CD-Text from the sheet's TITLE and
// PERFORMER lines) and Q sub-channel (READ SUB-CHANNEL).
#include "Platform/CdTextPacks.h"
#include "Platform/VirtualDrive.h"
#include "VirtualDriveReply.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Format 0: a descriptor per track from `number` on, then the lead-out. False for a track number past the
// last that is not the lead-out.
bool TrackToc(const DiscLayout& disc, BYTE number, bool msf, std::vector<BYTE>& data) {
    const auto& tracks = disc.tracks;
    const BYTE last = static_cast<BYTE>(tracks.back().number);
    if (number > last && number != kCdLeadOutTrack) {
        return false;
    }
    data.assign(4, 0);
    data[2] = static_cast<BYTE>(tracks.front().number);
    data[3] = last;
    auto add = [&](BYTE adrControl, BYTE track, LONG lba) {
        const std::size_t at = data.size();
        data.resize(at + 8, 0);
        data[at + 1] = adrControl;
        data[at + 2] = track;
        PutAddress(data.data() + at + 4, lba, msf);
    };
    if (number != kCdLeadOutTrack) {
        for (const DiscTrack& track : tracks) {
            if (track.number >= number) {
                add(AdrControl(track.control), static_cast<BYTE>(track.number), track.start);
            }
        }
    }
    add(AdrControl(tracks.back().control), kCdLeadOutTrack, disc.leadOut);
    WriteBe16(data.data(), static_cast<DWORD>(data.size() - 2));
    return true;
}

// Format 1: the one session and its first track.
void SessionInfo(const DiscLayout& disc, bool msf, std::vector<BYTE>& data) {
    const DiscTrack& first = disc.tracks.front();
    data.assign(12, 0);
    WriteBe16(data.data(), 10);
    data[2] = 1;
    data[3] = 1;
    data[5] = AdrControl(first.control);
    data[6] = static_cast<BYTE>(first.number);
    PutAddress(data.data() + 8, first.start, msf);
}

// Format 2: the full TOC of session 1 in MSF. False for a session number past 1.
bool FullToc(const DiscLayout& disc, BYTE session, std::vector<BYTE>& data) {
    if (session > 1) {
        return false;
    }
    const auto& tracks = disc.tracks;
    data.assign(4, 0);
    data[2] = 1;
    data[3] = 1;
    const bool extended = std::any_of(tracks.begin(), tracks.end(),
                                      [](const DiscTrack& t) { return t.mode == CueTrackMode::Mode2Raw; });
    auto add = [&](BYTE adrControl, BYTE point, CdMsf p) {
        const std::size_t at = data.size();
        data.resize(at + 11, 0);
        data[at] = 1; // session
        data[at + 1] = adrControl;
        data[at + 3] = point;
        data[at + 8] = p.minute;
        data[at + 9] = p.second;
        data[at + 10] = p.frame;
    };
    // Points A0, A1, A2 come first, then the tracks, as drives return them. A0 and A1 carry the first and
    // last track number in PMIN, and A0 the disc type in PSEC (0x20: mode 2).
    add(AdrControl(tracks.front().control), 0xA0,
        {static_cast<BYTE>(tracks.front().number), static_cast<BYTE>(extended ? 0x20 : 0x00), 0});
    add(AdrControl(tracks.back().control), 0xA1, {static_cast<BYTE>(tracks.back().number), 0, 0});
    add(AdrControl(tracks.back().control), 0xA2, LbaToMsf(disc.leadOut));
    for (const DiscTrack& track : tracks) {
        add(AdrControl(track.control), static_cast<BYTE>(track.number), LbaToMsf(track.start));
    }
    WriteBe16(data.data(), static_cast<DWORD>(data.size() - 2));
    return true;
}

// Format 5: the CD-Text packs of the sheet's titles and performers after the 4-byte header. False for a
// disc without any: drives refuse the format then (5/24/00) rather than answer an empty list.
bool CdText(const DiscLayout& disc, std::vector<BYTE>& data) {
    std::vector<CdTextEntry> entries{{disc.title, disc.performer}};
    for (const DiscTrack& track : disc.tracks) {
        entries.push_back({track.title, track.performer});
    }
    const std::vector<BYTE> packs = BuildCdTextPacks(entries, disc.tracks.front().number);
    if (packs.empty()) {
        return false;
    }
    data.assign(4, 0);
    data.insert(data.end(), packs.begin(), packs.end());
    WriteBe16(data.data(), static_cast<DWORD>(data.size() - 2));
    return true;
}

} // namespace

void VirtualDrive::ReadToc(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const bool msf = (cdb[1] & 0x02) != 0;
    BYTE format = cdb[2] & 0x0F;
    if (format == 0) {
        format = cdb[9] >> 6; // the older form carries the format in the control byte
    }
    const BYTE number = cdb[6];
    reply.allocation = ReadBe16(cdb + 7);
    bool valid = true;
    switch (format) {
    case 0:
        valid = TrackToc(disc_, number, msf, reply.data);
        break;
    case 1:
        SessionInfo(disc_, msf, reply.data);
        break;
    case 2:
        valid = FullToc(disc_, number, reply.data);
        break;
    case 5:
        valid = CdText(disc_, reply.data);
        break;
    case 3: // PMA, ATIP: a pressed disc has none, so only the header comes back.
    case 4:
        reply.data.assign(4, 0);
        WriteBe16(reply.data.data(), 2);
        break;
    default:
        valid = false;
        break;
    }
    if (!valid) {
        reply.data.clear();
        reply.Fail(kInvalidFieldInCdb);
    }
}

void VirtualDrive::ReadSubChannel(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const bool msf = (cdb[1] & 0x02) != 0;
    const bool subQ = (cdb[2] & 0x40) != 0;
    const BYTE format = cdb[3];
    reply.allocation = ReadBe16(cdb + 7);
    if (format < 1 || format > 3) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    const DiscTrack* isrcTrack = nullptr;
    if (format == 3) {
        for (const DiscTrack& track : disc_.tracks) {
            if (track.number == cdb[6]) {
                isrcTrack = &track;
            }
        }
        if (isrcTrack == nullptr) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
    }
    auto& data = reply.data;
    data.assign(4, 0);
    data[1] = kNoAudioStatus;
    if (!subQ) {
        return;
    }
    if (format == 1) {
        data.resize(16, 0);
        const DiscTrack* track = TrackAt(position_);
        data[4] = 0x01;
        data[5] = AdrControl(track->control);
        data[6] = static_cast<BYTE>(track->number);
        BYTE index = 0;
        for (const DiscIndex& i : track->indexes) {
            if (i.lba <= position_) {
                index = static_cast<BYTE>(i.number);
            }
        }
        data[7] = index;
        PutAddress(data.data() + 8, position_, msf);
        if (msf) {
            // The relative time counts from the track's start, without the lead-in offset.
            const CdMsf relative = FramesToMsf(std::abs(position_ - track->start));
            data[12] = 0;
            data[13] = relative.minute;
            data[14] = relative.second;
            data[15] = relative.frame;
        } else {
            WriteBe32(data.data() + 12, static_cast<DWORD>(position_ - track->start));
        }
        WriteBe16(data.data() + 2, 12);
        return;
    }
    data.resize(24, 0);
    data[4] = format;
    if (format == 2) {
        if (profile_.upc && !disc_.catalog.empty()) {
            data[8] = 0x80;
            std::memcpy(data.data() + 9, disc_.catalog.data(), 13);
        }
    } else {
        data[5] = AdrControl(isrcTrack->control);
        data[6] = static_cast<BYTE>(isrcTrack->number);
        if (profile_.isrc && !isrcTrack->isrc.empty()) {
            data[8] = 0x80;
            std::memcpy(data.data() + 9, isrcTrack->isrc.data(), 12);
        }
    }
    WriteBe16(data.data() + 2, 20);
}

} // namespace platform
