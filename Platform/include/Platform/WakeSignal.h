// A descriptor that becomes readable when any thread signals it, for waking an event loop that watches
// descriptors (the window's) from a thread that must neither allocate nor block: signalling is one
// non-blocking write.
#pragma once

namespace platform {

class WakeSignal {
public:
    WakeSignal() noexcept;
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // False when the system gave no descriptor; Signal and Drain then do nothing.
    bool Valid() const noexcept { return fd_ >= 0; }
    // The descriptor to watch for reading.
    int Descriptor() const noexcept { return fd_; }
    // Any thread; never blocks. Signals that arrive before the next Drain count as one wake-up.
    void Signal() noexcept;
    // The watching thread, once woken: clears the signal so the descriptor is quiet until the next one.
    void Drain() noexcept;

private:
    int fd_ = -1;
};

} // namespace platform
