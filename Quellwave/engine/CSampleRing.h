// Single-producer, single-consumer ring of 32-bit elements that carries DSD blocks from the engine's
// reader thread to its output thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace engine {

// One element always stays empty, so read == write means empty and a full ring is never mistaken for an
// empty one. The ring has no lock: one thread writes and one reads, and the engine pairs its rings under
// its own lock. The pointers are atomics so that the counts one thread reads while the other moves them
// are never torn (the engine tests room and fill from both threads).
//
// Create must not run while another thread uses the ring.
class CSampleRing {
public:
    using Element = std::uint32_t;

    CSampleRing() noexcept = default;
    ~CSampleRing() = default;
    CSampleRing(const CSampleRing&) = delete;
    CSampleRing& operator=(const CSampleRing&) = delete;

    // Allocates capacity elements and empties the ring. False (the ring unchanged) when capacity is
    // smaller than either default count or not positive. Throws std::bad_alloc when memory runs out.
    bool Create(std::int32_t capacity, std::int32_t defaultRead, std::int32_t defaultWrite, bool overwrite);

    // Producer. Copies count elements in (count < 0: the default write count). Without overwrite mode a
    // write into a non-empty ring needs count < Free(); otherwise nothing moves and false is returned. A
    // count of the whole capacity or more is always refused (the ring would read as empty). In
    // overwrite mode a write that does not fit marks the ring overflowed and is made anyway. False when
    // not allocated. Never blocks or allocates.
    bool Write(const Element* source, std::int32_t count = -1) noexcept;
    bool PushOne(Element element) noexcept;

    // Consumer. Copies count elements out (count < 0: the default read count). False, moving nothing,
    // when not allocated, overflowed, empty or holding fewer than count. Never blocks or allocates.
    bool Read(Element* destination, std::int32_t count = -1) noexcept;

    // Elements ready to read, and elements a write may fill (an empty ring is wholly free). Either thread.
    std::int32_t Readable() const noexcept;
    std::int32_t Free() const noexcept;

    bool Allocated() const noexcept { return allocated_; }
    bool Overflowed() const noexcept { return overflowed_.load(std::memory_order_acquire); }
    bool Empty() const noexcept { return Readable() == 0; }
    std::int32_t Capacity() const noexcept { return capacity_; }

private:
    bool allocated_ = false;
    std::int32_t capacity_ = 0;
    std::int32_t defaultReadCount_ = 0;
    std::int32_t defaultWriteCount_ = 0;
    std::atomic<std::int32_t> read_{0};
    std::atomic<std::int32_t> write_{0};
    std::unique_ptr<Element[]> storage_;
    bool overwrite_ = false;
    std::atomic<bool> overflowed_{false};
};

} // namespace engine
