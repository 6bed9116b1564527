#include "Platform/OutputControl.h"

#include <atomic>
#include <mutex>

namespace platform {

namespace {

std::mutex infoMutex;
OutputInfo& Info() {
    static OutputInfo info;
    return info;
}
std::atomic<std::uint64_t> generation{0};
std::atomic<std::uint64_t> underruns{0};
std::atomic<float> softwareGain{1.0f};

} // namespace

OutputInfo CurrentOutput() {
    std::lock_guard lock(infoMutex);
    return Info();
}

std::uint64_t CurrentOutputGeneration() noexcept {
    return generation.load();
}

std::uint64_t TotalUnderruns() noexcept {
    return underruns.load();
}

void SetSoftwareGain(float gain) noexcept {
    softwareGain.store(gain);
}

float SoftwareGain() noexcept {
    return softwareGain.load(std::memory_order_relaxed);
}

std::uint64_t PublishOutput(OutputKind kind, std::string pcmName, int card, std::string deviceName) {
    std::lock_guard lock(infoMutex);
    OutputInfo& info = Info();
    info.kind = kind;
    info.pcmName = std::move(pcmName);
    info.card = card;
    info.deviceName = std::move(deviceName);
    info.generation = generation.fetch_add(1) + 1;
    return info.generation;
}

void WithdrawOutput(std::uint64_t gen) {
    std::lock_guard lock(infoMutex);
    OutputInfo& info = Info();
    if (info.generation != gen)
        return;
    info = OutputInfo{};
    info.generation = generation.fetch_add(1) + 1;
}

void CountUnderrun() noexcept {
    underruns.fetch_add(1);
}

} // namespace platform
