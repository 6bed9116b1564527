#include "Platform/WakeSignal.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeSignal::WakeSignal() noexcept : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeSignal::~WakeSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void WakeSignal::Signal() noexcept {
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    // A full counter only means a wake-up is pending already.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeSignal::Drain() noexcept {
    if (fd_ < 0)
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd_, &count, sizeof count);
}

} // namespace platform
