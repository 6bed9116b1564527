// The volume and tray members: each call opens the letter's CD device, works on it and closes it again.
#include "CDiscPilot.h"

#include "Platform/CdDevice.h"
#include "Platform/DriveTable.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int kLockAttempts = 20;
constexpr auto kLockRetryDelay = std::chrono::milliseconds(500);
// The other platform's "unsupported function" answer of its media control interface.
constexpr unsigned long kMciUnsupportedFunction = 274;

platform::CdDevice* Device(void* volume) {
    return static_cast<platform::CdDevice*>(volume);
}

} // namespace

CDiscPilot::VolumeHandle CDiscPilot::OpenVolume(unsigned char letter) {
    const UINT type = platform::GetDriveType(static_cast<char>(letter));
    // Only removable and CD drives have a volume to eject: a CD drive is opened for reading, a drive of
    // removable media for reading and writing.
    if (type != platform::DRIVE_REMOVABLE && type != platform::DRIVE_CDROM) {
        return nullptr;
    }
    std::string error;
    std::unique_ptr<platform::CdDevice> device = platform::OpenVolumeDevice(static_cast<char>(letter), error);
    return device.release();
}

int CDiscPilot::CloseVolume(VolumeHandle volume) {
    if (volume == nullptr) {
        return 0;
    }
    delete Device(volume);
    return 1;
}

int CDiscPilot::LockVolume(VolumeHandle volume) {
    if (volume == nullptr) {
        return 0;
    }
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (Device(volume)->Lock() == 0) {
            return 1;
        }
        std::this_thread::sleep_for(kLockRetryDelay);
    }
    return 0;
}

int CDiscPilot::DismountVolume(VolumeHandle volume) {
    return volume != nullptr && Device(volume)->Dismount() == 0 ? 1 : 0;
}

int CDiscPilot::PreventRemovalOfVolume(VolumeHandle volume, int prevent) {
    return volume != nullptr && Device(volume)->PreventRemoval((prevent & 0xFF) != 0) == 0 ? 1 : 0;
}

int CDiscPilot::AutoEjectVolume(VolumeHandle volume) {
    return volume != nullptr && Device(volume)->Eject() == 0 ? 1 : 0;
}

int CDiscPilot::AutoInsertVolume(VolumeHandle volume) {
    return volume != nullptr && Device(volume)->Load() == 0 ? 1 : 0;
}

int CDiscPilot::IsAudioCD(VolumeHandle volume) {
    DWORD type = 0;
    if (volume == nullptr || Device(volume)->GetDiskType(type) != 0) {
        return 0;
    }
    return type == platform::kCdDiskAudio || type == platform::kCdDiskMixed ? 1 : 0;
}

// The tray sequences. A lock that is never obtained stops a sequence quietly (the caller learns only that
// the volume opened). Once the volume is locked, though, a step the drive refuses is a failure: another
// program's ordinary open does not stop the lock, yet the kernel then keeps the tray shut, and that must
// not read as an eject.
int CDiscPilot::EjectVolume(unsigned char letter) {
    VolumeHandle volume = OpenVolume(letter);
    if (volume == nullptr) {
        return 0;
    }
    const bool refused =
        LockVolume(volume) != 0 &&
        !(DismountVolume(volume) && PreventRemovalOfVolume(volume, 0) && AutoEjectVolume(volume));
    return CloseVolume(volume) != 0 && !refused ? 1 : 0;
}

int CDiscPilot::InsertVolume(unsigned char letter) {
    VolumeHandle volume = OpenVolume(letter);
    if (volume == nullptr) {
        return 0;
    }
    const bool refused =
        LockVolume(volume) != 0 &&
        !(DismountVolume(volume) && PreventRemovalOfVolume(volume, 0) && AutoInsertVolume(volume));
    return CloseVolume(volume) != 0 && !refused ? 1 : 0;
}

int CDiscPilot::IsAudioCDInserted(unsigned char letter) {
    VolumeHandle volume = OpenVolume(letter);
    if (volume == nullptr) {
        return 0;
    }
    const int audio = IsAudioCD(volume);
    return CloseVolume(volume) ? audio : 0;
}

unsigned CDiscPilot::OpenMciDevice(unsigned char) {
    return 0;
}

unsigned long CDiscPilot::CloseMciDevice(unsigned) {
    return kMciUnsupportedFunction;
}

unsigned long CDiscPilot::EjectTrayMci(unsigned) {
    return kMciUnsupportedFunction;
}

unsigned long CDiscPilot::InsertTrayMci(unsigned) {
    return kMciUnsupportedFunction;
}
