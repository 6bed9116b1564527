// The desktop's power and device reports as the window's system events: logind's PrepareForSleep as
// suspend and resume, udev's media changes of the lettered drives as device changes. Each is a
// SystemEventSource; the program starts them both (SystemEventSources). UI thread only.
#pragma once

#include "shell/SystemEvents.h"

#include "Platform/BlockDeviceMonitor.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace app {

// PrepareForSleep(true) -> WM_POWERBROADCAST PBT_APMSUSPEND, PrepareForSleep(false) -> PBT_APMRESUMESUSPEND.
class LogindSleepEvents final : public QObject, public SystemEventSource {
    Q_OBJECT

public:
    // logind: the bus logind is on (LogindBus()).
    explicit LogindSleepEvents(QDBusConnection logind);
    ~LogindSleepEvents() override;

    bool Start(platform::MessageTarget* window) override;
    void Stop() override;

private slots:
    void OnPrepareForSleep(bool sleeping);

private:
    QDBusConnection logind_;
    platform::MessageTarget* window_ = nullptr;
};

// udev's "block" events, read when its monitor's descriptor becomes readable, mapped by
// MediaEventFromBlockDevice against the drive table as it stands at each event.
class UdevMediaEvents final : public SystemEventSource {
public:
    UdevMediaEvents();
    ~UdevMediaEvents() override;

    bool Start(platform::MessageTarget* window) override;
    void Stop() override;

private:
    void ReadEvents();

    platform::BlockDeviceMonitor monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
    platform::MessageTarget* window_ = nullptr;
};

} // namespace app
