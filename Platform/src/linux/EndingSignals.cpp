#include "Platform/EndingSignals.h"

#include <csignal>
#include <signal.h>

namespace platform {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kCount = std::size(kEndingSignals);

sigset_t EndingSet() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEndingSignals)
        sigaddset(&set, s);
    return set;
}

} // namespace

struct EndingSignalCatcher::Saved {
    struct sigaction previous[kCount];
};

EndingSignalCatcher::EndingSignalCatcher(EndingSignalHandler handler) : saved_(std::make_unique<Saved>()) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_mask = EndingSet();
    for (std::size_t i = 0; i < kCount; ++i)
        sigaction(kEndingSignals[i], &action, &saved_->previous[i]);
}

EndingSignalCatcher::~EndingSignalCatcher() {
    Restore();
}

void EndingSignalCatcher::Restore() noexcept {
    if (!saved_)
        return;
    for (std::size_t i = 0; i < kCount; ++i)
        sigaction(kEndingSignals[i], &saved_->previous[i], nullptr);
    saved_.reset();
}

struct EndingSignalsHeld::Mask {
    sigset_t set;
};

EndingSignalsHeld::EndingSignalsHeld() : previous_(std::make_unique<Mask>()) {
    const sigset_t block = EndingSet();
    sigprocmask(SIG_BLOCK, &block, &previous_->set);
}

EndingSignalsHeld::~EndingSignalsHeld() {
    sigprocmask(SIG_SETMASK, &previous_->set, nullptr);
}

bool IsInterruptSignal(int signal) noexcept {
    return signal == SIGINT;
}

} // namespace platform
