// Posted messages: how the engine and the CD library talk back to the window that owns them.
#pragma once

#include "Platform/Types.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {

struct Message {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool operator==(const Message&) const = default;
};

// Something that accepts posted messages. post() must be thread-safe, must not block on the receiver and
// returns false only when the message could not be queued.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual bool post(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// A thread-safe FIFO of posted messages, for tests and headless use. Every member may be called from any
// thread; messages from one posting thread come out in the order that thread posted them.
class MessageQueue final : public MessageTarget {
public:
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Blocks without time-out until a message is there and takes it.
    Message Wait();
    // Takes the oldest message if there is one.
    std::optional<Message> TryGet();
    // Waits at most timeoutMs for a message (for tests that must not hang when a message never comes).
    std::optional<Message> WaitFor(unsigned timeoutMs);
    std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
};

// A thread-safe FIFO of posted messages whose capacity is fixed when it is made: posting never allocates
// and holds the lock only for a copy, so a real-time thread may post. When it is full a message is refused
// (post returns false), as a full window queue drops it. Every member may be called from any thread.
class MessageRing final : public MessageTarget {
public:
    explicit MessageRing(std::size_t capacity);

    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Takes the oldest message if there is one.
    std::optional<Message> TryGet();
    // Takes every queued message with this id out of the ring, oldest first; the others keep their order.
    std::vector<Message> Take(UINT msg);
    std::size_t Size() const;
    std::size_t Capacity() const noexcept { return capacity_; }

private:
    mutable std::mutex mutex_;
    const std::size_t capacity_;
    const std::unique_ptr<Message[]> slots_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// Process-wide id for a message name, as window messages are registered by name: the same name (compared
// without regard to ASCII case) always gives the same id, ids start at 0xC000 and stay below 0x10000.
// Returns 0 for an empty name or when the range is used up. Thread-safe.
UINT RegisterMessageName(std::string_view name);

} // namespace platform
