// The C interface: one process-wide converter and the output buffer it hands back.
#include "Zentrafold/Zentrafold.h"

#include "Zentrafold/ZentrafoldConverter.h"

#include <climits>
#include <new>
#include <vector>

namespace {

// The engine converts at most 16 units per call; room for that is made up front so that its streaming calls
// never allocate. A larger request grows the buffer once.
constexpr int kReservedUnits = 16;
// Larger counts would overflow the unsigned byte count the interface returns.
constexpr int kMaxUnits = static_cast<int>(UINT_MAX / zentrafold::kBlockBytes);

struct Shared {
    zentrafold::Converter converter;
    std::vector<unsigned char> output = std::vector<unsigned char>(kReservedUnits * zentrafold::kBlockBytes);
};

Shared* Instance() noexcept {
    try {
        static Shared shared;
        return &shared;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int Initial(const void* pcm, zentrafold::PcmFormat format) noexcept {
    Shared* shared = Instance();
    if (shared == nullptr)
        return -1;
    if (pcm == nullptr) {
        shared->converter.Reset();
        return -1;
    }
    shared->converter.Initial(pcm, format);
    return 0;
}

int Convert(const void* pcm, int unitCount, unsigned char** output, unsigned int* outputSize,
            zentrafold::PcmFormat format, bool final = false) noexcept {
    if (output != nullptr)
        *output = nullptr;
    if (outputSize != nullptr)
        *outputSize = 0;
    Shared* shared = Instance();
    if (shared == nullptr || pcm == nullptr || output == nullptr || outputSize == nullptr || unitCount < 1 ||
        unitCount > kMaxUnits)
        return -1;
    const auto bytes = static_cast<std::size_t>(unitCount) * zentrafold::kBlockBytes;
    if (shared->output.size() < bytes) {
        try {
            shared->output.resize(bytes);
        } catch (const std::bad_alloc&) {
            return -1;
        }
    }
    if (final)
        shared->converter.ConvertFinal(pcm, unitCount, format, shared->output.data());
    else
        shared->converter.Convert(pcm, unitCount, format, shared->output.data());
    *output = shared->output.data();
    *outputSize = static_cast<unsigned int>(bytes);
    return 0;
}

} // namespace

extern "C" {

int ZtfDirectConvertInitialBuffer16(const void* pcm) {
    return Initial(pcm, zentrafold::PcmFormat::kInt16);
}

int ZtfDirectConvertInitialBuffer24(const void* pcm) {
    return Initial(pcm, zentrafold::PcmFormat::kInt24);
}

int ZtfDirectConvertBuffer16(const void* pcm, int unitCount, unsigned char** output,
                             unsigned int* outputSize) {
    return Convert(pcm, unitCount, output, outputSize, zentrafold::PcmFormat::kInt16);
}

int ZtfDirectConvertBuffer24(const void* pcm, int unitCount, unsigned char** output,
                             unsigned int* outputSize) {
    return Convert(pcm, unitCount, output, outputSize, zentrafold::PcmFormat::kInt24);
}

int ZtfDirectConvertFinalBuffer16(const void* pcm, int unitCount, unsigned char** output,
                                  unsigned int* outputSize) {
    return Convert(pcm, unitCount, output, outputSize, zentrafold::PcmFormat::kInt16, true);
}

int ZtfDirectConvertFinalBuffer24(const void* pcm, int unitCount, unsigned char** output,
                                  unsigned int* outputSize) {
    return Convert(pcm, unitCount, output, outputSize, zentrafold::PcmFormat::kInt24, true);
}

} // extern "C"
