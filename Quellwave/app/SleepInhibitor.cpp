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
    sleep_.wanted = (flags & ES_SYSTEM_REQUIRED) != 0;
    Update(sleep_);
}

void SleepInhibitor::SetPlaying(bool playing) {
    idle_.wanted = playing;
    Update(idle_);
}

void SleepInhibitor::Update(Lock& lock) {
    if (!lock.wanted) {
        // Dropping the last copy of the descriptor closes it, and logind lets the machine go again.
        lock.fd = QDBusUnixFileDescriptor();
        lock.refused = false;
        return;
    }
    if (lock.fd.isValid() || lock.asking || lock.refused || !logind_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kLogindService), QString::fromLatin1(kLogindPath),
                                       QString::fromLatin1(kManagerInterface), QStringLiteral("Inhibit"));
    call << QString::fromLatin1(lock.what) << QStringLiteral("Quellwave") << QString::fromLatin1(lock.why)
         << QStringLiteral("block");
    // Asked without waiting: a slow or absent logind must not hold up the window. Play, pause and play
    // again before the answer comes make no second request; the answer decides by what is wanted then.
    lock.asking = true;
    auto* watcher = new QDBusPendingCallWatcher(logind_.asyncCall(call), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, &lock](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
            const QDBusUnixFileDescriptor fd = reply.isError() ? QDBusUnixFileDescriptor() : reply.value();
            OnReply(lock, fd);
            if (!fd.isValid() && !warned_) {
                warned_ = true;
                std::fprintf(stderr, "quellwave: no %s inhibitor from logind: %s\n", lock.what,
                             reply.isError() ? qPrintable(reply.error().message())
                                             : "no descriptor in the answer");
            }
        });
}

void SleepInhibitor::OnReply(Lock& lock, const QDBusUnixFileDescriptor& fd) {
    lock.asking = false;
    if (!lock.wanted)
        return;
    if (!fd.isValid()) {
        // Not asked again before it is let go and wanted anew: no request on every track change.
        lock.refused = true;
        return;
    }
    lock.fd = fd;
    // Otherwise the copy in the reply closes when it goes, which releases the inhibitor at once.
}

} // namespace app
