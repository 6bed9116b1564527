#include "GaplessJoin.h"

#include <algorithm>
#include <cstring>

namespace engine {

GaplessJoin::GaplessJoin(TrackSources& sources, PlayerControl& control, const TrackList& list)
    : sources_(sources), control_(control), list_(list), pcm_(*this), dsd_(*this), follower_(*this) {}

bool GaplessJoin::Held() const {
    if (joinFailed_ || control_.repeatMode == 1)
        return true;
    std::lock_guard lock(control_.mutex);
    return control_.stopRequest;
}

bool GaplessJoin::JoinNextTrack() {
    if (Held())
        return false;
    const std::uint32_t from = control_.readerTrack;
    const std::uint32_t to = from + 1;
    const auto& kinds = list_.joinKinds;
    if (from == 0 || to > list_.files.size() || JoinClass(kinds[to - 1]) != JoinClass(kinds[from - 1]))
        return false;
    const std::string& path = list_.files[to - 1];
    sources_.Close();
    std::int32_t kind = kSourceNone;
    if (JoinClass(kinds[to - 1]) != kJoinWave) {
        kind = sources_.OpenDsd(path);
    } else if (CWaveSource& wave = sources_.Wave(); wave.Open(path.c_str()) && wave.Seek(0)) {
        kind = wave.BytesPerSample() == 2 ? kSourceWave16 : kSourceWave24;
    } else {
        wave.Close();
        kind = sources_.Pcm().Open(path.c_str()) ? kSourcePcmFile : kSourceNone;
    }
    if (kind == kSourceNone) {
        // The file went away since the list was made: this run plays out the track it has, and End of
        // track, at its end, skips what cannot be opened.
        joinFailed_ = true;
        return false;
    }
    std::lock_guard lock(control_.mutex);
    control_.sourceKind = kind;
    control_.readerTrack = to;
    return true;
}

const char* GaplessJoin::NextPcmFilePath() const {
    if (Held())
        return nullptr;
    const std::uint32_t from = control_.readerTrack;
    const auto& kinds = list_.joinKinds;
    if (from == 0 || from >= list_.files.size() || kinds[from - 1] != kJoinPcmFile ||
        kinds[from] != kJoinPcmFile)
        return nullptr;
    return list_.files[from].c_str();
}

void GaplessJoin::Follow::Followed() {
    std::lock_guard lock(join_.control_.mutex);
    join_.control_.readerTrack += 1;
}

GaplessJoin::JoinedPcm::JoinedPcm(GaplessJoin& join)
    : join_(join), narrow_(std::size_t{kSteadyChunkUnits} * kUnitFrames * 4) {}

void GaplessJoin::JoinedPcm::ReadPcm(void* buffer, std::uint32_t byteCount) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::memset(bytes, 0, byteCount);
    std::uint32_t done = 0;
    while (done < byteCount) {
        done += ReadFromSource(bytes + done, byteCount - done);
        if (done >= byteCount || !join_.JoinNextTrack())
            break;
    }
}

std::uint32_t GaplessJoin::JoinedPcm::ReadFromSource(std::uint8_t* out, std::uint32_t byteCount) {
    constexpr std::uint32_t kFrameBytes = 6;
    const std::uint32_t frames = byteCount / kFrameBytes;
    CWaveSource& wave = join_.sources_.Wave();
    switch (join_.control_.sourceKind.load()) {
    case kSourcePcmFile:
        return static_cast<std::uint32_t>(join_.sources_.Pcm().ReadFrames(out, frames)) * kFrameBytes;
    case kSourceWave24: {
        const std::uint64_t before = wave.ReadPosition();
        wave.Read(out, frames * kFrameBytes);
        return static_cast<std::uint32_t>(wave.ReadPosition() - before);
    }
    default: {
        const std::uint32_t wanted =
            std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(narrow_.size() / 4));
        const std::uint64_t before = wave.ReadPosition();
        wave.Read(narrow_.data(), wanted * 4);
        const auto got = static_cast<std::uint32_t>((wave.ReadPosition() - before) / 2);
        for (std::uint32_t i = 0; i < got; ++i) {
            out[3 * i] = 0;
            out[3 * i + 1] = narrow_[2 * i];
            out[3 * i + 2] = narrow_[2 * i + 1];
        }
        return got / 2 * kFrameBytes;
    }
    }
}

} // namespace engine
