#include "SessionEnd.h"

#include "Platform/EndingSignals.h"
#include "Platform/WakeSignal.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <atomic>

namespace app {

namespace {

// What the handler may touch: the wake-up descriptor the UI thread watches, and whether an ending was
// already asked for. Both are only read by the handler, which does nothing but signal the descriptor.
platform::WakeSignal* gWake = nullptr;
std::atomic<bool> gSeen{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int number) {
    // Asked again while the player is ending: end now, as the signal would have.
    if (gSeen.exchange(true))
        platform::EndAsTheSignalWould(number);
    if (gWake != nullptr)
        gWake->Signal();
}

} // namespace

SessionEnd::SessionEnd(std::function<void()> end) : end_(std::move(end)) {}

SessionEnd::~SessionEnd() {
    if (!started_)
        return;
    catcher_.reset();
    delete notifier_;
    gWake = nullptr;
    wake_.reset();
    gSeen = false;
}

bool SessionEnd::Start() {
    if (started_)
        return true;
    wake_ = std::make_unique<platform::WakeSignal>();
    if (!wake_->Valid()) {
        wake_.reset();
        return false;
    }
    started_ = true;
    gWake = wake_.get();
    notifier_ = new QSocketNotifier(wake_->Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        wake_->Drain();
        Begin();
    });
    catcher_ = std::make_unique<platform::EndingSignalCatcher>(OnSignal, platform::InterruptedCalls::Restart);
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
    gSeen = true;
    if (end_)
        end_();
}

} // namespace app
