// Events in the manner of the original platform: manual-reset (stays set until Reset) or auto-reset (one
// waiter is released and the event clears itself). Waits have no time-out, as the system's waits have none.
//
// Every event's state is guarded by one process-wide mutex, held only for a few instructions. A thread that
// has to wait queues itself on each event it waits for; Set hands the event straight to the oldest queued
// waiter, so an auto-reset Set releases exactly one thread (whether it waits through Wait or WaitAny) and a
// wake-up can be neither lost nor spurious.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>

namespace platform {

namespace detail {
struct EventWaitNode;
}

// The most events one WaitAny may wait for (the original platform's limit as well).
inline constexpr std::size_t kMaxWaitEvents = 64;

class Event {
public:
    // manualReset: true keeps the event set until Reset(); false releases one waiter and clears it.
    // initialState: created set (true) or clear (false).
    Event(bool manualReset, bool initialState) noexcept;
    // No thread may be waiting on the event any more.
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Any thread. Never blocks for longer than a short internal lock and never allocates, so the real-time
    // output thread may call it. A manual-reset Set releases every waiter; an auto-reset Set releases the
    // longest-waiting thread and leaves the event clear, or leaves it set when nobody waits.
    void Set() noexcept;
    // Any thread. Clears the event; waiters already released by an earlier Set stay released.
    void Reset() noexcept;

    // Blocks the calling thread until the event is set. For an auto-reset event the wait consumes it.
    void Wait() noexcept;

    // True when set, without waiting; an auto-reset event is consumed when it was set.
    bool TryWait() noexcept;

    bool IsManualReset() const noexcept { return manualReset_; }

    // How many threads are blocked on this event at this moment (through Wait or WaitAny). For diagnostics
    // and tests; the answer may be stale as soon as it is returned.
    std::size_t WaiterCount() const noexcept;

private:
    friend std::size_t WaitAny(std::span<Event* const> events) noexcept;
    friend struct detail::EventWaitNode;

    bool manualReset_;
    bool signalled_;
    // Threads blocked on this event, oldest first (an intrusive list of nodes that live on the waiters'
    // stacks, so that neither waiting nor setting allocates).
    detail::EventWaitNode* head_ = nullptr;
    detail::EventWaitNode* tail_ = nullptr;
};

// Blocks until one of the events is set and returns its index. When several are set, the lowest index
// wins and only that event is consumed (if auto-reset). Does not allocate. The span must hold between 1 and
// kMaxWaitEvents events; otherwise the process is aborted, as the wait could never end.
std::size_t WaitAny(std::span<Event* const> events) noexcept;
inline std::size_t WaitAny(std::initializer_list<Event*> events) noexcept {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()));
}

} // namespace platform
