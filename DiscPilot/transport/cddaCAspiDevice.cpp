#include "transport/cddaCAspiDevice.h"

#include "Platform/DriveTable.h"
#include "store/DriveSettings.h"
#include "transport/cddaCAspiLibrary.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace discpilot {

// A request handed to the worker. It owns a copy of the data so that a request which outlives its
// time-out never writes into the caller's buffer after the caller has moved on.
struct cddaCAspiDevice::Request {
    std::shared_ptr<platform::ScsiPassThrough> device;
    platform::ScsiCommand command;
    std::vector<BYTE> data;
    platform::ScsiAnswer answer;
    bool done = false;
};

cddaCAspiDevice::cddaCAspiDevice(int kind) : kind_(kind) {
    if (kind == kKindAspi) {
        adapterCount_ = cddaCAspiLibrary::Instance().SupportInfo();
    }
    timeOutMs_ = ReadAspiTimeOut();
}

cddaCAspiDevice::~cddaCAspiDevice() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void cddaCAspiDevice::Select(char letter, int hostAdapter, int target) noexcept {
    letter_ = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    hostAdapter_ = static_cast<WORD>(hostAdapter);
    target_ = static_cast<WORD>(target);
}

void cddaCAspiDevice::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || queued_ != nullptr; });
        if (queued_ == nullptr) {
            return;
        }
        const std::shared_ptr<Request> request = std::move(queued_);
        queued_.reset();
        lock.unlock();
        request->command.data = request->data.empty() ? nullptr : request->data.data();
        request->device->Execute(request->command, request->answer);
        lock.lock();
        request->done = true;
        busy_ = false;
        changed_.notify_all();
    }
}

int cddaCAspiDevice::Execute(CommandBlock& block) {
    if (letter_ == 0) {
        return kTransportNoDrive;
    }
    if (kind_ != kKindAspi && kind_ != kKindNtPassThrough) {
        return kTransportUnsupported;
    }
    const std::lock_guard send(sendMutex_);
    DWORD timeOutMs = timeOutMs_;
    if (kind_ == kKindNtPassThrough) {
        // Direct pass-through to the letter's own device, with the fixed 8-second time-out of that form.
        timeOutMs = kDirectPassThroughTimeOutMs;
        if (!device_ || deviceLetter_ != letter_) {
            std::string error;
            device_ = platform::OpenScsiPassThrough(letter_, error);
            deviceLetter_ = letter_;
        }
        if (!device_) {
            const BYTE noSense[platform::kSenseBytes] = {};
            return MapSense(noSense);
        }
    } else if (!device_ || deviceHostAdapter_ != hostAdapter_ || deviceTarget_ != target_) {
        const auto bus = cddaCAspiLibrary::Instance().Bus();
        if (!bus) {
            return kTransportUnsupported;
        }
        device_ = bus->Device(hostAdapter_, target_);
        deviceHostAdapter_ = hostAdapter_;
        deviceTarget_ = target_;
    }
    if (!device_) {
        const BYTE noSense[platform::kSenseBytes] = {};
        return MapSense(noSense); // nothing at that address: failed without sense
    }

    auto request = std::make_shared<Request>();
    request->device = device_;
    request->command.cdbLength = static_cast<BYTE>(block.cdbLength);
    std::memcpy(request->command.cdb.data(), block.cdb.data(), block.cdbLength <= 16 ? block.cdbLength : 16);
    request->command.direction = block.transferLength == 0         ? platform::ScsiDirection::None
                                 : block.direction == kDirectionIn ? platform::ScsiDirection::In
                                                                   : platform::ScsiDirection::Out;
    request->command.dataLength = block.data != nullptr ? block.transferLength : 0;
    request->command.timeoutMs = timeOutMs;
    if (block.data != nullptr && block.transferLength != 0) {
        // Bytes the device does not write keep the caller's contents.
        request->data.assign(block.data, block.data + block.transferLength);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeOutMs);
    std::unique_lock lock(mutex_);
    if (!worker_.joinable()) {
        worker_ = std::thread([this] { WorkerLoop(); });
    }
    // A request that timed out earlier may still hold the device: wait for it within this time-out.
    if (!changed_.wait_until(lock, deadline, [this] { return !busy_; })) {
        return kTransportTimedOut;
    }
    busy_ = true;
    queued_ = request;
    changed_.notify_all();
    if (!changed_.wait_until(lock, deadline, [&request] { return request->done; })) {
        return kTransportTimedOut;
    }
    lock.unlock();

    const platform::ScsiAnswer& answer = request->answer;
    if (answer.error == ETIMEDOUT) {
        return kTransportTimedOut;
    }
    if (block.direction == kDirectionIn && !request->data.empty()) {
        std::memcpy(block.data, request->data.data(), request->data.size());
    }
    block.transferred = answer.transferred;
    if (answer.error == 0 && answer.status == platform::kScsiGood) {
        return kTransportOk;
    }
    return MapSense(answer.sense.data());
}

int cddaCAspiDevice::HostAdapterInquiry() {
    if (kind_ != kKindAspi) {
        return kTransportUnsupported;
    }
    const auto bus = cddaCAspiLibrary::Instance().Bus();
    if (!bus) {
        return kTransportUnsupported;
    }
    if (hostAdapter_ >= bus->AdapterCount()) {
        return kTransportBadAdapter;
    }
    if (const auto device = bus->Device(hostAdapter_, target_)) {
        if (const DWORD longest = device->MaxTransferLength(); longest != 0) {
            maxTransferLength_ = longest;
        }
    }
    return kTransportOk;
}

int cddaCAspiDevice::RescanBus() const {
    return cddaCAspiLibrary::Instance().Bus() ? kTransportOk : kTransportUnsupported;
}

int cddaCAspiDevice::TestUnitReady() {
    CommandBlock block = BuildTestUnitReady();
    return Execute(block);
}

int cddaCAspiDevice::Inquiry(DriveInquiry& inquiry) {
    BYTE reply[kInquiryReplyBytes] = {};
    CommandBlock block = BuildInquiry(reply);
    const int result = Execute(block);
    if (result == kTransportOk) {
        inquiry = ParseInquiry(reply);
    }
    return result;
}

int cddaCAspiDevice::ModeSense(int page, bool tenByte, ModeBuffer buffer) {
    CommandBlock block = BuildModeSense(page, tenByte, buffer.data());
    return Execute(block);
}

int cddaCAspiDevice::ModeSelect(BYTE density, WORD blockLength, bool tenByte) {
    BYTE parameters[kModeBufferBytes];
    CommandBlock block = BuildModeSelect(density, blockLength, tenByte, parameters);
    return Execute(block);
}

int cddaCAspiDevice::ReadSubChannel(int format, int track, SubChannelBuffer buffer) {
    int result = kTransportOk;
    CommandBlock block = BuildReadSubChannel(format, track, buffer.data(), result);
    return result != kTransportOk ? result : Execute(block);
}

int cddaCAspiDevice::ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) {
    int result = kTransportOk;
    CommandBlock block = BuildReadToc(format, trackOrSession, olderForm, buffer.data(), result);
    return result != kTransportOk ? result : Execute(block);
}

int cddaCAspiDevice::ReadCdText(std::span<BYTE> buffer) {
    if (buffer.empty()) {
        return kTransportBadArgument;
    }
    CommandBlock block =
        BuildReadCdText(buffer.data(), static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0xFFFF)));
    return Execute(block);
}

int cddaCAspiDevice::Seek6(DWORD lba) {
    CommandBlock block = BuildSeek6(lba);
    return Execute(block);
}

int cddaCAspiDevice::Seek10(DWORD lba) {
    CommandBlock block = BuildSeek10(lba);
    return Execute(block);
}

int cddaCAspiDevice::SetSpeed(int multiple) {
    CommandBlock block = BuildSetCdSpeed(multiple);
    return Execute(block);
}

int cddaCAspiDevice::ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) {
    // A count the command form cannot carry is split rather than cut, and a read that moved fewer bytes
    // than it asked for is a failure: the rest of the buffer would be stale.
    const DWORD most = MaxSectorsPerRead(readMode);
    for (DWORD done = 0; done < count;) {
        const DWORD n = std::min(most, count - done);
        CommandBlock block =
            BuildReadAudio(readMode, lba + done, n, buffer + std::size_t{done} * kSectorBytes);
        if (const int result = Execute(block); result != kTransportOk) {
            return result;
        }
        if (block.transferred < block.transferLength) {
            return kTransportShortTransfer;
        }
        done += n;
    }
    return kTransportOk;
}

} // namespace discpilot
