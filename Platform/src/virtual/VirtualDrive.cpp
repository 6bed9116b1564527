// The emulated MMC drive: creation, the command entry and its dispatch, and the commands that are not
// reads of the disc (identity, mode pages, tray, seek, speed). Answers follow what drives report in
// practice: fixed-format sense, transfers cut to the allocation length while the length fields still
// report the whole answer, and reads that fail at a sector deliver the sectors before it. The disc's
// table of contents and Q channel are in VirtualDriveToc.cpp, the reads and their faults in
// VirtualDriveReads.cpp, the CD device controls in VirtualDriveControls.cpp, the profile in
// VirtualDriveProfile.cpp.
#include "Platform/VirtualDrive.h"
#include "Platform/FileIo.h"

#include "Platform/MmcCommands.h"
#include "VirtualDriveReply.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace platform {

namespace {

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// Block lengths MODE SELECT accepts: cooked data, mode 2 without sync, mode 2 with header, raw.
bool KnownBlockLength(DWORD length) noexcept {
    return length == 2048 || length == 2336 || length == 2340 || length == kCdSectorBytes;
}

// Density codes MODE SELECT accepts: the standard ones and the two CD-DA codes.
bool KnownDensity(BYTE density) noexcept {
    return density <= 0x04 || density == 0x81 || density == 0x82;
}

// The sectors an audio read command asks for: READ CD, READ(10) and the vendor reads. False for any
// other command.
bool ReadExtent(const BYTE* cdb, LONG& lba, DWORD& count) {
    switch (cdb[0]) {
    case mmc::kReadCd:
        lba = static_cast<LONG>(ReadBe32(cdb + 2));
        count = ReadBe24(cdb + 6);
        return true;
    case mmc::kRead10:
    case mmc::kVendorReadCdda10:
        lba = static_cast<LONG>(ReadBe32(cdb + 2));
        count = ReadBe16(cdb + 7);
        return true;
    case mmc::kVendorReadCdda12:
        lba = static_cast<LONG>(ReadBe32(cdb + 2));
        count = ReadBe32(cdb + 6);
        return true;
    default:
        return false;
    }
}

} // namespace

VirtualDrive::VirtualDrive(DiscLayout disc, VirtualDriveProfile profile)
    : disc_(std::move(disc)), profile_(std::move(profile)) {
    profile_.maxSpeed = std::clamp<DWORD>(profile_.maxSpeed, 1, kMaxSpeedMultiple);
    currentSpeedKBs_ = profile_.maxSpeed * kKBsPerSpeed;
    readyAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(profile_.spinUpMs);
}

bool VirtualDrive::SpinningUp() const {
    return profile_.spinUpMs != 0 && std::chrono::steady_clock::now() < readyAt_;
}

int VirtualDrive::SeekShift(LONG lba) {
    const bool seek = afterSeek_ || lba != position_;
    afterSeek_ = false;
    const DWORD steps = profile_.seekJitterBytes / 2;
    if (!seek || steps == 0) {
        return 0;
    }
    auto next = [this] {
        seekState_ ^= seekState_ << 13;
        seekState_ ^= seekState_ >> 17;
        seekState_ ^= seekState_ << 5;
        return seekState_;
    };
    if (next() % 100 >= profile_.seekJitterPercent) {
        return 0;
    }
    const int magnitude = static_cast<int>(next() % steps + 1) * 2;
    return (next() & 1) != 0 ? magnitude : -magnitude;
}

bool VirtualDrive::HangsAt(LONG lba, DWORD count) {
    for (auto& hang : profile_.hangReads) {
        if (hang.lba >= lba && hang.lba < lba + static_cast<LONG>(count) &&
            (hang.times == 0 || hang.used < hang.times)) {
            ++hang.used;
            return true;
        }
    }
    return false;
}

void VirtualDrive::Log(const char* format, long a, long b) {
    if (profile_.commandLog.empty()) {
        return;
    }
    if (FILE* file = std::fopen(profile_.commandLog.c_str(), "a")) {
        std::fprintf(file, format, a, b);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

VirtualDrive::~VirtualDrive() {
    for (int fd : fds_) {
        CloseFile(fd);
    }
}

std::shared_ptr<VirtualDrive> VirtualDrive::Create(DiscLayout disc, VirtualDriveProfile profile,
                                                   std::string& error) {
    std::shared_ptr<VirtualDrive> drive(new VirtualDrive(std::move(disc), std::move(profile)));
    for (const auto& path : drive->disc_.files) {
        const int fd = OpenFileForReading(path.c_str());
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

bool VirtualDrive::OnDisc(LONG lba, DWORD count) const noexcept {
    return lba >= 0 && std::int64_t{lba} + count <= disc_.leadOut;
}

bool VirtualDrive::CheckRange(LONG lba, DWORD count, Reply& reply) const {
    if (OnDisc(lba, count)) {
        return true;
    }
    reply.Fail(kLbaOutOfRange, lba < 0 || lba >= disc_.leadOut ? lba : disc_.leadOut);
    return false;
}

bool VirtualDrive::MediaCheck(Reply& reply) {
    if (trayOpen_) {
        reply.Fail(kNoMediumTrayOpen);
        return false;
    }
    return true;
}

bool VirtualDrive::BecomingReady() {
    ++commandsSeen_;
    return commandsSeen_ <= profile_.notReadyCommands || SpinningUp();
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

    std::unique_lock lock(mutex_);
    LONG lba = 0;
    DWORD count = 0;
    const bool read = ReadExtent(padded.cdb.data(), lba, count);
    if (read) {
        Log("READ %ld %ld", lba, static_cast<long>(count));
    } else if (padded.cdb[0] == mmc::kSeek6 || padded.cdb[0] == mmc::kSeek10) {
        Log("SEEK %ld", padded.cdb[0] == mmc::kSeek6 ? static_cast<long>(((padded.cdb[1] & 0x1F) << 16) |
                                                                         ReadBe16(padded.cdb.data() + 2))
                                                     : static_cast<long>(ReadBe32(padded.cdb.data() + 2)));
    } else {
        Log("CMD %02lX", padded.cdb[0]);
    }
    if (read && HangsAt(lba, count)) {
        // A drive that stops answering: nothing comes back before the transport gives up.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(cmd.timeoutMs));
        answer.error = ETIMEDOUT;
        return answer.error;
    }
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
    if (padded.cdb[0] != mmc::kRequestSense) {
        lastSense_ = answer.sense;
    }
    return 0;
}

void VirtualDrive::Dispatch(const ScsiCommand& cmd, Reply& reply) {
    const BYTE op = cmd.cdb[0];
    // A drive spinning up answers everything but INQUIRY and REQUEST SENSE with "becoming ready".
    if (op != mmc::kInquiry && op != mmc::kRequestSense && BecomingReady()) {
        reply.Fail(kNotReadyBecoming);
        return;
    }
    if (AnswerWithoutDisc(cmd, reply) || !MediaCheck(reply)) {
        return;
    }
    AnswerFromDisc(cmd, reply);
}

bool VirtualDrive::AnswerWithoutDisc(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const BYTE op = cdb[0];
    switch (op) {
    case mmc::kTestUnitReady:
        MediaCheck(reply);
        return true;
    case mmc::kRequestSense:
        RequestSense(cmd, reply);
        return true;
    case mmc::kInquiry:
        Inquiry(cmd, reply);
        return true;
    case mmc::kModeSense6:
    case mmc::kModeSense10:
        ModeSense(cmd, reply, op == mmc::kModeSense10);
        return true;
    case mmc::kModeSelect6:
    case mmc::kModeSelect10:
        ModeSelect(cmd, reply, op == mmc::kModeSelect10);
        return true;
    case mmc::kStartStopUnit:
        StartStopUnit(cmd, reply);
        return true;
    case mmc::kPreventAllowMediumRemoval:
        preventRemoval_ = (cdb[4] & 0x01) != 0;
        return true;
    case mmc::kSetCdSpeed:
        SetCdSpeed(cmd);
        return true;
    case mmc::kReadCd:
        if (profile_.refuseReadCd) {
            reply.Fail(kInvalidOpcode);
            return true;
        }
        return false;
    case mmc::kVendorReadCdda12:
        if (cdb[10] != 0) { // sub-code format: only none
            reply.Fail(kInvalidFieldInCdb);
            return true;
        }
        return false;
    case mmc::kReadCapacity:
    case mmc::kSeek6:
    case mmc::kSeek10:
    case mmc::kReadSubChannel:
    case mmc::kReadToc:
    case mmc::kRead10:
    case mmc::kVendorReadCdda10:
        return false;
    default:
        reply.Fail(kInvalidOpcode);
        return true;
    }
}

void VirtualDrive::AnswerFromDisc(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    switch (cdb[0]) {
    case mmc::kReadCapacity:
        ReadCapacity(reply);
        return;
    case mmc::kSeek6:
    case mmc::kSeek10:
        Seek(cmd, reply);
        return;
    case mmc::kReadSubChannel:
        ReadSubChannel(cmd, reply);
        return;
    case mmc::kReadToc:
        ReadToc(cmd, reply);
        return;
    case mmc::kReadCd:
        ReadCd(cmd, reply);
        return;
    case mmc::kRead10:
        ReadTen(cmd, reply);
        return;
    case mmc::kVendorReadCdda10: // LBA in bytes 2..5, count in 7..8
        VendorRead(static_cast<LONG>(ReadBe32(cdb + 2)), ReadBe16(cdb + 7), reply);
        return;
    default: // mmc::kVendorReadCdda12: LBA in bytes 2..5, count in 6..9
        VendorRead(static_cast<LONG>(ReadBe32(cdb + 2)), ReadBe32(cdb + 6), reply);
        return;
    }
}

void VirtualDrive::RequestSense(const ScsiCommand& cmd, Reply& reply) {
    reply.allocation = cmd.cdb[4];
    const auto sense = lastSense_[0] != 0 ? lastSense_ : MakeFixedSense(0, 0, 0);
    reply.data.assign(sense.begin(), sense.end());
    lastSense_.fill(0);
}

void VirtualDrive::StartStopUnit(const ScsiCommand& cmd, Reply& reply) {
    const bool loadEject = (cmd.cdb[4] & 0x02) != 0;
    const bool start = (cmd.cdb[4] & 0x01) != 0;
    if (loadEject && !start) {
        if (preventRemoval_) {
            reply.Fail(kRemovalPrevented);
            return;
        }
        trayOpen_ = true;
        cache_.clear();
    } else if (loadEject && start) {
        if (trayOpen_) {
            readyAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(profile_.spinUpMs);
            afterSeek_ = true;
        }
        trayOpen_ = false;
    }
}

void VirtualDrive::ReadCapacity(Reply& reply) {
    reply.data.assign(8, 0);
    WriteBe32(reply.data.data(), static_cast<DWORD>(disc_.leadOut - 1));
    WriteBe32(reply.data.data() + 4, 2048);
}

void VirtualDrive::Seek(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    const LONG lba = cdb[0] == mmc::kSeek6 ? static_cast<LONG>(((cdb[1] & 0x1F) << 16) | ReadBe16(cdb + 2))
                                           : static_cast<LONG>(ReadBe32(cdb + 2));
    if (lba < 0 || lba >= disc_.leadOut) {
        reply.Fail(kLbaOutOfRange, lba);
        return;
    }
    position_ = lba;
    afterSeek_ = true;
}

void VirtualDrive::SetCdSpeed(const ScsiCommand& cmd) {
    const DWORD speed = ReadBe16(cmd.cdb.data() + 2);
    const DWORD maximum = profile_.maxSpeed * kKBsPerSpeed;
    // A drive settles on the fastest speed it has at or below the request (whole multiples of 1x).
    currentSpeedKBs_ = speed == 0xFFFF
                           ? maximum
                           : std::clamp<DWORD>(speed / kKBsPerSpeed, 1, profile_.maxSpeed) * kKBsPerSpeed;
}

void VirtualDrive::Inquiry(const ScsiCommand& cmd, Reply& reply) {
    const BYTE* cdb = cmd.cdb.data();
    reply.allocation = ReadBe16(cdb + 3);
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
    reply.allocation = tenByte ? ReadBe16(cdb + 7) : cdb[4];
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
            WriteBe16(caps.data() + 8, profile_.maxSpeed * kKBsPerSpeed);
            WriteBe16(caps.data() + 10, 256);
            WriteBe16(caps.data() + 12, std::min<DWORD>(profile_.bufferKB, 0xFFFF));
            WriteBe16(caps.data() + 14, currentSpeedKBs_);
        }
        pages.insert(pages.end(), caps.begin(), caps.end());
    }
    std::vector<BYTE> descriptor;
    if (!noBlockDescriptors) {
        descriptor.assign(8, 0);
        descriptor[0] = changeable ? 0xFF : density_;
        WriteBe24(descriptor.data() + 5, changeable ? 0xFFFFFF : blockLength_);
    }
    const std::size_t header = tenByte ? 8 : 4;
    reply.data.assign(header, 0);
    reply.data.insert(reply.data.end(), descriptor.begin(), descriptor.end());
    reply.data.insert(reply.data.end(), pages.begin(), pages.end());
    if (tenByte) {
        WriteBe16(reply.data.data(), static_cast<DWORD>(reply.data.size() - 2));
        WriteBe16(reply.data.data() + 6, static_cast<DWORD>(descriptor.size()));
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
    const DWORD listLength = tenByte ? ReadBe16(cdb + 7) : cdb[4];
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
    const DWORD descriptorLength = tenByte ? ReadBe16(list + 6) : list[3];
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
        const DWORD length = ReadBe24(d + 5);
        if (!KnownDensity(density) || !KnownBlockLength(length)) {
            reply.Fail(kInvalidFieldInParameters);
            return;
        }
        density_ = density;
        blockLength_ = length;
    }
}

} // namespace platform
