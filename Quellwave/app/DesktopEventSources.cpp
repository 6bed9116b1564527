#include "DesktopEventSources.h"

#include "shell/BlockDeviceMedia.h"

#include "Platform/DriveTable.h"

#include <QSocketNotifier>

namespace app {

namespace {
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";
} // namespace

LogindSleepEvents::LogindSleepEvents(QDBusConnection logind) : logind_(std::move(logind)) {}

LogindSleepEvents::~LogindSleepEvents() {
    Stop();
}

bool LogindSleepEvents::Start(platform::MessageTarget* window) {
    Stop();
    if (!logind_.isConnected())
        return false;
    if (!logind_.connect(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                         QString::fromLatin1(kManagerInterface), QStringLiteral("PrepareForSleep"), this,
                         SLOT(OnPrepareForSleep(bool))))
        return false;
    window_ = window;
    return true;
}

void LogindSleepEvents::Stop() {
    if (window_ == nullptr)
        return;
    window_ = nullptr;
    logind_.disconnect(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                       QString::fromLatin1(kManagerInterface), QStringLiteral("PrepareForSleep"), this,
                       SLOT(OnPrepareForSleep(bool)));
}

void LogindSleepEvents::OnPrepareForSleep(bool sleeping) {
    if (window_ != nullptr)
        window_->post(WM_POWERBROADCAST, sleeping ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND, 0);
}

UdevMediaEvents::UdevMediaEvents() = default;

UdevMediaEvents::~UdevMediaEvents() {
    Stop();
}

bool UdevMediaEvents::Start(platform::MessageTarget* window) {
    Stop();
    if (!monitor_.Open())
        return false;
    window_ = window;
    notifier_ = std::make_unique<QSocketNotifier>(monitor_.Descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { ReadEvents(); });
    return true;
}

void UdevMediaEvents::Stop() {
    notifier_.reset();
    monitor_.Close();
    window_ = nullptr;
}

void UdevMediaEvents::ReadEvents() {
    // Everything waiting is taken, so the descriptor is quiet again until the next event.
    while (const std::optional<platform::BlockDeviceEvent> event = monitor_.Receive()) {
        const std::optional<MediaEvent> media = MediaEventFromBlockDevice(*event, platform::ListDrives());
        if (media && window_ != nullptr)
            window_->post(WM_DEVICECHANGE, media->event, EncodeDeviceChange(media->change));
    }
}

} // namespace app
