// The signals by which a program is asked to end politely: an interrupt (Ctrl-C), a termination request
// and the hang-up of its terminal. A command-line program catches them to end its work properly (fade out,
// remove a half-written file) instead of dying in the middle of it.
#pragma once

#include <memory>

namespace platform {

// Runs in signal context: it may only do async-signal-safe work (set a std::atomic flag, remove a file,
// _Exit). signal is the number of the signal that arrived.
using EndingSignalHandler = void (*)(int signal);

// What becomes of a blocking call (a read, a wait) that an ending signal interrupts: it fails (a command
// line program's loop then sees the signal at once), or it goes on where it was once the handler has run
// (a program whose event loop learns of the signal another way).
enum class InterruptedCalls { Fail, Restart };

// While it lives, handler runs when one of the ending signals arrives; the other ending signals wait while
// it runs. What was installed before comes back when it ends or Restore is called. Not thread-safe: the
// main thread installs and restores.
class EndingSignalCatcher {
public:
    explicit EndingSignalCatcher(EndingSignalHandler handler,
                                 InterruptedCalls calls = InterruptedCalls::Fail);
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

// From a handler (async-signal-safe): ends the program as signal would have ended it without a handler,
// at once, so its parent sees the signal as the cause.
[[noreturn]] void EndAsTheSignalWould(int signal) noexcept;

// Whether signal is the interrupt (Ctrl-C), which programs report by exit status 130.
bool IsInterruptSignal(int signal) noexcept;

} // namespace platform
