#include "CSampleRing.h"

#include <algorithm>
#include <cstring>

namespace engine {

bool CSampleRing::Create(std::int32_t capacity, std::int32_t defaultRead, std::int32_t defaultWrite,
                         bool overwrite) {
    if (capacity <= 0 || capacity < defaultRead || capacity < defaultWrite)
        return false;
    storage_.reset();
    storage_ = std::make_unique<Element[]>(static_cast<std::size_t>(capacity));
    capacity_ = capacity;
    defaultReadCount_ = defaultRead;
    defaultWriteCount_ = defaultWrite;
    overwrite_ = overwrite;
    read_.store(0);
    write_.store(0);
    overflowed_.store(false);
    allocated_ = true;
    return true;
}

std::int32_t CSampleRing::Readable() const noexcept {
    const std::int32_t r = read_.load(std::memory_order_acquire);
    const std::int32_t w = write_.load(std::memory_order_acquire);
    return w >= r ? w - r : capacity_ - (r - w);
}

std::int32_t CSampleRing::Free() const noexcept {
    const std::int32_t r = read_.load(std::memory_order_acquire);
    const std::int32_t w = write_.load(std::memory_order_acquire);
    return r > w ? r - w : capacity_ - (w - r);
}

bool CSampleRing::Write(const Element* source, std::int32_t count) noexcept {
    if (count < 0)
        count = defaultWriteCount_;
    // A write of the whole capacity would bring the write pointer round to the read pointer and the ring
    // would read as empty, losing everything: refused even into an empty ring.
    if (!allocated_ || source == nullptr || count >= capacity_)
        return false;
    const bool empty = Readable() == 0;
    if (!empty && count >= Free()) {
        if (!overwrite_)
            return false;
        overflowed_.store(true, std::memory_order_release);
    }
    const std::int32_t w = write_.load(std::memory_order_relaxed);
    const std::int32_t first = std::min(count, capacity_ - w);
    std::memcpy(storage_.get() + w, source, static_cast<std::size_t>(first) * sizeof(Element));
    std::memcpy(storage_.get(), source + first, static_cast<std::size_t>(count - first) * sizeof(Element));
    const std::int32_t next = w + count;
    write_.store(next >= capacity_ ? next - capacity_ : next, std::memory_order_release);
    return true;
}

bool CSampleRing::PushOne(Element element) noexcept {
    return Write(&element, 1);
}

bool CSampleRing::Read(Element* destination, std::int32_t count) noexcept {
    if (count < 0)
        count = defaultReadCount_;
    if (!allocated_ || destination == nullptr || Overflowed())
        return false;
    const std::int32_t readable = Readable();
    if (readable == 0 || readable < count)
        return false;
    const std::int32_t r = read_.load(std::memory_order_relaxed);
    const std::int32_t first = std::min(count, capacity_ - r);
    std::memcpy(destination, storage_.get() + r, static_cast<std::size_t>(first) * sizeof(Element));
    std::memcpy(destination + first, storage_.get(),
                static_cast<std::size_t>(count - first) * sizeof(Element));
    const std::int32_t next = r + count;
    read_.store(next >= capacity_ ? next - capacity_ : next, std::memory_order_release);
    return true;
}

} // namespace engine
