// The emulated drive's CD device controls (CdDevice.h), answered from the same state as its commands, and
// its tray.
#include "Platform/VirtualDrive.h"
#include "VirtualDriveReply.h"

#include <cerrno>
#include <cstring>
#include <thread>

namespace platform {

namespace {

constexpr int kNoError = 0;

} // namespace

int VirtualDrive::DriveStatus(CdDriveStatus& status) {
    const std::lock_guard lock(mutex_);
    status = trayOpen_ ? CdDriveStatus::TrayOpen
                       : (SpinningUp() ? CdDriveStatus::NotReady : CdDriveStatus::DiscOk);
    return kNoError;
}

int VirtualDrive::GetDiskType(DWORD& type) {
    const std::lock_guard lock(mutex_);
    type = 0;
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    if (SpinningUp()) {
        return EIO; // the disc cannot be looked at before it turns
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
    if (SpinningUp()) {
        return EIO;
    }
    toc.firstTrack = static_cast<BYTE>(disc_.tracks.front().number);
    toc.lastTrack = static_cast<BYTE>(disc_.tracks.back().number);
    for (const DiscTrack& track : disc_.tracks) {
        toc.entries.push_back(CdTocEntry::At(static_cast<BYTE>(track.number), AdrControl(track.control),
                                             LbaToMsf(track.start)));
    }
    toc.entries.push_back(
        CdTocEntry::At(kCdLeadOutTrack, AdrControl(disc_.tracks.back().control), LbaToMsf(disc_.leadOut)));
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
    std::unique_lock lock(mutex_);
    if (trayOpen_) {
        return ENOMEDIUM;
    }
    if (count == 0) {
        return kNoError;
    }
    if (buffer == nullptr || !OnDisc(lba, count)) {
        return EINVAL;
    }
    Log("READ %ld %ld", lba, static_cast<long>(count));
    if (HangsAt(lba, count)) {
        const DWORD hangMs = profile_.hangMs;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(hangMs));
        return ETIMEDOUT;
    }
    if (BecomingReady()) {
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
    position.audioStatus = kNoAudioStatus;
    position.adrControl = AdrControl(track->control);
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

int VirtualDrive::Lock() {
    const std::lock_guard lock(mutex_);
    // Another program holding files open on the disc makes the lock fail until it lets go.
    return ++locksSeen_ <= profile_.busyLocks ? EBUSY : kNoError;
}

int VirtualDrive::PreventRemoval(bool prevent) {
    const std::lock_guard lock(mutex_);
    if (!prevent && profile_.heldOpen) {
        return EBUSY; // the kernel keeps the tray locked while another handle is open
    }
    preventRemoval_ = prevent;
    return kNoError;
}

int VirtualDrive::Eject() {
    const std::lock_guard lock(mutex_);
    if (preventRemoval_ || profile_.heldOpen) {
        return EBUSY;
    }
    trayOpen_ = true;
    cache_.clear();
    return kNoError;
}

int VirtualDrive::Load() {
    const std::lock_guard lock(mutex_);
    if (trayOpen_) {
        readyAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(profile_.spinUpMs);
        afterSeek_ = true;
    }
    trayOpen_ = false;
    return kNoError;
}

void VirtualDrive::SetHeldOpen(bool held) {
    const std::lock_guard lock(mutex_);
    profile_.heldOpen = held;
}

bool VirtualDrive::TrayOpen() const {
    const std::lock_guard lock(mutex_);
    return trayOpen_;
}

void VirtualDrive::ArmNotReady(DWORD commands) {
    const std::lock_guard lock(mutex_);
    profile_.notReadyCommands = commandsSeen_ + commands;
}

void VirtualDrive::ArmReadError(const VirtualDriveProfile::ReadError& error) {
    const std::lock_guard lock(mutex_);
    profile_.readErrors.push_back(error);
}

} // namespace platform
