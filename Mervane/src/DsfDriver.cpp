#include "DsfDriver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

namespace mervane {

DsfDriver::~DsfDriver() {
    Close();
}

bool DsfDriver::Open(const std::string& path, DsdRate rate) {
    if (!writer_.Create(path, rate))
        return false;
    path_ = path;
    segment_ = 1;
    onlySilence_ = true;
    flusher_ = std::thread([this] { FlushLoop(); });
    return true;
}

bool DsfDriver::WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept {
    std::lock_guard lock(mutex_);
    if (closing_ || failed_ || !writer_.IsOpen())
        return false;
    std::memcpy(block_.data(), left, kChannelBlockBytes);
    std::memcpy(block_.data() + kChannelBlockBytes, right, kChannelBlockBytes);
    if (onlySilence_)
        onlySilence_ =
            std::all_of(block_.begin(), block_.end(), [](std::uint8_t b) { return b == kSilenceByte; });
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
    if (++blocksSinceFlush_ >= kBlocksPerSecondOfAudio * platform::DsdRateMultiple(writer_.Rate())) {
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

std::string DsfDriver::SegmentPath(const std::string& path, int n) {
    if (n <= 1)
        return path;
    const std::string suffix = "-" + std::to_string(n);
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

DsdRate DsfDriver::Rate() const noexcept {
    return writer_.Rate();
}

bool DsfDriver::ChangeRate(DsdRate rate) noexcept {
    std::lock_guard lock(mutex_);
    if (closing_ || failed_)
        return false;
    if (rate == writer_.Rate())
        return true;
    try {
        const bool closed = writer_.Close();
        // A file that holds nothing but the silence a device is primed with is started afresh at the new
        // rate: there is nothing in it to keep, and the recording stays one file.
        const std::string next =
            onlySilence_ ? SegmentPath(path_, segment_) : SegmentPath(path_, segment_ + 1);
        if (!closed || !writer_.Create(next, rate)) {
            failed_ = true;
            failureErrno_.store(errno);
            return false;
        }
        if (!onlySilence_)
            ++segment_;
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
    dirty_ = false;
    blocksSinceFlush_ = 0;
    onlySilence_ = true;
    return true;
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
