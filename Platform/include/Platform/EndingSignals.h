// The signals by which a program is asked to end politely: an interrupt (Ctrl-C), a termination request
// and the hang-up of its terminal. A command-line program catches them to end its work properly (fade out,
// remove a half-written file) instead of dying in the middle of it.
#pragma once

#include <memory>

namespace platform {

// Runs in signal context: it may only do async-signal-safe work (set a std::atomic flag, remove a file,
// _Exit). signal is the number of the signal that arrived.
using EndingSignalHandler = void (*)(int signal);

// While it lives, handler runs when one of the ending signals arrives; the other ending signals wait while
// it runs. What was installed before comes back when it ends or Restore is called. Not thread-safe: the
// main thread installs and restores.
class EndingSignalCatcher {
public:
    explicit EndingSignalCatcher(EndingSignalHandler handler);
    ~EndingSignalCatcher();
    EndingSignalCatcher(const EndingSignalCatcher&) = delete;
    EndingSignalCatcher& operator=(const EndingSignalCatcher&) = delete;

    void Restore() noexcept;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// While it lives, the ending signals wait (they are delivered when it ends): for the few steps a handler
// must see done together, such as creating a file and publishing its name. Holds for the calling thread.
class EndingSignalsHeld {
public:
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

private:
    struct Mask;
    std::unique_ptr<Mask> previous_;
};

// Whether signal is the interrupt (Ctrl-C), which programs report by exit status 130.
bool IsInterruptSignal(int signal) noexcept;

} // namespace platform
