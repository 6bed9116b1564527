#include "transport/cddaCAspiLibrary.h"

#include "Platform/DriveTable.h"
#include "Platform/VirtualDrive.h"

#include <cctype>

namespace discpilot {

namespace {

class PlatformAspiBus final : public AspiBus {
public:
    int AdapterCount() override {
        int count = 0;
        for (const platform::DriveEntry& entry : platform::ListDrives()) {
            if (entry.type != platform::DRIVE_CDROM) {
                continue;
            }
            int hostAdapter = 0, target = 0;
            if (AddressOf(entry.letter, hostAdapter, target) && hostAdapter + 1 > count) {
                count = hostAdapter + 1;
            }
        }
        return count;
    }

    std::shared_ptr<platform::ScsiPassThrough> Device(int hostAdapter, int target) override {
        for (const platform::DriveEntry& entry : platform::ListDrives()) {
            if (entry.type != platform::DRIVE_CDROM) {
                continue;
            }
            std::string error;
            std::shared_ptr<platform::ScsiPassThrough> device =
                platform::OpenScsiPassThrough(entry.letter, error);
            if (!device) {
                continue;
            }
            const platform::ScsiAddress address = device->Address();
            if (address.hostAdapter == hostAdapter && address.target == target && address.lun == 0) {
                return device;
            }
        }
        return nullptr;
    }

    bool AddressOf(char letter, int& hostAdapter, int& target) override {
        std::string error;
        auto device = platform::OpenScsiPassThrough(letter, error);
        if (!device) {
            return false;
        }
        const platform::ScsiAddress address = device->Address();
        hostAdapter = address.hostAdapter;
        target = address.target;
        return true;
    }

    std::string StorageDescriptor(char letter) override {
        const platform::DriveEntry entry = platform::FindDrive(letter);
        if (entry.type != platform::DRIVE_CDROM) {
            return {};
        }
        if (entry.IsImage()) {
            platform::VirtualDriveProfile profile;
            std::string error;
            if (!platform::LoadVirtualDriveProfile(entry.letter, profile, error)) {
                return {};
            }
            return profile.vendor + profile.product + profile.revision;
        }
        const platform::KernelDriveModel model = platform::ReadKernelDriveModel(entry.device);
        return model.vendor + model.model + model.revision;
    }
};

} // namespace

std::shared_ptr<AspiBus> MakePlatformAspiBus() {
    return std::make_shared<PlatformAspiBus>();
}

cddaCAspiLibrary::cddaCAspiLibrary() : bus_(MakePlatformAspiBus()) {}

cddaCAspiLibrary& cddaCAspiLibrary::Instance() {
    // Never destroyed: transports may still be closing while static objects go away at exit.
    static cddaCAspiLibrary* library = new cddaCAspiLibrary();
    return *library;
}

std::shared_ptr<AspiBus> cddaCAspiLibrary::Bus() const {
    const std::lock_guard lock(mutex_);
    return bus_;
}

void cddaCAspiLibrary::SetBus(std::shared_ptr<AspiBus> bus) {
    const std::lock_guard lock(mutex_);
    bus_ = std::move(bus);
}

int cddaCAspiLibrary::SupportInfo() const {
    const auto bus = Bus();
    return bus ? bus->AdapterCount() : 503;
}

} // namespace discpilot
