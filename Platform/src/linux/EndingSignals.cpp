#include "Platform/EndingSignals.h"

#include <csignal>
#include <signal.h>
#include <unistd.h>

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

EndingSignalCatcher::EndingSignalCatcher(EndingSignalHandler handler, InterruptedCalls calls)
    : saved_(std::make_unique<Saved>()) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_mask = EndingSet();
    action.sa_flags = calls == InterruptedCalls::Restart ? SA_RESTART : 0;
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

void EndAsTheSignalWould(int signal) noexcept {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    // Inside its handler the signal waits; let it through so the default action is taken now.
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signal);
    // Only a signal whose default is to go on gets here.
    _exit(128 + signal);
}

bool IsInterruptSignal(int signal) noexcept {
    return signal == SIGINT;
}

} // namespace platform
