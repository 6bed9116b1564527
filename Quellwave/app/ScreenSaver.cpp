#include "ScreenSaver.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cstdio>

namespace app {

namespace {
constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";
// How long the last UnInhibit at the end may take before the program goes on ending.
constexpr int kLastCallTimeoutMs = 500;

QDBusMessage Call(const char* member) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                          QString::fromLatin1(kInterface), QString::fromLatin1(member));
}
} // namespace

ScreenSaver::ScreenSaver(QDBusConnection session) : session_(std::move(session)) {}

ScreenSaver::~ScreenSaver() {
    if (!cookie_)
        return;
    // The service would also drop the inhibition when the program leaves the bus; asked here so that it
    // goes at once.
    QDBusMessage call = Call("UnInhibit");
    call << *cookie_;
    session_.call(call, QDBus::Block, kLastCallTimeoutMs);
}

void ScreenSaver::SetActive(bool active) {
    off_ = !active;
    if (off_)
        Ask();
    else
        Release();
}

void ScreenSaver::Ask() {
    if (cookie_ || asking_ || !session_.isConnected())
        return;
    QDBusMessage call = Call("Inhibit");
    call << QStringLiteral("Quellwave") << QStringLiteral("Playing audio");
    // Asked without waiting: a slow service must not hold up the window. The answer decides by what is
    // wanted when it comes.
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(session_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        asking_ = false;
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            if (!warned_) {
                warned_ = true;
                std::fprintf(stderr, "quellwave: the screen saver cannot be held off: %s\n",
                             qPrintable(reply.error().message()));
            }
            return;
        }
        cookie_ = reply.value();
        if (!off_)
            Release(); // switched on again while the answer was on its way
    });
}

void ScreenSaver::Release() {
    if (!cookie_)
        return;
    QDBusMessage call = Call("UnInhibit");
    call << *cookie_;
    cookie_.reset();
    session_.asyncCall(call);
}

} // namespace app
