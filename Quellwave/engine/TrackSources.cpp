#include "TrackSources.h"

#include "RateChoice.h"

#include <algorithm>
#include <limits>

namespace engine {

std::int32_t TrackSources::Open(const std::string& path, bool rfMode) {
    if (wave_.Open(path.c_str()))
        return wave_.BytesPerSample() == 2 ? kSourceWave16 : kSourceWave24;
    if (rfMode) {
        if (const std::int32_t kind = OpenDsd(path); kind != kSourceNone)
            return kind;
    }
    return pcm_.Open(path.c_str()) ? kSourcePcmFile : kSourceNone;
}

std::int32_t TrackSources::OpenDsd(const std::string& path) {
    if (!dsd_.Open(path.c_str(), 1, 1))
        return kSourceNone;
    return dsd_.IsDsdiff() ? kSourceDsdiff : kSourceDsf;
}

void TrackSources::SeekTo(std::int32_t kind, std::uint32_t ms, DsdRate rate) {
    switch (kind) {
    case kSourcePcmFile:
        pcm_.SeekMs(ms);
        break;
    case kSourceDsf:
    case kSourceDsdiff:
        // The source counts 4-byte elements per channel. A position past the end fails and leaves nothing
        // to read: the track then plays silence and ends by its elapsed time at once.
        dsd_.Seek((std::uint64_t{ms} * DsdElementsPerSecond(rate)) / 1000);
        break;
    default:
        wave_.Seek(WaveDataOffsetForMs(ms, wave_.BytesPerSample()));
        break;
    }
}

void TrackSources::Close() noexcept {
    wave_.Close();
    dsd_.Close();
    pcm_.Close();
}

std::uint32_t TrackSources::PositionMs(std::int32_t kind) const {
    std::uint64_t ms = 0;
    switch (kind) {
    case kSourceWave16:
    case kSourceWave24:
        ms = wave_.ReadPosition() / (2 * std::uint64_t{wave_.BytesPerSample()}) * 1000 / 44100;
        break;
    case kSourcePcmFile:
        ms = pcm_.DeliveredFrames() * 1000 / CPcmFileSource::kOutputRate;
        break;
    default: {
        const std::uint64_t perChannel =
            dsd_.Format().channelCount ? dsd_.TotalSampleBytes() / dsd_.Format().channelCount : 0;
        const std::uint64_t rate = std::max<std::uint64_t>(dsd_.Format().samplingFrequency / 8, 1);
        ms = (perChannel - std::min(perChannel, dsd_.BytesLeftPerChannel())) * 1000 / rate;
        break;
    }
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace engine
