// The ring of transfer-sized slots between the reader thread (one writer) and the caller of Deliver (one
// reader). One slot always stays empty, so n slots hold at most n − 1 filled transfers. Both sides block
// on auto-reset events without time-out; Stop and End release them.
#pragma once

#include "Platform/Event.h"
#include "Platform/Types.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace discpilot {

class cddaCRingBuffer {
public:
    struct Slot {
        std::unique_ptr<BYTE[]> data; // slotSize bytes
        std::size_t length = 0;       // filled bytes not yet consumed
        std::size_t offset = 0;       // where they begin in data
        bool preEmphasis = false;
        bool swapped = false; // read in a mode that delivers big-endian samples
    };

    // Allocates every slot up front (so that filling and emptying allocate nothing); throws
    // std::bad_alloc when that fails.
    cddaCRingBuffer(std::size_t slotSize, int slotCount);
    cddaCRingBuffer(const cddaCRingBuffer&) = delete;
    cddaCRingBuffer& operator=(const cddaCRingBuffer&) = delete;

    // Writer: the slot at the write index, blocking while the ring is full; null once stopped. The
    // writer may use the slot's whole buffer until it commits.
    Slot* AcquireFree();
    // Writer: publishes the acquired slot with its data offset, length and flags.
    void Commit(std::size_t offset, std::size_t length, bool preEmphasis, bool swapped = false);

    // Reader: the slot at the read index once it holds data, blocking while it is empty; null when the
    // ring has ended and is empty, or has been stopped.
    Slot* AcquireFilled();
    // Reader: marks bytes of the filled slot as taken; an emptied slot goes back to the writer.
    void Consume(std::size_t bytes);

    // Wakes both sides for good: the writer stops filling, the reader stops waiting.
    void Stop();
    // The writer has produced everything: the reader drains what is left, then sees the end.
    void End();
    bool Stopped() const;

    std::size_t SlotSize() const noexcept { return slotSize_; }
    int SlotCount() const noexcept { return static_cast<int>(slots_.size()); }

private:
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::size_t write_ = 0;
    std::size_t read_ = 0;
    std::size_t slotSize_;
    bool stop_ = false;
    bool end_ = false;
    platform::Event slotFreed_{false, false};
    platform::Event dataReady_{false, false};
};

} // namespace discpilot
