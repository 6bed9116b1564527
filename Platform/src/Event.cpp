#include "Platform/Event.h"

#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

// Guards the state and the waiter lists of every event. One lock for all events keeps WaitAny simple and
// free of lock-order problems; it is held only while flags and list links change. std::mutex has a
// constexpr constructor, so this is ready before any static constructor could use an event.
std::mutex gEventMutex;

constexpr std::size_t kNotFired = static_cast<std::size_t>(-1);

[[noreturn]] void AbortWith(const char* message) noexcept {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::abort();
}

} // namespace

namespace detail {

struct EventWaiter;

// One thread's place in one event's waiter list.
struct EventWaitNode {
    EventWaiter* waiter = nullptr;
    Event* event = nullptr;
    std::size_t index = 0; // position of the event in the waiter's list of events
    EventWaitNode* prev = nullptr;
    EventWaitNode* next = nullptr;

    void Link() noexcept {
        prev = event->tail_;
        next = nullptr;
        if (prev != nullptr) {
            prev->next = this;
        } else {
            event->head_ = this;
        }
        event->tail_ = this;
    }

    void Unlink() noexcept {
        if (prev != nullptr) {
            prev->next = next;
        } else {
            event->head_ = next;
        }
        if (next != nullptr) {
            next->prev = prev;
        } else {
            event->tail_ = prev;
        }
        prev = next = nullptr;
    }
};

// A blocked thread: its nodes (one per event it waits for) and what woke it.
struct EventWaiter {
    std::condition_variable cv;
    EventWaitNode* nodes = nullptr;
    std::size_t count = 0;
    std::size_t fired = kNotFired;
};

} // namespace detail

namespace {

using detail::EventWaiter;
using detail::EventWaitNode;

// Releases the waiter that owns node because node's event fired. Called with gEventMutex held. The waiter
// leaves every list at once, so a later Set of another of its events goes to someone else. The notify
// happens under the lock on purpose: the waiter's condition variable lives on its stack and may be gone
// the moment the lock is released.
void Release(EventWaitNode& node) noexcept {
    EventWaiter& waiter = *node.waiter;
    waiter.fired = node.index;
    for (std::size_t i = 0; i < waiter.count; ++i) {
        waiter.nodes[i].Unlink();
    }
    waiter.cv.notify_one();
}

// Queues the waiter on each of its nodes' events and blocks until one of them is handed to it. Called with
// the lock held through `lock`.
std::size_t Block(std::unique_lock<std::mutex>& lock, EventWaiter& waiter) noexcept {
    for (std::size_t i = 0; i < waiter.count; ++i) {
        waiter.nodes[i].Link();
    }
    // The predicate guards against the condition variable's own spurious wake-ups.
    waiter.cv.wait(lock, [&waiter] { return waiter.fired != kNotFired; });
    return waiter.fired;
}

} // namespace

Event::Event(bool manualReset, bool initialState) noexcept
    : manualReset_(manualReset), signalled_(initialState) {}

Event::~Event() {
    std::lock_guard lock(gEventMutex);
    if (head_ != nullptr) {
        // A thread still blocked here would wake to a destroyed event; better to stop now than to corrupt
        // memory later.
        AbortWith("platform::Event destroyed while a thread waits on it");
    }
}

void Event::Set() noexcept {
    std::lock_guard lock(gEventMutex);
    if (manualReset_) {
        signalled_ = true;
        // Release unlinks the waiter's nodes, including this list's head, so the loop advances.
        while (head_ != nullptr) {
            Release(*head_);
        }
    } else if (head_ != nullptr) {
        // Handed straight to the oldest waiter: the event never becomes visible as set, so no second
        // thread can take the same Set.
        Release(*head_);
    } else {
        signalled_ = true;
    }
}

void Event::Reset() noexcept {
    std::lock_guard lock(gEventMutex);
    signalled_ = false;
}

void Event::Wait() noexcept {
    std::unique_lock lock(gEventMutex);
    if (signalled_) {
        if (!manualReset_) {
            signalled_ = false;
        }
        return;
    }
    EventWaitNode node;
    node.event = this;
    EventWaiter waiter;
    node.waiter = &waiter;
    waiter.nodes = &node;
    waiter.count = 1;
    Block(lock, waiter);
}

bool Event::TryWait() noexcept {
    std::lock_guard lock(gEventMutex);
    if (!signalled_) {
        return false;
    }
    if (!manualReset_) {
        signalled_ = false;
    }
    return true;
}

std::size_t Event::WaiterCount() const noexcept {
    std::lock_guard lock(gEventMutex);
    std::size_t count = 0;
    for (const detail::EventWaitNode* node = head_; node != nullptr; node = node->next) {
        ++count;
    }
    return count;
}

std::size_t WaitAny(std::span<Event* const> events) noexcept {
    if (events.empty() || events.size() > kMaxWaitEvents) {
        AbortWith("platform::WaitAny needs between 1 and kMaxWaitEvents events");
    }
    std::unique_lock lock(gEventMutex);
    for (std::size_t i = 0; i < events.size(); ++i) {
        Event& event = *events[i];
        if (event.signalled_) {
            if (!event.manualReset_) {
                event.signalled_ = false;
            }
            return i;
        }
    }
    std::array<EventWaitNode, kMaxWaitEvents> nodes;
    EventWaiter waiter;
    for (std::size_t i = 0; i < events.size(); ++i) {
        nodes[i].waiter = &waiter;
        nodes[i].event = events[i];
        nodes[i].index = i;
    }
    waiter.nodes = nodes.data();
    waiter.count = events.size();
    return Block(lock, waiter);
}

} // namespace platform
