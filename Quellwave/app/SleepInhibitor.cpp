#include "SleepInhibitor.h"

#include "PlayerMessages.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QtGlobal>

#include <cstdio>

namespace app {

namespace {
constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";
constexpr const char* kLogindBusName = "quellwave-logind";
} // namespace

QDBusConnection LogindBus() {
    const QString address = qEnvironmentVariable("QUELLWAVE_LOGIND_BUS");
    if (address.isEmpty())
        return QDBusConnection::systemBus();
    return QDBusConnection::connectToBus(address, QString::fromLatin1(kLogindBusName));
}

SleepInhibitor::SleepInhibitor(QDBusConnection logind) : logind_(std::move(logind)) {}

SleepInhibitor::~SleepInhibitor() = default;

void SleepInhibitor::Follow(CPlayerDialog& panel) {
    connect(&panel, &CPlayerDialog::StateChanged, this,
            [this, &panel] { SetPlaying(panel.State().transport == PlayerState::Transport::Playing); });
    SetPlaying(panel.State().transport == PlayerState::Transport::Playing);
}

void SleepInhibitor::SetExecutionState(DWORD flags) {
    flags_ = flags;
    Update();
}

void SleepInhibitor::SetPlaying(bool playing) {
    playing_ = playing;
    Update();
}

bool SleepInhibitor::Wanted() const noexcept {
    return playing_ && (flags_ & ES_SYSTEM_REQUIRED) != 0;
}

void SleepInhibitor::Update() {
    if (!Wanted()) {
        // Dropping the last copy of the descriptor closes it, and logind lets the machine sleep again.
        lock_ = QDBusUnixFileDescriptor();
        refused_ = false;
        return;
    }
    if (lock_.isValid() || asking_ || refused_ || !logind_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                                       QString::fromLatin1(kManagerInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Quellwave") << QStringLiteral("Playing audio")
         << QStringLiteral("block");
    // Asked without waiting: a slow or absent logind must not hold up the window. Play, pause and play
    // again before the answer comes make no second request; the answer decides by what is wanted then.
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(logind_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        const QDBusUnixFileDescriptor lock = reply.isError() ? QDBusUnixFileDescriptor() : reply.value();
        OnReply(lock);
        if (!lock.isValid() && !warned_) {
            warned_ = true;
            std::fprintf(stderr, "quellwave: no sleep inhibitor from logind: %s\n",
                         reply.isError() ? qPrintable(reply.error().message())
                                         : "no descriptor in the answer");
        }
    });
}

void SleepInhibitor::OnReply(const QDBusUnixFileDescriptor& lock) {
    asking_ = false;
    if (!Wanted())
        return;
    if (!lock.isValid()) {
        // Not asked again before playback stops and starts anew: no request on every track change.
        refused_ = true;
        return;
    }
    lock_ = lock;
    // Otherwise the copy in the reply closes when it goes, which releases the inhibitor at once.
}

} // namespace app
