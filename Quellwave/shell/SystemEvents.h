// Power and device events for the player window: suspend and resume, the end of the session, and media
// arriving in or leaving a drive. A source turns what the system reports into the window messages the
// window already handles (WM_POWERBROADCAST, WM_DEVICECHANGE, WM_QUERYENDSESSION) and posts them to a
// MessageTarget, so the window has one way in whatever reports them. The desktop's own reports (logind,
// udev) are one source; TestSystemEventSource is another that a test or a harness drives by hand.
#pragma once

#include "Platform/MessageTarget.h"
#include "Platform/Types.h"
#include "WindowMessages.h"

#include <initializer_list>
#include <mutex>
#include <vector>

// WM_POWERBROADCAST's wParam.
inline constexpr WPARAM PBT_APMSUSPEND = 0x0004;
inline constexpr WPARAM PBT_APMSTANDBY = 0x0005;
inline constexpr WPARAM PBT_APMRESUMESUSPEND = 0x0007;
inline constexpr WPARAM PBT_APMRESUMESTANDBY = 0x0008;

// WM_DEVICECHANGE's wParam, the device type and the volume flag.
inline constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
inline constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr DWORD DBT_DEVTYP_VOLUME = 0x0002;
inline constexpr WORD DBTF_MEDIA = 0x0001;

// What a device change says. It travels in lParam itself (no pointer to a record that might be gone by the
// time the window reads it): the unit mask in the low 32 bits, the flags in bits 32..47 and the device
// type in bits 48..63.
struct DeviceChange {
    DWORD deviceType = 0;
    DWORD unitMask = 0; // bit n: drive letter 'A' + n
    WORD flags = 0;
};
LPARAM EncodeDeviceChange(const DeviceChange& change) noexcept;
DeviceChange DecodeDeviceChange(LPARAM lParam) noexcept;

// The drive letter whose media changed: 'A' plus the lowest set bit of the unit mask, for a volume whose
// flags hold DBTF_MEDIA on arrival or removal; 0 for anything else (other events, other devices, a change
// that is not of media, an empty mask).
char MediaChangeLetter(WPARAM event, const DeviceChange& change) noexcept;

class SystemEventSource {
public:
    virtual ~SystemEventSource() = default;
    // From now on events are posted to window (not owned; it must stay until Stop). False when the source
    // cannot watch anything here; the player then runs without these events.
    virtual bool Start(platform::MessageTarget* window) = 0;
    // No event is posted once this returns.
    virtual void Stop() = 0;
};

// A source driven by its caller: each call posts the message the system would send. Any thread.
class TestSystemEventSource final : public SystemEventSource {
public:
    bool Start(platform::MessageTarget* window) override;
    void Stop() override;

    // Each returns whether a window took the message.
    bool Suspend();
    bool Resume();
    bool EndSession();
    bool MediaArrived(char letter);
    bool MediaRemoved(char letter);
    // Any device change, for events that must be told apart from media changes.
    bool DeviceChanged(WPARAM event, const DeviceChange& change);

private:
    bool Post(UINT msg, WPARAM wParam, LPARAM lParam);

    std::mutex mutex_;
    platform::MessageTarget* window_ = nullptr;
};

// Several sources started and stopped together, so that the window takes one. Not owned; each must stay
// until Stop. Start is true when any of them watches something.
class SystemEventSources final : public SystemEventSource {
public:
    SystemEventSources(std::initializer_list<SystemEventSource*> sources);

    bool Start(platform::MessageTarget* window) override;
    void Stop() override;

private:
    std::vector<SystemEventSource*> sources_;
};
