#include "SystemEvents.h"

#include <bit>

LPARAM EncodeDeviceChange(const DeviceChange& change) noexcept {
    const std::uint64_t value = static_cast<std::uint64_t>(change.unitMask) |
                                (static_cast<std::uint64_t>(change.flags) << 32) |
                                (static_cast<std::uint64_t>(change.deviceType & 0xFFFF) << 48);
    return static_cast<LPARAM>(value);
}

DeviceChange DecodeDeviceChange(LPARAM lParam) noexcept {
    const auto value = static_cast<std::uint64_t>(lParam);
    DeviceChange change;
    change.unitMask = static_cast<DWORD>(value & 0xFFFFFFFFu);
    change.flags = static_cast<WORD>((value >> 32) & 0xFFFF);
    change.deviceType = static_cast<DWORD>(value >> 48);
    return change;
}

char MediaChangeLetter(WPARAM event, const DeviceChange& change) noexcept {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return 0;
    if (change.deviceType != DBT_DEVTYP_VOLUME || (change.flags & DBTF_MEDIA) == 0)
        return 0;
    // Only 26 letters exist; bits above them name no drive.
    const DWORD mask = change.unitMask & 0x03FFFFFFu;
    if (mask == 0)
        return 0;
    return static_cast<char>('A' + std::countr_zero(mask));
}

bool TestSystemEventSource::Start(platform::MessageTarget* window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    return true;
}

void TestSystemEventSource::Stop() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
}

bool TestSystemEventSource::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    return window_ != nullptr && window_->post(msg, wParam, lParam);
}

bool TestSystemEventSource::Suspend() {
    return Post(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
}

bool TestSystemEventSource::Resume() {
    return Post(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
}

bool TestSystemEventSource::EndSession() {
    return Post(WM_QUERYENDSESSION, 0, 0);
}

namespace {
DeviceChange MediaOf(char letter) {
    DeviceChange change;
    change.deviceType = DBT_DEVTYP_VOLUME;
    change.flags = DBTF_MEDIA;
    const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
    if (upper >= 'A' && upper <= 'Z')
        change.unitMask = 1u << (upper - 'A');
    return change;
}
} // namespace

bool TestSystemEventSource::MediaArrived(char letter) {
    return DeviceChanged(DBT_DEVICEARRIVAL, MediaOf(letter));
}

bool TestSystemEventSource::MediaRemoved(char letter) {
    return DeviceChanged(DBT_DEVICEREMOVECOMPLETE, MediaOf(letter));
}

bool TestSystemEventSource::DeviceChanged(WPARAM event, const DeviceChange& change) {
    return Post(WM_DEVICECHANGE, event, EncodeDeviceChange(change));
}

SystemEventSources::SystemEventSources(std::initializer_list<SystemEventSource*> sources)
    : sources_(sources) {}

bool SystemEventSources::Start(platform::MessageTarget* window) {
    bool any = false;
    for (SystemEventSource* source : sources_)
        any = source->Start(window) || any;
    return any;
}

void SystemEventSources::Stop() {
    for (SystemEventSource* source : sources_)
        source->Stop();
}
