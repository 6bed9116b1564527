// The emulated MMC drive. Answers follow what drives report in practice: fixed-format sense, transfers cut
// to the allocation length while the length fields still report the whole answer, and reads that fail at
// a sector deliver the sectors before it.
#include "Platform/VirtualDrive.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace platform {

namespace {

// Sense the drive reports, as key, ASC, ASCQ.
struct Sense {
    BYTE key, asc, ascq;
};
constexpr Sense kNotReadyBecoming{0x02, 0x04, 0x01};
constexpr Sense kNoMediumTrayOpen{0x02, 0x3A, 0x02};
constexpr Sense kMediumError{0x03, 0x11, 0x00};
constexpr Sense kParameterListLength{0x05, 0x1A, 0x00};
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};
constexpr Sense kInvalidFieldInCdb{0x05, 0x24, 0x00};
constexpr Sense kInvalidFieldInParameters{0x05, 0x26, 0x00};
constexpr Sense kSavingNotSupported{0x05, 0x39, 0x00};
constexpr Sense kRemovalPrevented{0x05, 0x53, 0x02};
constexpr Sense kIllegalModeForTrack{0x05, 0x64, 0x00};

constexpr DWORD kKBsPerSpeed = 176;
constexpr DWORD kMaxSpeedMultiple = 0xFFFF / kKBsPerSpeed;

DWORD Be16(const BYTE* p) {
    return (DWORD{p[0]} << 8) | p[1];
}
DWORD Be24(const BYTE* p) {
    return (DWORD{p[0]} << 16) | (DWORD{p[1]} << 8) | p[2];
}
DWORD Be32(const BYTE* p) {
    return (DWORD{p[0]} << 24) | (DWORD{p[1]} << 16) | (DWORD{p[2]} << 8) | p[3];
}
void Put16(std::vector<BYTE>& v, std::size_t at, DWORD value) {
    v[at] = static_cast<BYTE>(value >> 8);
    v[at + 1] = static_cast<BYTE>(value);
}
void Put32(std::vector<BYTE>& v, std::size_t at, DWORD value) {
    v[at] = static_cast<BYTE>(value >> 24);
    v[at + 1] = static_cast<BYTE>(value >> 16);
    v[at + 2] = static_cast<BYTE>(value >> 8);
    v[at + 3] = static_cast<BYTE>(value);
}
// An address field of READ TOC and READ SUB-CHANNEL: LBA, or 0, M, S, F of the absolute time.
void PutAddress(std::vector<BYTE>& v, std::size_t at, LONG lba, bool msf) {
    if (!msf) {
        Put32(v, at, static_cast<DWORD>(lba));
        return;
    }
    const LONG frames = std::max<LONG>(lba + kCdMsfOffset, 0);
    v[at] = 0;
    v[at + 1] = static_cast<BYTE>(frames / (60 * 75));
    v[at + 2] = static_cast<BYTE>(frames / 75 % 60);
    v[at + 3] = static_cast<BYTE>(frames % 75);
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

void SwapSamples(BYTE* data, std::size_t bytes) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

// Byte ranges of one sector's fields as READ CD selects them: [begin, end) inside the raw 2352 bytes.
struct Field {
    DWORD begin, end;
};

} // namespace

struct VirtualDrive::Reply {
    std::vector<BYTE> data;
    DWORD allocation = std::numeric_limits<DWORD>::max();
    BYTE status = kScsiGood;
    std::array<BYTE, kSenseBytes> sense{};

    void Fail(Sense s, LONG information = -1) {
        status = kScsiCheckCondition;
        sense = MakeFixedSense(s.key, s.asc, s.ascq, information);
    }
};

VirtualDrive::VirtualDrive(DiscLayout disc, VirtualDriveProfile profile)
    : disc_(std::move(disc)), profile_(std::move(profile)) {
    profile_.maxSpeed = std::clamp<DWORD>(profile_.maxSpeed, 1, kMaxSpeedMultiple);
    currentSpeedKBs_ = profile_.maxSpeed * kKBsPerSpeed;
}

VirtualDrive::~VirtualDrive() {
    for (int fd : fds_) {
        ::close(fd);
    }
}

std::shared_ptr<VirtualDrive> VirtualDrive::Create(DiscLayout disc, VirtualDriveProfile profile,
                                                   std::string& error) {
    std::shared_ptr<VirtualDrive> drive(new VirtualDrive(std::move(disc), std::move(profile)));
    for (const auto& path : drive->disc_.files) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = path.string() + ": " + std::strerror(errno);
            return nullptr;
        }
        drive->fds_.push_back(fd);
    }
    return drive;
}

std::shared_ptr<VirtualDrive> VirtualDrive::ForLetter(char letter, const std::filesystem::path& cuePath,
                                                      std::string& error) {
    struct Slot {
        std::filesystem::path path;
        std::shared_ptr<VirtualDrive> drive;
    };
    static std::mutex mutex;
    static std::map<char, Slot> drives;
    const std::lock_guard lock(mutex);
    Slot& slot = drives[letter];
    if (slot.drive && slot.path == cuePath) {
        return slot.drive;
    }
    DiscLayout disc;
    if (!LoadCueImage(cuePath, disc, error)) {
        return nullptr;
    }
    VirtualDriveProfile profile;
    if (!LoadVirtualDriveProfile(letter, profile, error)) {
        return nullptr;
    }
    auto drive = Create(std::move(disc), std::move(profile), error);
    if (drive) {
        slot = {cuePath, drive};
    }
    return drive;
}

const DiscTrack* VirtualDrive::TrackAt(LONG lba) const {
    const DiscTrack* found = nullptr;
    for (const DiscTrack& track : disc_.tracks) {
        if (track.pregapStart <= lba) {
            found = &track;
        }
    }
    return found != nullptr ? found : (disc_.tracks.empty() ? nullptr : &disc_.tracks.front());
}

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
            std::int64_t done = 0;
            while (done < chunk) {
                const ssize_t got = ::pread(fd, out + done, static_cast<std::size_t>(chunk - done),
                                            static_cast<off_t>(extent.offset + (from - begin) + done));
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got <= 0) {
                    return false; // the file shrank or failed under us
                }
                done += got;
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

int VirtualDrive::Execute(const ScsiCommand& cmd, ScsiAnswer& answer) {
    answer = {};
    if (cmd.cdbLength == 0 || cmd.cdbLength > cmd.cdb.size() || (cmd.dataLength > 0 && cmd.data == nullptr) ||
        (cmd.direction == ScsiDirection::None && cmd.dataLength > 0)) {
        answer.error = EINVAL;
        return answer.error;
    }
    if (profile_.maxTransfer != 0 && cmd.dataLength > profile_.maxTransfer) {
        answer.error = EINVAL;
        return answer.error;
    }
    // Bytes past the block's length arrive as zeros, as an ATAPI drive sees a short block padded to 12.
    ScsiCommand padded = cmd;
    std::fill(padded.cdb.begin() + cmd.cdbLength, padded.cdb.end(), BYTE{0});

    const std::lock_guard lock(mutex_);
    Reply reply;
    Dispatch(padded, reply);
    if (cmd.direction == ScsiDirection::In) {
        const std::size_t n = std::min<std::size_t>({reply.data.size(), reply.allocation, cmd.dataLength});
        if (n > 0) {
            std::memcpy(cmd.data, reply.data.data(), n);
        }
        answer.transferred = static_cast<DWORD>(n);
    } else if (cmd.direction == ScsiDirection::Out && reply.status == kScsiGood) {
        answer.transferred = cmd.dataLength;
    }
    answer.status = reply.status;
    if (reply.status == kScsiCheckCondition) {
        answer.sense = reply.sense;
    }
    if (padded.cdb[0] != 0x03) {
        lastSense_ = answer.sense;
    }
    return 0;
}

bool VirtualDrive::MediaCheck(Reply& reply) {
    if (trayOpen_) {
        reply.Fail(kNoMediumTrayOpen);
        return false;
    }
    return true;
}

void VirtualDrive::Dispatch(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const BYTE op = cdb[0];
    if (op != 0x12 && op != 0x03) {
        // A drive spinning up answers everything but INQUIRY and REQUEST SENSE with "becoming ready".
        ++commandsSeen_;
        if (commandsSeen_ <= profile_.notReadyCommands) {
            reply.Fail(kNotReadyBecoming);
            return;
        }
    }
    switch (op) {
    case 0x00: // TEST UNIT READY
        MediaCheck(reply);
        return;
    case 0x03: { // REQUEST SENSE
        reply.allocation = cdb[4];
        const auto sense = lastSense_[0] != 0 ? lastSense_ : MakeFixedSense(0, 0, 0);
        reply.data.assign(sense.begin(), sense.end());
        lastSense_.fill(0);
        return;
    }
    case 0x12:
        Inquiry(cmd, reply);
        return;
    case 0x1A:
        ModeSense(cmd, reply, false);
        return;
    case 0x5A:
        ModeSense(cmd, reply, true);
        return;
    case 0x15:
        ModeSelect(cmd, reply, false);
        return;
    case 0x55:
        ModeSelect(cmd, reply, true);
        return;
    case 0x1B: { // START STOP UNIT
        const bool loadEject = (cdb[4] & 0x02) != 0;
        const bool start = (cdb[4] & 0x01) != 0;
        if (loadEject && !start) {
            if (preventRemoval_) {
                reply.Fail(kRemovalPrevented);
                return;
            }
            trayOpen_ = true;
            cache_.clear();
        } else if (loadEject && start) {
            trayOpen_ = false;
        }
        return;
    }
    case 0x1E: // PREVENT ALLOW MEDIUM REMOVAL
        preventRemoval_ = (cdb[4] & 0x01) != 0;
        return;
    case 0x25: // READ CAPACITY
        if (!MediaCheck(reply)) {
            return;
        }
        reply.data.assign(8, 0);
        Put32(reply.data, 0, static_cast<DWORD>(disc_.leadOut - 1));
        Put32(reply.data, 4, 2048);
        return;
    case 0x0B:   // SEEK(6)
    case 0x2B: { // SEEK(10)
        if (!MediaCheck(reply)) {
            return;
        }
        const LONG lba = op == 0x0B ? static_cast<LONG>(((cdb[1] & 0x1F) << 16) | Be16(cdb + 2))
                                    : static_cast<LONG>(Be32(cdb + 2));
        if (lba < 0 || lba >= disc_.leadOut) {
            reply.Fail(kLbaOutOfRange, lba);
            return;
        }
        position_ = lba;
        return;
    }
    case 0xBB: { // SET CD SPEED
        const DWORD speed = Be16(cdb + 2);
        const DWORD maximum = profile_.maxSpeed * kKBsPerSpeed;
        // A drive settles on the fastest speed it has at or below the request (whole multiples of 1x).
        currentSpeedKBs_ = speed == 0xFFFF
                               ? maximum
                               : std::clamp<DWORD>(speed / kKBsPerSpeed, 1, profile_.maxSpeed) * kKBsPerSpeed;
        return;
    }
    case 0x42:
        if (MediaCheck(reply)) {
            ReadSubChannel(cmd, reply);
        }
        return;
    case 0x43:
        if (MediaCheck(reply)) {
            ReadToc(cmd, reply);
        }
        return;
    case 0xBE:
        if (profile_.refuseReadCd) {
            reply.Fail(kInvalidOpcode);
            return;
        }
        if (MediaCheck(reply)) {
            ReadCd(cmd, reply);
        }
        return;
    case 0x28:
        if (MediaCheck(reply)) {
            ReadTen(cmd, reply);
        }
        return;
    case 0xD4: // vendor READ CD-DA, 10 bytes: LBA in 2..5, count in 7..8
        if (MediaCheck(reply)) {
            VendorRead(static_cast<LONG>(Be32(cdb + 2)), Be16(cdb + 7), reply);
        }
        return;
    case 0xD8: // vendor READ CD-DA, 12 bytes: LBA in 2..5, count in 6..9, sub-code format in 10
        if (cdb[10] != 0) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
        if (MediaCheck(reply)) {
            VendorRead(static_cast<LONG>(Be32(cdb + 2)), Be32(cdb + 6), reply);
        }
        return;
    default:
        reply.Fail(kInvalidOpcode);
        return;
    }
}

void VirtualDrive::Inquiry(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    reply.allocation = Be16(cdb + 3);
    if ((cdb[1] & 0x01) != 0) {
        // Vital product data: only the list of supported pages.
        if (cdb[2] != 0x00) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
        reply.data = {kScsiDeviceTypeCdDvd, 0x00, 0x00, 0x01, 0x00};
        return;
    }
    if (cdb[2] != 0) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    reply.data.assign(36, 0);
    reply.data[0] = kScsiDeviceTypeCdDvd;
    reply.data[1] = 0x80; // removable medium
    reply.data[3] = 0x02; // response data format 2
    reply.data[4] = 31;   // additional length: bytes 5..35
    const std::string id =
        Padded(profile_.vendor, 8) + Padded(profile_.product, 16) + Padded(profile_.revision, 4);
    std::memcpy(reply.data.data() + 8, id.data(), 28);
}

void VirtualDrive::ModeSense(const ScsiCommand& cmd, Reply& reply, bool tenByte) {
    const BYTE* cdb = cmd.cdb.data();
    const bool noBlockDescriptors = (cdb[1] & 0x08) != 0;
    const BYTE control = cdb[2] >> 6;
    const BYTE page = cdb[2] & 0x3F;
    reply.allocation = tenByte ? Be16(cdb + 7) : cdb[4];
    if (control == 3) {
        reply.Fail(kSavingNotSupported);
        return;
    }
    if (cdb[3] != 0 || (page != 0x01 && page != 0x2A && page != 0x3F)) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    const bool changeable = control == 1;
    std::vector<BYTE> pages;
    if (page == 0x01 || page == 0x3F) {
        // Read error recovery: nothing set, a retry count the drive would use.
        std::vector<BYTE> recovery(12, 0);
        recovery[0] = 0x01;
        recovery[1] = 0x0A;
        recovery[3] = changeable ? 0 : 0x10;
        pages.insert(pages.end(), recovery.begin(), recovery.end());
    }
    if (page == 0x2A || page == 0x3F) {
        // CD capabilities and mechanical status, in the 22-byte form that drives report.
        std::vector<BYTE> caps(22, 0);
        caps[0] = 0x2A;
        caps[1] = 0x14;
        if (!changeable) {
            caps[2] = 0x03; // reads CD-R and CD-RW
            caps[4] = 0x71; // audio play, mode 2 form 1 and 2, multi-session
            caps[5] =
                static_cast<BYTE>((profile_.cddaCommands ? 0x01 : 0) | (profile_.cddaAccurate ? 0x02 : 0) |
                                  (profile_.isrc ? 0x20 : 0) | (profile_.upc ? 0x40 : 0));
            caps[6] =
                static_cast<BYTE>(0x01 | (preventRemoval_ ? 0x02 : 0) | 0x08 | 0x20); // lock, eject, tray
            caps[7] = 0x03; // separate channel volume and mute
            Put16(caps, 8, profile_.maxSpeed * kKBsPerSpeed);
            Put16(caps, 10, 256);
            Put16(caps, 12, std::min<DWORD>(profile_.bufferKB, 0xFFFF));
            Put16(caps, 14, currentSpeedKBs_);
        }
        pages.insert(pages.end(), caps.begin(), caps.end());
    }
    std::vector<BYTE> descriptor;
    if (!noBlockDescriptors) {
        descriptor.assign(8, 0);
        descriptor[0] = changeable ? 0xFF : density_;
        const DWORD length = changeable ? 0xFFFFFF : blockLength_;
        descriptor[5] = static_cast<BYTE>(length >> 16);
        descriptor[6] = static_cast<BYTE>(length >> 8);
        descriptor[7] = static_cast<BYTE>(length);
    }
    const std::size_t header = tenByte ? 8 : 4;
    reply.data.assign(header, 0);
    reply.data.insert(reply.data.end(), descriptor.begin(), descriptor.end());
    reply.data.insert(reply.data.end(), pages.begin(), pages.end());
    if (tenByte) {
        Put16(reply.data, 0, static_cast<DWORD>(reply.data.size() - 2));
        Put16(reply.data, 6, static_cast<DWORD>(descriptor.size()));
    } else {
        reply.data[0] = static_cast<BYTE>(reply.data.size() - 1);
        reply.data[3] = static_cast<BYTE>(descriptor.size());
    }
}

void VirtualDrive::ModeSelect(const ScsiCommand& cmd, Reply& reply, bool tenByte) {
    const BYTE* cdb = cmd.cdb.data();
    if ((cdb[1] & 0x01) != 0) {
        reply.Fail(kInvalidFieldInCdb); // saving pages is not supported
        return;
    }
    const DWORD listLength = tenByte ? Be16(cdb + 7) : cdb[4];
    if (listLength == 0) {
        return;
    }
    if (cmd.direction != ScsiDirection::Out || cmd.dataLength < listLength) {
        reply.Fail(kParameterListLength);
        return;
    }
    const BYTE* list = cmd.data;
    const DWORD header = tenByte ? 8 : 4;
    if (listLength < header) {
        reply.Fail(kParameterListLength);
        return;
    }
    const DWORD descriptorLength = tenByte ? Be16(list + 6) : list[3];
    if (descriptorLength != 0 && descriptorLength != 8) {
        reply.Fail(kInvalidFieldInParameters);
        return;
    }
    if (header + descriptorLength > listLength) {
        reply.Fail(kParameterListLength);
        return;
    }
    if (descriptorLength == 8) {
        const BYTE* d = list + header;
        const BYTE density = d[0];
        const DWORD length = Be24(d + 5);
        const bool densityKnown = density <= 0x04 || density == 0x81 || density == 0x82;
        const bool lengthKnown =
            length == 2048 || length == 2336 || length == 2340 || length == kCdSectorBytes;
        if (!densityKnown || !lengthKnown) {
            reply.Fail(kInvalidFieldInParameters);
            return;
        }
        density_ = density;
        blockLength_ = length;
    }
}

void VirtualDrive::ReadToc(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const bool msf = (cdb[1] & 0x02) != 0;
    BYTE format = cdb[2] & 0x0F;
    if (format == 0) {
        format = cdb[9] >> 6; // the older form carries the format in the control byte
    }
    const BYTE number = cdb[6];
    reply.allocation = Be16(cdb + 7);
    const auto& tracks = disc_.tracks;
    const BYTE first = static_cast<BYTE>(tracks.front().number);
    const BYTE last = static_cast<BYTE>(tracks.back().number);
    auto& data = reply.data;
    switch (format) {
    case 0: {
        if (number > last && number != kCdLeadOutTrack) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
        data.assign(4, 0);
        data[2] = first;
        data[3] = last;
        auto add = [&](BYTE adrControl, BYTE track, LONG lba) {
            const std::size_t at = data.size();
            data.resize(at + 8, 0);
            data[at + 1] = adrControl;
            data[at + 2] = track;
            PutAddress(data, at + 4, lba, msf);
        };
        if (number != kCdLeadOutTrack) {
            for (const DiscTrack& track : tracks) {
                if (track.number >= number) {
                    add(static_cast<BYTE>(0x10 | track.control), static_cast<BYTE>(track.number),
                        track.start);
                }
            }
        }
        add(static_cast<BYTE>(0x10 | tracks.back().control), kCdLeadOutTrack, disc_.leadOut);
        Put16(data, 0, static_cast<DWORD>(data.size() - 2));
        return;
    }
    case 1: {
        data.assign(12, 0);
        Put16(data, 0, 10);
        data[2] = 1;
        data[3] = 1;
        data[5] = static_cast<BYTE>(0x10 | tracks.front().control);
        data[6] = first;
        PutAddress(data, 8, tracks.front().start, msf);
        return;
    }
    case 2: {
        if (number > 1) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
        data.assign(4, 0);
        data[2] = 1;
        data[3] = 1;
        const bool extended = std::any_of(tracks.begin(), tracks.end(), [](const DiscTrack& t) {
            return t.mode == CueTrackMode::Mode2Raw;
        });
        auto add = [&](BYTE adrControl, BYTE point, BYTE pmin, BYTE psec, BYTE pframe) {
            const std::size_t at = data.size();
            data.resize(at + 11, 0);
            data[at] = 1; // session
            data[at + 1] = adrControl;
            data[at + 3] = point;
            data[at + 8] = pmin;
            data[at + 9] = psec;
            data[at + 10] = pframe;
        };
        auto addAt = [&](BYTE adrControl, BYTE point, LONG lba) {
            std::vector<BYTE> msfBytes(4, 0);
            PutAddress(msfBytes, 0, lba, true);
            add(adrControl, point, msfBytes[1], msfBytes[2], msfBytes[3]);
        };
        // Points A0, A1, A2 come first, then the tracks, as drives return them.
        add(static_cast<BYTE>(0x10 | tracks.front().control), 0xA0, first, extended ? 0x20 : 0x00, 0);
        add(static_cast<BYTE>(0x10 | tracks.back().control), 0xA1, last, 0, 0);
        addAt(static_cast<BYTE>(0x10 | tracks.back().control), 0xA2, disc_.leadOut);
        for (const DiscTrack& track : tracks) {
            addAt(static_cast<BYTE>(0x10 | track.control), static_cast<BYTE>(track.number), track.start);
        }
        Put16(data, 0, static_cast<DWORD>(data.size() - 2));
        return;
    }
    case 3: // PMA, ATIP, CD-TEXT: a pressed disc has none, so only the header comes back.
    case 4:
    case 5:
        data.assign(4, 0);
        Put16(data, 0, 2);
        return;
    default:
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
}

void VirtualDrive::ReadSubChannel(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const bool msf = (cdb[1] & 0x02) != 0;
    const bool subQ = (cdb[2] & 0x40) != 0;
    const BYTE format = cdb[3];
    reply.allocation = Be16(cdb + 7);
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
    data[1] = 0x15; // no current audio status: the drive never plays audio itself
    if (!subQ) {
        return;
    }
    if (format == 1) {
        data.resize(16, 0);
        const DiscTrack* track = TrackAt(position_);
        data[4] = 0x01;
        data[5] = static_cast<BYTE>(0x10 | track->control);
        data[6] = static_cast<BYTE>(track->number);
        BYTE index = 0;
        for (const DiscIndex& i : track->indexes) {
            if (i.lba <= position_) {
                index = static_cast<BYTE>(i.number);
            }
        }
        data[7] = index;
        PutAddress(data, 8, position_, msf);
        if (msf) {
            // The relative time counts from the track's start, without the lead-in offset.
            const LONG relative = std::abs(position_ - track->start);
            data[12] = 0;
            data[13] = static_cast<BYTE>(relative / (60 * 75));
            data[14] = static_cast<BYTE>(relative / 75 % 60);
            data[15] = static_cast<BYTE>(relative % 75);
        } else {
            Put32(data, 12, static_cast<DWORD>(position_ - track->start));
        }
        Put16(data, 2, 12);
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
        data[5] = static_cast<BYTE>(0x10 | isrcTrack->control);
        data[6] = static_cast<BYTE>(isrcTrack->number);
        if (profile_.isrc && !isrcTrack->isrc.empty()) {
            data[8] = 0x80;
            std::memcpy(data.data() + 9, isrcTrack->isrc.data(), 12);
        }
    }
    Put16(data, 2, 20);
}

void VirtualDrive::ReadAudioSectors(LONG lba, DWORD count, bool swapSamples, bool audioOnly, Reply& reply) {
    if (count == 0) {
        return;
    }
    if (lba < 0 || std::int64_t{lba} + count > disc_.leadOut) {
        reply.Fail(kLbaOutOfRange, lba < 0 || lba >= disc_.leadOut ? lba : disc_.leadOut);
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
    const DWORD delivered = ReadRawSectors(lba, readable, reply.data, sense, failed);
    if (swapSamples) {
        SwapSamples(reply.data.data(), reply.data.size());
    }
    if (failed) {
        reply.status = kScsiCheckCondition;
        reply.sense = sense;
    } else if (readable < count) {
        reply.Fail(kIllegalModeForTrack, lba + static_cast<LONG>(delivered));
    }
}

void VirtualDrive::ReadCd(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const BYTE expected = (cdb[1] >> 2) & 0x07;
    const LONG lba = static_cast<LONG>(Be32(cdb + 2));
    const DWORD count = Be24(cdb + 6);
    const BYTE fields = cdb[9];
    if (expected > 5 || (cdb[10] & 0x07) != 0) {
        reply.Fail(kInvalidFieldInCdb);
        return;
    }
    if (count == 0) {
        return;
    }
    if (lba < 0 || std::int64_t{lba} + count > disc_.leadOut) {
        reply.Fail(kLbaOutOfRange, lba < 0 || lba >= disc_.leadOut ? lba : disc_.leadOut);
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
    const bool sync = (fields & 0x80) != 0;
    const BYTE headers = (fields >> 5) & 0x03;
    const bool user = (fields & 0x10) != 0;
    const bool edc = (fields & 0x08) != 0;

    // Each sector's selected fields must be one contiguous run of the raw sector; other combinations are
    // refused by drives.
    auto select = [&](CueTrackMode mode, Field& field) -> bool {
        if (mode == CueTrackMode::Audio) {
            field = (sync || headers || user || edc) ? Field{0, kCdSectorBytes} : Field{0, 0};
            return true;
        }
        std::vector<Field> parts;
        if (sync) {
            parts.push_back({0, 12});
        }
        if (headers & 0x01) {
            parts.push_back({12, 16});
        }
        if (user) {
            parts.push_back({16, mode == CueTrackMode::Mode1Raw ? 2064u : kCdSectorBytes});
        }
        if (edc && mode == CueTrackMode::Mode1Raw) {
            parts.push_back({2064, kCdSectorBytes});
        }
        if (parts.empty()) {
            field = {0, 0};
            return true;
        }
        for (std::size_t i = 1; i < parts.size(); ++i) {
            if (parts[i].begin != parts[i - 1].end) {
                return false;
            }
        }
        field = {parts.front().begin, parts.back().end};
        return true;
    };
    auto matches = [&](CueTrackMode mode) {
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
    };
    DWORD readable = count;
    for (DWORD i = 0; i < count; ++i) {
        if (!matches(TrackAt(lba + static_cast<LONG>(i))->mode)) {
            readable = i;
            break;
        }
    }
    Field probe{};
    for (DWORD i = 0; i < readable; ++i) {
        if (!select(TrackAt(lba + static_cast<LONG>(i))->mode, probe)) {
            reply.Fail(kInvalidFieldInCdb);
            return;
        }
    }
    std::vector<BYTE> raw;
    std::array<BYTE, kSenseBytes> sense{};
    bool failed = false;
    const DWORD delivered = ReadRawSectors(lba, readable, raw, sense, failed);
    for (DWORD i = 0; i < delivered; ++i) {
        Field field{};
        select(TrackAt(lba + static_cast<LONG>(i))->mode, field);
        const BYTE* sector = raw.data() + std::size_t{i} * kCdSectorBytes;
        reply.data.insert(reply.data.end(), sector + field.begin, sector + field.end);
        reply.data.insert(reply.data.end(), c2Bytes, 0);
    }
    if (failed) {
        reply.status = kScsiCheckCondition;
        reply.sense = sense;
    } else if (readable < count) {
        reply.Fail(kIllegalModeForTrack, lba + static_cast<LONG>(readable));
    }
}

void VirtualDrive::ReadTen(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const LONG lba = static_cast<LONG>(Be32(cdb + 2));
    const DWORD count = Be16(cdb + 7);
    if (count == 0) {
        return;
    }
    if (lba < 0 || std::int64_t{lba} + count > disc_.leadOut) {
        reply.Fail(kLbaOutOfRange, lba < 0 || lba >= disc_.leadOut ? lba : disc_.leadOut);
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
            reply.status = kScsiCheckCondition;
            reply.sense = sense;
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
            reply.status = kScsiCheckCondition;
            reply.sense = sense;
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

// ---- CD device controls -------------------------------------------------------------------------------

namespace {
constexpr int kNoError = 0;
} // namespace

int VirtualDrive::GetDiskType(DWORD& type) {
    const std::lock_guard lock(mutex_);
    type = 0;
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    for (const DiscTrack& track : disc_.tracks) {
        type |= track.mode == CueTrackMode::Audio ? kCdDiskAudio : kCdDiskData;
    }
    return kNoError;
}

int VirtualDrive::ReadToc(CdToc& toc) {
    const std::lock_guard lock(mutex_);
    toc = {};
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    auto entry = [](BYTE track, BYTE control, LONG lba) {
        CdTocEntry e;
        e.track = track;
        e.adrControl = static_cast<BYTE>(0x10 | control);
        const LONG frames = lba + kCdMsfOffset;
        e.minute = static_cast<BYTE>(frames / (60 * 75));
        e.second = static_cast<BYTE>(frames / 75 % 60);
        e.frame = static_cast<BYTE>(frames % 75);
        return e;
    };
    toc.firstTrack = static_cast<BYTE>(disc_.tracks.front().number);
    toc.lastTrack = static_cast<BYTE>(disc_.tracks.back().number);
    for (const DiscTrack& track : disc_.tracks) {
        toc.entries.push_back(entry(static_cast<BYTE>(track.number), track.control, track.start));
    }
    toc.entries.push_back(entry(kCdLeadOutTrack, disc_.tracks.back().control, disc_.leadOut));
    return kNoError;
}

int VirtualDrive::GetLastSession(CdSessionInfo& info) {
    const std::lock_guard lock(mutex_);
    info = {};
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    info.firstSession = 1;
    info.lastSession = 1;
    info.lastSessionStart = disc_.tracks.front().start;
    return kNoError;
}

int VirtualDrive::ReadAudio(LONG lba, DWORD count, BYTE* buffer) {
    const std::lock_guard lock(mutex_);
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    if (count == 0) {
        return kNoError;
    }
    if (buffer == nullptr || lba < 0 || std::int64_t{lba} + count > disc_.leadOut) {
        return EINVAL;
    }
    ++commandsSeen_;
    if (commandsSeen_ <= profile_.notReadyCommands) {
        return EIO;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (TrackAt(lba + static_cast<LONG>(i))->mode != CueTrackMode::Audio) {
            return EIO; // the kernel's CD-DA read of a data sector fails in the drive
        }
    }
    std::vector<BYTE> data;
    std::array<BYTE, kSenseBytes> sense{};
    bool failed = false;
    ReadRawSectors(lba, count, data, sense, failed);
    if (failed) {
        return EIO;
    }
    std::memcpy(buffer, data.data(), data.size());
    return kNoError;
}

int VirtualDrive::ReadPosition(CdQPosition& position) {
    const std::lock_guard lock(mutex_);
    position = {};
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    const DiscTrack* track = TrackAt(position_);
    position.audioStatus = 0x15;
    position.adrControl = static_cast<BYTE>(0x10 | track->control);
    position.track = static_cast<BYTE>(track->number);
    for (const DiscIndex& i : track->indexes) {
        if (i.lba <= position_) {
            position.index = static_cast<BYTE>(i.number);
        }
    }
    position.absoluteLba = position_;
    position.relativeLba = position_ - track->start;
    return kNoError;
}

int VirtualDrive::ReadCatalogue(CdQText& catalogue) {
    const std::lock_guard lock(mutex_);
    catalogue = {};
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    catalogue.valid = profile_.upc && !disc_.catalog.empty();
    catalogue.text = catalogue.valid ? disc_.catalog : std::string();
    return kNoError;
}

int VirtualDrive::ReadIsrc(BYTE track, CdQText& isrc) {
    const std::lock_guard lock(mutex_);
    isrc = {};
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    for (const DiscTrack& t : disc_.tracks) {
        if (t.number == track) {
            isrc.valid = profile_.isrc && !t.isrc.empty();
            isrc.text = isrc.valid ? t.isrc : std::string();
            return kNoError;
        }
    }
    return EINVAL;
}

int VirtualDrive::PreventRemoval(bool prevent) {
    const std::lock_guard lock(mutex_);
    preventRemoval_ = prevent;
    return kNoError;
}

int VirtualDrive::Eject() {
    const std::lock_guard lock(mutex_);
    if (preventRemoval_) {
        return EBUSY;
    }
    trayOpen_ = true;
    cache_.clear();
    return kNoError;
}

int VirtualDrive::Load() {
    const std::lock_guard lock(mutex_);
    trayOpen_ = false;
    return kNoError;
}

bool VirtualDrive::TrayOpen() const {
    const std::lock_guard lock(mutex_);
    return trayOpen_;
}

void VirtualDrive::ArmNotReady(DWORD commands) {
    const std::lock_guard lock(mutex_);
    profile_.notReadyCommands = commandsSeen_ + commands;
}

// ---- Profile -------------------------------------------------------------------------------------------

namespace {

bool ParseLong(std::string_view text, int base, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        text.remove_prefix(1);
        if (text.empty()) {
            return false;
        }
    }
    long long v = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || digit >= base) {
            return false;
        }
        v = v * base + digit;
    }
    value = negative ? -v : v;
    return value >= low && value <= high;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, pos), text.size());
        parts.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

std::vector<std::string_view> Entries(std::string_view text) {
    std::vector<std::string_view> entries;
    for (std::string_view part : Split(text, ", \t")) {
        if (!part.empty()) {
            entries.push_back(part);
        }
    }
    return entries;
}

constexpr long long kMaxLba = kCdMaxMsfFrames;
constexpr long long kMaxShift = 1 << 20;

} // namespace

bool ParseJitterList(std::string_view text, std::vector<VirtualDriveProfile::Jitter>& out,
                     std::string& error) {
    out.clear();
    for (std::string_view entry : Entries(text)) {
        const auto fields = Split(entry, ":");
        long long lba = 0, shift = 0, reads = 0;
        if ((fields.size() != 2 && fields.size() != 3) || !ParseLong(fields[0], 10, 0, kMaxLba, lba) ||
            !ParseLong(fields[1], 10, -kMaxShift, kMaxShift, shift) ||
            (fields.size() == 3 && !ParseLong(fields[2], 10, 0, 0xFFFFFFFF, reads))) {
            error = "\"" + std::string(entry) + "\" is not LBA:SHIFT[:READS]";
            return false;
        }
        out.push_back({static_cast<LONG>(lba), static_cast<int>(shift), static_cast<DWORD>(reads), 0});
    }
    return true;
}

bool ParseReadErrorList(std::string_view text, std::vector<VirtualDriveProfile::ReadError>& out,
                        std::string& error) {
    out.clear();
    for (std::string_view entry : Entries(text)) {
        const auto fields = Split(entry, ":");
        const auto sense = fields.size() >= 2 ? Split(fields[1], "/") : std::vector<std::string_view>{};
        long long lba = 0, key = 0, asc = 0, ascq = 0, tries = 0;
        if ((fields.size() != 2 && fields.size() != 3) || sense.size() != 3 ||
            !ParseLong(fields[0], 10, 0, kMaxLba, lba) || !ParseLong(sense[0], 16, 1, 0x0F, key) ||
            !ParseLong(sense[1], 16, 0, 0xFF, asc) || !ParseLong(sense[2], 16, 0, 0xFF, ascq) ||
            (fields.size() == 3 && !ParseLong(fields[2], 10, 0, 0xFFFFFFFF, tries))) {
            error = "\"" + std::string(entry) + "\" is not LBA:KEY/ASC/ASCQ[:TRIES]";
            return false;
        }
        out.push_back({static_cast<LONG>(lba), static_cast<BYTE>(key), static_cast<BYTE>(asc),
                       static_cast<BYTE>(ascq), static_cast<DWORD>(tries), 0});
    }
    return true;
}

bool LoadVirtualDriveProfile(char letter, VirtualDriveProfile& profile, std::string& error) {
    const std::string keyPath = std::string("Software\\Orva Corporation\\Drives\\") + letter;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, &key) != ERROR_SUCCESS) {
        return true; // no key: every default
    }
    bool ok = true;
    auto fail = [&](std::string_view name, std::string_view why) {
        error =
            "HKEY_LOCAL_MACHINE\\" + keyPath + " value \"" + std::string(name) + "\": " + std::string(why);
        ok = false;
    };
    auto query = [&](std::string_view name, DWORD& type, std::vector<BYTE>& data) {
        DWORD size = 0;
        if (RegQueryValueEx(key, name, &type, nullptr, &size) != ERROR_SUCCESS) {
            return false;
        }
        data.resize(size);
        return RegQueryValueEx(key, name, &type, data.data(), &size) == ERROR_SUCCESS;
    };
    auto readString = [&](std::string_view name, std::string& out) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!ok || !query(name, type, data)) {
            return false;
        }
        if (type != REG_SZ) {
            fail(name, "must be a string");
            return false;
        }
        std::u16string text;
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        }
        while (!text.empty() && text.back() == u'\0') {
            text.pop_back();
        }
        out = Utf16ToUtf8(text);
        return true;
    };
    auto readDword = [&](std::string_view name, DWORD& out) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!ok || !query(name, type, data)) {
            return;
        }
        if (type != REG_DWORD || data.size() != 4) {
            fail(name, "must be a DWORD");
            return;
        }
        out = DWORD{data[0]} | (DWORD{data[1]} << 8) | (DWORD{data[2]} << 16) | (DWORD{data[3]} << 24);
    };
    auto readFlag = [&](std::string_view name, bool& out) {
        DWORD value = out ? 1 : 0;
        readDword(name, value);
        out = value != 0;
    };
    readString("Vendor", profile.vendor);
    readString("Product", profile.product);
    readString("Revision", profile.revision);
    readDword("MaxSpeed", profile.maxSpeed);
    readDword("BufferKB", profile.bufferKB);
    readDword("MaxTransfer", profile.maxTransfer);
    readFlag("CddaCommands", profile.cddaCommands);
    readFlag("CddaAccurate", profile.cddaAccurate);
    readFlag("Isrc", profile.isrc);
    readFlag("Upc", profile.upc);
    readFlag("RefuseReadCd", profile.refuseReadCd);
    readFlag("BigEndianRead", profile.bigEndianRead10);
    readDword("NotReadyCommands", profile.notReadyCommands);
    readDword("StaleCache", profile.staleCacheSectors);
    std::string list;
    if (readString("Jitter", list)) {
        std::string why;
        if (!ParseJitterList(list, profile.jitter, why)) {
            fail("Jitter", why);
        }
    }
    if (readString("ReadErrors", list)) {
        std::string why;
        if (!ParseReadErrorList(list, profile.readErrors, why)) {
            fail("ReadErrors", why);
        }
    }
    if (ok && profile.maxSpeed == 0) {
        fail("MaxSpeed", "must be at least 1");
    }
    RegCloseKey(key);
    return ok;
}

} // namespace platform
