#include "DsfDriver.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace mervane {

DsfDriver::~DsfDriver() {
    Close();
}

bool DsfDriver::Open(const std::string& path) {
    if (!writer_.Create(path))
        return false;
    flusher_ = std::thread([this] { FlushLoop(); });
    return true;
}

bool DsfDriver::WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept {
    std::lock_guard lock(mutex_);
    if (closing_ || failed_ || !writer_.IsOpen())
        return false;
    std::memcpy(block_.data(), left, kChannelBlockBytes);
    std::memcpy(block_.data() + kChannelBlockBytes, right, kChannelBlockBytes);
    if (!writer_.WriteBlock(block_.data())) {
        // The file stays a valid recording of what came before; later blocks are refused so that the
        // stream on disk never has a hole in it.
        failed_ = true;
        failureErrno_.store(errno);
        return false;
    }
    dirty_ = true;
    // The header also follows the audio itself, once per second of it: a recording runs many times
    // faster than real time, and one cut off by SIGKILL then still says how much it holds, within about
    // a second of audio.
    if (++blocksSinceFlush_ >= kBlocksPerSecondOfAudio) {
        writer_.Flush();
        dirty_ = false;
        blocksSinceFlush_ = 0;
    }
    return true;
}

void DsfDriver::FlushLoop() {
    std::unique_lock lock(mutex_);
    while (!closing_) {
        wake_.wait_for(lock, std::chrono::seconds(1));
        if (dirty_ && !closing_) {
            writer_.Flush();
            dirty_ = false;
            blocksSinceFlush_ = 0;
        }
    }
}

bool DsfDriver::Close() noexcept {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    if (flusher_.joinable())
        flusher_.join();
    std::lock_guard lock(mutex_);
    return writer_.Close() && !failed_;
}

} // namespace mervane
