#include "DsfDriver.h"

#include "Platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
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
    current_ = path;
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
        // rate: it is this recording's own, there is nothing in it to keep, and the recording stays one file.
        if (!closed || !(onlySilence_ ? writer_.Create(current_, rate) : StartNextFile(rate))) {
            failed_ = true;
            failureErrno_.store(errno);
            return false;
        }
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
    dirty_ = false;
    blocksSinceFlush_ = 0;
    onlySilence_ = true;
    return true;
}

bool DsfDriver::StartNextFile(DsdRate rate) {
    for (int n = segment_ + 1; n <= segment_ + kMaxNamesTried; ++n) {
        const std::string next = SegmentPath(path_, n);
        if (writer_.CreateNew(next, rate)) {
            const int passedOver = n - segment_ - 1;
            segment_ = n;
            current_ = next;
            const std::string kept =
                passedOver == 0 ? std::string()
                : passedOver == 1
                    ? " (" + SegmentPath(path_, n - 1) + " exists and is kept)"
                    : " (the " + std::to_string(passedOver) + " files before it exist and are kept)";
            std::fprintf(stderr, "output \"dsf:%s\": %s goes on in %s%s\n",
                         platform::ControlCharactersAsSpaces(path_).c_str(), platform::DsdRateName(rate),
                         platform::ControlCharactersAsSpaces(next).c_str(),
                         platform::ControlCharactersAsSpaces(kept).c_str());
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
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
