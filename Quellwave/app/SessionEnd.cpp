#include "SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace app {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};
// The pipe from the handler to the UI thread; the handler only writes one byte to it.
int gPipe[2] = {-1, -1};
volatile sig_atomic_t gSeen = 0;

void OnSignal(int number) {
    const int saved = errno;
    if (gSeen != 0) {
        // Asked again while the player is ending: end now, as the signal would have.
        ::signal(number, SIG_DFL);
        ::raise(number);
    }
    gSeen = 1;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SessionEnd::SessionEnd(std::function<void()> end) : end_(std::move(end)) {}

SessionEnd::~SessionEnd() {
    if (!started_)
        return;
    for (int number : kSignals)
        ::signal(number, SIG_DFL);
    delete notifier_;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
    gSeen = 0;
}

bool SessionEnd::Start() {
    if (started_)
        return true;
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    started_ = true;
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
        }
        Begin();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
    // The session manager asks before the session ends; the player stops and closes then.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { Begin(); });
    }
    return true;
}

void SessionEnd::Begin() {
    if (ending_)
        return;
    ending_ = true;
    gSeen = 1;
    if (end_)
        end_();
}

} // namespace app
