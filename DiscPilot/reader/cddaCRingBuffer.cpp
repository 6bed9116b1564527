#include "reader/cddaCRingBuffer.h"

namespace discpilot {

cddaCRingBuffer::cddaCRingBuffer(std::size_t slotSize, int slotCount)
    : slots_(static_cast<std::size_t>(slotCount < 2 ? 2 : slotCount)), slotSize_(slotSize) {
    for (Slot& slot : slots_) {
        slot.data = std::make_unique<BYTE[]>(slotSize);
    }
}

cddaCRingBuffer::Slot* cddaCRingBuffer::AcquireFree() {
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stop_) {
                return nullptr;
            }
            if ((write_ + 1) % slots_.size() != read_) {
                return &slots_[write_];
            }
            // Reset under the lock: a slot freed after this point sets the event again.
            slotFreed_.Reset();
        }
        slotFreed_.Wait();
    }
}

void cddaCRingBuffer::Commit(std::size_t offset, std::size_t length, bool preEmphasis, bool swapped) {
    {
        const std::lock_guard lock(mutex_);
        Slot& slot = slots_[write_];
        slot.offset = offset;
        slot.length = length;
        slot.preEmphasis = preEmphasis;
        slot.swapped = swapped;
        write_ = (write_ + 1) % slots_.size();
    }
    dataReady_.Set();
}

cddaCRingBuffer::Slot* cddaCRingBuffer::AcquireFilled() {
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stop_) {
                return nullptr;
            }
            if (read_ != write_) {
                return &slots_[read_];
            }
            if (end_) {
                return nullptr;
            }
            dataReady_.Reset();
        }
        dataReady_.Wait();
    }
}

void cddaCRingBuffer::Consume(std::size_t bytes) {
    bool freed = false;
    {
        const std::lock_guard lock(mutex_);
        if (read_ == write_) {
            return;
        }
        Slot& slot = slots_[read_];
        if (bytes > slot.length) {
            bytes = slot.length;
        }
        slot.offset += bytes;
        slot.length -= bytes;
        if (slot.length == 0) {
            read_ = (read_ + 1) % slots_.size();
            freed = true;
        }
    }
    if (freed) {
        slotFreed_.Set();
    }
}

void cddaCRingBuffer::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    slotFreed_.Set();
    dataReady_.Set();
}

void cddaCRingBuffer::End() {
    {
        const std::lock_guard lock(mutex_);
        end_ = true;
    }
    slotFreed_.Set();
    dataReady_.Set();
}

bool cddaCRingBuffer::Stopped() const {
    const std::lock_guard lock(mutex_);
    return stop_;
}

} // namespace discpilot
