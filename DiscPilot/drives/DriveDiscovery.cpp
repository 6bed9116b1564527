#include "drives/DriveDiscovery.h"

#include "Platform/DriveTable.h"
#include "Platform/VirtualDrive.h"
#include "transport/cddaCAspiLibrary.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace discpilot {

namespace {

char Upper(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

bool IsCdLetter(char upper) {
    return upper >= 'A' && upper <= 'Z' && platform::GetDriveType(upper) == platform::DRIVE_CDROM;
}

std::string TrimmedRight(const char* text) {
    std::string s(text);
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s;
}

} // namespace

int IdentifyAspi(char letter, int kind, DriveInquiry& inquiry, int& hostAdapter, int& target) {
    const char upper = Upper(letter);
    if (!IsCdLetter(upper)) {
        return kTransportNoDevice;
    }
    const auto bus = cddaCAspiLibrary::Instance().Bus();
    if (!bus || kind != kKindAspi) {
        return kTransportNoDevice;
    }
    cddaCAspiDevice device(kind);
    int addressAdapter = 0, addressTarget = 0;
    if (!bus->AddressOf(upper, addressAdapter, addressTarget)) {
        // No address: adapters are counted by CD drives up to and including this letter.
        int cdDrives = 0;
        for (char l = 'A'; l <= upper; ++l) {
            cdDrives += platform::GetDriveType(l) == platform::DRIVE_CDROM ? 1 : 0;
        }
        device.Select(upper, cdDrives, 0);
        DriveInquiry found;
        if (device.Inquiry(found) != kTransportOk) {
            return kTransportNoDevice;
        }
        inquiry = found;
        hostAdapter = cdDrives;
        target = 0;
        return kTransportOk;
    }
    device.Select(upper, addressAdapter, addressTarget);
    DriveInquiry found;
    if (device.Inquiry(found) == kTransportOk && found.DeviceType() == 5) {
        inquiry = found;
        hostAdapter = addressAdapter;
        target = addressTarget;
        return kTransportOk;
    }
    // The address did not lead to a CD device: look for it on every adapter at the same target.
    struct Candidate {
        int hostAdapter;
        DriveInquiry inquiry;
    };
    std::vector<Candidate> candidates;
    for (int adapter = 0; adapter < device.AdapterCount(); ++adapter) {
        device.Select(upper, adapter, addressTarget);
        if (device.Inquiry(found) == kTransportOk && found.DeviceType() == 5) {
            candidates.push_back({adapter, found});
        }
    }
    if (candidates.empty()) {
        return kTransportNoDevice;
    }
    const Candidate* chosen = candidates.size() == 1 ? &candidates.front() : nullptr;
    if (chosen == nullptr) {
        const std::string descriptor = bus->StorageDescriptor(upper);
        for (const Candidate& candidate : candidates) {
            if (descriptor.find(TrimmedRight(candidate.inquiry.vendor)) != std::string::npos &&
                descriptor.find(TrimmedRight(candidate.inquiry.product)) != std::string::npos) {
                chosen = &candidate;
                break;
            }
        }
    }
    if (chosen == nullptr) {
        return kTransportNoDevice;
    }
    inquiry = chosen->inquiry;
    hostAdapter = chosen->hostAdapter;
    target = addressTarget;
    return kTransportOk;
}

int IdentifyRaw(char letter, DriveInquiry& inquiry, int& hostAdapter, int& target) {
    const char upper = Upper(letter);
    if (!IsCdLetter(upper)) {
        return kTransportNoDevice;
    }
    std::string error;
    if (!platform::OpenCdDevice(upper, error)) {
        return kTransportNoDevice;
    }
    std::string vendor, product, revision;
    const platform::DriveEntry entry = platform::FindDrive(upper);
    if (entry.IsImage()) {
        platform::VirtualDriveProfile profile;
        if (platform::LoadVirtualDriveProfile(upper, profile, error)) {
            // As the drive reports them: padded (or cut) to 8, 16 and 4 characters.
            vendor = (profile.vendor + std::string(8, ' ')).substr(0, 8);
            product = (profile.product + std::string(16, ' ')).substr(0, 16);
            revision = (profile.revision + std::string(4, ' ')).substr(0, 4);
        }
    } else {
        platform::KernelDriveModel model = platform::ReadKernelDriveModel(entry.device);
        vendor = std::move(model.vendor);
        product = std::move(model.model);
        revision = std::move(model.revision);
    }
    inquiry = DriveInquiry{};
    inquiry.raw[0] = 5;
    CopyField(inquiry.vendor, sizeof inquiry.vendor, vendor.empty() ? "unknown" : vendor);
    CopyField(inquiry.product, sizeof inquiry.product, product.empty() ? "unknown" : product);
    CopyField(inquiry.revision, sizeof inquiry.revision, revision.empty() ? "0.0" : revision);
    inquiry.removable = 0;
    hostAdapter = 0;
    target = 0;
    return kTransportOk;
}

cddaCDriveTable& cddaCDriveTable::Get(int kind, bool rebuild) {
    // Never destroyed, like the pass-through library it was built from.
    static cddaCDriveTable* table = new cddaCDriveTable();
    bool stale = false;
    {
        const std::lock_guard lock(table->mutex_);
        stale = rebuild || table->kind_ != kind;
    }
    if (stale) {
        table->Build(kind);
    }
    return *table;
}

void cddaCDriveTable::Build(int kind) {
    // Identify outside the lock (it opens and asks every drive), then swap the result in.
    std::vector<std::unique_ptr<Entry>> found;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        DriveInquiry inquiry;
        int hostAdapter = 0, target = 0;
        if (IdentifyAspi(letter, kind, inquiry, hostAdapter, target) == kTransportOk) {
            auto entry = std::make_unique<Entry>();
            entry->identity = MakeIdentity(letter, hostAdapter, target, inquiry);
            entry->kind = kind;
            found.push_back(std::move(entry));
        }
    }
    const std::lock_guard lock(mutex_);
    map_.RemoveAll();
    entries_ = std::move(found);
    for (const auto& entry : entries_) {
        cddaCString key(std::string_view(reinterpret_cast<const char*>(&entry->identity.letter), 1));
        key.MakeUpper();
        map_.SetAt(key, entry.get());
    }
    kind_ = kind;
}

bool cddaCDriveTable::Find(char letter, DriveIdentity& identity) const {
    const char upper = Upper(letter);
    const cddaCString key(std::string_view(&upper, 1));
    const std::lock_guard lock(mutex_);
    cddaCObject* value = nullptr;
    if (!map_.Lookup(key, value)) {
        return false;
    }
    identity = static_cast<const Entry*>(value)->identity;
    return true;
}

int cddaCDriveTable::Kind() const {
    const std::lock_guard lock(mutex_);
    return kind_;
}

std::size_t cddaCDriveTable::Count() const {
    const std::lock_guard lock(mutex_);
    return map_.GetCount();
}

int OpenAspiDevice(cddaCAspiDevice& device, char letter) {
    const char upper = Upper(letter);
    if (upper < 'A' || upper > 'Z') {
        return kTransportNoDevice;
    }
    if (device.Kind() != kKindAspi) {
        return kTransportUnsupported;
    }
    // The drive is reached where it was identified: another adapter answering with the same strings is
    // another drive of the same model. A letter missing from the table, or whose address no longer holds
    // that drive (it was moved or replaced since the table was built), gets one rebuild of the table.
    for (const bool rebuild : {false, true}) {
        DriveIdentity entry;
        if (!cddaCDriveTable::Get(device.Kind(), rebuild).Find(upper, entry)) {
            continue;
        }
        device.Select(upper, entry.hostAdapter, entry.target);
        DriveInquiry inquiry;
        if (device.Inquiry(inquiry) == kTransportOk && std::strcmp(inquiry.vendor, entry.vendor) == 0 &&
            std::strcmp(inquiry.product, entry.product) == 0 &&
            std::strcmp(inquiry.revision, entry.revision) == 0) {
            device.HostAdapterInquiry();
            return kTransportOk;
        }
    }
    device.Select(0, 0, 0);
    return kTransportNoDrive;
}

} // namespace discpilot
